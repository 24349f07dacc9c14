// qvdrive: drives Quorvane Live's windows from outside, for the end-to-end
// scenarios under Wine. It runs under the same Wine server as the program,
// attaches to the program's desktop ("qv" unless --desktop says otherwise)
// and finds, reads and pokes its windows. Every result line is printed and
// appended to the --out file, because a program started inside a virtual
// desktop loses its standard output.
//
// Exit codes: 0 success, 1 failure, 2 timeout.
//
// Single-threaded; each sub-command polls every 50 ms while it waits.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <set>
#include <string>
#include <vector>

// ---- reading a menu from inside its process ---------------------------------
//
// Wine keeps menus per process: another process's HMENU answers neither
// GetMenuItemCount nor GetMenuItemInfo. So qvdrive loads itself into the
// program (LoadLibraryW on a remote thread; the image is relocatable and an
// EXE loaded that way never runs its entry point) and runs the function
// below there on a second remote thread. Wine resolves no imports for an
// EXE loaded as a library, so the function calls user32 only through the
// addresses the caller puts in the block (translated to the program's
// user32), uses no C runtime, and writes one line per item into the block,
// which the caller reads back afterwards.

struct MenuDumpBlock {
    decltype(&GetMenu) getMenu;
    decltype(&GetMenuItemCount) getMenuItemCount;
    decltype(&GetMenuItemInfoW) getMenuItemInfo;
    unsigned long long hwnd;
    unsigned int capacity;  // characters in text
    unsigned int used;
    wchar_t text[1];
};

namespace menudump {

void put(MenuDumpBlock* b, const wchar_t* s) {
    while (*s && b->used + 1 < b->capacity) b->text[b->used++] = *s++;
    b->text[b->used] = 0;
}

void putNumber(MenuDumpBlock* b, unsigned v) {
    wchar_t d[16];
    int n = 0;
    do { d[n++] = wchar_t(L'0' + v % 10); v /= 10; } while (v);
    wchar_t r[16];
    for (int i = 0; i < n; ++i) r[i] = d[n - 1 - i];
    r[n] = 0;
    put(b, r);
}

// Lines: PATH <TAB> ID <TAB> STATE <TAB> TEXT, PATH being positions joined
// by dots ("1.3"); submenus have id 0, separators the text "-".
void dump(MenuDumpBlock* b, HMENU m, const wchar_t* prefix, int depth) {
    int n = b->getMenuItemCount(m);
    for (int i = 0; i < n && depth < 8; ++i) {
        wchar_t text[512];
        text[0] = 0;
        MENUITEMINFOW mi;
        for (unsigned k = 0; k < sizeof mi; ++k) reinterpret_cast<volatile char*>(&mi)[k] = 0;
        mi.cbSize = sizeof mi;
        mi.fMask = MIIM_STRING | MIIM_ID | MIIM_STATE | MIIM_SUBMENU | MIIM_FTYPE;
        mi.dwTypeData = text;
        mi.cch = 511;
        if (!b->getMenuItemInfo(m, UINT(i), TRUE, &mi)) continue;
        wchar_t path[64];
        int p = 0;
        for (; prefix[p] && p < 40; ++p) path[p] = prefix[p];
        path[p] = 0;
        put(b, path);
        putNumber(b, unsigned(i));
        put(b, L"\t");
        putNumber(b, mi.hSubMenu ? 0u : mi.wID);
        put(b, L"\t");
        bool any = false;
        if (mi.fState & MFS_GRAYED) { put(b, L"grayed"); any = true; }
        if (mi.fState & MFS_CHECKED) { put(b, any ? L",checked" : L"checked"); any = true; }
        if (mi.fState & MFS_DEFAULT) { put(b, any ? L",default" : L"default"); any = true; }
        if (!any) put(b, L"enabled");
        put(b, L"\t");
        put(b, (mi.fType & MFT_SEPARATOR) ? L"-" : text);
        put(b, L"\n");
        if (mi.hSubMenu) {
            wchar_t sub[64];
            int q = 0;
            for (; path[q]; ++q) sub[q] = path[q];
            unsigned v = unsigned(i);
            wchar_t d[16];
            int nd = 0;
            do { d[nd++] = wchar_t(L'0' + v % 10); v /= 10; } while (v);
            while (nd && q < 60) sub[q++] = d[--nd];
            sub[q++] = L'.';
            sub[q] = 0;
            dump(b, mi.hSubMenu, sub, depth + 1);
        }
    }
}

}  // namespace menudump

extern "C" __declspec(dllexport) DWORD WINAPI qvdriveMenuDump(void* param) {
    auto* b = static_cast<MenuDumpBlock*>(param);
    b->used = 0;
    b->text[0] = 0;
    HMENU m = b->getMenu(reinterpret_cast<HWND>(static_cast<uintptr_t>(b->hwnd)));
    if (!m) return 1;
    menudump::dump(b, m, L"", 0);
    return 0;
}

namespace {

constexpr int kOk = 0;
constexpr int kFail = 1;
constexpr int kTimeout = 2;

std::string g_out;      // result file, appended to
std::string g_desktop = "qv";

// ---- text helpers ----------------------------------------------------------

std::string utf8(const wchar_t* w, int len = -1) {
    if (!w) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w, len, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w, len, s.data(), n, nullptr, nullptr);
    if (len < 0 && !s.empty() && s.back() == '\0') s.pop_back();
    return s;
}

std::wstring wide(const std::string& s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
    std::wstring w(n > 0 ? n : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, w.data(), n);
    if (!w.empty() && w.back() == L'\0') w.pop_back();
    return w;
}

// Newlines and tabs escaped (\n, \r, \t), so one record stays on one line;
// backslashes stay as they are, so paths read naturally.
std::string escaped(const std::string& s) {
    std::string r;
    for (char c : s) {
        if (c == '\n') r += "\\n";
        else if (c == '\r') r += "\\r";
        else if (c == '\t') r += "\\t";
        else r += c;
    }
    return r;
}

std::string lower(std::string s) {
    for (char& c : s) if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

// Glob match with '*' and '?'; "-" and "*" match anything.
bool globMatch(const char* p, const char* s) {
    if (*p == '\0') return *s == '\0';
    if (*p == '*') {
        for (;; ++s) {
            if (globMatch(p + 1, s)) return true;
            if (*s == '\0') return false;
        }
    }
    if (*s == '\0') return false;
    if (*p != '?' && *p != *s) return false;
    return globMatch(p + 1, s + 1);
}

bool matches(const std::string& pattern, const std::string& s) {
    return pattern == "-" || globMatch(pattern.c_str(), s.c_str());
}

// Text contains the substring ("-" matches anything). Newlines in the
// pattern may be written as \n.
bool contains(const std::string& pattern, const std::string& s) {
    if (pattern == "-") return true;
    std::string p;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '\\' && i + 1 < pattern.size() && pattern[i + 1] == 'n') { p += '\n'; ++i; }
        else p += pattern[i];
    }
    std::string t;
    for (char c : s) if (c != '\r') t += c;
    return t.find(p) != std::string::npos;
}

void emit(const char* fmt, ...) {
    char buf[8192];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    fputs(buf, stdout);
    fputc('\n', stdout);
    fflush(stdout);
    if (!g_out.empty()) {
        if (FILE* f = _wfopen(wide(g_out).c_str(), L"ab")) {
            fputs(buf, f);
            fputc('\n', f);
            fclose(f);
        }
    }
}

void appendLine(const std::string& file, const std::string& line) {
    if (FILE* f = _wfopen(wide(file).c_str(), L"ab")) {
        fputs(line.c_str(), f);
        fputc('\n', f);
        fclose(f);
    }
}

HWND parseHwnd(const std::string& s) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(strtoull(s.c_str(), nullptr, 16)));
}

std::string hwndText(HWND h) {
    char b[32];
    snprintf(b, sizeof b, "%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(h)));
    return b;
}

double seconds(const std::string& s) { return atof(s.c_str()); }

// ---- window helpers --------------------------------------------------------

// A window's text through WM_GETTEXT in its W form: plain GetWindowText
// does not ask another process's controls.
std::string windowText(HWND h) {
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &len)) return {};
    std::vector<wchar_t> buf(len + 64, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG,
                             2000, &got))
        return {};
    // A picture static's text is its resource ordinal (0xFFFF, id).
    if (got >= 2 && buf[0] == 0xFFFF) return "#" + std::to_string(unsigned(buf[1]));
    return utf8(buf.data());
}

std::string caption(HWND h) {
    wchar_t b[1024] = {};
    GetWindowTextW(h, b, 1024);
    return utf8(b);
}

std::string className(HWND h) {
    wchar_t b[256] = {};
    GetClassNameW(h, b, 256);
    return utf8(b);
}

