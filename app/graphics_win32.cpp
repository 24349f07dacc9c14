// The graphics the windows share: the interface font, the brushes and
// pens, the six image lists and the two accompaniment-bar pictures, plus the
// pattern brushes of the window classes. Created at start-up after the
// classes are registered, released at shutdown after the wrappers are gone.
// Main thread only.
#include <windows.h>
#include <commctrl.h>

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

struct ImageListRow {
    int bitmapId;
    int width, height;
    int count;
};

// Indexed by SharedImageListId.
constexpr ImageListRow kImageLists[kSharedImageListCount] = {
    {IDB_LOAD_BAR, 166, 16, 1},   {IDB_BYPASS, 51, 15, 1},          {IDB_SWITCH_LIT, 83, 15, 1},
    {IDB_GATE_PANE, 228, 235, 1}, {IDB_TOOLBAR_HOT, 48, 39, 11}, {IDB_TOOLBAR_NORMAL, 48, 39, 11},
};

struct Graphics {
    HFONT interfaceFont = nullptr;
    HBRUSH black = nullptr;
    HPEN needle = nullptr;
    HPEN outline = nullptr;
    HIMAGELIST lists[kSharedImageListCount] = {};
    HBITMAP play = nullptr, stop = nullptr;
    HBRUSH meter[3] = {};
};

Graphics graphics;

HIMAGELIST makeImageList(const ImageListRow& row) {
    HBITMAP bitmap = LoadBitmapA(gShell.instance, MAKEINTRESOURCEA(row.bitmapId));
    if (!bitmap) return nullptr;
    HIMAGELIST list = ImageList_Create(row.width, row.height, ILC_COLOR24, row.count, 0);
    // The list keeps its own copy of the pictures.
    if (list && ImageList_Add(list, bitmap, nullptr) < 0) {
        ImageList_Destroy(list);
        list = nullptr;
    }
    DeleteObject(bitmap);
    return list;
}

template <typename Handle>
void release(Handle& h) {
    if (h) DeleteObject(h);
    h = nullptr;
}

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

// A resource that cannot be made stays null; whoever draws with it draws
// less, nothing fails.
bool CreateSharedGraphics() {
    for (PatternBrush& p : patterns) SharedPatternBrush(p.bitmapId);
    graphics.interfaceFont = CreateFontA(8, 8, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                         OUT_CHARACTER_PRECIS, CLIP_DEFAULT_PRECIS, PROOF_QUALITY,
                                         DEFAULT_PITCH | FF_SWISS, "MS Sans Serif");
    graphics.black = CreateSolidBrush(RGB(0, 0, 0));
    graphics.needle = CreatePen(PS_SOLID, 2, RGB(255, 255, 255));
    graphics.outline = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNFACE));
    for (int i = 0; i < kSharedImageListCount; ++i) graphics.lists[i] = makeImageList(kImageLists[i]);
    graphics.play = LoadBitmapA(gShell.instance, MAKEINTRESOURCEA(IDB_PLAY));
    graphics.stop = LoadBitmapA(gShell.instance, MAKEINTRESOURCEA(IDB_STOP));
    graphics.meter[kMeterLit] = CreateSolidBrush(RGB(15, 234, 78));
    graphics.meter[kMeterPeak] = CreateSolidBrush(RGB(255, 78, 43));
    graphics.meter[kMeterUnlit] = CreateSolidBrush(RGB(46, 48, 51));
    return graphics.interfaceFont != nullptr;
}

// Shutdown step 8: the image lists, then the font, brushes, pens and
// bitmaps. No window that draws with them is left by then.
void DestroySharedGraphics() {
    for (HIMAGELIST& list : graphics.lists) {
        if (list) ImageList_Destroy(list);
        list = nullptr;
    }
    release(graphics.interfaceFont);
    release(graphics.black);
    for (HBRUSH& b : graphics.meter) release(b);
    release(graphics.needle);
    release(graphics.outline);
    release(graphics.play);
    release(graphics.stop);
    for (PatternBrush& p : patterns) {
        release(p.brush);
        release(p.bitmap);
    }
}

HIMAGELIST SharedImageList(int which) {
    return which >= 0 && which < kSharedImageListCount ? graphics.lists[which] : nullptr;
}
HFONT SharedInterfaceFont() { return graphics.interfaceFont; }
HBRUSH SharedBlackBrush() { return graphics.black; }
HBRUSH SharedMeterBrush(int which) { return which >= kMeterLit && which <= kMeterUnlit ? graphics.meter[which] : nullptr; }
HPEN SharedNeedlePen() { return graphics.needle; }
HPEN SharedOutlinePen() { return graphics.outline; }
HBITMAP SharedPlayPicture() { return graphics.play; }
HBITMAP SharedStopPicture() { return graphics.stop; }
