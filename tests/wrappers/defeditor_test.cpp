// The default wrapper's editor frame, in process under an MDI client: its
// size around the effect's editor, the preset commands, closing, and the
// wrapper closed and opened again in one process.
#include <windows.h>

#include <gtest/gtest.h>

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
