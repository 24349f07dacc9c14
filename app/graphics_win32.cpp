// The graphics the windows share: the interface font and the pattern
// brushes of the window classes. Created at start-up, released at shutdown.
#include <windows.h>

#include "app/resource.h"
#include "app/shell_win32.h"

namespace {

struct PatternBrush {
    int bitmapId;
    HBITMAP bitmap;
    HBRUSH brush;
};

PatternBrush patterns[] = {
    {IDB_FX_PANE, nullptr, nullptr},
    {IDB_GATE_PANE, nullptr, nullptr},
    {IDB_MDI_PATTERN, nullptr, nullptr},
    {IDB_METER, nullptr, nullptr},
};

HFONT interfaceFont = nullptr;

}  // namespace

// The window classes are registered before the other graphics exist, so a
// class's brush is made when it is first asked for.
HBRUSH SharedPatternBrush(int bitmapId) {
    for (PatternBrush& p : patterns) {
        if (p.bitmapId != bitmapId) continue;
        if (!p.brush) {
            p.bitmap = LoadBitmapA(gShell.instance, MAKEINTRESOURCEA(bitmapId));
            if (p.bitmap) p.brush = CreatePatternBrush(p.bitmap);
        }
        return p.brush;
    }
    return nullptr;
}

bool CreateSharedGraphics() {
    for (PatternBrush& p : patterns) SharedPatternBrush(p.bitmapId);
    interfaceFont = CreateFontA(8, 8, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_CHARACTER_PRECIS,
                                CLIP_DEFAULT_PRECIS, PROOF_QUALITY, DEFAULT_PITCH | FF_SWISS, "MS Sans Serif");
    return interfaceFont != nullptr;
}

void DestroySharedGraphics() {
    for (PatternBrush& p : patterns) {
        if (p.brush) DeleteObject(p.brush);
        if (p.bitmap) DeleteObject(p.bitmap);
        p.brush = nullptr;
        p.bitmap = nullptr;
    }
    if (interfaceFont) DeleteObject(interfaceFont);
    interfaceFont = nullptr;
}
