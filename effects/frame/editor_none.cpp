// Without a window system there is no editor: PQ_OPEN_EDITOR answers 0 and
// there is nothing to refresh. The native build links this file.
#include "effects/frame/effectframe.h"

intptr_t effectOpenEditor(int32_t*, intptr_t) { return 0; }
void effectRefreshEditor() {}
