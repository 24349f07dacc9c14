// The VST 3 wrapper's editor frame in this process under Wine: an MDI frame
// and client stand in for the program's; our test module's view is a child
// window of the frame's client, beside the program button's strip.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
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

HWND editorFrame(HWND mdi) { return FindWindowExA(mdi, nullptr, "VST3_Wrapper_Editor", nullptr); }
HWND clientOf(HWND frame) { return FindWindowExA(frame, nullptr, "VST3_Default_Editor", nullptr); }
HWND viewOf(HWND frame) {
    HWND client = clientOf(frame);
    return client ? FindWindowExA(client, nullptr, "QvTestVst3View", nullptr) : nullptr;
}

// Reads the open popup menu and closes it; runs inside the menu's modal loop.
std::vector<std::pair<UINT, std::string>> menuItems;
void CALLBACK readPopup(HWND, UINT, UINT_PTR id, DWORD) {
    HWND popup = FindWindowA("#32768", nullptr);
    if (!popup || !IsWindowVisible(popup)) return;
    KillTimer(nullptr, id);
    HMENU menu = reinterpret_cast<HMENU>(SendMessageA(popup, 0x01E1 /* MN_GETHMENU */, 0, 0));
    for (int i = 0; menu && i < GetMenuItemCount(menu); ++i) {
        char text[200] = "";
        GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        menuItems.push_back({GetMenuItemID(menu, i), text});
    }
    EndMenu();
}

// The parameter-changed requests the host got, as (instance, index).
std::vector<std::pair<intptr_t, intptr_t>> parameterChanges() {
    std::vector<std::pair<intptr_t, intptr_t>> seen;
    for (const HostRequest& r : RecordingHost::current().requests)
        if (r.opcode == HC_PARAMETER_CHANGED) seen.push_back({r.a1, r.a2});
    return seen;
}

class Vst3Editor : public ::testing::Test {
protected:
    AppFolder app;
    HMODULE wrapper = nullptr;
    WrapperDriver w;
    HWND host = nullptr, mdi = nullptr;
    int32_t (*counts)(int32_t*) = nullptr;
    HMODULE module = nullptr;

    void SetUp() override {
        const std::string plugins = app.path() + "VST3";
        fs::create_directories(plugins);
        fs::copy(fs::path(testModulePath("x")).parent_path() / "vst3" / "QvTestGain.vst3",
                 fs::path(plugins) / "QvTestGain.vst3", fs::copy_options::recursive);
        ASSERT_TRUE(platformWriteSetting("VSTDir", plugins.c_str()));
        ASSERT_TRUE(platformWriteSetting("VST3Cache", (app.path() + "cache.txt").c_str()));
        wrapper = LoadLibraryA(stagedModule("Wrappers", "vst3wrapper").c_str());
        ASSERT_NE(nullptr, wrapper);
        w.dispatch = reinterpret_cast<WrapperDispatcherFn>(GetProcAddress(wrapper, "wrapperDispatcher"));
        w.process = reinterpret_cast<WrapperProcessFn>(GetProcAddress(wrapper, "processPlugin"));
        ASSERT_EQ(1, w.open(app.path()));
        ASSERT_EQ(1, w.call(WD_REFRESH_LIST));
        module = LoadLibraryA((plugins + "\\QvTestGain.vst3\\Contents\\x86_64-win\\QvTestGain.vst3").c_str());
        WNDCLASSA wc{};
        wc.lpfnWndProc = hostProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "Vst3EditorTestFrame";
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
        _putenv_s("QV_TVST3", "");
        platformWriteSetting("VSTDir", nullptr);
        platformWriteSetting("VST3Cache", nullptr);
    }
    int32_t liveObjects() {
        auto f = reinterpret_cast<void (*)(int32_t*)>(GetProcAddress(module, "tvst3Counts"));
        int32_t c[12] = {};
        if (f) f(c);
        return c[2];
    }
};