HDESK g_desk = nullptr;

std::vector<HWND> topWindows() {
    std::vector<HWND> v;
    auto cb = [](HWND h, LPARAM p) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
        return TRUE;
    };
    if (g_desk) EnumDesktopWindows(g_desk, cb, reinterpret_cast<LPARAM>(&v));
    else EnumWindows(cb, reinterpret_cast<LPARAM>(&v));
    return v;
}

std::vector<HWND> descendants(HWND parent) {
    std::vector<HWND> v;
    EnumChildWindows(
        parent,
        [](HWND h, LPARAM p) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&v));
    return v;
}

// A message box: a "#32770" whose children are only its text (static
// 0xFFFF), its icon and push buttons with the standard result ids. The
// program's own dialogs (splash, About, settings) and file dialogs have
// other controls, so they are never taken for one.
bool isMessageBox(HWND h) {
    if (className(h) != "#32770" || !IsWindowVisible(h)) return false;
    bool hasText = false;
    for (HWND c : descendants(h)) {
        if (GetParent(c) != h) return false;
        std::string cls = lower(className(c));
        int id = GetDlgCtrlID(c) & 0xFFFF;
        if (cls == "static") {
            if (id == 0xFFFF) hasText = true;
            else if (id != 0x0440 && id != 0x0014) return false;
        } else if (cls == "button") {
            if (id < 1 || id > 11) return false;
        } else {
            return false;
        }
    }
    return hasText;
}

std::string boxText(HWND box) {
    HWND t = GetDlgItem(box, 0xFFFF);
    return t ? windowText(t) : std::string();
}

int buttonId(const std::string& name) {
    std::string n = lower(name);
    if (n == "ok") return IDOK;
    if (n == "cancel") return IDCANCEL;
    if (n == "abort") return IDABORT;
    if (n == "retry") return IDRETRY;
    if (n == "ignore") return IDIGNORE;
    if (n == "yes") return IDYES;
    if (n == "no") return IDNO;
    if (n == "close") return 8;
    if (n == "tryagain") return 10;
    if (n == "continue") return 11;
    char* end = nullptr;
    long v = strtol(name.c_str(), &end, 0);
    return (end && *end == '\0' && v > 0) ? int(v) : 0;
}

// Presses a dialog's button the way a click does: BN_CLICKED from the
// button to its dialog, posted so a modal loop behind it never blocks us.
void pressButton(HWND dlg, int id) {
    HWND b = GetDlgItem(dlg, id);
    PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(b));
}

template <class F>
int pollFor(double secs, F f) {
    DWORD start = GetTickCount();
    for (;;) {
        if (f()) return kOk;
        if (GetTickCount() - start >= DWORD(secs * 1000)) return kTimeout;
        Sleep(50);
    }
}

// ---- sub-commands ----------------------------------------------------------

int cmdWaitWindow(const std::vector<std::string>& a) {
    if (a.size() < 3) return kFail;
    HWND found = nullptr;
    int rc = pollFor(seconds(a[2]), [&] {
        for (HWND h : topWindows()) {
            if (!IsWindowVisible(h)) continue;
            if (matches(a[0], className(h)) && matches(a[1], caption(h))) { found = h; return true; }
        }
        return false;
    });
    if (rc != kOk) { emit("timeout waiting for window %s \"%s\"", a[0].c_str(), a[1].c_str()); return rc; }
    emit("%s\t%s", hwndText(found).c_str(), escaped(caption(found)).c_str());
    return kOk;
}

int cmdWaitGone(const std::vector<std::string>& a) {
    if (a.size() < 2) return kFail;
    HWND h = parseHwnd(a[0]);
    int rc = pollFor(seconds(a[1]), [&] { return !IsWindow(h); });
    emit(rc == kOk ? "gone %s" : "still there %s", a[0].c_str());
    return rc;
}

int cmdTitle(const std::vector<std::string>& a) {
    if (a.empty()) return kFail;
    HWND h = parseHwnd(a[0]);
    if (!IsWindow(h)) { emit("no window %s", a[0].c_str()); return kFail; }
    emit("%s", escaped(caption(h)).c_str());
    return kOk;
}

int cmdText(const std::vector<std::string>& a) {
    if (a.size() < 2) return kFail;
    HWND h = parseHwnd(a[0]);
    HWND c = GetDlgItem(h, int(strtol(a[1].c_str(), nullptr, 0)));
    if (!c) { emit("no control %s in %s", a[1].c_str(), a[0].c_str()); return kFail; }
    emit("%s", escaped(windowText(c)).c_str());
    return kOk;
}

int cmdChildren(const std::vector<std::string>& a) {
    if (a.empty()) return kFail;
    HWND h = parseHwnd(a[0]);
    if (!IsWindow(h)) { emit("no window %s", a[0].c_str()); return kFail; }
    for (HWND c : descendants(h)) {
        emit("%s\t%s\t%d\t%s\t%s", hwndText(c).c_str(), className(c).c_str(), GetDlgCtrlID(c),
             IsWindowVisible(c) ? "visible" : "hidden", escaped(windowText(c)).c_str());
    }
    return kOk;
}

std::string stateText(UINT st) {
    std::string s;
    if (st & MFS_GRAYED) s += "grayed,";
    if (st & MFS_CHECKED) s += "checked,";
    if (st & MFS_DEFAULT) s += "default,";
    if (s.empty()) return "enabled";
    s.pop_back();
    return s;
}

// In-process reading, where it works (the menu is ours, or Windows).
bool dumpMenuLocal(HMENU m, const std::string& prefix, std::string& out) {
    int n = GetMenuItemCount(m);
    if (n < 0) return false;
    for (int i = 0; i < n; ++i) {
        wchar_t text[512] = {};
        MENUITEMINFOW mi{};
        mi.cbSize = sizeof mi;
        mi.fMask = MIIM_STRING | MIIM_ID | MIIM_STATE | MIIM_SUBMENU | MIIM_FTYPE;
        mi.dwTypeData = text;
        mi.cch = 511;
        if (!GetMenuItemInfoW(m, UINT(i), TRUE, &mi)) return false;
        std::string p = prefix + std::to_string(i);
        out += p + "\t" + std::to_string(mi.hSubMenu ? 0u : mi.wID) + "\t" + stateText(mi.fState) + "\t" +
               ((mi.fType & MFT_SEPARATOR) ? std::string("-") : utf8(text)) + "\n";
        if (mi.hSubMenu && !dumpMenuLocal(mi.hSubMenu, p + ".", out)) return false;
    }
    return true;
}

