// The effect chain pane's model: clicks to slots and zones, the rows and
// their colours, the cache a scan paints from, the menu's enabled items and
// the "Select Effect:" tree with its item data.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/chain.h"

namespace {

// ---- a fake pair of wrappers behind the reader and the source ----

struct FakeWrappers {
    std::vector<std::vector<const char*>> available;  // per wrapper: its list, null = unreadable
    std::vector<const char*> names;                   // per wrapper, null = unreadable
    std::vector<int> counts;                          // per wrapper; overrides available.size()
    int calls = 0;
};

FakeWrappers fake;

int fakeWrapperCount() { return static_cast<int>(fake.names.size()); }
int fakeAvailableCount(int w) {
    ++fake.calls;
    return fake.counts[w];
}
const char* fakeWrapperName(int w) {
    ++fake.calls;
    return fake.names[w];
}
const char* fakeAvailableName(int w, int i) {
    ++fake.calls;
    return fake.available[w][i];
}

EffectSource fakeSource() {
    EffectSource s;
    s.wrapperCount = fakeWrapperCount;
    s.availableCount = fakeAvailableCount;
    s.wrapperName = fakeWrapperName;
    s.availableName = fakeAvailableName;
    return s;
}

void addWrapper(const char* name, std::vector<const char*> list, int count = -2) {
    fake.names.push_back(name);
    fake.counts.push_back(count == -2 ? static_cast<int>(list.size()) : count);
    fake.available.push_back(std::move(list));
}

// Instances: handle 0x10 + slot; wrapper 1 answers names, 0x13 is bypassed, 0x15 has no name.
int readerCalls = 0;
int lastWrapperAsked = -1;
const char* instanceName(int w, intptr_t handle) {
    ++readerCalls;
    lastWrapperAsked = w;
    static const char* names[] = {"QuoReverb", "QuoEcho", "QuoFlanger", "QuoChorus", "Wide", nullptr, "A", "B"};
    return names[(handle - 0x10) & 7];
}
int instanceActive(int, intptr_t handle) {
    ++readerCalls;
    return handle == 0x13 ? 0 : (handle == 0x15 ? -1 : 1);
}

ChainReader fakeReader() {
    ChainReader r;
    r.instanceName = instanceName;
    r.instanceActive = instanceActive;
    return r;
}

class ChainTree : public ::testing::Test {
protected:
    void SetUp() override { fake = FakeWrappers{}; }
};

std::vector<std::string> names(const EffectTree& t) {
    std::vector<std::string> out;
    for (const EffectTreeNode& n : t.nodes) out.push_back((n.parent < 0 ? "" : "  ") + std::string(n.name));
    return out;
}

}  // namespace

// ---- clicks ----

TEST(ChainClick, TheTopTenPixelsBelongToRowZeroAndRowEightIsNoRow) {
    EXPECT_EQ(chainHitTest(20, 5).row, 0);  // (5 - 10) / 28 truncates to 0
    EXPECT_EQ(chainHitTest(20, 5).zone, ChainZone::MenuButton);
    EXPECT_EQ(chainHitTest(20, 0).row, 0);
    EXPECT_EQ(chainHitTest(20, 37).row, 0);
    EXPECT_EQ(chainHitTest(20, 38).row, 1);
    EXPECT_EQ(chainHitTest(20, 233).row, 7);
    EXPECT_EQ(chainHitTest(20, 234).row, -1);  // row 8: ignored
    EXPECT_EQ(chainHitTest(20, 234).zone, ChainZone::None);
    EXPECT_EQ(chainHitTest(20, -17).row, 0);   // -27 / 28 still truncates to 0
    EXPECT_EQ(chainHitTest(20, -18).row, -1);  // a row above the pane
}

TEST(ChainClick, ZonesEndOnTheirLastPixelAndTheGapsHitNothing) {
    const struct {
        int x;
        ChainZone zone;
    } cases[] = {
        {7, ChainZone::None},        {8, ChainZone::MenuButton}, {29, ChainZone::MenuButton},
        {30, ChainZone::Name},       {219, ChainZone::Name},     {220, ChainZone::None},
        {227, ChainZone::None},      {228, ChainZone::Bypass},   {278, ChainZone::Bypass},
        {279, ChainZone::None},      {-1, ChainZone::None},      {290, ChainZone::None},
    };
    for (const auto& c : cases) {
        const ChainHit hit = chainHitTest(c.x, 100);
        EXPECT_EQ(hit.zone, c.zone) << "x = " << c.x;
        EXPECT_EQ(hit.row, c.zone == ChainZone::None ? -1 : 3) << "x = " << c.x;
    }
}

TEST(ChainClick, RowsDrawAndOpenTheirMenuOnTheirOwnBand) {
    EXPECT_EQ(chainRowTextY(0), 14);
    EXPECT_EQ(chainRowTextY(7), 210);
    EXPECT_EQ(chainMenuY(0), 10);
    EXPECT_EQ(chainMenuY(7), 206);
    for (int r = 0; r < kChainRows; ++r) EXPECT_EQ(chainHitTest(kChainMenuX - 10, chainMenuY(r)).row, r);
}

