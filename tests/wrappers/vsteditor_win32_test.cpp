// The VST wrapper's editor windows, in this process under Wine: an MDI frame
// and client stand in for the program's, the staged wrapper is loaded
// afresh by every test (so closing, unloading and reopening it is part of
// each), and the test effects tell what their editors were asked.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/wrapperdriver.h"
#include "wrappers/vst/vst2abi.h"

namespace fs = std::filesystem;

namespace {

struct TestVstCall {
    int32_t opcode, index;
    intptr_t value;
    float opt;
};

// What the test effects export for tests.
struct Effects {
    HMODULE module;
    Vst2Effect* (*live)(int);
    int (*liveCount)();
    Vst2HostCallback (*host)(Vst2Effect*);
    const TestVstCall* (*calls)(Vst2Effect*, int*);
    void (*behaviour)(intptr_t, int, int);
    void (*stats)(Vst2Effect*, int*, int*, const uint32_t**, void**);

    explicit Effects(const std::string& path) : module(LoadLibraryA(path.c_str())) {
        live = reinterpret_cast<Vst2Effect* (*)(int)>(GetProcAddress(module, "testVstLive"));
        liveCount = reinterpret_cast<int (*)()>(GetProcAddress(module, "testVstLiveCount"));
        host = reinterpret_cast<Vst2HostCallback (*)(Vst2Effect*)>(GetProcAddress(module, "testVstHost"));
        calls = reinterpret_cast<const TestVstCall* (*)(Vst2Effect*, int*)>(GetProcAddress(module, "testVstCalls"));
        behaviour = reinterpret_cast<void (*)(intptr_t, int, int)>(GetProcAddress(module, "testVstEditorBehaviour"));
        stats = reinterpret_cast<void (*)(Vst2Effect*, int*, int*, const uint32_t**, void**)>(
            GetProcAddress(module, "testVstEditorStats"));
    }
    ~Effects() { FreeLibrary(module); }
    int closes(Vst2Effect* e) const {
        int idles = 0, closes = 0;
        const uint32_t* ticks = nullptr;
        void* child = nullptr;
        stats(e, &idles, &closes, &ticks, &child);
        return closes;
    }
    std::vector<uint32_t> idleTicks(Vst2Effect* e) const {
        int idles = 0, closes = 0;
        const uint32_t* ticks = nullptr;
        void* child = nullptr;
        stats(e, &idles, &closes, &ticks, &child);
        return std::vector<uint32_t>(ticks, ticks + std::min(idles, 64));
    }
    std::vector<intptr_t> programsSet(Vst2Effect* e) const {
        int n = 0;
        const TestVstCall* c = calls(e, &n);
        std::vector<intptr_t> out;
        for (int i = 0; i < n; ++i)
            if (c[i].opcode == kVst2SetProgram) out.push_back(c[i].value);
        return out;
    }
};

LRESULT CALLBACK hostFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND client = FindWindowExA(window, nullptr, "MDICLIENT", nullptr);
    return DefFrameProcA(window, client, message, wParam, lParam);
}

void pump(DWORD ms) {
    const DWORD until = GetTickCount() + ms;
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(5);
    } while (static_cast<int32_t>(GetTickCount() - until) < 0);
}

SIZE clientSize(HWND w) {
    RECT r;
    GetClientRect(w, &r);
    return {r.right, r.bottom};
}
SIZE windowSize(HWND w) {
    RECT r;
    GetWindowRect(w, &r);
    return {r.right - r.left, r.bottom - r.top};
}
// The frame an editor of w x h should have: the strip beside it, the real style's borders round it.
SIZE expectedFrame(HWND frame, int w, int h) {
    RECT r{0, 0, 15 + w, h};
    AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongA(frame, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongA(frame, GWL_EXSTYLE)));
    return {r.right - r.left, r.bottom - r.top};
}

int cursorCount() {
    const int shown = ShowCursor(TRUE);
    ShowCursor(FALSE);
    return shown - 1;
}

class VstEditor : public ::testing::Test {
protected:
    AppFolder app;
    std::string vstDir;
    HMODULE wrapper = nullptr;
    WrapperDriver w;
    HWND hostFrame = nullptr, mdi = nullptr;

