#include "app/chain.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

bool inside(int v, int low, int high) { return v >= low && v <= high; }

// Only the low byte of a slot's wrapper index names the wrapper ("Select
// None" leaves -1 there, which never reaches a wrapper with an instance of 0).
int slotWrapper(const ChainSlot& s) { return static_cast<int>(static_cast<uint32_t>(s.wrapperIndex) & 0xFF); }

void copyName(char* out, const char* name) { std::snprintf(out, kEffectNameBuffer, "%s", name); }

// The tree view sorts children by text without regard to case; so do we.
bool nameBefore(const EffectTreeNode& a, const EffectTreeNode& b) {
    for (size_t i = 0;; ++i) {
        const int ca = std::tolower(static_cast<unsigned char>(a.name[i]));
        const int cb = std::tolower(static_cast<unsigned char>(b.name[i]));
        if (ca != cb) return ca < cb;
        if (ca == 0) return false;
    }
}

}  // namespace

ChainHit chainHitTest(int x, int y) {
    ChainHit hit;
    // Integer division truncates toward zero: the 10 pixels above row 0's
    // band (and a few more) still count as row 0.
    const int row = (y - kChainTopMargin) / kChainRowHeight;
    if (row < 0 || row >= kChainRows) return hit;
    if (inside(x, 8, 29)) hit.zone = ChainZone::MenuButton;
    else if (inside(x, 30, 219)) hit.zone = ChainZone::Name;
    else if (inside(x, kChainBypassX, kChainBypassX + kChainBypassWidth - 1)) hit.zone = ChainZone::Bypass;
    else return hit;
    hit.row = row;
    return hit;
}

int chainClampSlot(int slot) {
    if (slot < 0) return 0;
    if (slot >= kChainRows) return kChainRows - 1;
    return slot;
}

ChainRowView chainRowView(int row, const ChainSlot& slot, const ChainReader& reader) {
    ChainRowView view;
    const char* name = nullptr;
    if (slot.instance != 0 && reader.instanceName) name = reader.instanceName(slotWrapper(slot), slot.instance);
    const bool failed = name && reader.slotFailed && reader.slotFailed(row);
    if (failed) {
        std::snprintf(view.text, sizeof view.text, "%d: %.99s (failed)", row + 1, name);
        view.colour = kChainFailedColour;
    } else if (name) {
        std::snprintf(view.text, sizeof view.text, "%d: %.99s", row + 1, name);
        view.colour = kChainNameColour;
    } else {
        std::snprintf(view.text, sizeof view.text, "%d: <none>", row + 1);
        view.colour = kChainEmptyColour;
    }
    if (slot.instance != 0 && reader.instanceActive && !failed)
        view.bypassed = reader.instanceActive(slotWrapper(slot), slot.instance) == 0;
    return view;
}

bool chainRefreshView(ChainView& view, const ChainSlot* slots, const ChainReader& reader, bool scanning) {
    if (scanning) {
        // Before the first paint there is nothing cached: empty rows, asking no one.
        if (!view.built)
            for (int r = 0; r < kChainRows; ++r) view.rows[r] = chainRowView(r, ChainSlot{}, ChainReader{});
        return false;
    }
    for (int r = 0; r < kChainRows; ++r) view.rows[r] = chainRowView(r, slots ? slots[r] : ChainSlot{}, reader);
    view.built = true;
    return true;
}

ChainMenuState chainMenuState(int slot, bool filled) {
    ChainSlotState slotState;
    slotState.filled = filled;
    return chainMenuState(slot, slotState);
}

ChainMenuState chainMenuState(int slot, const ChainSlotState& slotState) {
    ChainMenuState state;
    if (!slotState.filled) return state;
    slot = chainClampSlot(slot);
    state.selectNone = true;
    state.showEditor = !slotState.failed;
    state.moveUp = slot > 0;
    state.moveDown = slot < kChainRows - 1;
    state.separate = !slotState.failed && !slotState.bits32 && (slotState.separate || slotState.canSeparate);
    state.separateChecked = slotState.separate;
    state.reload = slotState.separate;
    return state;
}

uint32_t chainWrapperItemData(int w) { return static_cast<uint32_t>(w + 1) & 0xFFFF; }

uint32_t chainPluginItemData(int w, int index) {
    return chainWrapperItemData(w) + 65536u * (static_cast<uint32_t>(index + 1) & 0xFFFF);
}

EffectChoice chainChoiceFromItem(uintptr_t itemData) {
    const uint32_t data = static_cast<uint32_t>(itemData);
    EffectChoice choice;
    choice.wrapper = static_cast<int>(data & 0xFFFF) - 1;
    choice.plugin = static_cast<int>(data >> 16) - 1;
    return choice;
}

EffectTree chainBuildEffectTree(const EffectSource& source) {
    EffectTree tree;
    if (!source.wrapperCount || !source.availableCount || !source.wrapperName || !source.availableName) return tree;
    const int wrappers = source.wrapperCount();
    for (int w = 0; w < wrappers; ++w) {
        const int n = source.availableCount(w);
        // A count of -1 (an unloaded or failing wrapper) leaves it out like 0.
        if (n <= 0) continue;
        const char* wrapperName = source.wrapperName(w);
        if (!wrapperName) {
            tree.reports.push_back(kResultWrapperNameFailed);
            continue;
        }
        EffectTreeNode top;
        copyName(top.name, wrapperName);
        top.data = chainWrapperItemData(w);
        const int parent = static_cast<int>(tree.nodes.size());
        tree.nodes.push_back(top);
        for (int i = 0; i < n; ++i) {
            const char* name = source.availableName(w, i);
            if (!name) {
                tree.reports.push_back(kResultPluginNameFailed);
                break;
            }
            EffectTreeNode child;
            child.parent = parent;
            copyName(child.name, name);
            child.data = chainPluginItemData(w, i);
            tree.nodes.push_back(child);
        }
        std::stable_sort(tree.nodes.begin() + parent + 1, tree.nodes.end(), nameBefore);
    }
    return tree;
}