// Runs qvdriveMenuDump inside the window's process (see above).
bool dumpMenuRemote(HWND h, std::string& out) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    HANDLE proc = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid);
    if (!proc) { emit("menu: OpenProcess failed (%lu)", GetLastError()); return false; }
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const size_t capacity = 32768;
    const size_t blockBytes = sizeof(MenuDumpBlock) + capacity * sizeof(wchar_t);
    void* remotePath = VirtualAllocEx(proc, nullptr, sizeof self, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    void* remoteBlock = VirtualAllocEx(proc, nullptr, blockBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    bool ok = false;
    HANDLE t = nullptr;
    auto runRemote = [&](LPTHREAD_START_ROUTINE fn, void* arg, DWORD& code) {
        HANDLE th = CreateRemoteThread(proc, nullptr, 0, fn, arg, 0, nullptr);
        if (!th) return false;
        bool done = WaitForSingleObject(th, 10000) == WAIT_OBJECT_0;
        GetExitCodeThread(th, &code);
        CloseHandle(th);
        return done;
    };
    (void)t;
    do {
        if (!remotePath || !remoteBlock) { emit("menu: VirtualAllocEx failed (%lu)", GetLastError()); break; }
        WriteProcessMemory(proc, remotePath, self, sizeof self, nullptr);
        // kernel32 sits at the same address in every process of the server.
        auto loadLibrary = reinterpret_cast<LPTHREAD_START_ROUTINE>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW")));
        DWORD code = 0;
        if (!runRemote(loadLibrary, remotePath, code) || !code) { emit("menu: remote LoadLibraryW failed"); break; }
        DWORD loaded = code;
        // Where our image landed in the program: its module list.
        // Our image and every module holding a user32 entry point, by name.
        uintptr_t base = 0;
        std::vector<std::pair<std::wstring, uintptr_t>> modules;
        HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
        if (snap != INVALID_HANDLE_VALUE) {
            MODULEENTRY32W me{};
            me.dwSize = sizeof me;
            for (BOOL more = Module32FirstW(snap, &me); more; more = Module32NextW(snap, &me)) {
                if (lstrcmpiW(me.szExePath, self) == 0) base = reinterpret_cast<uintptr_t>(me.hModule);
                modules.emplace_back(me.szModule, reinterpret_cast<uintptr_t>(me.hModule));
            }
            CloseHandle(snap);
        }
        if (!base) { emit("menu: injected image not found in the module list"); break; }
        // An entry point may sit in another DLL than user32 (a forward);
        // it is moved by the distance between its module's two bases.
        bool mapped = true;
        auto there = [&](auto fn) {
            HMODULE mine = nullptr;
            GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                               reinterpret_cast<LPCWSTR>(fn), &mine);
            wchar_t name[MAX_PATH] = {};
            GetModuleFileNameW(mine, name, MAX_PATH);
            const wchar_t* leaf = wcsrchr(name, L'\\');
            leaf = leaf ? leaf + 1 : name;
            for (auto& [n, b] : modules)
                if (lstrcmpiW(n.c_str(), leaf) == 0)
                    return reinterpret_cast<decltype(fn)>(reinterpret_cast<uintptr_t>(fn) -
                                                          reinterpret_cast<uintptr_t>(mine) + b);
            mapped = false;
            return fn;
        };
        MenuDumpBlock head{};
        head.getMenu = there(&GetMenu);
        head.getMenuItemCount = there(&GetMenuItemCount);
        head.getMenuItemInfo = there(&GetMenuItemInfoW);
        head.hwnd = reinterpret_cast<uintptr_t>(h);
        head.capacity = unsigned(capacity);
        if (!mapped) { emit("menu: user32 not found in the program"); break; }
        WriteProcessMemory(proc, remoteBlock, &head, sizeof head, nullptr);
        uintptr_t offset = reinterpret_cast<uintptr_t>(&qvdriveMenuDump) -
                           reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr));
        if (!runRemote(reinterpret_cast<LPTHREAD_START_ROUTINE>(base + offset), remoteBlock, code) || code != 0) {
            emit("menu: remote dump failed (%lu; image at %llx, loader said %lx, entry +%llx)", code,
                 (unsigned long long)base, (unsigned long)loaded, (unsigned long long)offset);
            break;
        }
        std::vector<char> buf(blockBytes);
        SIZE_T got = 0;
        ReadProcessMemory(proc, remoteBlock, buf.data(), blockBytes, &got);
        auto* b = reinterpret_cast<MenuDumpBlock*>(buf.data());
        if (got != blockBytes || b->used >= capacity) break;
        out = utf8(b->text, int(b->used));
        auto freeLibrary = reinterpret_cast<LPTHREAD_START_ROUTINE>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "FreeLibrary")));
        runRemote(freeLibrary, reinterpret_cast<void*>(base), code);
        ok = true;
    } while (false);
    if (remotePath) VirtualFreeEx(proc, remotePath, 0, MEM_RELEASE);
    if (remoteBlock) VirtualFreeEx(proc, remoteBlock, 0, MEM_RELEASE);
    CloseHandle(proc);
    return ok;
}

// One line per item: PATH <TAB> ID <TAB> STATE <TAB> TEXT (escaped).
int cmdMenu(const std::vector<std::string>& a) {
    if (a.empty()) return kFail;
    HWND h = parseHwnd(a[0]);
    if (!IsWindow(h)) { emit("no window %s", a[0].c_str()); return kFail; }
    HMENU m = GetMenu(h);
    if (!m) { emit("no menu on %s", a[0].c_str()); return kFail; }
    std::string out;
    if (!dumpMenuLocal(m, "", out)) {
        out.clear();
        if (!dumpMenuRemote(h, out)) { emit("menu of %s unreadable", a[0].c_str()); return kFail; }
    }
    size_t pos = 0;
    while (pos < out.size()) {
        size_t nl = out.find('\n', pos);
        if (nl == std::string::npos) nl = out.size();
        std::string line = out.substr(pos, nl - pos);
        // Item texts keep their tab before the shortcut: escape it.
        size_t t = 0;
        for (int k = 0; k < 3 && t != std::string::npos; ++k) t = line.find('\t', t + (k ? 1 : 0));
        if (t != std::string::npos) line = line.substr(0, t + 1) + escaped(line.substr(t + 1));
        emit("%s", line.c_str());
        pos = nl + 1;
    }
    return kOk;
}

int cmdPostCommand(const std::vector<std::string>& a) {
    if (a.size() < 2) return kFail;
    HWND h = parseHwnd(a[0]);
    int id = int(strtol(a[1].c_str(), nullptr, 0));
    if (!PostMessageW(h, WM_COMMAND, MAKEWPARAM(id, 0), 0)) { emit("post failed"); return kFail; }
    emit("posted WM_COMMAND %d to %s", id, a[0].c_str());
    return kOk;
}

// Delivers MIDI short messages to the program's test input, the path its
// driver callback takes: each argument is one message as hex bytes, e.g.
// "B00764" (a control change) or "C002". The program honours them only
// when it was started with QV_TEST_MIDI=1.
int cmdMidi(const std::vector<std::string>& a) {
    if (a.size() < 2) return kFail;
    HWND h = parseHwnd(a[0]);
    std::vector<uint8_t> bytes;
    for (size_t i = 1; i < a.size(); ++i) {
        const std::string& m = a[i];
        if (m.size() < 2 || m.size() > 6 || m.size() % 2) { emit("bad message %s", m.c_str()); return kFail; }
        uint32_t packed = 0;
        for (size_t k = 0; k < m.size(); k += 2)
            packed |= uint32_t(strtoul(m.substr(k, 2).c_str(), nullptr, 16)) << (4 * k);
        for (int k = 0; k < 4; ++k) bytes.push_back(uint8_t(packed >> (8 * k)));
    }
    COPYDATASTRUCT data{};
    data.dwData = 0x494D5651;  // "QVMI"
    data.cbData = DWORD(bytes.size());
    data.lpData = bytes.data();
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(h, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 5000, &result)) {
        emit("WM_COPYDATA timed out");
        return kFail;
    }
    emit("midi %zu message(s) %s", a.size() - 1, result ? "taken" : "refused");
    return result ? kOk : kFail;
}

int cmdClose(const std::vector<std::string>& a) {
    if (a.empty()) return kFail;
    HWND h = parseHwnd(a[0]);
    if (!PostMessageW(h, WM_CLOSE, 0, 0)) { emit("post WM_CLOSE failed"); return kFail; }
    emit("posted WM_CLOSE to %s", a[0].c_str());
    return kOk;
}

struct KeySpec {
    std::vector<WORD> mods;
    WORD vk = 0;
};

bool parseKey(const std::string& spec, KeySpec& k) {
    std::string s = lower(spec);
    size_t pos = 0;
    for (;;) {
        size_t plus = s.find('+', pos);
        std::string part = s.substr(pos, plus == std::string::npos ? std::string::npos : plus - pos);
        if (plus == std::string::npos) {
            if (part.size() == 1 && ((part[0] >= 'a' && part[0] <= 'z') || (part[0] >= '0' && part[0] <= '9')))
                k.vk = WORD(toupper(part[0]));
            else if (part.size() >= 2 && part[0] == 'f' && atoi(part.c_str() + 1) >= 1 && atoi(part.c_str() + 1) <= 24)
                k.vk = WORD(VK_F1 + atoi(part.c_str() + 1) - 1);
            else if (part == "enter" || part == "return") k.vk = VK_RETURN;
            else if (part == "esc" || part == "escape") k.vk = VK_ESCAPE;
            else if (part == "tab") k.vk = VK_TAB;
            else if (part == "space") k.vk = VK_SPACE;
            else if (part == "delete" || part == "del") k.vk = VK_DELETE;
            else if (part == "insert" || part == "ins") k.vk = VK_INSERT;
            else if (part == "left") k.vk = VK_LEFT;
            else if (part == "right") k.vk = VK_RIGHT;
            else if (part == "up") k.vk = VK_UP;
            else if (part == "down") k.vk = VK_DOWN;
            else if (part == "home") k.vk = VK_HOME;
            else if (part == "end") k.vk = VK_END;
            else return false;
            return true;
        }
        if (part == "ctrl" || part == "control") k.mods.push_back(VK_CONTROL);
        else if (part == "shift") k.mods.push_back(VK_SHIFT);
        else if (part == "alt") k.mods.push_back(VK_MENU);
        else return false;
        pos = plus + 1;
    }
}

