// The VST editor's model: program menu, generic editor arithmetic, frame size.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "wrappers/vst/vsteditor.h"

namespace {

struct Menu {
    std::vector<ProgramItem> items;
    ProgramMenu menu{};
    explicit Menu(int32_t capacity) : items(static_cast<size_t>(capacity)) {
        menu.items = items.data();
        menu.capacity = capacity;
    }
    bool add(int32_t k, const std::string& name) { return programMenuAdd(menu, k, name.c_str(), name.size() + 1); }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (int32_t j = 0; j < menu.count; ++j) out.push_back(menu.items[static_cast<size_t>(j)].name);
        return out;
    }
};

std::string text(const std::string& name) {
    char out[kProgramMenuTextSize];
    programMenuText(name.c_str(), out, sizeof out);
    return out;
}

TEST(VstProgramMenu, AnEffectWithoutProgramsHasOnlyTheCurrentItem) {
    EXPECT_EQ(0, programMenuLimit(0));
    EXPECT_EQ(0, programMenuLimit(-5));
    Menu m(0);
    programMenuSetTitle(m.menu, "", 1);
    EXPECT_STREQ("Default", m.menu.title);
    EXPECT_FALSE(m.add(0, "Anything"));
    EXPECT_EQ(ProgramChoice::Current, programMenuCommand(m.menu, kProgramCurrentCommand).kind);
    EXPECT_EQ(ProgramChoice::None, programMenuCommand(m.menu, kProgramFirstCommand).kind);
}

TEST(VstProgramMenu, ListsEachNameOnceUnderTheFirstProgramCarryingIt) {
    Menu m(4);
    EXPECT_TRUE(m.add(0, "Clean"));
    EXPECT_TRUE(m.add(1, "Warm"));
    EXPECT_FALSE(m.add(2, "Warm"));
    EXPECT_FALSE(m.add(3, ""));
    EXPECT_EQ((std::vector<std::string>{"Clean", "Warm"}), m.names());
    EXPECT_EQ(1, programMenuCommand(m.menu, kProgramFirstCommand + 1).program);
    // Program 2 shares program 1's item: its command is in no item.
    EXPECT_EQ(ProgramChoice::None, programMenuCommand(m.menu, kProgramFirstCommand + 2).kind);
    EXPECT_EQ(ProgramChoice::None, programMenuCommand(m.menu, 107).kind);
}

TEST(VstProgramMenu, KeepsCommandsWithinSixteenBitsAndNamesWithinTheirSize) {
    EXPECT_EQ(0xFFFF, kProgramFirstCommand + programMenuLimit(1 << 20) - 1);
    Menu m(2);
    EXPECT_FALSE(m.add(kProgramMenuMaxPrograms, "Beyond"));
    // An answer without a terminator stops at its buffer, and at 63 characters.
    std::string longName(200, 'x');
    EXPECT_TRUE(programMenuAdd(m.menu, 0, longName.data(), 5));
    EXPECT_STREQ("xxxxx", m.menu.items[0].name);
    EXPECT_TRUE(programMenuAdd(m.menu, 1, ("y" + longName).data(), longName.size()));
    EXPECT_EQ(63u, std::strlen(m.menu.items[1].name));
    EXPECT_FALSE(m.add(1, "Full"));
}

TEST(VstProgramMenu, DoublesAmpersandsSoNoneBecomesAMnemonic) {
    EXPECT_EQ("Rock && Roll", text("Rock & Roll"));
    const std::string all(63, '&');
    EXPECT_EQ(std::string(126, '&'), text(all));
    char small[4];
    programMenuText("a&b", small, sizeof small);
    EXPECT_STREQ("a&&", small);
    programMenuText("&b", small, 3);  // no room for a whole pair after the first
    EXPECT_STREQ("&&", small);
}

