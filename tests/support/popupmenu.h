// Windows tests: what the next popup menu of this thread offers, and a
// choice made in it as a user's keyboard makes it. The menu is read from a
// timer inside its modal loop, so a test never waits on it for longer than
// its limit.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

struct PopupSeen {
    std::vector<std::pair<UINT, std::string>> items;
    int choose = -1;  // the item to choose (by position); -1 dismisses the menu
    bool done = false;
};

inline PopupSeen& popupSeen() {
    static PopupSeen seen;
    return seen;
}

inline void CALLBACK popupTimer(HWND, UINT, UINT_PTR id, DWORD) {
    HWND popup = FindWindowA("#32768", nullptr);
    if (!popup || !IsWindowVisible(popup)) return;
    KillTimer(nullptr, id);
    PopupSeen& seen = popupSeen();
    HMENU menu = reinterpret_cast<HMENU>(SendMessageA(popup, 0x01E1 /* MN_GETHMENU */, 0, 0));
    for (int i = 0; menu && i < GetMenuItemCount(menu); ++i) {
        char text[200] = "";
        GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        seen.items.push_back({GetMenuItemID(menu, i), text});
    }
    seen.done = true;
    if (seen.choose < 0) {
        EndMenu();
        return;
    }
    // Nothing is selected when the menu opens: the first Down selects the
    // first item.
    for (int i = 0; i <= seen.choose; ++i) PostMessageA(popup, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(popup, WM_KEYDOWN, VK_RETURN, 0);
}

// Posts `message` to `window`, then takes messages for at most `limitMs`
// (less once a menu was read and has closed): the items of the popup menu
// it opened, empty when none opened.
inline std::vector<std::pair<UINT, std::string>> popupAfter(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                                            int choose, DWORD limitMs = 1500) {
    popupSeen() = PopupSeen{};
    popupSeen().choose = choose;
    const UINT_PTR timer = SetTimer(nullptr, 0, 30, popupTimer);
    PostMessageA(window, message, wParam, lParam);
    const DWORD start = GetTickCount();
    int quiet = 0;
    while (GetTickCount() - start < limitMs) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        // Once the menu was read, a few quiet rounds after it closed are enough.
        if (popupSeen().done && !IsWindowVisible(FindWindowA("#32768", nullptr)) && ++quiet > 5) break;
        Sleep(10);
    }
    KillTimer(nullptr, timer);
    return popupSeen().items;
}