// Real input: the window is brought to the foreground and the keys go
// through the input queue, so the target's key state and its accelerator
// table see them exactly as typed keys.
int sendKeyInput(HWND h, const KeySpec& k) {
    SetForegroundWindow(h);
    for (int i = 0; i < 20 && GetForegroundWindow() != h; ++i) {
        Sleep(50);
        SetForegroundWindow(h);
    }
    if (GetForegroundWindow() != h) emit("warning: foreground is %s, not %s", hwndText(GetForegroundWindow()).c_str(),
                                         hwndText(h).c_str());
    std::vector<INPUT> in;
    auto key = [&](WORD vk, bool up) {
        INPUT i{};
        i.type = INPUT_KEYBOARD;
        i.ki.wVk = vk;
        i.ki.wScan = WORD(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
        i.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        in.push_back(i);
    };
    for (WORD m : k.mods) key(m, false);
    key(k.vk, false);
    key(k.vk, true);
    for (auto it = k.mods.rbegin(); it != k.mods.rend(); ++it) key(*it, true);
    UINT sent = SendInput(UINT(in.size()), in.data(), sizeof(INPUT));
    return sent == in.size() ? kOk : kFail;
}

// Posted keys: the modifiers are set in the target thread's key state (the
// input queues are attached for that), then WM_KEYDOWN/WM_KEYUP are posted
// to the window; the state is put back afterwards.
int sendKeyPost(HWND h, const KeySpec& k) {
    DWORD tid = GetWindowThreadProcessId(h, nullptr);
    DWORD me = GetCurrentThreadId();
    if (!AttachThreadInput(me, tid, TRUE)) emit("warning: AttachThreadInput failed (%lu)", GetLastError());
    BYTE before[256] = {}, state[256] = {};
    GetKeyboardState(before);
    memcpy(state, before, sizeof state);
    for (WORD m : k.mods) state[m] |= 0x80;
    if (!SetKeyboardState(state)) emit("warning: SetKeyboardState failed (%lu)", GetLastError());
    UINT scan = MapVirtualKeyW(k.vk, MAPVK_VK_TO_VSC);
    bool alt = false;
    for (WORD m : k.mods) alt = alt || m == VK_MENU;
    UINT down = alt ? WM_SYSKEYDOWN : WM_KEYDOWN, upMsg = alt ? WM_SYSKEYUP : WM_KEYUP;
    PostMessageW(h, down, k.vk, LPARAM(1 | (scan << 16) | (alt ? (1u << 29) : 0)));
    PostMessageW(h, upMsg, k.vk, LPARAM(1 | (scan << 16) | (alt ? (1u << 29) : 0) | (3u << 30)));
    // Give the target time to take both messages while the state holds.
    Sleep(300);
    SetKeyboardState(before);
    AttachThreadInput(me, tid, FALSE);
    return kOk;
}

int cmdSendKey(const std::vector<std::string>& a, const std::string& method) {
    if (a.size() < 2) return kFail;
    HWND h = parseHwnd(a[0]);
    KeySpec k;
    if (!parseKey(a[1], k)) { emit("bad key %s", a[1].c_str()); return kFail; }
    if (!IsWindow(h)) { emit("no window %s", a[0].c_str()); return kFail; }
    int rc = method == "post" ? sendKeyPost(h, k) : sendKeyInput(h, k);
    emit("sent %s to %s (%s)", a[1].c_str(), a[0].c_str(), method.c_str());
    return rc;
}

HWND findMessageBox(const std::string& cap, const std::string& text) {
    for (HWND h : topWindows()) {
        if (!isMessageBox(h)) continue;
        if (matches(cap, caption(h)) && contains(text, boxText(h))) return h;
    }
    return nullptr;
}

int cmdAnswer(const std::vector<std::string>& a) {
    if (a.size() < 4) return kFail;
    int id = buttonId(a[2]);
    if (!id) { emit("bad button %s", a[2].c_str()); return kFail; }
    HWND box = nullptr;
    int rc = pollFor(seconds(a[3]), [&] { return (box = findMessageBox(a[0], a[1])) != nullptr; });
    if (rc != kOk) { emit("timeout waiting for message box \"%s\" \"%s\"", a[0].c_str(), a[1].c_str()); return rc; }
    std::string cap = caption(box), text = boxText(box);
    if (!GetDlgItem(box, id)) emit("warning: box has no button %d", id);
    pressButton(box, id);
    emit("%s\t%s\t%s", escaped(cap).c_str(), escaped(text).c_str(), a[2].c_str());
    pollFor(5, [&] { return !IsWindow(box); });
    return kOk;
}

// ---- processes -------------------------------------------------------------

std::vector<DWORD> processesNamed(const std::string& exe) {
    std::vector<DWORD> v;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return v;
    PROCESSENTRY32W pe{};
    pe.dwSize = sizeof pe;
    for (BOOL ok = Process32FirstW(snap, &pe); ok; ok = Process32NextW(snap, &pe)) {
        if (lower(utf8(pe.szExeFile)) == lower(exe)) v.push_back(pe.th32ProcessID);
    }
    CloseHandle(snap);
    return v;
}

bool isNumber(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// A process by id, or the first with that executable name.
HANDLE openProcess(const std::string& what, DWORD access) {
    if (isNumber(what)) return OpenProcess(access, FALSE, DWORD(atol(what.c_str())));
    for (DWORD pid : processesNamed(what))
        if (HANDLE p = OpenProcess(access, FALSE, pid)) return p;
    return nullptr;
}

int cmdExitCode(const std::vector<std::string>& a) {
    if (a.size() < 2) return kFail;
    double secs = seconds(a[1]);
    DWORD start = GetTickCount();
    HANDLE p = nullptr;
    int rc = pollFor(secs, [&] {
        return (p = openProcess(a[0], SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION)) != nullptr;
    });
    if (rc != kOk) { emit("no process %s", a[0].c_str()); return kFail; }
    DWORD left = DWORD(secs * 1000) - std::min<DWORD>(DWORD(secs * 1000), GetTickCount() - start);
    if (WaitForSingleObject(p, left) != WAIT_OBJECT_0) { emit("process %s still running", a[0].c_str()); CloseHandle(p); return kTimeout; }
    DWORD code = 0;
    GetExitCodeProcess(p, &code);
    CloseHandle(p);
    emit("exit %lu", code);
    return kOk;
}

// Ends every process with that executable name (or that id).
int cmdKill(const std::vector<std::string>& a) {
    if (a.empty()) return kFail;
    std::vector<DWORD> ids = isNumber(a[0]) ? std::vector<DWORD>{DWORD(atol(a[0].c_str()))} : processesNamed(a[0]);
    int killed = 0;
    for (DWORD id : ids) {
        if (HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id)) {
            if (TerminateProcess(p, 99)) ++killed;
            WaitForSingleObject(p, 5000);
            CloseHandle(p);
        }
    }
    emit("killed %d", killed);
    return kOk;
}

// Starts a program, records its process id and waits for it; its exit
// code is this command's last result line ("exit N"). The scenarios start
// the program this way inside the virtual desktop, so the exit code of the
// program itself is known, not the desktop's.
int cmdRun(const std::vector<std::string>& a) {
    if (a.empty()) return kFail;
    std::wstring cmd;
    for (size_t i = 0; i < a.size(); ++i) {
        if (i) cmd += L' ';
        std::wstring w = wide(a[i]);
        if (w.find_first_of(L" \t\"") != std::wstring::npos || w.empty()) cmd += L'"' + w + L'"';
        else cmd += w;
    }
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring dir = wide(a[0]);
    size_t slash = dir.find_last_of(L"\\/");
    dir = slash == std::wstring::npos ? std::wstring() : dir.substr(0, slash + 1);
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.empty() ? nullptr : dir.c_str(),
                        &si, &pi)) {
        emit("start failed %lu", GetLastError());
        return kFail;
    }
    emit("pid %lu", pi.dwProcessId);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    emit("exit %lu", code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return kOk;
}

// ---- the watcher -------------------------------------------------------------

struct Rule {
    bool onText = false;  // "text:PATTERN=BUTTON" matches the text, else the caption
    std::string pattern;
    std::string button;
};

