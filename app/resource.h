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

// Controls of the audio settings dialog.
#define IDC_AUDIO_DIRECTSOUND 1079
#define IDC_AUDIO_ASIO 1080
#define IDC_AUDIO_DS_GROUP 1083
#define IDC_AUDIO_INPUT_LABEL 1084
#define IDC_AUDIO_INPUT 1038
#define IDC_AUDIO_OUTPUT_LABEL 1085
#define IDC_AUDIO_OUTPUT 1039
#define IDC_AUDIO_FORMATS 1048
#define IDC_AUDIO_LATENCY_LABEL 1086
#define IDC_AUDIO_LATENCY 1042
#define IDC_AUDIO_LATENCY_SLIDER 1077
#define IDC_AUDIO_DELAY 1043
#define IDC_AUDIO_BUFFERS 1019
#define IDC_AUDIO_ASIO_GROUP 1087
#define IDC_AUDIO_ASIO_LABEL 1088
#define IDC_AUDIO_ASIO_DRIVER 1040
#define IDC_AUDIO_TEMPO 1121
#define IDC_AUDIO_TEMPO_SLIDER 1122
#define IDC_AUDIO_ACCEPT 1045
#define IDC_AUDIO_CANCEL 1046
#define IDC_AUDIO_WASAPI 1140
#define IDC_WASAPI_GROUP 1141
#define IDC_WASAPI_INPUT_LABEL 1142
#define IDC_WASAPI_INPUT 1143
#define IDC_WASAPI_OUTPUT_LABEL 1144
#define IDC_WASAPI_OUTPUT 1145
#define IDC_WASAPI_MODE_LABEL 1146
#define IDC_WASAPI_MODE 1147
#define IDC_WASAPI_READOUT 1148

// Controls of the recording dialog.
#define IDC_RECORD_MAX_TIME 1002
#define IDC_RECORD_MAX_TIME_LABEL 1005
#define IDC_RECORD_FORMATS 1048
#define IDC_RECORD_DONE 1102
#define IDC_RECORD_CHOOSE 1106
#define IDC_RECORD_TARGET 1108
#define IDC_RECORD_START 1109
#define IDC_RECORD_TIME 1110
#define IDC_RECORD_START_ACCOMPANIMENT 1115
#define IDC_RECORD_DRY_ONLY 1116
#define IDC_RECORD_TO_RAM 1119
#define IDC_RECORD_SIZE 1120

// Controls of the accompaniment bar.
#define IDC_ACCOMP_TITLE 1111
#define IDC_ACCOMP_PLAY 1012
#define IDC_ACCOMP_POSITION 1014

// The frame's status bar (a child of the frame, below the accompaniment bar).
#define IDC_STATUS_BAR 1130

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
#define IDM_SEPARATE_PROCESSES 32816
// Playing live: MIDI, set lists, song changes and tap tempo.
#define IDM_MIDI_SETTINGS 32820
#define IDM_OPEN_SET_LIST 32821
#define IDM_SAVE_SET_LIST 32822
#define IDM_SHOW_SET_LIST 32823
#define IDM_SONG_PREVIOUS 32824
#define IDM_SONG_NEXT 32825
#define IDM_TAP_TEMPO 32826
#define IDD_MIDI_SETTINGS 140
#define IDC_MIDI_INPUTS 1150
#define IDC_MIDI_NONE 1151

// The effect chain: the "Select Effect:" dialog and its controls (the
// pane's pop-up menu commands 110 ... 114 are named in app/chain.h).
#define IDD_SELECT_EFFECT 136
#define IDC_EFFECT_OK 1011
#define IDC_EFFECT_TREE 1025
#define IDC_EFFECT_CANCEL 1046

// The first identifier the MDI client gives its children.
#define IDM_FIRST_CHILD 1