    void SetUp() override {
        ASSERT_TRUE(platformWriteSetting("VSTDir", nullptr));
        vstDir = app.path() + "VST Plugins\\";
        fs::create_directories(vstDir);
        fs::copy_file(testModulePath("tvst_editor"), vstDir + "editor.dll");
        fs::copy_file(testModulePath("tvst_stereo"), vstDir + "stereo.dll");
        wrapper = LoadLibraryA(stagedModule("Wrappers", "vstwrapper").c_str());
        ASSERT_NE(nullptr, wrapper);
        w.dispatch = reinterpret_cast<WrapperDispatcherFn>(GetProcAddress(wrapper, "wrapperDispatcher"));
        w.process = reinterpret_cast<WrapperProcessFn>(GetProcAddress(wrapper, "processPlugin"));
        ASSERT_EQ(1, w.open(app.path()));
        ASSERT_EQ(1, w.call(WD_REFRESH_LIST));

        WNDCLASSA wc{};
        wc.lpfnWndProc = hostFrameProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "VstEditorTestFrame";
        RegisterClassA(&wc);
        hostFrame = CreateWindowExA(0, wc.lpszClassName, "Host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 900, 700,
                                    nullptr, nullptr, wc.hInstance, nullptr);
        CLIENTCREATESTRUCT ccs{nullptr, 50000};
        mdi = CreateWindowExA(0, "MDICLIENT", nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 880, 650,
                              hostFrame, nullptr, wc.hInstance, &ccs);
        ASSERT_NE(nullptr, mdi);
    }
    void TearDown() override {
        if (w.dispatch) w.call(WD_CLOSE);
        DestroyWindow(hostFrame);
        pump(20);
        if (wrapper) FreeLibrary(wrapper);
        platformWriteSetting("VSTDir", nullptr);
    }

    intptr_t show(intptr_t handle) { return w.call(WD_SHOW_EDITOR, handle, reinterpret_cast<intptr_t>(mdi)); }
    HWND frame() const { return FindWindowExA(mdi, nullptr, "VST_Wrapper_Editor", nullptr); }
    HWND editorClient() const { return FindWindowExA(frame(), nullptr, "VST_Default_Editor", nullptr); }
};

TEST_F(VstEditor, AnOwnEditorIsIdledEveryHundredMillisecondsAndClosedOnceWithItsFrame) {
    Effects fx(vstDir + "editor.dll");
    fx.behaviour(1, 1, 0);
    const intptr_t h = w.create("editor");
    ASSERT_NE(0, h);
    Vst2Effect* effect = fx.live(0);
    ASSERT_EQ(1, show(h));
    HWND f = frame();
    ASSERT_NE(nullptr, f);
    HWND client = editorClient();
    ASSERT_NE(nullptr, GetWindow(client, GW_CHILD)) << "the effect's own window";
    EXPECT_EQ(300, clientSize(client).cx);
    EXPECT_EQ(120, clientSize(client).cy);
    EXPECT_EQ(expectedFrame(f, 300, 120).cx, windowSize(f).cx);
    EXPECT_EQ(expectedFrame(f, 300, 120).cy, windowSize(f).cy);
    char title[64] = "";
    GetWindowTextA(f, title, sizeof title);
    EXPECT_STREQ("editor", title);

    pump(1100);
    std::vector<uint32_t> ticks = fx.idleTicks(effect);
    ASSERT_GE(ticks.size(), 5u);
    EXPECT_LE(ticks.size(), 14u);
    std::vector<uint32_t> gaps;
    for (size_t i = 1; i < ticks.size(); ++i) gaps.push_back(ticks[i] - ticks[i - 1]);
    std::sort(gaps.begin(), gaps.end());
    EXPECT_GE(gaps[gaps.size() / 2], 80u);
    EXPECT_LE(gaps[gaps.size() / 2], 200u);

    EXPECT_EQ(1, show(h)) << "showing again activates the same frame";
    EXPECT_EQ(f, frame());
    EXPECT_EQ(nullptr, FindWindowExA(mdi, f, "VST_Wrapper_Editor", nullptr));
    EXPECT_EQ(0, fx.closes(effect));
    EXPECT_EQ(1, w.call(WD_CLOSE_EDITOR, h, 4));
    EXPECT_FALSE(IsWindow(f));
    pump(300);
    EXPECT_EQ(1, fx.closes(effect));
    const size_t idles = fx.idleTicks(effect).size();
    pump(300);
    EXPECT_EQ(idles, fx.idleTicks(effect).size()) << "no idle after the frame has gone";

    // Destroying the instance with its frame open closes the editor once more, then the effect.
    ASSERT_EQ(1, show(h));
    EXPECT_EQ(1, w.call(WD_DESTROY_INSTANCE, h, 4));
    EXPECT_EQ(nullptr, frame());
    EXPECT_EQ(0, fx.liveCount());
}