// Answers every message box by the first matching rule until killed, until
// the --until-exit process has come and gone, or --max seconds. A box no
// rule matches is logged and left alone. One log line per box.
// With --windows FILE it also records every visible top-level window once,
// as "class<TAB>title", so a scenario can tell which windows ever appeared.
int cmdWatch(const std::vector<std::string>& a, const std::string& untilExit, double maxSecs,
             const std::string& windowLog) {
    if (a.empty()) return kFail;
    std::string log = a[0];
    std::vector<Rule> rules;
    for (size_t i = 1; i < a.size(); ++i) {
        size_t eq = a[i].rfind('=');
        if (eq == std::string::npos) { emit("bad rule %s", a[i].c_str()); return kFail; }
        Rule r;
        r.pattern = a[i].substr(0, eq);
        r.button = a[i].substr(eq + 1);
        if (r.pattern.rfind("text:", 0) == 0) { r.onText = true; r.pattern = r.pattern.substr(5); }
        if (!buttonId(r.button) && lower(r.button) != "leave") { emit("bad button in %s", a[i].c_str()); return kFail; }
        rules.push_back(r);
    }
    struct Seen { HWND h; DWORD when; };
    std::vector<Seen> seen;
    bool targetSeen = false;
    std::set<std::pair<HWND, std::string>> shown;
    DWORD start = GetTickCount();
    for (;;) {
        if (!windowLog.empty()) {
            for (HWND h : topWindows()) {
                if (!IsWindowVisible(h)) continue;
                std::string line = className(h) + "\t" + escaped(caption(h));
                if (shown.insert({h, line}).second) appendLine(windowLog, line);
            }
        }
        for (HWND h : topWindows()) {
            if (!isMessageBox(h)) continue;
            auto it = std::find_if(seen.begin(), seen.end(), [&](const Seen& s) { return s.h == h; });
            if (it != seen.end()) {
                // A box still up long after its answer: answer again.
                if (GetTickCount() - it->when < 3000) continue;
            }
            std::string cap = caption(h), text = boxText(h);
            const Rule* rule = nullptr;
            for (const Rule& r : rules) {
                std::string subject = r.onText ? text : cap;
                if (r.onText ? contains(r.pattern, subject) || globMatch(r.pattern.c_str(), subject.c_str())
                             : matches(r.pattern, subject)) {
                    rule = &r;
                    break;
                }
            }
            std::string button = rule ? rule->button : "leave";
            if (it == seen.end()) {
                appendLine(log, escaped(cap) + "\t" + escaped(text) + "\t" + button);
                seen.push_back({h, GetTickCount()});
            } else {
                it->when = GetTickCount();
            }
            if (lower(button) != "leave") pressButton(h, buttonId(button));
        }
        // Forget boxes that have gone (handles get reused).
        seen.erase(std::remove_if(seen.begin(), seen.end(), [](const Seen& s) { return !IsWindow(s.h); }), seen.end());
        if (!untilExit.empty()) {
            bool alive = isNumber(untilExit) ? [&] {
                HANDLE p = OpenProcess(SYNCHRONIZE, FALSE, DWORD(atol(untilExit.c_str())));
                if (!p) return false;
                bool running = WaitForSingleObject(p, 0) == WAIT_TIMEOUT;
                CloseHandle(p);
                return running;
            }()
                                             : !processesNamed(untilExit).empty();
            if (alive) targetSeen = true;
            else if (targetSeen) break;
        }
        if (maxSecs > 0 && GetTickCount() - start >= DWORD(maxSecs * 1000)) break;
        Sleep(100);
    }
    return kOk;
}

// ---- file dialogs ------------------------------------------------------------

int cmdFileDialog(const std::vector<std::string>& a) {
    if (a.size() < 3) return kFail;
    HWND dlg = nullptr;
    HWND edit = nullptr;
    int rc = pollFor(seconds(a[2]), [&] {
        for (HWND h : topWindows()) {
            if (!IsWindowVisible(h) || className(h) != "#32770" || !matches(a[0], caption(h))) continue;
            // Explorer-style dialogs name the file in combo cmb13 (1148),
            // old-style ones in edit edt1 (1152).
            HWND c = GetDlgItem(h, 1148);
            if (!c || !IsWindowVisible(c)) c = GetDlgItem(h, 1152);
            if (c) { dlg = h; edit = c; return true; }
        }
        return false;
    });
    if (rc != kOk) { emit("timeout waiting for file dialog \"%s\"", a[0].c_str()); return rc; }
    std::string title = caption(dlg);
    int editId = GetDlgCtrlID(edit);
    std::wstring path = wide(a[1]);
    DWORD_PTR r = 0;
    SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()), SMTO_ABORTIFHUNG, 2000, &r);
    // The dialog reads the name when OK arrives; give the set text a moment.
    Sleep(100);
    pressButton(dlg, IDOK);
    rc = pollFor(5, [&] { return !IsWindow(dlg); });
    emit("%s\t%d\t%s%s", escaped(title).c_str(), editId, escaped(a[1]).c_str(),
         rc == kOk ? "" : "\t(dialog still open)");
    return rc == kOk ? kOk : kFail;
}

// ---- tree-views ----------------------------------------------------------------

// tree HWND [PATH]: lists the items of the tree-view HWND (or of the first
// tree-view inside HWND) as DEPTH <TAB> DATA <TAB> SELECTED|- <TAB> TEXT, in
// display order; with PATH ("Parent/Child", texts as shown) it then selects
// that item with TVM_SELECTITEM, which notifies the tree's parent as a click
// would. The items live in the program's memory: each one is read through a
// block allocated there (VirtualAllocEx) and copied back (ReadProcessMemory).
int cmdTree(const std::vector<std::string>& a) {
    if (a.empty()) return kFail;
    HWND tree = parseHwnd(a[0]);
    if (!IsWindow(tree)) { emit("no window %s", a[0].c_str()); return kFail; }
    if (className(tree) != "SysTreeView32") {
        HWND found = nullptr;
        for (HWND c : descendants(tree))
            if (className(c) == "SysTreeView32") { found = c; break; }
        if (!found) { emit("no tree-view in %s", a[0].c_str()); return kFail; }
        tree = found;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(tree, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process) { emit("cannot open process %lu", pid); return kFail; }
    constexpr SIZE_T kTextChars = 260;
    const SIZE_T blockSize = sizeof(TVITEMW) + kTextChars * sizeof(wchar_t);
    auto* remote = static_cast<char*>(VirtualAllocEx(process, nullptr, blockSize, MEM_COMMIT, PAGE_READWRITE));
    if (!remote) { CloseHandle(process); emit("cannot allocate in process %lu", pid); return kFail; }

    struct Item { HTREEITEM handle; int depth; LPARAM data; bool selected; std::string text; std::string path; };
    std::vector<Item> items;
    auto readItem = [&](HTREEITEM h, Item& out) {
        TVITEMW item = {};
        item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_STATE;
        item.hItem = h;
        item.stateMask = TVIS_SELECTED;
        item.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(TVITEMW));
        item.cchTextMax = kTextChars;
        wchar_t text[kTextChars + 1] = {};
        SIZE_T moved = 0;
        DWORD_PTR answer = 0;
        if (!WriteProcessMemory(process, remote, &item, sizeof item, &moved) ||
            !SendMessageTimeoutW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG, 2000,
                                 &answer) ||
            !answer || !ReadProcessMemory(process, remote, &item, sizeof item, &moved) ||
            !ReadProcessMemory(process, remote + sizeof(TVITEMW), text, kTextChars * sizeof(wchar_t), &moved))
            return false;
        out.data = item.lParam;
        out.selected = (item.state & TVIS_SELECTED) != 0;
        out.text = utf8(text);
        return true;
    };
    auto next = [&](HTREEITEM h, WPARAM how) {
        DWORD_PTR r = 0;
        SendMessageTimeoutW(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(h), SMTO_ABORTIFHUNG, 2000, &r);
        return reinterpret_cast<HTREEITEM>(r);
    };
    // Depth first, in display order; the trees here are a few levels deep.
    auto walk = [&](auto& self, HTREEITEM first, int depth, const std::string& parentPath) -> bool {
        for (HTREEITEM h = first; h && items.size() < 10000; h = next(h, TVGN_NEXT)) {
            Item it{h, depth, 0, false, {}, {}};
            if (!readItem(h, it)) return false;
            it.path = parentPath.empty() ? it.text : parentPath + "/" + it.text;
            items.push_back(it);
            if (!self(self, next(h, TVGN_CHILD), depth + 1, it.path)) return false;
        }
        return true;
    };
    if (!walk(walk, next(nullptr, TVGN_ROOT), 0, "")) emit("cannot read an item");
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);

    for (const Item& it : items)
        emit("%d\t%lld\t%s\t%s", it.depth, static_cast<long long>(it.data), it.selected ? "selected" : "-",
             escaped(it.text).c_str());
    if (a.size() < 2) return kOk;
    for (const Item& it : items) {
        if (it.path != a[1]) continue;
        DWORD_PTR r = 0;
        SendMessageTimeoutW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(it.handle), SMTO_ABORTIFHUNG,
                            2000, &r);
        emit("selected\t%s", escaped(it.path).c_str());
        return r ? kOk : kFail;
    }
    emit("no item %s", escaped(a[1]).c_str());
    return kFail;
}