TEST(VstGenericEditor, IsSizedByItsRowsAndTakesOnlyPlausibleEffectRectangles) {
    EXPECT_EQ(360, genericEditorSize(3).width);
    EXPECT_EQ(3 * 17 + 70, genericEditorSize(3).height);
    EditorSize size = genericEditorSize(3);
    Vst2Rect rect{10, 20, 130, 320};
    EXPECT_TRUE(editorSizeFromRect(&rect, size));
    EXPECT_EQ(300, size.width);
    EXPECT_EQ(120, size.height);
    size = genericEditorSize(3);
    EXPECT_FALSE(editorSizeFromRect(nullptr, size));
    for (Vst2Rect bad : {Vst2Rect{0, 0, 0, 100}, Vst2Rect{0, 100, 50, 20}, Vst2Rect{0, 0, 100, 4097},
                         Vst2Rect{-32768, 0, 32767, 100}})
        EXPECT_FALSE(editorSizeFromRect(&bad, size));
    EXPECT_EQ(121, size.height);
    EXPECT_TRUE(plausibleEditorSize(4096, 4096));
}

TEST(VstGenericEditor, DrawsOnlyTheRowsItsWindowShowsHoweverManyParametersAreAnnounced) {
    EXPECT_EQ(3, parameterRowsShown(3, genericEditorSize(3).height));
    // 1900 rows in the tallest editor, and three more in its 40-pixel margin.
    EXPECT_EQ(1903, parameterRowsShown(1 << 20, genericEditorSize(1 << 20).height));
    EXPECT_EQ(1, parameterRowsShown(5, kRowTop + 1));  // a row partly in view is drawn
    EXPECT_EQ(0, parameterRowsShown(5, kRowTop));
    EXPECT_EQ(0, parameterRowsShown(-1, 500));
}

TEST(VstGenericEditor, StartsADragOnlyInsideABarBetweenTheRowLines) {
    EXPECT_EQ(0, parameterBarHit(259, 31, 3));
    EXPECT_EQ(0, parameterBarHit(327, 46, 3));
    EXPECT_EQ(-1, parameterBarHit(328, 40, 3));
    EXPECT_EQ(-1, parameterBarHit(258, 40, 3));
    EXPECT_EQ(-1, parameterBarHit(300, 30, 3));
    EXPECT_EQ(-1, parameterBarHit(300, 47, 3));  // between rows 0 and 1
    EXPECT_EQ(1, parameterBarHit(300, 48, 3));
    EXPECT_EQ(2, parameterBarHit(300, 30 + 17 * 2 + 16, 3));
    EXPECT_EQ(-1, parameterBarHit(300, 30 + 17 * 3 + 1, 3));
    EXPECT_EQ(-1, parameterBarHit(300, -10, 3));

    ParameterDrag drag{nullptr, -1, 0, 0, 0};
    int window = 0;
    EXPECT_FALSE(parameterDragBegin(drag, &window, 328, 40, 3, 0, 0));
    EXPECT_EQ(nullptr, drag.window);
}

TEST(VstGenericEditor, DragMovesAHundredthAPixelAndStopsAtTheEnds) {
    EXPECT_FLOAT_EQ(1.0f, parameterDragValue(0.5f, 150));
    EXPECT_FLOAT_EQ(0.0f, parameterDragValue(0.5f, -51));
    EXPECT_FLOAT_EQ(0.6f, parameterDragValue(0.5f, 10));
    EXPECT_EQ(259, parameterBarFillRight(0.0f));
    EXPECT_EQ(259 + 39, parameterBarFillRight(0.5f));
    EXPECT_EQ(337, parameterBarFillRight(7.0f));
    EXPECT_EQ(259, parameterBarFillRight(-1.0f));

    float cache[2] = {0.5f, 0.25f};
    int window = 0, other = 0;
    ParameterDrag drag{nullptr, -1, 0, 0, 0};
    ASSERT_TRUE(parameterDragBegin(drag, &window, 300, 40, 2, 640, 480));
    int32_t row = -1;
    float value = 0.0f;
    EXPECT_FALSE(parameterDragMove(drag, &other, 400, cache, 2, row, value));  // not the capturing window
    EXPECT_TRUE(parameterDragMove(drag, &window, 450, cache, 2, row, value));
    EXPECT_EQ(0, row);
    EXPECT_FLOAT_EQ(1.0f, value);
    cache[0] = value;
    EXPECT_FALSE(parameterDragMove(drag, &window, 470, cache, 2, row, value));  // already at the end
    EXPECT_TRUE(parameterDragMove(drag, &window, 460, cache, 2, row, value));
    EXPECT_FLOAT_EQ(0.9f, value);
    EXPECT_FALSE(parameterDragEnd(drag, &other));
    EXPECT_TRUE(parameterDragEnd(drag, &window));
    EXPECT_FALSE(parameterDragEnd(drag, &window));
}

