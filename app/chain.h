// The effect chain pane's platform-free pieces: where a click lands, what a
// row says and how it is drawn, which pop-up menu items are enabled, and
// the "Select Effect:" tree (its nodes, their item data and what a selected
// item means). chain_win32.cpp draws and routes; tests check these natively.
//
// Main (user-interface) thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/engine.h"

// ---- geometry ----

constexpr int kChainRows = 8;
constexpr int kChainRowHeight = 28;
// A row starts 10 pixels below its band: the pane's top 10 pixels belong to row 0.
constexpr int kChainTopMargin = 10;
constexpr int kChainPaneWidth = 291;
constexpr int kChainPaneHeight = 235;
constexpr int kChainTextX = 34;
constexpr int kChainBypassX = 228;
constexpr int kChainBypassWidth = 51;
constexpr int kChainBypassHeight = 15;
constexpr int kChainMenuX = 32;

enum class ChainZone { None, MenuButton, Name, Bypass };

struct ChainHit {
    int row = -1;  // 0 ... 7, or -1 outside the rows
    ChainZone zone = ChainZone::None;
};

// The row and zone of a client point. Rows are (y - 10) / 28 truncated
// toward zero, so y = 5 is row 0 and y = 234 is row 8 (no row). Zones:
// menu button x 8 ... 29, name 30 ... 219, bypass 228 ... 278 (inclusive).
ChainHit chainHitTest(int x, int y);

// Top of a row's text and bypass picture, and where its pop-up menu opens.
inline int chainRowTextY(int row) { return kChainRowHeight * row + 14; }
inline int chainMenuY(int row) { return kChainTopMargin + kChainRowHeight * row; }

// The selected slot as the menu commands use it: clamped into 0 ... 7.
int chainClampSlot(int slot);

// ---- rows ----

constexpr size_t kChainRowText = 128;  // "8: " and a 100-byte name, with room for any int
constexpr uint32_t kChainNameColour = 0xFFFFFF;   // COLORREF of (255, 255, 255)
constexpr uint32_t kChainEmptyColour = 0xAAAAAA;  // (170, 170, 170)
constexpr uint32_t kChainFailedColour = 0x6464FF;  // (255, 100, 100)

struct ChainRowView {
    char text[kChainRowText] = "";
    uint32_t colour = kChainEmptyColour;
    bool bypassed = false;  // draw the bypass picture
};

struct ChainView {
    ChainRowView rows[kChainRows];
    bool built = false;  // false until the first paint outside a scan
};

// What the pane asks the wrappers: the instance's name (null when it cannot
// be read) and whether it is active (1 active, 0 bypassed, -1 no such instance).
struct ChainReader {
    const char* (*instanceName)(int w, intptr_t handle) = nullptr;
    int (*instanceActive)(int w, intptr_t handle) = nullptr;
    // Whether the row's plug-in ran in a helper process that failed (null: never).
    bool (*slotFailed)(int row) = nullptr;
};

// One row: "%d: %s" with row + 1 and the name in white when the slot holds
// an instance whose name can be read, else "%d: <none>" in grey. The
// bypass picture shows for an instance whose active state answers 0. A
// plug-in whose helper process failed reads "%d: %s (failed)" in red.
ChainRowView chainRowView(int row, const ChainSlot& slot, const ChainReader& reader);

// Rebuilds every row from the chain, unless a plug-in scan runs: the scan
// thread owns the wrappers then, so the view stays as it was last painted
// and no wrapper is asked. Returns whether the rows were rebuilt.
bool chainRefreshView(ChainView& view, const ChainSlot* slots, const ChainReader& reader, bool scanning);

// ---- pop-up menu ----

// Commands of the chain pane's pop-up menu (its own; they go to the pane).
constexpr int kChainCommandMoveDown = 110;
constexpr int kChainCommandMoveUp = 111;
constexpr int kChainCommandSelectNone = 112;
constexpr int kChainCommandShowEditor = 113;
constexpr int kChainCommandSelect = 114;
constexpr int kChainCommandSeparate = 115;
constexpr int kChainCommandReload = 116;

struct ChainMenuState {
    bool select = true;
    bool selectNone = false;
    bool showEditor = false;
    bool moveUp = false;
    bool moveDown = false;
    bool separate = false;         // "Run in Separate &Process" enabled
    bool separateChecked = false;  // ... and ticked
    bool reload = false;           // "&Reload Plug-in"
};

// What the menu needs to know of the slot besides its place.
struct ChainSlotState {
    bool filled = false;
    bool separate = false;  // its plug-in runs in a helper process
    bool failed = false;    // ... which failed
    bool canSeparate = false;  // its wrapper's plug-ins can run in helpers
    bool bits32 = false;       // a 32-bit plug-in: always in a helper
};

// "&Select" always; the others only for a slot that holds an instance,
// "Move &Up" not on slot 0 and "Move &Down" not on slot 7. "Run in
// Separate &Process" is ticked for a plug-in in a helper and enabled for
// one whose wrapper allows it; a failed one can only be reloaded (the
// editor and moving it back need a running helper).
ChainMenuState chainMenuState(int slot, bool filled);
ChainMenuState chainMenuState(int slot, const ChainSlotState& state);

// ---- "Select Effect:" tree ----

// Item data: a wrapper node carries w + 1; a plug-in node (w + 1) +
// 65536 * (i + 1), i being the wrapper's list index (not its sorted place).
uint32_t chainWrapperItemData(int w);
uint32_t chainPluginItemData(int w, int index);

struct EffectChoice {
    int wrapper = -1;
    int plugin = -1;  // -1: a wrapper node or nothing was chosen
};

// What a selected item's data means: wrapper = low 16 bits - 1, plug-in =
// high 16 bits - 1. Only the low 32 bits of the tree's item word count.
EffectChoice chainChoiceFromItem(uintptr_t itemData);

// Whether a choice names a plug-in to attach (a wrapper node does not).
inline bool chainChoiceAttaches(const EffectChoice& c) { return c.wrapper >= 0 && c.plugin >= 0; }

// What the dialog asks the host (null entries: no wrappers).
struct EffectSource {
    int (*wrapperCount)() = nullptr;
    int (*availableCount)(int w) = nullptr;
    const char* (*wrapperName)(int w) = nullptr;
    const char* (*availableName)(int w, int index) = nullptr;
};

constexpr size_t kEffectNameBuffer = 100;

struct EffectTreeNode {
    int parent = -1;  // index of the wrapper node in `nodes`, -1 for a wrapper node
    char name[kEffectNameBuffer] = "";
    uint32_t data = 0;
};

struct EffectTree {
    // Wrapper nodes in table order, each followed by its plug-ins sorted by
    // name without regard to case.
    std::vector<EffectTreeNode> nodes;
    // Codes to report, in order: 218 for a wrapper whose name cannot be read
    // (it is left out), 219 for a plug-in name that cannot be read (the
    // wrapper keeps the plug-ins read before it).
    std::vector<int32_t> reports;
};

constexpr int32_t kResultWrapperNameFailed = 218;
constexpr int32_t kResultPluginNameFailed = 219;

// The tree's nodes. A wrapper whose available count is 0 or less is left
// out: no empty nodes.
EffectTree chainBuildEffectTree(const EffectSource& source);