TEST(ChainClick, TheSelectedSlotIsClampedBeforeAnyCommandUsesIt) {
    EXPECT_EQ(chainClampSlot(-5), 0);
    EXPECT_EQ(chainClampSlot(0), 0);
    EXPECT_EQ(chainClampSlot(7), 7);
    EXPECT_EQ(chainClampSlot(8), 7);
    EXPECT_EQ(chainClampSlot(1 << 30), 7);
}

// ---- rows ----

TEST(ChainRows, AFilledSlotNamesItsPluginInWhiteAndAnEmptyOneSaysNoneInGrey) {
    ChainSlot filled{0x10, 1};
    ChainRowView row = chainRowView(0, filled, fakeReader());
    EXPECT_STREQ(row.text, "1: QuoReverb");
    EXPECT_EQ(row.colour, 0xFFFFFFu);
    EXPECT_FALSE(row.bypassed);

    row = chainRowView(7, ChainSlot{0, -1}, fakeReader());
    EXPECT_STREQ(row.text, "8: <none>");
    EXPECT_EQ(row.colour, 0xAAAAAAu);
    EXPECT_FALSE(row.bypassed);
}

TEST(ChainRows, AnUnreadableNameReadsAsNoneAndOnlyAnAnsweredZeroShowsTheBypass) {
    ChainRowView row = chainRowView(5, ChainSlot{0x15, 0}, fakeReader());  // no name, active answers -1
    EXPECT_STREQ(row.text, "6: <none>");
    EXPECT_EQ(row.colour, kChainEmptyColour);
    EXPECT_FALSE(row.bypassed);

    row = chainRowView(3, ChainSlot{0x13, 0}, fakeReader());
    EXPECT_STREQ(row.text, "4: QuoChorus");
    EXPECT_TRUE(row.bypassed);
}

TEST(ChainRows, OnlyTheLowByteOfTheSlotsWrapperIndexNamesTheWrapper) {
    chainRowView(0, ChainSlot{0x10, 0x0102}, fakeReader());
    EXPECT_EQ(lastWrapperAsked, 2);
}

TEST(ChainRows, ALongNameIsCutToTheNameBuffer) {
    static const std::string longName(300, 'x');
    ChainReader reader;
    reader.instanceName = [](int, intptr_t) { return longName.c_str(); };
    const ChainRowView row = chainRowView(7, ChainSlot{1, 0}, reader);
    EXPECT_EQ(std::strlen(row.text), 3u + 99u);
    EXPECT_EQ(std::string(row.text, 3), "8: ");
}

TEST(ChainRows, DuringAScanThePaneRepaintsItsLastRowsWithoutAskingAWrapper) {
    ChainSlot slots[kChainRows] = {};
    slots[0] = ChainSlot{0x10, 0};
    slots[3] = ChainSlot{0x13, 0};
    ChainView view;
    ASSERT_TRUE(chainRefreshView(view, slots, fakeReader(), false));
    EXPECT_STREQ(view.rows[0].text, "1: QuoReverb");

    // The scan thread may destroy and recreate instances: nothing is asked.
    slots[0] = ChainSlot{};
    readerCalls = 0;
    EXPECT_FALSE(chainRefreshView(view, slots, fakeReader(), true));
    EXPECT_EQ(readerCalls, 0);
    EXPECT_STREQ(view.rows[0].text, "1: QuoReverb");
    EXPECT_TRUE(view.rows[3].bypassed);

    // After the scan the chain as it is now.
    EXPECT_TRUE(chainRefreshView(view, slots, fakeReader(), false));
    EXPECT_STREQ(view.rows[0].text, "1: <none>");
}

TEST(ChainRows, APaneFirstPaintedDuringAScanShowsEightEmptyRows) {
    ChainSlot slots[kChainRows] = {};
    slots[2] = ChainSlot{0x12, 0};
    ChainView view;
    readerCalls = 0;
    chainRefreshView(view, slots, fakeReader(), true);
    EXPECT_EQ(readerCalls, 0);
    EXPECT_STREQ(view.rows[2].text, "3: <none>");
    EXPECT_STREQ(view.rows[7].text, "8: <none>");
    EXPECT_FALSE(view.built);
}

// ---- pop-up menu ----

TEST(ChainMenu, AnEmptySlotOffersOnlySelect) {
    for (int slot : {0, 3, 7}) {
        const ChainMenuState s = chainMenuState(slot, false);
        EXPECT_TRUE(s.select);
        EXPECT_FALSE(s.selectNone || s.showEditor || s.moveUp || s.moveDown) << slot;
    }
}

TEST(ChainMenu, AFilledSlotMovesOnlyWhereThereIsASlotToMoveTo) {
    ChainMenuState s = chainMenuState(7, true);
    EXPECT_TRUE(s.select && s.selectNone && s.showEditor);
    EXPECT_TRUE(s.moveUp);
    EXPECT_FALSE(s.moveDown);
    s = chainMenuState(0, true);
    EXPECT_FALSE(s.moveUp);
    EXPECT_TRUE(s.moveDown);
    s = chainMenuState(4, true);
    EXPECT_TRUE(s.moveUp && s.moveDown);
}