TEST(VstGenericEditor, EndsADragWhoseRowIsNoLongerInTheCache) {
    float cache[2] = {0.5f, 0.5f};
    int window = 0;
    ParameterDrag drag{nullptr, -1, 0, 0, 0};
    ASSERT_TRUE(parameterDragBegin(drag, &window, 300, 50, 2, 0, 0));
    int32_t row = -1;
    float value = 0.0f;
    EXPECT_FALSE(parameterDragMove(drag, &window, 320, cache, 1, row, value));
    EXPECT_EQ(nullptr, drag.window);
}

TEST(VstEditorFrame, AddsTheStripAndTheBordersToTheEditor) {
    const FrameInsets insets{4, 23, 4, 4};
    const EditorSize frame = editorFrameSize(insets, {300, 120});
    EXPECT_EQ(15 + 300 + 8, frame.width);
    EXPECT_EQ(120 + 27, frame.height);
    EXPECT_TRUE(programButtonHit(15, 22));
    EXPECT_FALSE(programButtonHit(16, 10));
    EXPECT_FALSE(programButtonHit(5, 23));
}

}  // namespace

// A right-click anywhere on a row, from its name to its bar's end, opens
// that row's menu; its two commands become the host's learn and forget
// requests for the instance (the frame's owner) and the row.
namespace {
std::vector<std::vector<intptr_t>> hostRequests;
intptr_t WRAPPER_CALL recordRequest(intptr_t opcode, intptr_t a1, intptr_t a2) {
    hostRequests.push_back({opcode, a1, a2});
    return 1;
}
}  // namespace

TEST(VstGenericEditor, ARowsMenuAsksTheHostToLearnOrForgetItsParameter) {
    const int32_t second = parameterRowTop(1);
    EXPECT_EQ(1, parameterMenuRow(5, second, 3));
    EXPECT_EQ(1, parameterMenuRow(kBarRight - 1, second + kRowHeight - 1, 3));
    EXPECT_EQ(0, parameterMenuRow(200, kRowTop, 3));
    EXPECT_EQ(-1, parameterMenuRow(150, kRowTop - 1, 3));         // the heading
    EXPECT_EQ(-1, parameterMenuRow(150, parameterRowTop(3), 3));  // below the last row
    EXPECT_EQ(-1, parameterMenuRow(kBarRight, second, 3));       // right of the bars
    EXPECT_EQ(HC_LEARN_PARAMETER, parameterMenuRequest(kParameterMenuItems[0].command));
    EXPECT_EQ(HC_FORGET_PARAMETER, parameterMenuRequest(kParameterMenuItems[1].command));
    EXPECT_EQ(0, parameterMenuRequest(0));  // dismissed
    EXPECT_EQ(0, parameterMenuRequest(kProgramFirstCommand));

    int owner = 0;
    EditorFrame editor;
    editorFrameInit(editor, nullptr, &owner);
    hostRequests.clear();
    EXPECT_EQ(0, editorHostRequest(editor, HC_LEARN_PARAMETER, 1));  // no host yet
    editorSetHost(recordRequest);
    EXPECT_EQ(1, editorHostRequest(editor, parameterMenuRequest(kForgetCommand), 2));
    EXPECT_EQ(0, editorHostRequest(editor, HC_LEARN_PARAMETER, -1));
    editorSetHost(nullptr);
    EXPECT_EQ((std::vector<std::vector<intptr_t>>{{HC_FORGET_PARAMETER, reinterpret_cast<intptr_t>(&owner), 2}}),
              hostRequests);
}
