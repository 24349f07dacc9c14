// The program's process-wide window state and the operations the windows
// share. Main (user-interface) thread only, unless a function says otherwise.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>

struct Shell {
    HINSTANCE instance = nullptr;
    HWND frame = nullptr;
    HWND mdiClient = nullptr;
    HWND toolbar = nullptr;
    HWND accompanimentBar = nullptr;
    HWND statusBar = nullptr;
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
// A SettingReaderFn (settings.h) over an open registry key (`key` is its HKEY).
bool ReadSettingsValue(void* key, const char* name, uint32_t& type, uint8_t* data, size_t& size);
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
// Plug-ins in helper processes: shows one message for every helper that
// failed since the last call (from the message loop, never inside the
// caller), and the Options item that runs every plug-in outside.
void CheckSeparatePlugins();
void SetAllSeparate(bool on);
bool AllSeparate();
void LoadAllSeparate();
LRESULT CALLBACK GatePaneProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK MeterProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK ToolbarProc(HWND, UINT, WPARAM, LPARAM);
void CreateChainMenu();
void DestroyChainMenu();
void CreateToolbarTooltips();
HWND CreateAccompanimentBar();
void UpdateAccompanimentBar();
void ShowMasterSection();
void RefreshMasterSection();
// The knobs and the DC remover switch show the engine's values again.
void MasterSectionShowValues();
// The values the gate pane's knobs stand for, from the engine, and the one
// value of knob `id` stored into it.
struct GateValues;
GateValues EngineGateValues();
void StoreEngineGateValue(uint32_t id, const GateValues& v);

// Playing live (stage_win32.cpp): MIDI ports, learn menus, set lists,
// song changes and tap tempo.
// The performance's and the wrappers' hooks (before any file is read), then the ports.
void StageConnect();
void StageStartUp();
void StageShutDown();
// Live input started: the set list's next song is read beside the current one.
void StageLiveInputStarted();
bool StageCommand(UINT id);
void ShowSetList();
LRESULT CALLBACK SetListProc(HWND, UINT, WPARAM, LPARAM);
void StageLearnFor(uint8_t target, uint8_t a, uint16_t b);
void StageMenu(HWND owner, POINT screen, uint8_t target, uint8_t a, uint16_t b);
void StageSlotsSwapped(int from, int to);
void StageSlotCleared(int slot);
bool StageCopyData(const COPYDATASTRUCT* data);
void StageDevicesChanged();
// Ends a prepared song change or a tail before a command they would disturb.
void StageBeforeCommand(UINT id);
void DrawLoadReadout(HDC dc);
void RunAudioSettingsDialog();
void RunRecordingDialog();
void OpenVuMeters();
// ---- meters (meters_win32.cpp) ----
// which: 0 the output meter, 1 the input meter. close: destroy it when
// present; otherwise create it when absent, owned by `owner`.
void ShowMeter(HWND owner, int which, bool close);
// The refresh timer's 50 ms tick: the load read-out, then the output and
// the input meter (each when open) repaint from the engine's figures.
void RefreshMeters();

// ---- shared graphics, knob, Master Section (graphics_win32.cpp, knob_win32.cpp, mastersection_win32.cpp) ----
// The shared graphics exist from CreateSharedGraphics to
// DestroySharedGraphics; every accessor returns null outside that time or
// when its resource could not be made. None of them is owned by the caller.
enum SharedImageListId {
    kImagesLoadBar,          // 166 x 16, bitmap 134
    kImagesChainPane,        // 51 x 15, bitmap 137
    kImagesSwitch,           // 83 x 15, bitmap 140: the lit DC remover switch
    kImagesGateBackground,   // 228 x 235, bitmap 138: the knobs' background
    kImagesToolbarHot,       // 48 x 39, 8 images, bitmap 133
    kImagesToolbarNormal,    // 48 x 39, 8 images, bitmap 144
    kSharedImageListCount
};
enum SharedMeterBrushId { kMeterLit, kMeterPeak, kMeterUnlit };
HIMAGELIST SharedImageList(int which);
HFONT SharedInterfaceFont();
HBRUSH SharedBlackBrush();
HBRUSH SharedMeterBrush(int which);
HPEN SharedNeedlePen();   // 2 px, white
HPEN SharedOutlinePen();  // 1 px, the button-face colour
HBITMAP SharedPlayPicture();
HBITMAP SharedStopPicture();
// Registers "AUDIO_KNOBCLASS": 0, or -1 when it cannot be registered.
int32_t RegisterKnobClass();
// A knob at (x, y) in `parent` with a copy of `parameters` (its size, range,
// steps, value, pen, background, identifier); null when the window cannot
// be made. The identifier is also the knob's control id.
struct KnobRecord;
HWND CreateKnob(HWND parent, HINSTANCE instance, int32_t x, int32_t y, const KnobRecord& parameters);
// The Master Section's and the meters' positions (settings_win32.cpp).
struct WindowPositions;
extern WindowPositions gWindowPositions;

// ---- status bar (statusbar_win32.cpp) ----
// The bar at the frame's bottom, below the accompaniment bar.
HWND CreateStatusBar();
// Its height, 0 while there is none.
int StatusBarHeight();
// The latency read-out: "Latency: N ms" while live input runs, nothing
// otherwise; the bar is redrawn only when the text changes.
void UpdateLatencyStatus(bool running);
// A text of playing live shown after the latency ("" clears it).
void SetStageStatus(const char* text);

// ---- live input (liveinput_win32.cpp) ----
bool LiveInputRunning();
int32_t StartLiveInput();
int32_t StopLiveInput(bool keepMeters);
void KillLiveInputTimer();
// The Recording dialog's time and size read-outs: set by that dialog while
// it is open (null otherwise); the refresh timer calls it every 50 ms while
// a recording runs, also inside the dialog's modal loop.
extern void (*gRecordingReadouts)();
