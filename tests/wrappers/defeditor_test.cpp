// The default wrapper's editor frame, in process under an MDI client: its
// size around the effect's editor, the preset commands, closing, and the
// wrapper closed and opened again in one process.
#include <windows.h>

#include <gtest/gtest.h>

#include <commctrl.h>

#include "effects/chorus/resource.h"
#include "tests/support/popupmenu.h"
#include "tests/support/wrapperdriver.h"

namespace {

const WrapperDriver& wrapper() {
    static WrapperDriver w = WrapperDriver::staged("defwrapper");
    return w;
}

class EditorFrame : public ::testing::Test {
protected:
    AppFolder app;
    const WrapperDriver& w = wrapper();
    HWND top = nullptr;
    HWND client = nullptr;

    void SetUp() override {
        ASSERT_NE(nullptr, w.dispatch);
        app.addStagedEffects();
        ASSERT_EQ(1, w.open(app.path()));
        w.call(WD_SET_SAMPLE_RATE, 0, 44100);
        w.call(WD_SET_BLOCK_SIZE, 0, 64);
        ASSERT_EQ(1, w.call(WD_REFRESH_LIST));
        top = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 900, 700, nullptr,
                              nullptr, nullptr, nullptr);
        CLIENTCREATESTRUCT ccs{nullptr, 1};
        client = CreateWindowExA(0, "MDICLIENT", nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 880, 660,
                                 top, nullptr, nullptr, &ccs);
        ASSERT_NE(nullptr, client);
    }
    void TearDown() override {
        w.call(WD_CLOSE, 0, 0);
        if (top) DestroyWindow(top);
    }

    HWND frameOf() { return FindWindowExA(client, nullptr, "Default_Wrapper_Editor", nullptr); }
    intptr_t show(intptr_t handle) { return w.call(WD_SHOW_EDITOR, handle, reinterpret_cast<intptr_t>(client)); }

    // The flanger's preset name, from its chunk inside the wrapper's blob.
    std::string flangerPresetName() {
        std::vector<uint8_t> blob = w.save();
        const size_t chunk = 8 + 6 + std::strlen("flanger.dll") + 4;
        if (blob.size() < chunk + 62) return "<short>";
        return std::string(reinterpret_cast<const char*>(&blob[chunk + 30]));
    }
};

}  // namespace

