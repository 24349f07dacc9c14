// The program's entry: start-up in a fixed order, the message loop, and the
// release of everything in the reverse order after the loop ends.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <cstdio>
#include <cstring>

#include "app/report.h"
#include "app/resource.h"
#include "app/settings.h"
#include "app/shell.h"
#include "app/shell_win32.h"
#include "audiofiles/accompaniment.h"
#include "audiofiles/recorder.h"
#include "devices/asioloader.h"
#include "devices/audiosystem.h"
#include "devices/directsound.h"
#include "devices/wasapi.h"
#include "engine/engine.h"
#include "host/host.h"
#include "host/performance.h"
#include "platform/platform.h"
#include "streamconv/binding.h"

Shell gShell;

namespace {

constexpr const char* kSettingsKey = "SOFTWARE\\Quorvane Software\\Quorvane Live\\1";
constexpr const char* kMissingKey = "Quorvane Live can't find the registry entry. The application aborted!";

void fatalRegistryBox(const char* caption) { MessageBoxA(nullptr, kMissingKey, caption, MB_OK | MB_ICONSTOP); }

// Steps 3 and 4: the key and the application directory in it. The stored
// string is untrusted: only a string value that fits counts, and a
// directory whose paths would not fit is as good as none.
bool readApplicationDirectory() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS || !key) {
        fatalRegistryBox("Fatal Error #0");
        return false;
    }
    const bool found = readStoredApplicationDirectory(ReadSettingsValue, key, gShell.applicationDirectory,
                                                      sizeof gShell.applicationDirectory);
    RegCloseKey(key);
    if (!found) {
        fatalRegistryBox("Fatal Error #1");
        return false;
    }
    return true;
}

// Steps 6 and 7: the converter library and its three entries.
int32_t bindConverter() {
    char path[MAX_PATH];
    std::snprintf(path, sizeof path, "%sstreamconv.dll", gShell.applicationDirectory);
    HMODULE library = LoadLibraryA(path);
    if (!library) return 239;
    ConverterBinding b;
    b.process = reinterpret_cast<ProcessStreamFn>(reinterpret_cast<void*>(GetProcAddress(library, "processStream")));
    if (!b.process) return 240;
    b.processMsb =
        reinterpret_cast<ProcessStreamFn>(reinterpret_cast<void*>(GetProcAddress(library, "processStreamMSB")));
    if (!b.processMsb) return 241;
    b.setHistory =
        reinterpret_cast<SetStreamHistoryFn>(reinterpret_cast<void*>(GetProcAddress(library, "setStreamHistory")));
    if (!b.setHistory) return 258;
    // The library stays loaded until the process ends.
    gConverter = b;
    return 0;
}

bool createFrame() {
    char title[160];
    formatFrameTitle(nullptr, nullptr, title, sizeof title);
    gShell.frame = CreateWindowExA(0, "Quorvane_Main_Class", title, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                   gShell.instance, nullptr);
    return gShell.frame != nullptr;
}

void createMdiClient() {
    CLIENTCREATESTRUCT client{};
    client.hWindowMenu = GetSubMenu(GetMenu(gShell.frame), 2);
    client.idFirstChild = IDM_FIRST_CHILD;
    gShell.mdiClient = CreateWindowExA(WS_EX_CLIENTEDGE, "MDICLIENT", nullptr,
                                       WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_HSCROLL | WS_VSCROLL, 0, 0,
                                       CW_USEDEFAULT, CW_USEDEFAULT, gShell.frame, nullptr, gShell.instance, &client);
    if (gShell.mdiClient) {
        if (HBRUSH pattern = SharedPatternBrush(IDB_MDI_PATTERN))
            SetClassLongPtrA(gShell.mdiClient, GCLP_HBRBACKGROUND, reinterpret_cast<LONG_PTR>(pattern));
    }
}

// Step 26: a performance named on the command line.
void openCommandLinePerformance(const char* commandLine) {
    if (!commandLine || !*commandLine) return;
    char path[MAX_PATH];
    const int32_t parsed = commandLinePath(commandLine, path, sizeof path);
    if (parsed != 0) {
        ReportResult(parsed);
        return;
    }
    ReportResult(performanceRead(path));
}

bool devicesConfigured() {
    if (gAudioSystem == kAudioSystemAsio) return asioCurrentIndex(gAsioLoader) >= 0;
    // WASAPI endpoints (or the defaults) are looked for when live input starts.
    if (gAudioSystem == kAudioSystemWasapi) return true;
    return dsSettings().outputIndex >= 0 && dsSettings().inputIndex >= 0;
}

// A message for the frame's accelerators or a dialog inside the MDI client
// (plug-in editors) is consumed there.
bool descendantTakes(HWND parent, MSG& message) {
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (IsDialogMessageA(child, &message)) return true;
        if (descendantTakes(child, message)) return true;
    }
    return false;
}