TEST_F(VstEditor, AnEditorThatMadeItsWindowIsOpenWhateverItAnswersAndAbsurdRectanglesKeepTheGenericSize) {
    Effects fx(vstDir + "editor.dll");
    fx.behaviour(0, 1, 2);
    const intptr_t h = w.create("editor");
    ASSERT_EQ(1, show(h));
    EXPECT_EQ(360, clientSize(editorClient()).cx);
    EXPECT_EQ(3 * 17 + 70, clientSize(editorClient()).cy);
    EXPECT_EQ(1, w.call(WD_CLOSE_EDITOR, h, 4));

    fx.behaviour(1, 1, 1);  // no rectangle at all
    ASSERT_EQ(1, show(h));
    EXPECT_EQ(360, clientSize(editorClient()).cx);
    EXPECT_EQ(1, w.call(WD_CLOSE_EDITOR, h, 4));
    EXPECT_EQ(2, fx.closes(fx.live(0)));

    fx.behaviour(0, 0, 0);  // answers 0 and made nothing: not open
    EXPECT_EQ(0, show(h));
    EXPECT_EQ(nullptr, frame());
    pump(100);
    EXPECT_EQ(2, fx.closes(fx.live(0))) << "an editor that never opened is not closed";
}

TEST_F(VstEditor, SizeWindowFromAnotherThreadIsPostedAndThenResizesClientAndFrame) {
    Effects fx(vstDir + "editor.dll");
    fx.behaviour(1, 1, 0);
    const intptr_t h = w.create("editor");
    ASSERT_EQ(1, show(h));
    Vst2Effect* effect = fx.live(0);
    Vst2HostCallback host = fx.host(effect);
    HWND f = frame();

    std::atomic<int> answer{-1};
    std::thread audio([&] { answer = static_cast<int>(host(effect, kVst2HostSizeWindow, 400, 200, nullptr, 0.0f)); });
    // Without pumping: a sent resize would keep the thread waiting for us.
    for (int i = 0; i < 200 && answer.load() < 0; ++i) Sleep(10);
    EXPECT_EQ(1, answer.load()) << "the other thread was kept waiting";
    pump(100);
    audio.join();
    EXPECT_EQ(400, clientSize(editorClient()).cx);
    EXPECT_EQ(200, clientSize(editorClient()).cy);
    EXPECT_EQ(expectedFrame(f, 400, 200).cx, windowSize(f).cx);
    EXPECT_EQ(expectedFrame(f, 400, 200).cy, windowSize(f).cy);

    // On the UI thread it resizes at once; an absurd size changes nothing.
    EXPECT_EQ(1, host(effect, kVst2HostSizeWindow, 250, 90, nullptr, 0.0f));
    EXPECT_EQ(250, clientSize(editorClient()).cx);
    EXPECT_EQ(1, host(effect, kVst2HostSizeWindow, 5000, 90, nullptr, 0.0f));
    EXPECT_EQ(1, host(effect, kVst2HostSizeWindow, 100, -3, nullptr, 0.0f));
    pump(50);
    EXPECT_EQ(250, clientSize(editorClient()).cx);
    EXPECT_EQ(90, clientSize(editorClient()).cy);
}