// The view opens in a frame of its size, follows the size it asks for,
// takes the user's resizing within its limits, and is released exactly
// once however the frame goes.
TEST_F(Vst3Editor, TheViewSitsInAFrameOfItsSizeAndIsReleasedOnce) {
    for (const char* name : {"Qv Test Gain", "Qv Test Single"}) {
        const intptr_t handle = w.create(name);
        ASSERT_NE(0, handle) << name;
        const int32_t before = liveObjects();
        ASSERT_EQ(1, w.call(WD_SHOW_EDITOR, handle, reinterpret_cast<intptr_t>(mdi)));
        pump(100);
        HWND frame = editorFrame(mdi);
        ASSERT_NE(nullptr, frame);
        char title[100] = "";
        GetWindowTextA(frame, title, sizeof title);
        EXPECT_STREQ(name, title);
        HWND view = viewOf(frame);
        ASSERT_NE(nullptr, view) << "the plug-in's own window is in the frame";
        EXPECT_EQ(15 + 300, clientSize(frame).cx) << "the strip and the view";
        EXPECT_EQ(200, clientSize(frame).cy);
        EXPECT_EQ(before + 1, liveObjects());  // the view
        // Shown again: the same frame comes forward.
        ASSERT_EQ(1, w.call(WD_SHOW_EDITOR, handle, reinterpret_cast<intptr_t>(mdi)));
        EXPECT_EQ(frame, editorFrame(mdi));
        EXPECT_EQ(nullptr, FindWindowExA(mdi, frame, "VST3_Wrapper_Editor", nullptr));

        // The user drags it larger, and below the view's smallest.
        RECT outer;
        GetWindowRect(frame, &outer);
        SetWindowPos(frame, nullptr, 0, 0, outer.right - outer.left + 100, outer.bottom - outer.top + 50,
                     SWP_NOMOVE | SWP_NOZORDER);
        pump(50);
        SIZE viewSize = clientSize(GetParent(view));
        EXPECT_EQ(400, viewSize.cx);
        EXPECT_EQ(250, viewSize.cy);
        SetWindowPos(frame, nullptr, 0, 0, 60, 60, SWP_NOMOVE | SWP_NOZORDER);
        pump(50);
        viewSize = clientSize(GetParent(view));
        EXPECT_GE(viewSize.cx, 100);
        EXPECT_GE(viewSize.cy, 80);

        // Closed by the host, then the instance goes: the view was released once.
        RecordingHost::current().requests.clear();
        ASSERT_EQ(1, w.call(WD_CLOSE_EDITOR, handle));
        pump(50);
        EXPECT_EQ(nullptr, editorFrame(mdi));
        EXPECT_EQ(before, liveObjects());
        EXPECT_EQ(1, static_cast<int>(std::count_if(RecordingHost::current().requests.begin(),
                                                    RecordingHost::current().requests.end(),
                                                    [](const HostRequest& r) { return r.opcode == HC_EDITOR_CLOSED; })));
        // Opened again and left open when the instance is destroyed.
        ASSERT_EQ(1, w.call(WD_SHOW_EDITOR, handle, reinterpret_cast<intptr_t>(mdi)));
        pump(50);
        ASSERT_EQ(1, w.call(WD_DESTROY_INSTANCE, handle));
        pump(50);
        EXPECT_EQ(nullptr, editorFrame(mdi));
        EXPECT_EQ(0, liveObjects());
    }
}

