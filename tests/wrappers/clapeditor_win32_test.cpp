// The CLAP wrapper's editor frame in this process under Wine: an MDI frame
// and client stand in for the program's; our test module's GUI is a child
// window of the frame's client, and the wrapper's own timer serves the
// plug-in's timer and its requests while messages are pumped.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/wrapperdriver.h"

namespace fs = std::filesystem;

namespace {

LRESULT CALLBACK hostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
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

HWND frameIn(HWND mdi) { return FindWindowExA(mdi, nullptr, "CLAP_Wrapper_Editor", nullptr); }
HWND clientOf(HWND frame) { return FindWindowExA(frame, nullptr, "CLAP_Default_Editor", nullptr); }

class ClapEditor : public ::testing::Test {
protected:
    AppFolder app;
    HMODULE wrapper = nullptr;
    WrapperDriver w;
    HWND host = nullptr, mdi = nullptr;
    HMODULE module = nullptr;

    void SetUp() override {
        const std::string plugins = app.path() + "CLAP";
        fs::create_directories(plugins);
        fs::copy_file(fs::path(testModulePath("x")).parent_path() / "clap" / "QvTestGain.clap",
                      fs::path(plugins) / "QvTestGain.clap");
        ASSERT_TRUE(platformWriteSetting("VSTDir", plugins.c_str()));
        ASSERT_TRUE(platformWriteSetting("CLAPCache", (app.path() + "cache.txt").c_str()));
        wrapper = LoadLibraryA(stagedModule("Wrappers", "clapwrapper").c_str());
        ASSERT_NE(nullptr, wrapper);
        w.dispatch = reinterpret_cast<WrapperDispatcherFn>(GetProcAddress(wrapper, "wrapperDispatcher"));
        w.process = reinterpret_cast<WrapperProcessFn>(GetProcAddress(wrapper, "processPlugin"));
        ASSERT_EQ(1, w.open(app.path()));
        ASSERT_EQ(1, w.call(WD_REFRESH_LIST));
        module = LoadLibraryA((plugins + "\\QvTestGain.clap").c_str());
        WNDCLASSA wc{};
        wc.lpfnWndProc = hostProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "ClapEditorTestFrame";
        RegisterClassA(&wc);
        host = CreateWindowExA(0, wc.lpszClassName, "Host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 900, 700, nullptr,
                               nullptr, wc.hInstance, nullptr);
        CLIENTCREATESTRUCT ccs{nullptr, 1000};
        mdi = CreateWindowExA(0, "MDICLIENT", nullptr, WS_CHILD | WS_CLIPCHILDREN | WS_VISIBLE, 0, 0, 880, 650, host,
                              nullptr, wc.hInstance, &ccs);
        ASSERT_NE(nullptr, mdi);
    }
    void TearDown() override {
        if (w.dispatch) w.call(WD_CLOSE);
        if (host) DestroyWindow(host);
        if (wrapper) FreeLibrary(wrapper);
        if (module) FreeLibrary(module);
        _putenv_s("QV_TCLAP", "");
        platformWriteSetting("VSTDir", nullptr);
        platformWriteSetting("CLAPCache", nullptr);
    }
    int32_t count(int which) {
        auto f = reinterpret_cast<void (*)(int32_t*)>(GetProcAddress(module, "tclapCounts"));
        int32_t c[16] = {};
        if (f) f(c);
        return c[which];
    }
    double gain(intptr_t handle) {
        WrapperParameter p{};
        p.index = 0;
        EXPECT_EQ(1, w.call(WD_GET_PARAMETER, handle, reinterpret_cast<intptr_t>(&p)));
        return p.value;
    }
};
enum { kTimerTicks = 13, kThreadViolations = 14 };

// The GUI sits in the frame at its size and follows the user's resizing
// within its limits; a click in it reaches the plug-in through the host's
// flush; its timer ticks on the UI thread; it is destroyed once with its
// frame, and its timer with it.
TEST_F(ClapEditor, TheGuiIsEmbeddedTicksAndItsEditsReachThePlugIn) {
    const intptr_t handle = w.create("Qv Test Gain");
    ASSERT_NE(0, handle);
    ASSERT_EQ(1, w.call(WD_SHOW_EDITOR, handle, reinterpret_cast<intptr_t>(mdi)));
    pump(100);
    HWND frame = frameIn(mdi);
    ASSERT_NE(nullptr, frame);
    char title[100] = "";
    GetWindowTextA(frame, title, sizeof title);
    EXPECT_STREQ("Qv Test Gain", title);
    HWND client = clientOf(frame);
    ASSERT_NE(nullptr, client);
    HWND view = FindWindowExA(client, nullptr, "QvTestClapView", nullptr);
    ASSERT_NE(nullptr, view) << "the plug-in's window is in the frame";
    EXPECT_EQ(15 + 300, clientSize(frame).cx) << "the strip and the GUI";
    EXPECT_EQ(200, clientSize(frame).cy);

    const int ticks = count(kTimerTicks);
    pump(400);
    EXPECT_GE(count(kTimerTicks), ticks + 3) << "a 50 ms timer, served on the UI thread";

    SendMessageA(view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(225, 20));  // gain 2 * 225 / 300 = 1.5
    pump(100);
    EXPECT_DOUBLE_EQ(0.75, gain(handle));

    RECT outer;
    GetWindowRect(frame, &outer);
    SetWindowPos(frame, nullptr, 0, 0, outer.right - outer.left + 100, outer.bottom - outer.top + 50,
                 SWP_NOMOVE | SWP_NOZORDER);
    pump(50);
    EXPECT_EQ(400, clientSize(view).cx);
    EXPECT_EQ(250, clientSize(view).cy);
    SetWindowPos(frame, nullptr, 0, 0, 60, 60, SWP_NOMOVE | SWP_NOZORDER);
    pump(50);
    EXPECT_GE(clientSize(view).cx, 100);
    EXPECT_GE(clientSize(view).cy, 80);

    ASSERT_EQ(1, w.call(WD_CLOSE_EDITOR, handle));
    pump(50);
    EXPECT_EQ(nullptr, frameIn(mdi));
    EXPECT_FALSE(IsWindow(view));
    const int after = count(kTimerTicks);
    pump(200);
    EXPECT_EQ(after, count(kTimerTicks)) << "the timer went with the GUI";
    // Opened again and left open when the instance goes.
    ASSERT_EQ(1, w.call(WD_SHOW_EDITOR, handle, reinterpret_cast<intptr_t>(mdi)));
    pump(50);
    ASSERT_EQ(1, w.call(WD_DESTROY_INSTANCE, handle));
    pump(50);
    EXPECT_EQ(nullptr, frameIn(mdi));
    EXPECT_EQ(0, count(kThreadViolations));
}

// Without a GUI the generic editor lists the parameters; a drag reaches
// the plug-in and the audio.
TEST_F(ClapEditor, WithoutAGuiTheGenericEditorSetsParameters) {
    _putenv_s("QV_TCLAP", "no-gui");
    const intptr_t handle = w.create("Qv Test Gain");
    ASSERT_NE(0, handle);
    ASSERT_EQ(1, w.call(WD_SHOW_EDITOR, handle, reinterpret_cast<intptr_t>(mdi)));
    pump(100);
    HWND frame = frameIn(mdi);
    ASSERT_NE(nullptr, frame);
    HWND client = clientOf(frame);
    ASSERT_NE(nullptr, client);
    EXPECT_EQ(360, clientSize(client).cx);
    EXPECT_EQ(3 * 17 + 70, clientSize(client).cy) << "a row for each of the three parameters";
    SendMessageA(client, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(300, 30 + 8));
    SendMessageA(client, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(320, 30 + 8));
    SendMessageA(client, WM_LBUTTONUP, 0, MAKELPARAM(320, 30 + 8));
    EXPECT_NEAR(0.7, gain(handle), 1e-6);
    w.call(WD_SET_SAMPLE_RATE, 0, 48000);
    w.call(WD_SET_BLOCK_SIZE, 0, 64);
    std::vector<float> left(64, 0.5f), right(64, 0.5f);
    w.process(handle, left.data(), right.data());
    EXPECT_NEAR(0.7f, left[10], 1e-6f);
    w.call(WD_DESTROY_ALL);
    EXPECT_EQ(nullptr, frameIn(mdi));
}

}  // namespace
