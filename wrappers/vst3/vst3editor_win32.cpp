// The VST 3 editor frame: an MDI child (class "VST3_Wrapper_Editor") of the
// host's client whose client area is the plug-in's view's parent. The view
// asks for a size through our IPlugFrame; the user's resizing of the frame
// (when the view can resize) goes to the view after checkSizeConstraint.
// UI thread only.
#include <windows.h>

#include <new>

#include "wrappers/vst3/vst3editor.h"

using namespace vst3;

namespace {

constexpr const char* kFrameClass = "VST3_Wrapper_Editor";
constexpr int32_t kDefaultPosition = static_cast<int32_t>(0x80000000u);
bool registered = false;

HINSTANCE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&thisModule), &module);
    return module;
}

bool plausible(int32_t width, int32_t height) { return width > 0 && height > 0 && width <= 8192 && height <= 8192; }

// The frame's size around a client of `width` x `height`.
void frameAround(HWND frame, int32_t width, int32_t height, int& outerWidth, int& outerHeight) {
    RECT r{0, 0, width, height};
    AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongA(frame, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongA(frame, GWL_EXSTYLE)));
    outerWidth = r.right - r.left;
    outerHeight = r.bottom - r.top;
}

// The view's frame: the view asks for a new size here.
class PlugFrame final : public IPlugFrame {
public:
    explicit PlugFrame(Vst3Editor* editor) : editor_(editor) {}
    tresult VST3_CALL queryInterface(const uint8_t* iid, void** object) override {
        if (!object) return kInvalidArgument;
        if (sameUid(iid, kFUnknownIid) || sameUid(iid, kIPlugFrameIid)) {
            *object = static_cast<IPlugFrame*>(this);
            return kResultOk;
        }
        *object = nullptr;
        return kNoInterface;
    }
    // Lives as long as its editor is open; the frame owns it.
    uint32_t VST3_CALL addRef() override { return 2; }
    uint32_t VST3_CALL release() override { return 1; }
    tresult VST3_CALL resizeView(IPlugView* view, ViewRect* rect) override {
        if (!rect || !editor_->frame || view != editor_->view) return kInvalidArgument;
        const int32_t width = rect->right - rect->left, height = rect->bottom - rect->top;
        if (!plausible(width, height)) return kInvalidArgument;
        HWND frame = static_cast<HWND>(editor_->frame);
        int outerWidth = 0, outerHeight = 0;
        frameAround(frame, width, height, outerWidth, outerHeight);
        resizing_ = true;
        SetWindowPos(frame, nullptr, 0, 0, outerWidth, outerHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        SetWindowPos(static_cast<HWND>(editor_->client), nullptr, 0, 0, width, height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        resizing_ = false;
        ViewRect given{0, 0, width, height};
        view->onSize(&given);
        return kResultOk;
    }
    bool resizing() const { return resizing_; }

private:
    Vst3Editor* editor_;
    bool resizing_ = false;
};

Vst3Editor* editorOf(HWND window) { return reinterpret_cast<Vst3Editor*>(GetWindowLongPtrA(window, GWLP_USERDATA)); }

// The view's end, exactly once: removed, no frame, released.
void releaseView(Vst3Editor& editor) {
    if (editor.view) {
        editor.view->removed();
        editor.view->setFrame(nullptr);
        editor.view->release();
        editor.view = nullptr;
    }
    delete static_cast<PlugFrame*>(editor.plugFrame);
    editor.plugFrame = nullptr;
    editor.frame = nullptr;
    editor.client = nullptr;
}

LRESULT CALLBACK frameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        auto* mdi = create ? static_cast<MDICREATESTRUCTA*>(create->lpCreateParams) : nullptr;
        if (mdi) SetWindowLongPtrA(window, GWLP_USERDATA, mdi->lParam);
    }
    Vst3Editor* editor = editorOf(window);
    if (editor && editor->frame == window) {
        switch (message) {
            case WM_SIZE: {
                // The user's resizing: the view says what it can take.
                auto* plugFrame = static_cast<PlugFrame*>(editor->plugFrame);
                if (wParam == SIZE_MINIMIZED || !editor->view || (plugFrame && plugFrame->resizing())) break;
                ViewRect rect{0, 0, LOWORD(lParam), HIWORD(lParam)};
                if (editor->view->checkSizeConstraint(&rect) != kResultOk) break;
                SetWindowPos(static_cast<HWND>(editor->client), nullptr, 0, 0, rect.right - rect.left,
                             rect.bottom - rect.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
                editor->view->onSize(&rect);
                break;
            }
            case WM_MOVE: {
                RECT r;
                if (GetWindowRect(window, &r)) {
                    MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&r), 2);
                    editor->x = r.left;
                    editor->y = r.top;
                }
                break;
            }
            case WM_DESTROY:
                releaseView(*editor);
                break;
            default:
                break;
        }
    }
    return DefMDIChildProcA(window, message, wParam, lParam);
}

}  // namespace