TEST_F(EditorFrame, FrameWrapsTheEffectsEditorRightOfThePresetStrip) {
    const intptr_t echo = w.create("echo");
    ASSERT_NE(0, echo);
    ASSERT_EQ(1, show(echo));
    HWND frame = frameOf();
    ASSERT_NE(nullptr, frame);
    char title[64];
    GetWindowTextA(frame, title, sizeof title);
    EXPECT_STREQ("echo", title);
    RECT inner;
    GetClientRect(frame, &inner);
    EXPECT_EQ(15 + 430, inner.right);
    EXPECT_EQ(210, inner.bottom);
    HWND editor = GetWindow(frame, GW_CHILD);
    ASSERT_NE(nullptr, editor);
    RECT r;
    GetWindowRect(editor, &r);
    MapWindowPoints(nullptr, frame, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(15, r.left);
    EXPECT_EQ(0, r.top);
    // A second request activates the same frame.
    EXPECT_EQ(1, show(echo));
    EXPECT_EQ(frame, frameOf());
    EXPECT_EQ(nullptr, FindWindowExA(client, frame, "Default_Wrapper_Editor", nullptr));
}

TEST_F(EditorFrame, PresetCommandsSelectOnlyPresetsTheEffectHas) {
    const intptr_t flanger = w.create("flanger");
    ASSERT_EQ(1, show(flanger));
    HWND frame = frameOf();
    SendMessageA(frame, WM_COMMAND, 104 + 3, 0);
    EXPECT_EQ("Fast", flangerPresetName());
    SendMessageA(frame, WM_COMMAND, 104 + 6, 0);  // one past the six presets
    EXPECT_EQ("Fast", flangerPresetName());
    SendMessageA(frame, WM_COMMAND, 104 + 1, 0);
    EXPECT_EQ("Classic Jet", flangerPresetName());
    // The bold item re-applies the current preset.
    SendMessageA(frame, WM_COMMAND, 103, 0);
    EXPECT_EQ("Classic Jet", flangerPresetName());
}

TEST_F(EditorFrame, ClosingTheEditorOrTheInstanceRemovesTheFrame) {
    const intptr_t chorus = w.create("chorus");
    ASSERT_EQ(1, show(chorus));
    ASSERT_NE(nullptr, frameOf());
    EXPECT_EQ(1, w.call(WD_CLOSE_EDITOR, chorus, 4));
    EXPECT_EQ(nullptr, frameOf());
    ASSERT_EQ(1, show(chorus));
    ASSERT_NE(nullptr, frameOf());
    EXPECT_EQ(1, w.call(WD_DESTROY_INSTANCE, chorus, 4));
    EXPECT_EQ(nullptr, frameOf());
}

TEST_F(EditorFrame, FrameClosedByTheUserCanBeShownAgain) {
    const intptr_t reverb = w.create("reverb");
    ASSERT_EQ(1, show(reverb));
    SendMessageA(client, WM_MDIDESTROY, reinterpret_cast<WPARAM>(frameOf()), 0);
    EXPECT_EQ(nullptr, frameOf());
    EXPECT_EQ(1, show(reverb));
    EXPECT_NE(nullptr, frameOf());
}

TEST_F(EditorFrame, WrapperClosedAndOpenedAgainShowsEditors) {
    ASSERT_EQ(1, show(w.create("echo")));
    EXPECT_EQ(1, w.call(WD_CLOSE, 0, 0));
    EXPECT_EQ(nullptr, frameOf());
    ASSERT_EQ(1, w.open(app.path()));
    ASSERT_EQ(1, w.call(WD_REFRESH_LIST));
    const intptr_t echo = w.create("echo");
    ASSERT_NE(0, echo);
    EXPECT_EQ(1, show(echo));
    EXPECT_NE(nullptr, frameOf());
}

// The effect's own editor asks through the wrapper: a right-click on the
// chorus's second voice's level offers MIDI learn, and the host hears Learn,
// Forget and a move for the instance and the parameter index that
// WD_GET_PARAMETER names "Source 2 Level".
TEST_F(EditorFrame, AnEffectEditorsTrackbarAsksTheHostForMidiLearnOfItsParameter) {
    const intptr_t chorus = w.create("chorus");
    ASSERT_EQ(1, show(chorus));
    HWND editor = GetWindow(frameOf(), GW_CHILD);
    ASSERT_NE(nullptr, editor);
    SendMessageA(editor, WM_COMMAND, MAKEWPARAM(IDC_CHORUS_SOURCE2, BN_CLICKED), 0);
    HWND level = GetDlgItem(editor, IDC_CHORUS_LEVEL);
    const auto seen = [](intptr_t opcode) {
        std::vector<std::pair<intptr_t, intptr_t>> found;
        for (const HostRequest& r : RecordingHost::current().requests)
            if (r.opcode == opcode) found.push_back({r.a1, r.a2});
        return found;
    };
    const std::vector<std::pair<UINT, std::string>> items{{1, "Learn MIDI Control"}, {2, "Forget MIDI Control"}};
    EXPECT_EQ(items, popupAfter(level, WM_RBUTTONUP, 0, MAKELPARAM(4, 4), 0));
    EXPECT_EQ(items, popupAfter(level, WM_RBUTTONUP, 0, MAKELPARAM(4, 4), 1));
    const std::vector<std::pair<intptr_t, intptr_t>> learnt = seen(HC_LEARN_PARAMETER);
    ASSERT_EQ(1u, learnt.size());
    EXPECT_EQ(chorus, learnt[0].first);
    EXPECT_EQ((std::vector<std::pair<intptr_t, intptr_t>>{learnt[0]}), seen(HC_FORGET_PARAMETER));
    WrapperParameter p{};
    p.index = static_cast<int32_t>(learnt[0].second);
    ASSERT_EQ(1, w.call(WD_GET_PARAMETER, chorus, reinterpret_cast<intptr_t>(&p)));
    EXPECT_STREQ("Source 2 Level", p.name);

    SendMessageA(level, TBM_SETPOS, TRUE, 900);
    SendMessageA(editor, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, 900), reinterpret_cast<LPARAM>(level));
    EXPECT_EQ((std::vector<std::pair<intptr_t, intptr_t>>{learnt[0]}), seen(HC_PARAMETER_CHANGED));
    // The same move through the wrapper's parameter is the host's own: no report.
    EXPECT_EQ(1, w.call(WD_GET_PARAMETER, chorus, reinterpret_cast<intptr_t>(&p)));
    EXPECT_EQ(1, w.call(WD_SET_PARAMETER, chorus, reinterpret_cast<intptr_t>(&p)));
    EXPECT_EQ(1u, seen(HC_PARAMETER_CHANGED).size());
}