// list DIALOG ID [TEXT]: the items of a combo box or list box, one line
// each ("index<TAB>selected|-<TAB>text"), read with the W messages, which
// Wine carries across processes. With TEXT, the item of exactly that text
// is selected and the dialog is told, as a user's choice would.
int cmdList(const std::vector<std::string>& a) {
    if (a.size() < 2) return kFail;
    HWND dialog = parseHwnd(a[0]);
    HWND c = GetDlgItem(dialog, int(strtol(a[1].c_str(), nullptr, 0)));
    if (!c) { emit("no control %s in %s", a[1].c_str(), a[0].c_str()); return kFail; }
    const bool combo = lower(className(c)) == "combobox";
    const UINT count = combo ? CB_GETCOUNT : LB_GETCOUNT, length = combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN,
               text = combo ? CB_GETLBTEXT : LB_GETTEXT, current = combo ? CB_GETCURSEL : LB_GETCURSEL;
    auto ask = [&](UINT message, WPARAM w, LPARAM l) {
        DWORD_PTR r = DWORD_PTR(-1);
        if (!SendMessageTimeoutW(c, message, w, l, SMTO_ABORTIFHUNG, 2000, &r)) return LONG_PTR(-1);
        return LONG_PTR(r);
    };
    const LONG_PTR n = ask(count, 0, 0), selected = ask(current, 0, 0);
    LONG_PTR wanted = -1;
    for (LONG_PTR i = 0; i < n && i < 1000; ++i) {
        const LONG_PTR len = ask(length, WPARAM(i), 0);
        std::vector<wchar_t> buf(size_t(len < 0 ? 0 : len) + 64, L'\0');
        ask(text, WPARAM(i), reinterpret_cast<LPARAM>(buf.data()));
        const std::string item = utf8(buf.data());
        if (a.size() >= 3 && wanted < 0 && item == a[2]) wanted = i;
        emit("%lld\t%s\t%s", static_cast<long long>(i), i == selected ? "selected" : "-", escaped(item).c_str());
    }
    if (a.size() < 3) return kOk;
    if (wanted < 0) { emit("no item %s", escaped(a[2]).c_str()); return kFail; }
    ask(combo ? CB_SETCURSEL : LB_SETCURSEL, WPARAM(wanted), 0);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(c), combo ? CBN_SELCHANGE : LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(c));
    emit("selected\t%lld", static_cast<long long>(wanted));
    return kOk;
}

// ---- geometry, pixels, tooltips and trackbars ----------------------------------

// rects HWND: the window and each descendant, one line each:
// handle, class, id, visible|hidden, enabled|disabled, "left top right bottom"
// on the screen (in the virtual desktop, X's coordinates).
int cmdRects(const std::vector<std::string>& a) {
    if (a.empty()) return kFail;
    HWND h = parseHwnd(a[0]);
    if (!IsWindow(h)) { emit("no window %s", a[0].c_str()); return kFail; }
    std::vector<HWND> all{h};
    for (HWND c : descendants(h)) all.push_back(c);
    for (HWND c : all) {
        RECT r{};
        GetWindowRect(c, &r);
        emit("%s\t%s\t%d\t%s\t%s\t%ld %ld %ld %ld", hwndText(c).c_str(), className(c).c_str(), GetDlgCtrlID(c),
             IsWindowVisible(c) ? "visible" : "hidden", IsWindowEnabled(c) ? "enabled" : "disabled", r.left, r.top,
             r.right, r.bottom);
    }
    return kOk;
}

// client HWND: the client area's width and height.
int cmdClient(const std::vector<std::string>& a) {
    if (a.empty()) return kFail;
    HWND h = parseHwnd(a[0]);
    RECT r{};
    if (!IsWindow(h) || !GetClientRect(h, &r)) { emit("no window %s", a[0].c_str()); return kFail; }
    emit("%ld %ld", r.right - r.left, r.bottom - r.top);
    return kOk;
}

// pixels HWND X Y [X Y ...]: the colours (RRGGBB) at client points of the
// window, as the screen shows them now.
int cmdPixels(const std::vector<std::string>& a) {
    if (a.size() < 3 || a.size() % 2 == 0) return kFail;
    HWND h = parseHwnd(a[0]);
    if (!IsWindow(h)) { emit("no window %s", a[0].c_str()); return kFail; }
    HDC dc = GetDC(h);
    if (!dc) { emit("no device context for %s", a[0].c_str()); return kFail; }
    for (size_t i = 1; i + 1 < a.size(); i += 2) {
        const COLORREF c = GetPixel(dc, atoi(a[i].c_str()), atoi(a[i + 1].c_str()));
        if (c == CLR_INVALID) emit("%s %s\tinvalid", a[i].c_str(), a[i + 1].c_str());
        else emit("%s %s\t%02X%02X%02X", a[i].c_str(), a[i + 1].c_str(), GetRValue(c), GetGValue(c), GetBValue(c));
    }
    ReleaseDC(h, dc);
    return kOk;
}

// tooltip SECONDS: the text of the visible tooltip window. Common controls
// keep it in the tooltip's own text while it shows, not in a control's.
int cmdTooltip(const std::vector<std::string>& a) {
    const double limit = a.empty() ? 5 : seconds(a[0]);
    const DWORD until = GetTickCount() + DWORD(limit * 1000);
    do {
        for (HWND h : topWindows()) {
            if (!IsWindowVisible(h) || lower(className(h)) != "tooltips_class32") continue;
            const std::string text = windowText(h);
            if (!text.empty()) {
                emit("%s", escaped(text).c_str());
                return kOk;
            }
        }
        Sleep(100);
    } while (GetTickCount() < until);
    emit("no tooltip");
    return kFail;
}

// trackbar HWND ID [POS]: the trackbar's position, range and state; with
// POS, moves it there and tells its owner as a released thumb does
// (TB_THUMBPOSITION, then TB_ENDSCROLL), the way a user's drag ends.
int cmdTrackbar(const std::vector<std::string>& a) {
    if (a.size() < 2) return kFail;
    HWND dialog = parseHwnd(a[0]);
    HWND c = GetDlgItem(dialog, int(strtol(a[1].c_str(), nullptr, 0)));
    if (!c) { emit("no control %s in %s", a[1].c_str(), a[0].c_str()); return kFail; }
    auto ask = [&](UINT message, WPARAM w, LPARAM l) {
        DWORD_PTR r = 0;
        SendMessageTimeoutW(c, message, w, l, SMTO_ABORTIFHUNG, 2000, &r);
        return LONG_PTR(r);
    };
    const bool vertical = (GetWindowLongW(c, GWL_STYLE) & TBS_VERT) != 0;
    if (a.size() >= 3) {
        const long pos = strtol(a[2].c_str(), nullptr, 10);
        if (!IsWindowEnabled(c)) { emit("disabled"); return kFail; }
        ask(TBM_SETPOS, TRUE, pos);
        const UINT scroll = vertical ? WM_VSCROLL : WM_HSCROLL;
        HWND owner = GetParent(c);
        DWORD_PTR r = 0;
        SendMessageTimeoutW(owner, scroll, MAKEWPARAM(TB_THUMBPOSITION, pos), reinterpret_cast<LPARAM>(c),
                            SMTO_ABORTIFHUNG, 2000, &r);
        SendMessageTimeoutW(owner, scroll, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(c), SMTO_ABORTIFHUNG,
                            2000, &r);
    }
    emit("%ld\t%ld %ld\t%s", long(ask(TBM_GETPOS, 0, 0)), long(ask(TBM_GETRANGEMIN, 0, 0)),
         long(ask(TBM_GETRANGEMAX, 0, 0)), IsWindowEnabled(c) ? "enabled" : "disabled");
    return kOk;
}

// ---- loaded modules (release checks) ------------------------------------------

// The file version (a.b.c.d) from a module's version resource, the file
// loaded as data only; empty when it has none. The fixed part is found by
// its signature, so the resource's variable-length header needs no parsing.
std::string fileVersion(const std::wstring& path) {
    HMODULE m = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!m) return {};
    std::string v;
    if (HRSRC r = FindResourceW(m, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16))) {
        const DWORD size = SizeofResource(m, r);
        HGLOBAL g = LoadResource(m, r);
        const auto* p = g ? static_cast<const unsigned char*>(LockResource(g)) : nullptr;
        for (DWORD at = 0; p && at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
            VS_FIXEDFILEINFO fi;
            memcpy(&fi, p + at, sizeof fi);
            if (fi.dwSignature != 0xFEEF04BD) continue;
            char text[64];
            snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", fi.dwFileVersionMS >> 16, fi.dwFileVersionMS & 0xFFFF,
                     fi.dwFileVersionLS >> 16, fi.dwFileVersionLS & 0xFFFF);
            v = text;
            break;
        }
    }
    FreeLibrary(m);
    return v;
}