bool vst3EditorsOpen() {
    if (registered) return true;
    WNDCLASSEXA frame{};
    frame.cbSize = sizeof frame;
    frame.lpfnWndProc = frameProc;
    frame.hInstance = thisModule();
    frame.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    frame.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_3DFACE + 1);
    frame.lpszClassName = kFrameClass;
    registered = RegisterClassExA(&frame) != 0;
    return registered;
}

void vst3EditorsClose() {
    if (registered) UnregisterClassA(kFrameClass, thisModule());
    registered = false;
}

intptr_t vst3EditorShow(Vst3Editor& editor, IEditController* controller, const char* title, void* mdiClient) {
    if (editor.frame) {
        HWND frame = static_cast<HWND>(editor.frame);
        SendMessageA(GetParent(frame), WM_MDIACTIVATE, reinterpret_cast<WPARAM>(frame), 0);
        return 1;
    }
    if (!controller || !mdiClient || !registered) return 0;
    IPlugView* view = controller->createView(kEditorViewType);
    if (!view) return 0;
    ViewRect size{0, 0, 0, 0};
    if (view->isPlatformTypeSupported(kPlatformTypeHwnd) != kResultOk || view->getSize(&size) != kResultOk ||
        !plausible(size.right - size.left, size.bottom - size.top)) {
        view->release();
        return 0;
    }
    const bool resizable = view->canResize() == kResultOk;
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    if (resizable) style |= WS_THICKFRAME | WS_MAXIMIZEBOX;
    const int x = editor.x == kDefaultPosition ? CW_USEDEFAULT : editor.x;
    const int y = editor.y == kDefaultPosition ? CW_USEDEFAULT : editor.y;
    editor.view = view;
    HWND frame = CreateMDIWindowA(kFrameClass, title, style, x, y, 10, 10, static_cast<HWND>(mdiClient), thisModule(),
                                  reinterpret_cast<LPARAM>(&editor));
    if (!frame) {
        editor.view = nullptr;
        view->release();
        return 0;
    }
    const int32_t width = size.right - size.left, height = size.bottom - size.top;
    HWND client = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, width, height, frame,
                                  nullptr, thisModule(), nullptr);
    auto* plugFrame = client ? new (std::nothrow) PlugFrame(&editor) : nullptr;
    if (!plugFrame) {
        SendMessageA(static_cast<HWND>(mdiClient), WM_MDIDESTROY, reinterpret_cast<WPARAM>(frame), 0);
        editor.view = nullptr;
        view->release();
        return 0;
    }
    editor.frame = frame;
    editor.client = client;
    editor.plugFrame = plugFrame;
    // The frame around the view's first size.
    int outerWidth = 0, outerHeight = 0;
    frameAround(frame, width, height, outerWidth, outerHeight);
    SetWindowPos(frame, nullptr, 0, 0, outerWidth, outerHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    view->setFrame(plugFrame);
    if (view->attached(client, kPlatformTypeHwnd) != kResultOk) {
        // Never attached: only released.
        view->setFrame(nullptr);
        editor.view = nullptr;
        view->release();
        SendMessageA(static_cast<HWND>(mdiClient), WM_MDIDESTROY, reinterpret_cast<WPARAM>(frame), 0);
        delete plugFrame;
        editor.plugFrame = nullptr;
        editor.frame = editor.client = nullptr;
        return 0;
    }
    ShowWindow(frame, SW_SHOW);
    return 1;
}

void vst3EditorClose(Vst3Editor& editor) {
    HWND frame = static_cast<HWND>(editor.frame);
    if (!frame) return;
    if (HWND mdiClient = GetParent(frame))
        SendMessageA(mdiClient, WM_MDIDESTROY, reinterpret_cast<WPARAM>(frame), 0);
    else
        DestroyWindow(frame);
    releaseView(editor);
}