TEST_F(VstEditor, TheGenericEditorsBarsSetParametersByDragging) {
    Effects fx(vstDir + "stereo.dll");
    const intptr_t h = w.create("stereo");
    ASSERT_EQ(1, show(h));
    Vst2Effect* effect = fx.live(0);
    HWND f = frame();
    HWND client = editorClient();
    EXPECT_EQ(360, clientSize(client).cx);
    EXPECT_EQ(expectedFrame(f, 360, 3 * 17 + 70).cy, windowSize(f).cy);
    pump(50);

    const int row1 = 30 + 17 + 8;
    SendMessageA(client, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(300, row1));
    EXPECT_EQ(client, GetCapture());
    EXPECT_EQ(-1, cursorCount()) << "the cursor hides while dragging";
    SendMessageA(client, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(320, row1));
    EXPECT_FLOAT_EQ(0.7f, effect->getParameter(effect, 1));
    SendMessageA(client, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(500, row1 + 40));
    EXPECT_FLOAT_EQ(1.0f, effect->getParameter(effect, 1));
    SendMessageA(client, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(480, row1));
    EXPECT_FLOAT_EQ(0.8f, effect->getParameter(effect, 1));
    SendMessageA(client, WM_LBUTTONUP, 0, MAKELPARAM(480, row1));
    EXPECT_EQ(nullptr, GetCapture());
    EXPECT_EQ(0, cursorCount());

    // Left of the bar and on x = 328 nothing starts; coordinates left of the window are negative.
    SendMessageA(client, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(328, row1));
    EXPECT_EQ(nullptr, GetCapture());
    SendMessageA(client, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(300, 30 + 8));
    SendMessageA(client, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(-20, 30 + 8));  // 320 px left
    EXPECT_FLOAT_EQ(0.0f, effect->getParameter(effect, 0));
    // Another window taking the capture ends the drag.
    SetCapture(hostFrame);
    ReleaseCapture();
    EXPECT_EQ(0, cursorCount());
    SendMessageA(client, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(80, 30 + 8));
    EXPECT_FLOAT_EQ(0.0f, effect->getParameter(effect, 0));

    // The state blob carries what was dragged.
    std::vector<uint8_t> blob = w.save();
    float saved[3];
    ASSERT_GT(blob.size(), 8u + 4 + 2 + 12);
    std::memcpy(saved, blob.data() + blob.size() - 8 - 12, 12);
    EXPECT_FLOAT_EQ(0.0f, saved[0]);
    EXPECT_FLOAT_EQ(0.8f, saved[1]);
}

TEST_F(VstEditor, DestroyingAnEditorInTheMiddleOfADragLeavesNoCaptureAndShowsTheCursor) {
    Effects fx(vstDir + "stereo.dll");
    const intptr_t h = w.create("stereo");
    ASSERT_EQ(1, show(h));
    HWND client = editorClient();
    SendMessageA(client, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(300, 40));
    ASSERT_EQ(client, GetCapture());
    EXPECT_EQ(1, w.call(WD_DESTROY_INSTANCE, h, 4));
    EXPECT_FALSE(IsWindow(client));
    EXPECT_EQ(nullptr, GetCapture());
    EXPECT_EQ(0, cursorCount());
    pump(50);
    // A second editor starts with no drag left over.
    const intptr_t again = w.create("stereo");
    ASSERT_EQ(1, show(again));
    SendMessageA(editorClient(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(200, 40));
    EXPECT_FLOAT_EQ(0.25f, fx.live(0)->getParameter(fx.live(0), 0));
}

// Reads the open popup menu and closes it; runs inside the menu's modal loop.
std::vector<std::pair<UINT, std::string>> g_menuItems;
void CALLBACK readPopup(HWND, UINT, UINT_PTR id, DWORD) {
    HWND popup = FindWindowA("#32768", nullptr);
    if (!popup || !IsWindowVisible(popup)) return;
    KillTimer(nullptr, id);
    HMENU menu = reinterpret_cast<HMENU>(SendMessageA(popup, 0x01E1 /* MN_GETHMENU */, 0, 0));
    for (int i = 0; menu && i < GetMenuItemCount(menu); ++i) {
        char text[200] = "";
        GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        g_menuItems.push_back({GetMenuItemID(menu, i), text});
    }
    EndMenu();
}

TEST_F(VstEditor, TheProgramButtonOpensTheMenuAndOnlyItsCommandsChoosePrograms) {
    Effects fx(vstDir + "stereo.dll");
    const intptr_t h = w.create("stereo");
    ASSERT_EQ(1, show(h));
    Vst2Effect* effect = fx.live(0);
    HWND f = frame();
    pump(50);
    g_menuItems.clear();
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, readPopup);
    PostMessageA(f, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(6, 8));
    pump(1500);
    KillTimer(nullptr, timer);
    EXPECT_EQ((std::vector<std::pair<UINT, std::string>>{
                  {106, "Clean"}, {0, ""}, {1112, "Clean"}, {1113, "Warm"}, {1115, "Bright"}}),
              g_menuItems);

    const size_t before = fx.programsSet(effect).size();
    SendMessageA(f, WM_COMMAND, 1115, 0);
    EXPECT_FLOAT_EQ(0.625f, effect->getParameter(effect, 0));
    SendMessageA(f, WM_COMMAND, 1114, 0);  // the second "Warm": in no item
    SendMessageA(f, WM_COMMAND, 60000, 0);
    SendMessageA(f, WM_COMMAND, 106, 0);  // the current program again
    const std::vector<intptr_t> set = fx.programsSet(effect);
    EXPECT_EQ((std::vector<intptr_t>{3, 3}), std::vector<intptr_t>(set.begin() + static_cast<long>(before), set.end()));
}

}  // namespace
