// The default wrapper's resources, shared by defwrapper.rc and the code.
#pragma once

#define IDB_PRESET_BUTTON 106
#define IDI_DEFWRAPPER 108
