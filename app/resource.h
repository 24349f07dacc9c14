// Resource and command identifiers of the program, shared by the code and
// the resource script (which windres reads with its C preprocessor: plain
// #defines only).
#pragma once

// Menu and accelerator table of the frame.
#define IDR_MAINMENU 109

// Icons: the program's large and small icon.
#define IDI_QUORVANE 107
#define IDI_QUORVANE_SMALL 108

// Dialog templates.
#define IDD_ABOUT 103
#define IDD_AUDIO_SETTINGS 135
#define IDD_ACCOMPANIMENT_BAR 145
#define IDD_RECORDING 147
#define IDD_SCANNING 148
#define IDD_SCANNING_SPLASH 151

// Bitmaps (pictures are generated at build time from app/art).
#define IDB_TOOLBAR_HOT 133
#define IDB_LOAD_BAR 134
#define IDB_FX_PANE 135
#define IDB_BYPASS 137
#define IDB_GATE_PANE 138
#define IDB_MDI_PATTERN 139
#define IDB_SWITCH_LIT 140
#define IDB_METER 141
#define IDB_TOOLBAR_NORMAL 144
#define IDB_PLAY 146
#define IDB_STOP 147
#define IDB_SPLASH 150

// Controls of the scanning dialogs.
#define IDC_SCAN_ABORT 1015
#define IDC_SCAN_STATUS 1016
// Controls of the About box.
#define IDC_ABOUT_NAME 1001
#define IDC_ABOUT_VERSION 1002
#define IDC_ABOUT_DATE 1003
#define IDC_SPLASH_PICTURE 1017
#define IDC_ABOUT_PICTURE 1018

// Controls of the accompaniment bar.
#define IDC_ACCOMP_TITLE 1111
#define IDC_ACCOMP_PLAY 1012
#define IDC_ACCOMP_POSITION 1014

// Commands of menu 109 (also sent by the accelerators and the toolbar).
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDM_AUDIO_SETTINGS 32771
#define IDM_LIVE_INPUT 32772
#define IDM_NEW_PERFORMANCE 32773
#define IDM_OPEN_PERFORMANCE 32774
#define IDM_SAVE_PERFORMANCE 32775
#define IDM_SAVE_PERFORMANCE_AS 32776
#define IDM_CHANGE_VST_DIRECTORY 32777
#define IDM_REFRESH_PLUGINS 32778
#define IDM_MANUAL 32784
#define IDM_RECORD 32794
#define IDM_ASIO_CONTROL_PANEL 32797
#define IDM_OPEN_ACCOMPANIMENT 32798
#define IDM_CLOSE_ACCOMPANIMENT 32799
#define IDM_SHOW_MASTER_SECTION 32800
#define IDM_WINDOW_CLOSE 32801
#define IDM_WINDOW_CLOSE_ALL 32802
#define IDM_WINDOW_NEXT 32803
#define IDM_WINDOW_PREVIOUS 32804
#define IDM_WINDOW_CASCADE 32805
#define IDM_WINDOW_TILE_VERTICAL 32806
#define IDM_WINDOW_TILE_HORIZONTAL 32807
#define IDM_METRONOME 32813

// The first identifier the MDI client gives its children.
#define IDM_FIRST_CHILD 1
