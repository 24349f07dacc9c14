// The reverb editor's control ids, shared by reverb.rc and controls.cpp.
#pragma once

#include "effects/frame/editor_ids.h"

#define IDC_REVERB_WET 1005
#define IDC_REVERB_WET_CAPTION 1006
#define IDC_REVERB_PREDELAY_CAPTION 1009
#define IDC_REVERB_DECAY_CAPTION 1010
#define IDC_REVERB_BRIGHTNESS_CAPTION 1011
#define IDC_REVERB_PREDELAY 1018
#define IDC_REVERB_DECAY 1019
#define IDC_REVERB_BRIGHTNESS 1020