// ---- "Select Effect:" ----

TEST(ChainChoice, ItemDataPacksWrapperAndListIndexAndReadsBack) {
    EXPECT_EQ(chainWrapperItemData(0), 1u);
    EXPECT_EQ(chainPluginItemData(0, 0), 1u + 65536u);
    EXPECT_EQ(chainPluginItemData(9, 41), 10u + 65536u * 42u);

    EffectChoice c = chainChoiceFromItem(chainPluginItemData(9, 41));
    EXPECT_EQ(c.wrapper, 9);
    EXPECT_EQ(c.plugin, 41);
    EXPECT_TRUE(chainChoiceAttaches(c));
}

TEST(ChainChoice, AWrapperNodeOrNoSelectionAttachesNothing) {
    EffectChoice c = chainChoiceFromItem(chainWrapperItemData(1));
    EXPECT_EQ(c.wrapper, 1);
    EXPECT_EQ(c.plugin, -1);
    EXPECT_FALSE(chainChoiceAttaches(c));
    EXPECT_FALSE(chainChoiceAttaches(chainChoiceFromItem(0)));
    EXPECT_FALSE(chainChoiceAttaches(EffectChoice{}));
    // Bits above the low 32 of the item word are not ours.
    c = chainChoiceFromItem(uintptr_t{1} << 32 | chainPluginItemData(0, 2));
    EXPECT_EQ(c.wrapper, 0);
    EXPECT_EQ(c.plugin, 2);
}

TEST_F(ChainTree, ChildrenAreSortedButKeepTheirListIndices) {
    addWrapper("Quorvane Plugins", {"reverb", "Echo", "flanger", "chorus"});
    const EffectTree t = chainBuildEffectTree(fakeSource());
    EXPECT_EQ(names(t), (std::vector<std::string>{"Quorvane Plugins", "  chorus", "  Echo", "  flanger", "  reverb"}));
    EXPECT_EQ(t.nodes[0].data, chainWrapperItemData(0));
    EXPECT_EQ(t.nodes[1].data, chainPluginItemData(0, 3));  // chorus was fourth
    EXPECT_EQ(t.nodes[4].data, chainPluginItemData(0, 0));
    for (size_t i = 1; i < t.nodes.size(); ++i) EXPECT_EQ(t.nodes[i].parent, 0);
    EXPECT_TRUE(t.reports.empty());
}

TEST_F(ChainTree, AWrapperWithNothingAvailableOrAFailingCountIsLeftOut) {
    addWrapper("VST Plugins", {});
    addWrapper("Broken", {"never"}, -1);
    addWrapper("Quorvane Plugins", {"echo"});
    const EffectTree t = chainBuildEffectTree(fakeSource());
    EXPECT_EQ(names(t), (std::vector<std::string>{"Quorvane Plugins", "  echo"}));
    EXPECT_EQ(t.nodes[0].data, chainWrapperItemData(2));  // the table index, not the tree's
    EXPECT_EQ(t.nodes[1].data, chainPluginItemData(2, 0));
    EXPECT_TRUE(t.reports.empty());
}

TEST_F(ChainTree, AnUnreadableWrapperNameIsReportedAndSkipped) {
    addWrapper(nullptr, {"lost"});
    addWrapper("Quorvane Plugins", {"echo"});
    const EffectTree t = chainBuildEffectTree(fakeSource());
    EXPECT_EQ(names(t), (std::vector<std::string>{"Quorvane Plugins", "  echo"}));
    EXPECT_EQ(t.reports, (std::vector<int32_t>{218}));
}

TEST_F(ChainTree, AnUnreadablePluginNameStopsThatWrapperOnlyKeepingWhatCameBefore) {
    addWrapper("First", {"zeta", "alpha", nullptr, "never"});
    addWrapper("Second", {"one"});
    const EffectTree t = chainBuildEffectTree(fakeSource());
    EXPECT_EQ(names(t), (std::vector<std::string>{"First", "  alpha", "  zeta", "Second", "  one"}));
    EXPECT_EQ(t.nodes[1].data, chainPluginItemData(0, 1));
    EXPECT_EQ(t.nodes[4].parent, 3);
    EXPECT_EQ(t.reports, (std::vector<int32_t>{219}));
}

TEST_F(ChainTree, ALongNameIsCutAndNoSourceGivesAnEmptyTree) {
    static const std::string longName(150, 'n');
    addWrapper(longName.c_str(), {longName.c_str()});
    const EffectTree t = chainBuildEffectTree(fakeSource());
    ASSERT_EQ(t.nodes.size(), 2u);
    EXPECT_EQ(std::strlen(t.nodes[0].name), kEffectNameBuffer - 1);
    EXPECT_EQ(std::strlen(t.nodes[1].name), kEffectNameBuffer - 1);
    EXPECT_TRUE(chainBuildEffectTree(EffectSource{}).nodes.empty());
}
