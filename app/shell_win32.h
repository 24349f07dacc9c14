// The program's process-wide window state and the operations the windows
// share. Main (user-interface) thread only, unless a function says otherwise.
#pragma once

#include <windows.h>

#include <cstdint>

struct Shell {
    HINSTANCE instance = nullptr;
    HWND frame = nullptr;
    HWND mdiClient = nullptr;
    HWND toolbar = nullptr;
    HWND accompanimentBar = nullptr;
    HWND tooltip = nullptr;
    HWND masterSection = nullptr;
    HWND inputMeter = nullptr;
    HWND outputMeter = nullptr;
    HACCEL accelerators = nullptr;
    HMENU chainMenu = nullptr;
    char applicationDirectory[MAX_PATH] = "";
    int masterWidth = 0, masterHeight = 0;
    bool highResolutionTimer = false;
    // Set while the plug-in scan runs on its thread: no wrapper command may
    // run then, so the frame ignores commands until the scan has ended.
    bool scanning = false;
    // Last folder of the accompaniment open dialog.
    char lastAccompanimentPath[MAX_PATH] = "";
};

extern Shell gShell;

constexpr int kToolbarHeight = 54;
constexpr int kAccompanimentBarHeight = 40;

// ---- reporter (reporter_win32.cpp) ----
// Installs the message-box reporter: boxes owned by the MDI client while it
// exists, ownerless before and after.
void installBoxReporter();
int questionBox(HWND owner, const char* text, const char* caption, UINT buttons);

// ---- frame (frame_win32.cpp) ----
// Registers the program's window classes; 0, 163 or 243.
int32_t RegisterProgramClasses();
LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void SetFrameTitle(const char* path);
void ShowHelp();
void SetMenuItemChecked(UINT id, bool checked);
void SetMenuItemEnabled(UINT id, bool enabled);
// Hooks the performance, accompaniment and host layers to the windows.
void ConnectShellHooks();

// ---- settings (settings_win32.cpp) ----
int32_t LoadSettings();
int32_t SaveSettings();

// ---- plug-in scan (scan_win32.cpp) ----
void RefreshPluginList(bool startUp);
void ChangeVstDirectory();

// ---- the windows (graphics, mastersection, knob, chain, toolbar, meters, panes: *_win32.cpp) ----
bool CreateSharedGraphics();
void DestroySharedGraphics();
HBRUSH SharedPatternBrush(int bitmapId);
LRESULT CALLBACK MasterSectionProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK ChainPaneProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK GatePaneProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK MeterProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK ToolbarProc(HWND, UINT, WPARAM, LPARAM);
BOOL RegisterKnobClass();
void CreateChainMenu();
void DestroyChainMenu();
void CreateToolbarTooltips();
HWND CreateAccompanimentBar();
void UpdateAccompanimentBar();
void ShowMasterSection();
void RefreshMasterSection();
void DrawLoadReadout(HDC dc);
void RunAudioSettingsDialog();
void RunRecordingDialog();
void OpenVuMeters();

// ---- live input (liveinput_win32.cpp) ----
bool LiveInputRunning();
int32_t StartLiveInput();
int32_t StopLiveInput(bool keepMeters);
void KillLiveInputTimer();