// modules PID|EXE [NAME]: the process's loaded modules, or only those whose
// file name is NAME (any case), one line each: VERSION <TAB> PATH, VERSION
// being the file's version or "-". A program with the common-controls 6
// manifest shows a comctl32.dll of version 6, from the side-by-side store.
int cmdModules(const std::vector<std::string>& a) {
    if (a.empty()) return kFail;
    DWORD pid = 0;
    if (isNumber(a[0])) pid = DWORD(atol(a[0].c_str()));
    else if (auto ids = processesNamed(a[0]); !ids.empty()) pid = ids.front();
    if (!pid) { emit("no process %s", a[0].c_str()); return kFail; }
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (snap == INVALID_HANDLE_VALUE) { emit("cannot list the modules of %s (%lu)", a[0].c_str(), GetLastError()); return kFail; }
    MODULEENTRY32W me{};
    me.dwSize = sizeof me;
    int found = 0;
    for (BOOL ok = Module32FirstW(snap, &me); ok; ok = Module32NextW(snap, &me)) {
        if (a.size() >= 2 && lower(utf8(me.szModule)) != lower(a[1])) continue;
        const std::string v = fileVersion(me.szExePath);
        emit("%s\t%s", v.empty() ? "-" : v.c_str(), utf8(me.szExePath).c_str());
        ++found;
    }
    CloseHandle(snap);
    if (!found) { emit("no module %s", a.size() >= 2 ? a[1].c_str() : "at all"); return kFail; }
    return kOk;
}

// ---- end of the release checks' block --------------------------------------------

// ---- a process's resources (soak runs) ------------------------------------------

// Seconds since 1970 from the system clock, which under Wine is the Linux
// clock: a scenario compares it with `date +%s.%N` and with the times its
// recordings of the sinks started.
double epochNow() {
    FILETIME ft{};
    GetSystemTimePreciseAsFileTime(&ft);
    const unsigned long long ticks = (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return double(ticks - 116444736000000000ULL) / 1e7;
}

// press HWND ID: a click on the dialog's button ID (BN_CLICKED, posted),
// and the moment it was posted: "pressed ID <TAB> EPOCH-SECONDS". A take's
// expected length is measured between two presses, free of the time Wine
// takes to start this helper.
int cmdPress(const std::vector<std::string>& a) {
    if (a.size() < 2) return kFail;
    HWND dlg = parseHwnd(a[0]);
    const int id = int(strtol(a[1].c_str(), nullptr, 0));
    if (!IsWindow(dlg)) { emit("no window %s", a[0].c_str()); return kFail; }
    pressButton(dlg, id);
    emit("pressed %d\t%.3f", id, epochNow());
    return kOk;
}

// How many GDI objects Wine's handle table holds for the process: Wine
// keeps a per-process table of GDI handles in the process's own memory,
// named by its PEB (GdiSharedHandleTable) in the place Windows once used
// for its shared table. Entries are 24 bytes (object, owner, unique, type,
// flags, user pointer); a free entry has type 0. Stock objects are counted
// apart. -1 when the table cannot be read (not Wine, or not yet made).
struct GdiTableCount {
    long inUse = -1;
    long stock = -1;
    std::map<std::string, long> byType;  // non-stock entries by object kind
};

// Wine's names for the extended type byte (win32u's NTGDI_OBJ_* >> 16;
// memdc is Wine's own).
std::string gdiTypeName(unsigned extType) {
    switch (extType) {
        case 0x01: return "dc";
        case 0x04: return "region";
        case 0x05: return "surface";
        case 0x08: return "palette";
        case 0x09: return "bitmap";
        case 0x0a: return "font";
        case 0x10: return "brush";
        case 0x21: return "emfdc";
        case 0x26: return "metafile";
        case 0x30: return "pen";
        case 0x41: return "memdc";
        case 0x46: return "emf";
        case 0x50: return "extpen";
        case 0x66: return "metadc";
        default: {
            char b[16];
            snprintf(b, sizeof b, "type%02x", extType);
            return b;
        }
    }
}

GdiTableCount wineGdiTable(HANDLE process) {
    GdiTableCount r;
    using QueryFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    if (!query || !GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) return r;
    PROCESS_BASIC_INFORMATION info{};
    if (query(process, 0 /* ProcessBasicInformation */, &info, sizeof info, nullptr) != 0 || !info.PebBaseAddress)
        return r;
    unsigned long long table = 0;
    SIZE_T got = 0;
    constexpr size_t kPebGdiTable = 0xF8;  // x64 PEB
    if (!ReadProcessMemory(process, reinterpret_cast<const char*>(info.PebBaseAddress) + kPebGdiTable, &table,
                           sizeof table, &got) ||
        !table)
        return r;
    constexpr size_t kEntries = 0x10000, kEntrySize = 24;
    std::vector<unsigned char> entries(kEntries * kEntrySize);
    if (!ReadProcessMemory(process, reinterpret_cast<const void*>(static_cast<uintptr_t>(table)), entries.data(),
                           entries.size(), &got) ||
        got != entries.size())
        return r;
    r.inUse = r.stock = 0;
    for (size_t i = 0; i < kEntries; ++i) {
        const unsigned char* e = entries.data() + i * kEntrySize;
        if (e[14] == 0) continue;  // type: free
        if (e[12] & 0x80) {  // the stock flag above the 7-bit extended type
            ++r.stock;
        } else {
            ++r.inUse;
            ++r.byType[gdiTypeName(e[12] & 0x7f)];
        }
    }
    return r;
}

// The kind of another process's handle ("Event", "Key", "Thread"...), from
// a duplicate of it (NtQueryObject, ObjectTypeInformation); "?" when it
// cannot be duplicated.
std::string handleTypeName(HANDLE owner, USHORT value) {
    using QueryObjectFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    static auto queryObject = reinterpret_cast<QueryObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    HANDLE copy = nullptr;
    if (!owner || !queryObject ||
        !DuplicateHandle(owner, reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value)), GetCurrentProcess(), &copy, 0,
                         FALSE, DUPLICATE_SAME_ACCESS))
        return "?";
    alignas(8) unsigned char info[1024] = {};
    std::string name = "?";
    if (queryObject(copy, 2 /* ObjectTypeInformation */, info, sizeof info, nullptr) == 0) {
        const auto* type = reinterpret_cast<const UNICODE_STRING*>(info);
        if (type->Buffer && type->Length) name = utf8(type->Buffer, int(type->Length / sizeof(wchar_t)));
    }
    CloseHandle(copy);
    return name.empty() ? "?" : name;
}

