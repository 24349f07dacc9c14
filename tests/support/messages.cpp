#include "tests/support/messages.h"

#include <mutex>

namespace {
std::mutex lock;
std::vector<ShownMessage> shown;

void record(const char* text, const char* caption) {
    std::lock_guard<std::mutex> guard(lock);
    shown.push_back({text ? text : "", caption ? caption : ""});
}
}  // namespace

#if defined(_WIN32)
#include <windows.h>

#include <atomic>
#include <thread>

namespace {

// Boxes already recorded and answered: a box can show again between the
// answer and its end (its own showing comes after ours hid it), and is then
// only answered again. Only the watcher thread touches the list.
std::vector<HWND> answered;

BOOL CALLBACK answerDialog(HWND window, LPARAM) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    char className[64];
    if (!GetClassNameA(window, className, sizeof className) || std::string(className) != "#32770") return TRUE;
    // A box still being made has no text control yet: the next pass takes it.
    if (!GetDlgItem(window, 0xFFFF)) return TRUE;
    for (HWND seen : answered) {
        if (seen != window) continue;
        ShowWindow(window, SW_HIDE);
        PostMessageA(window, WM_COMMAND, IDOK, 0);
        return TRUE;
    }
    answered.push_back(window);
    char caption[512] = "", text[2048] = "";
    GetWindowTextA(window, caption, sizeof caption);
    GetDlgItemTextA(window, 0xFFFF, text, sizeof text);  // a message box's text control
    record(text, caption);
    // Hide first, so the next pass does not see it again while it closes.
    ShowWindow(window, SW_HIDE);
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

// One watcher for the whole test program, polling every 10 ms.
void startWatcher() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::thread([] {
            for (;;) {
                // Boxes that are gone leave the list (their handles may come again).
                std::erase_if(answered, [](HWND w) { return !IsWindow(w); });
                EnumWindows(answerDialog, 0);
                Sleep(10);
            }
        }).detach();
    });
}

}  // namespace

void messagesStart() {
    startWatcher();
    std::lock_guard<std::mutex> guard(lock);
    shown.clear();
}

std::vector<ShownMessage> messagesTaken() {
    std::lock_guard<std::mutex> guard(lock);
    return shown;
}

#else

// Found by the platform layer's message box through the dynamic symbol table.
extern "C" __attribute__((visibility("default"))) int qvMessageHook(const char* text, const char* caption,
                                                                        unsigned) {
    record(text, caption);
    return 1;
}

void messagesStart() {
    std::lock_guard<std::mutex> guard(lock);
    shown.clear();
}

std::vector<ShownMessage> messagesTaken() {
    std::lock_guard<std::mutex> guard(lock);
    return shown;
}

#endif