// A view that asks for another size when it is attached gets it; a plug-in
// without a view gets the generic editor, whose bars and program menu reach
// the controller and the processor.
TEST_F(Vst3Editor, AViewsResizeRequestSizesTheFrameAndNoViewGetsTheGenericEditorAndPrograms) {
    _putenv_s("QV_TVST3", "resize-on-open");
    intptr_t handle = w.create("Qv Test Gain");
    ASSERT_NE(0, handle);
    ASSERT_EQ(1, w.call(WD_SHOW_EDITOR, handle, reinterpret_cast<intptr_t>(mdi)));
    pump(100);
    HWND frame = editorFrame(mdi);
    ASSERT_NE(nullptr, frame);
    EXPECT_EQ(15 + 320, clientSize(frame).cx);
    EXPECT_EQ(240, clientSize(frame).cy);
    w.call(WD_DESTROY_ALL);

    _putenv_s("QV_TVST3", "no-editor");
    handle = w.create("Qv Test Gain");
    ASSERT_NE(0, handle);
    ASSERT_EQ(1, w.call(WD_SHOW_EDITOR, handle, reinterpret_cast<intptr_t>(mdi)));
    pump(100);
    frame = editorFrame(mdi);
    ASSERT_NE(nullptr, frame);
    HWND client = clientOf(frame);
    ASSERT_NE(nullptr, client);
    EXPECT_EQ(360, clientSize(client).cx);
    EXPECT_EQ(4 * 17 + 70, clientSize(client).cy) << "a row for each of the four parameters";

    // Gain (row 0) dragged from 0.5 by 20 pixels: the controller and the
    // processor have 0.7 (a gain of 1.4).
    SendMessageA(client, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(300, 30 + 8));
    SendMessageA(client, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(320, 30 + 8));
    SendMessageA(client, WM_LBUTTONUP, 0, MAKELPARAM(320, 30 + 8));
    ASSERT_FALSE(parameterChanges().empty());
    EXPECT_EQ(std::make_pair(handle, intptr_t{0}), parameterChanges().back()) << "the host hears of the drag";
    // A right click on a row offers MIDI learn for it.
    menuItems.clear();
    const UINT_PTR rowTimer = SetTimer(nullptr, 0, 50, readPopup);
    PostMessageA(client, WM_RBUTTONUP, 0, MAKELPARAM(150, 30 + 17 + 8));
    pump(1500);
    KillTimer(nullptr, rowTimer);
    EXPECT_EQ((std::vector<std::pair<UINT, std::string>>{{1100, "Learn MIDI Control"}, {1101, "Forget MIDI Control"}}),
              menuItems);
    WrapperParameter p{};
    p.index = 0;
    ASSERT_EQ(1, w.call(WD_GET_PARAMETER, handle, reinterpret_cast<intptr_t>(&p)));
    EXPECT_NEAR(0.7, p.value, 1e-6);
    EXPECT_STREQ("1.40", p.display);
    w.call(WD_SET_SAMPLE_RATE, 0, 48000);
    w.call(WD_SET_BLOCK_SIZE, 0, 64);
    std::vector<float> left(64, 0.5f), right(64, 0.5f);
    w.process(handle, left.data(), right.data());
    EXPECT_NEAR(0.7f, left[10], 1e-6f);

    // The program button lists the plug-in's programs under the current one.
    menuItems.clear();
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, readPopup);
    PostMessageA(frame, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(6, 8));
    pump(1500);
    KillTimer(nullptr, timer);
    EXPECT_EQ((std::vector<std::pair<UINT, std::string>>{
                  {106, "Unity"}, {0, ""}, {1112, "Soft"}, {1113, "Unity"}, {1114, "Loud"}}),
              menuItems);
    // "Loud" selects the program parameter's last step: its gain of 1.0
    // (normalised) reaches the processor, and the generic editor shows it.
    SendMessageA(frame, WM_COMMAND, 1114, 0);
    SendMessageA(frame, WM_COMMAND, 60000, 0);  // in no item
    p.index = 2;
    ASSERT_EQ(1, w.call(WD_GET_PARAMETER, handle, reinterpret_cast<intptr_t>(&p)));
    EXPECT_STREQ("Loud", p.display);
    std::fill(left.begin(), left.end(), 0.5f);
    std::fill(right.begin(), right.end(), 0.5f);
    w.process(handle, left.data(), right.data());
    EXPECT_NEAR(1.0f, left[10], 1e-6f);
    w.call(WD_DESTROY_ALL);
    EXPECT_EQ(nullptr, editorFrame(mdi));
}

// The view's own edits go the way a plug-in's interface sends them: a left
// click sets the gain in the controller at once and in the processor at
// the next block; a right click sets the latency the host then reads.
TEST_F(Vst3Editor, EditsInTheViewReachTheControllerTheAudioAndTheLatency) {
    for (const char* name : {"Qv Test Gain", "Qv Test Single"}) {
        w.call(WD_SET_CHANNELS, 0, 2);
        w.call(WD_SET_SAMPLE_RATE, 0, 48000);
        w.call(WD_SET_BLOCK_SIZE, 0, 32);
        w.call(WD_SET_PROCESSING, 0, 1);
        const intptr_t handle = w.create(name);
        ASSERT_NE(0, handle) << name;
        ASSERT_EQ(1, w.call(WD_SHOW_EDITOR, handle, reinterpret_cast<intptr_t>(mdi)));
        pump(100);
        HWND view = viewOf(editorFrame(mdi));
        ASSERT_NE(nullptr, view) << name;
        // 225 of 300: gain value 0.75, twice that as a factor.
        SendMessageA(view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(225, 50));
        WrapperParameter gain{};
        gain.index = 0;
        ASSERT_EQ(1, w.call(WD_GET_PARAMETER, handle, reinterpret_cast<intptr_t>(&gain)));
        EXPECT_DOUBLE_EQ(0.75, gain.value) << name;
        EXPECT_STREQ("1.50", gain.display) << name;
        ASSERT_FALSE(parameterChanges().empty()) << name;
        EXPECT_EQ(std::make_pair(handle, intptr_t{0}), parameterChanges().back()) << name;
        float left[32], right[32];
        for (int i = 0; i < 32; ++i) left[i] = right[i] = 0.25f;
        w.process(handle, left, right);
        EXPECT_FLOAT_EQ(0.375f, left[31]) << name;
        EXPECT_FLOAT_EQ(0.375f, right[0]) << name;
        // 150 of 300: 500 samples, asked anew by the host.
        SendMessageA(view, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(150, 50));
        int32_t frames = -1;
        ASSERT_EQ(1, w.call(WD_GET_LATENCY, handle, reinterpret_cast<intptr_t>(&frames)));
        EXPECT_EQ(500, frames) << name;
        ASSERT_EQ(1, w.call(WD_DESTROY_INSTANCE, handle));
        pump(50);
    }
}

}  // namespace
