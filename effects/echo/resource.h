// The echo editor's control ids, shared by echo.rc and controls.cpp.
#pragma once

#include "effects/frame/editor_ids.h"

#define IDC_ECHO_TIME 1001
#define IDC_ECHO_TIME_CAPTION 1002
#define IDC_ECHO_FEEDBACK_CAPTION 1003
#define IDC_ECHO_FEEDBACK 1004
#define IDC_ECHO_LEVEL 1005
#define IDC_ECHO_LEVEL_CAPTION 1006
#define IDC_ECHO_FREQUENCY_CAPTION 1007
#define IDC_ECHO_FREQUENCY 1008
#define IDC_ECHO_RESONANCE_CAPTION 1009
#define IDC_ECHO_RESONANCE 1010