// The process's handles as the system's handle list has them
// (NtQuerySystemInformation, SystemHandleInformation): Wine answers
// GetProcessHandleCount for another process with 0, but lists every
// handle its server holds. -1 when the list cannot be read.
long systemHandleCount(DWORD pid, std::map<std::string, long>* byType = nullptr) {
    struct Entry {
        ULONG ownerPid;
        BYTE objectType;
        BYTE flags;
        USHORT value;
        void* object;
        ULONG access;
    };
    struct Info {
        ULONG count;
        Entry entries[1];
    };
    using QueryFn = LONG(WINAPI*)(int, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return -1;
    std::vector<unsigned char> buf(1 << 20);
    for (int tries = 0; tries < 8; ++tries) {
        ULONG needed = 0;
        const LONG status = query(16 /* SystemHandleInformation */, buf.data(), ULONG(buf.size()), &needed);
        if (status == 0) {
            const auto* info = reinterpret_cast<const Info*>(buf.data());
            const size_t room = (buf.size() - offsetof(Info, entries)) / sizeof(Entry);
            long n = 0;
            HANDLE owner = byType ? OpenProcess(PROCESS_DUP_HANDLE, FALSE, pid) : nullptr;
            for (size_t i = 0; i < info->count && i < room; ++i) {
                if (info->entries[i].ownerPid != pid) continue;
                ++n;
                if (byType) ++(*byType)[handleTypeName(owner, info->entries[i].value)];
            }
            if (owner) CloseHandle(owner);
            return n;
        }
        if (status != LONG(0xC0000004) /* STATUS_INFO_LENGTH_MISMATCH */) return -1;
        buf.resize(std::max<size_t>(buf.size() * 2, size_t(needed) + 65536));
    }
    return -1;
}

// Windows (top-level and their descendants, hidden ones too) whose thread
// belongs to the process: USER objects the program made and kept.
long windowsOf(DWORD pid) {
    long n = 0;
    for (HWND h : topWindows()) {
        DWORD owner = 0;
        GetWindowThreadProcessId(h, &owner);
        if (owner != pid) continue;
        ++n;
        for (HWND c : descendants(h)) {
            DWORD cp = 0;
            GetWindowThreadProcessId(c, &cp);
            if (cp == pid) ++n;
        }
    }
    return n;
}

// procstats PID|EXE: one line of NAME=VALUE fields for the process:
// private (PrivateUsage, bytes), ws (working set, bytes), handles
// (GetProcessHandleCount), handles-sys (the system's handle list, see
// systemHandleCount), gdi and user (GetGuiResources; -1 when it fails,
// with its error in gdi-error), gdi-table and gdi-stock (Wine's GDI handle
// table, see above; -1 off Wine), windows (see windowsOf), threads, and
// the handles and GDI objects by kind (handle-types, gdi-types: "Event:6,
// Key:40", "bitmap:66,dc:32"; "-" when none could be read). The
// scenarios sample it to see that nothing grows. Wine 8 answers the first
// three for another process with PrivateUsage 0, a working set from
// /proc, a handle count of 0, and fails GetGuiResources with error 120
// (not implemented); handles-sys, gdi-table and windows are real there.
int cmdProcStats(const std::vector<std::string>& a) {
    if (a.empty()) return kFail;
    DWORD pid = 0;
    if (isNumber(a[0])) pid = DWORD(atol(a[0].c_str()));
    else if (auto ids = processesNamed(a[0]); !ids.empty()) pid = ids.front();
    HANDLE p = pid ? OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid) : nullptr;
    if (!p) { emit("no process %s", a[0].c_str()); return kFail; }
    PROCESS_MEMORY_COUNTERS_EX mem{};
    mem.cb = sizeof mem;
    const bool memOk = GetProcessMemoryInfo(p, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&mem), sizeof mem);
    DWORD handles = 0;
    const bool handlesOk = GetProcessHandleCount(p, &handles);
    SetLastError(0);
    const DWORD gdi = GetGuiResources(p, GR_GDIOBJECTS);
    const DWORD gdiError = GetLastError();
    const DWORD user = GetGuiResources(p, GR_USEROBJECTS);
    const GdiTableCount table = wineGdiTable(p);
    std::map<std::string, long> handleTypes;
    const long systemHandles = systemHandleCount(pid, &handleTypes);
    auto joined = [](const std::map<std::string, long>& m) {
        std::string out;
        for (const auto& [name, count] : m) out += (out.empty() ? "" : ",") + name + ":" + std::to_string(count);
        return out.empty() ? std::string("-") : out;
    };
    long threads = -1;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap != INVALID_HANDLE_VALUE) {
        PROCESSENTRY32W pe{};
        pe.dwSize = sizeof pe;
        for (BOOL ok = Process32FirstW(snap, &pe); ok; ok = Process32NextW(snap, &pe))
            if (pe.th32ProcessID == pid) threads = long(pe.cntThreads);
        CloseHandle(snap);
    }
    CloseHandle(p);
    emit("pid=%lu\tprivate=%lld\tws=%lld\thandles=%ld\thandles-sys=%ld\tgdi=%ld\tuser=%ld\tgdi-error=%lu\t"
         "gdi-table=%ld\tgdi-stock=%ld\twindows=%ld\tthreads=%ld\thandle-types=%s\tgdi-types=%s",
         pid, memOk ? (long long)mem.PrivateUsage : -1LL, memOk ? (long long)mem.WorkingSetSize : -1LL,
         handlesOk ? long(handles) : -1L, systemHandles, (gdi || !gdiError) ? long(gdi) : -1L,
         (gdi || !gdiError) ? long(user) : -1L, gdiError, table.inUse, table.stock, windowsOf(pid), threads,
         joined(handleTypes).c_str(), joined(table.byType).c_str());
    return kOk;
}

int usage() {
    emit("usage: qvdrive [--out FILE] [--desktop NAME|--no-desktop] [--method input|post] COMMAND ARGS\n"
         "  wait-window CLASS|- TITLE|- SECONDS     wait-gone HWND SECONDS\n"
         "  title HWND    text HWND ID    children HWND    menu HWND\n"
         "  post-command HWND ID    send-key HWND KEYSPEC    close HWND\n"
         "  answer CAPTION|- TEXT|- BUTTON SECONDS\n"
         "  watch LOGFILE RULE... [--until-exit PID|EXE] [--max SECONDS] [--windows FILE]\n"
         "  file-dialog TITLE PATH SECONDS\n"
         "  exit-code PID|EXE SECONDS    kill PID|EXE    run EXE ARGS...\n"
         "  tree HWND ID [PATH]    list HWND ID [ITEM]\n"
         "  rects HWND    client HWND    pixels HWND X Y...    tooltip SECONDS    trackbar HWND ID [POS]\n"
         "  modules PID|EXE [NAME]    procstats PID|EXE    press HWND ID    midi HWND HEX...");
    return kFail;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** wargv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(utf8(wargv[i]));

    std::string method = "input", untilExit, windowLog;
    double maxSecs = 0;
    bool useDesktop = true;
    std::vector<std::string> rest;
    // Options come before the command; "run" takes everything after it verbatim.
    size_t i = 0;
    for (; i < args.size(); ++i) {
        const std::string& s = args[i];
        if (s == "--out" && i + 1 < args.size()) g_out = args[++i];
        else if (s == "--desktop" && i + 1 < args.size()) g_desktop = args[++i];
        else if (s == "--no-desktop") useDesktop = false;
        else if (s == "--method" && i + 1 < args.size()) method = args[++i];
        else if (s == "--until-exit" && i + 1 < args.size()) untilExit = args[++i];
        else if (s == "--max" && i + 1 < args.size()) maxSecs = seconds(args[++i]);
        else if (s == "--windows" && i + 1 < args.size()) windowLog = args[++i];
        else break;
    }
    if (i >= args.size()) return usage();
    std::string cmd = args[i++];
    for (; i < args.size(); ++i) {
        const std::string& s = args[i];
        if (cmd != "run" && s == "--until-exit" && i + 1 < args.size()) untilExit = args[++i];
        else if (cmd != "run" && s == "--max" && i + 1 < args.size()) maxSecs = seconds(args[++i]);
        else if (cmd != "run" && s == "--out" && i + 1 < args.size()) g_out = args[++i];
        else if (cmd != "run" && s == "--windows" && i + 1 < args.size()) windowLog = args[++i];
        else rest.push_back(s);
    }

    // The output file is made before anything is done: a caller that finds
    // none knows the driver never ran.
    if (!g_out.empty())
        if (FILE* f = _wfopen(wide(g_out).c_str(), L"ab")) fclose(f);

    // Windows of a virtual desktop are only seen from a thread on it.
    if (useDesktop && cmd != "run" && cmd != "kill" && cmd != "exit-code") {
        // The desktop comes with the program's explorer; give it a moment.
        for (int tries = 0; tries < 100 && !g_desk; ++tries) {
            g_desk = OpenDesktopW(wide(g_desktop).c_str(), 0, FALSE, GENERIC_ALL);
            if (!g_desk) Sleep(100);
        }
        if (g_desk && !SetThreadDesktop(g_desk)) emit("warning: SetThreadDesktop failed (%lu)", GetLastError());
        if (!g_desk) emit("warning: no desktop %s (%lu)", g_desktop.c_str(), GetLastError());
    }

    if (cmd == "wait-window") return cmdWaitWindow(rest);
    if (cmd == "wait-gone") return cmdWaitGone(rest);
    if (cmd == "title") return cmdTitle(rest);
    if (cmd == "text") return cmdText(rest);
    if (cmd == "children") return cmdChildren(rest);
    if (cmd == "menu") return cmdMenu(rest);
    if (cmd == "post-command") return cmdPostCommand(rest);
    if (cmd == "send-key") return cmdSendKey(rest, method);
    if (cmd == "close") return cmdClose(rest);
    if (cmd == "midi") return cmdMidi(rest);
    if (cmd == "answer") return cmdAnswer(rest);
    if (cmd == "watch") return cmdWatch(rest, untilExit, maxSecs, windowLog);
    if (cmd == "file-dialog") return cmdFileDialog(rest);
    if (cmd == "exit-code") return cmdExitCode(rest);
    if (cmd == "kill") return cmdKill(rest);
    if (cmd == "run") return cmdRun(rest);
    if (cmd == "tree") return cmdTree(rest);
    if (cmd == "list") return cmdList(rest);
    if (cmd == "rects") return cmdRects(rest);
    if (cmd == "pixels") return cmdPixels(rest);
    if (cmd == "client") return cmdClient(rest);
    if (cmd == "tooltip") return cmdTooltip(rest);
    if (cmd == "trackbar") return cmdTrackbar(rest);
    if (cmd == "modules") return cmdModules(rest);
    if (cmd == "procstats") return cmdProcStats(rest);
    if (cmd == "press") return cmdPress(rest);
    return usage();
}