bool isMouseMessage(UINT m) {
    return m == WM_MOUSEMOVE || m == WM_LBUTTONDOWN || m == WM_LBUTTONUP || m == WM_RBUTTONDOWN ||
           m == WM_RBUTTONUP || m == WM_MBUTTONDOWN || m == WM_MBUTTONUP;
}

int messageLoop() {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (gShell.mdiClient && TranslateMDISysAccel(gShell.mdiClient, &message)) continue;
        if (gShell.accelerators && TranslateAcceleratorA(gShell.frame, gShell.accelerators, &message)) continue;
        if (gShell.mdiClient && descendantTakes(gShell.mdiClient, message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
        if (gShell.tooltip && isMouseMessage(message.message))
            SendMessageA(gShell.tooltip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&message));
    }
    return static_cast<int>(message.wParam);
}

void shutDown() {
    // Live input normally stopped with the frame's close; this stop, and its
    // report, only happen when it did not.
    ReportResult(StopLiveInput(false));
    KillLiveInputTimer();
    StageShutDown();
    ReportResult(dsCloseInput());
    ReportResult(dsCloseOutput());
    asioRemoveCurrentDriver(gAsioLoader);
    asioListDestroy(gAsioNames);
    asioListDestroy(gAsioLoader.list);
    performanceFreeSnapshot();
    wrappersUnloadAll();
    DestroyChainMenu();
    DestroySharedGraphics();
    dsFreeDevices();
    wasapiShutdown();
    CoUninitialize();
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    gShell = Shell{};
    gShell.instance = instance;
    std::snprintf(gAccompaniment.title, sizeof gAccompaniment.title, "%s", "<no accompaniment>");
    // The recorder's options as a first run has them; the settings may change them.
    gRecorder.startAccompaniment = true;
    gRecorder.maxSeconds = 200;
    gRecorder.formatIndex = 5;
    gEngine.recordDryOnly.store(true, std::memory_order_relaxed);

    gShell.masterWidth = 519 + 2 * GetSystemMetrics(SM_CXSIZEFRAME);
    gShell.masterHeight = 235 + GetSystemMetrics(SM_CYCAPTION) + 2 * GetSystemMetrics(SM_CYSIZEFRAME);

    if (!readApplicationDirectory()) return 0;
    installBoxReporter();
    if (const int32_t bound = bindConverter()) {
        ReportResult(bound);
        return 0;
    }
    InitCommonControls();
    RegisterKnobClass();
    if (const int32_t registered = RegisterProgramClasses()) {
        ReportResult(registered);
        return 0;
    }
    CreateSharedGraphics();
    CreateChainMenu();
    CoInitialize(nullptr);

    hostReset(gEngine, gShell.applicationDirectory);
    recorderAttach(gEngine);
    accompanimentAttach(gEngine);
    ConnectShellHooks();
    ReportResult(wrappersLoadAll());
    ReportResult(dsEnumerateDevices());
    asioListBuild(gAsioNames);
    asioListBuild(gAsioLoader.list);
    gShell.highResolutionTimer = platformCounterFrequency() != 0;
    gEngine.cpuMeterReady.store(gShell.highResolutionTimer, std::memory_order_relaxed);
    performanceTakeSnapshot();

    if (!createFrame()) {
        ReportResult(164);
        CoUninitialize();
        return 0;
    }
    createMdiClient();
    gShell.toolbar = CreateWindowExA(0, "Quorvane_Toolbar_Class", nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS,
                                     0, 0, 400, kToolbarHeight, gShell.frame, nullptr, instance, nullptr);
    CreateToolbarTooltips();
    gShell.accompanimentBar = CreateAccompanimentBar();
    gShell.statusBar = CreateStatusBar();
    {
        // The frame had its first size before the bars existed.
        RECT client;
        GetClientRect(gShell.frame, &client);
        SendMessageA(gShell.frame, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
    }
    RefreshPluginList(true);
    gShell.accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_MAINMENU));
    StageConnect();
    openCommandLinePerformance(commandLine);

    int32_t show = LoadSettings();
    // A key that cannot be read back, or any other state, must not leave the
    // program without a visible window.
    if (show < 1 || show > 3) show = SW_SHOWNORMAL;
    ShowWindow(gShell.frame, show);
    UpdateWindow(gShell.frame);
    StageStartUp();
    const float tempo = gEngine.metronomeTempo.load(std::memory_order_relaxed);
    for (int w = 0; w < wrapperCount(); ++w) wrapperSetTempo(w, tempo);

    if (!devicesConfigured() &&
        questionBox(gShell.frame, "Before starting live input you must open output and input devices.\nDo it right now?",
                    "Configure Audio Settings", MB_YESNO | MB_ICONQUESTION) == IDYES)
        RunAudioSettingsDialog();

    const int exitCode = messageLoop();
    shutDown();
    return exitCode;
}
