// Resource ids every effect module carries, shared by the rc scripts and the
// editor code (#defines so the resource compiler reads them too).
#pragma once

#define IDD_EFFECT_EDITOR 101
#define IDB_EFFECT_LOGO 102
#define IDC_EFFECT_LOGO 1100
