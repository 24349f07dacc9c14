// The default wrapper's preset menu and preset files, with a stand-in effect
// whose state and preset list each test sets.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "wrappers/default/presetfile.h"
#include "wrappers/default/presetmenu.h"

namespace fs = std::filesystem;

namespace {

// The stand-in effect.
std::vector<uint8_t> effectState;
std::vector<uint8_t> lastLoaded;
int setStateCalls = 0;
size_t acceptedSize = 0;  // PQ_SET_STATE takes blobs of exactly this size
std::vector<std::string> presetNames;
std::string currentName;
bool endlessPresets = false;
bool unterminatedNames = false;

intptr_t EFFECT_CALL fakeEffect(intptr_t opcode, intptr_t p, intptr_t q) {
    switch (opcode) {
        case PQ_GET_STATE:
            *reinterpret_cast<uint8_t**>(p) = effectState.empty() ? nullptr : effectState.data();
            return static_cast<intptr_t>(effectState.size());
        case PQ_SET_STATE:
            ++setStateCalls;
            if (static_cast<size_t>(q) != acceptedSize) return 0;
            lastLoaded.assign(reinterpret_cast<const uint8_t*>(p), reinterpret_cast<const uint8_t*>(p) + q);
            return 1;
        case PQ_GET_PRESET_NAME: {
            char* out = reinterpret_cast<char*>(p);
            if (unterminatedNames) {
                std::memset(out, 'x', kPresetNameBuffer);  // every byte it was promised, no terminator
                return q < 2 ? 1 : 0;
            }
            if (endlessPresets) return std::snprintf(out, kPresetNameBuffer, "Preset %d", static_cast<int>(q)), 1;
            if (q < 0) {
                if (currentName.empty()) return 0;
                std::snprintf(out, kPresetNameBuffer, "%s", currentName.c_str());
                return 1;
            }
            if (static_cast<size_t>(q) >= presetNames.size()) return 0;
            std::snprintf(out, kPresetNameBuffer, "%s", presetNames[q].c_str());
            return 1;
        }
        default:
            return 0;
    }
}

bool renameOver(const char* from, const char* to) {
    std::error_code error;
    fs::rename(from, to, error);
    return !error;
}
bool refuseReplace(const char*, const char*) { return false; }

class PresetFiles : public ::testing::Test {
protected:
    fs::path folder;
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("qv_presets_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        effectState = {'F', 'L', 'N', 'G', 1, 2, 3, 0, 255};
        acceptedSize = effectState.size();
        lastLoaded.clear();
        setStateCalls = 0;
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string path(const char* name) const { return (folder / name).string(); }
    static std::vector<uint8_t> read(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static void write(const std::string& p, const std::vector<uint8_t>& bytes) {
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    size_t filesInFolder() const { return static_cast<size_t>(std::distance(fs::directory_iterator(folder), {})); }
};

class PresetMenuTest : public ::testing::Test {
protected:
    PresetMenu menu{};
    void SetUp() override {
        presetNames = {"Default Preset", "Rock & Roll", "Fast"};
        currentName = "Fast";
        endlessPresets = unterminatedNames = false;
    }
};

}  // namespace

TEST_F(PresetFiles, SavedPresetIsExactlyTheStateAndLoadsBack) {
    ASSERT_TRUE(presetSaveFile(path("a.pst").c_str(), fakeEffect, renameOver));
    EXPECT_EQ(effectState, read(path("a.pst")));
    EXPECT_EQ(1u, filesInFolder());  // no temporary file left
    EXPECT_EQ(PresetLoad::kLoaded, presetLoadFile(path("a.pst").c_str(), fakeEffect));
    EXPECT_EQ(effectState, lastLoaded);
}

TEST_F(PresetFiles, FailedReplaceKeepsTheOldPresetAndRemovesTheTemporaryFile) {
    write(path("old.pst"), {'o', 'l', 'd'});
    EXPECT_FALSE(presetSaveFile(path("old.pst").c_str(), fakeEffect, refuseReplace));
    EXPECT_EQ((std::vector<uint8_t>{'o', 'l', 'd'}), read(path("old.pst")));
    EXPECT_EQ(1u, filesInFolder());
}

TEST_F(PresetFiles, SavingReplacesAnExistingPreset) {
    write(path("old.pst"), {'o', 'l', 'd'});
    ASSERT_TRUE(presetSaveFile(path("old.pst").c_str(), fakeEffect, renameOver));
    EXPECT_EQ(effectState, read(path("old.pst")));
}

TEST_F(PresetFiles, SavingIntoAMissingFolderFailsAndLeavesNothing) {
    EXPECT_FALSE(presetSaveFile(path("missing/a.pst").c_str(), fakeEffect, renameOver));
    EXPECT_EQ(0u, filesInFolder());
}

TEST_F(PresetFiles, EffectWithoutStateWritesAnEmptyFileWhichLoadsAsNothing) {
    effectState.clear();
    ASSERT_TRUE(presetSaveFile(path("empty.pst").c_str(), fakeEffect, renameOver));
    EXPECT_EQ(0u, fs::file_size(path("empty.pst")));
    EXPECT_EQ(PresetLoad::kNothing, presetLoadFile(path("empty.pst").c_str(), fakeEffect));
    EXPECT_EQ(0, setStateCalls);
}

TEST_F(PresetFiles, MissingFileLoadsAsNothing) {
    EXPECT_EQ(PresetLoad::kNothing, presetLoadFile(path("none.pst").c_str(), fakeEffect));
    EXPECT_EQ(0, setStateCalls);
}

TEST_F(PresetFiles, RefusedOrOversizedPresetsAreInvalid) {
    write(path("short.pst"), {'F', 'L'});
    EXPECT_EQ(PresetLoad::kInvalid, presetLoadFile(path("short.pst").c_str(), fakeEffect));
    write(path("huge.pst"), {1});
    fs::resize_file(path("huge.pst"), kPresetFileMax + 1);  // sparse: nothing is written
    acceptedSize = kPresetFileMax + 1;
    setStateCalls = 0;
    EXPECT_EQ(PresetLoad::kInvalid, presetLoadFile(path("huge.pst").c_str(), fakeEffect));
    EXPECT_EQ(0, setStateCalls);  // never read, never handed over
}

TEST_F(PresetFiles, BytesAreHandedOverWholeOrNotAtAll) {
    EXPECT_EQ(PresetLoad::kLoaded, presetLoadBytes(effectState.data(), effectState.size(), fakeEffect));
    EXPECT_EQ(effectState, lastLoaded);
    EXPECT_EQ(PresetLoad::kNothing, presetLoadBytes(effectState.data(), 0, fakeEffect));
    EXPECT_EQ(PresetLoad::kNothing, presetLoadBytes(effectState.data(), effectState.size(), nullptr));
    EXPECT_EQ(PresetLoad::kInvalid, presetLoadBytes(nullptr, effectState.size(), fakeEffect));
    EXPECT_EQ(PresetLoad::kInvalid, presetLoadBytes(effectState.data(), effectState.size() - 1, fakeEffect));
    EXPECT_EQ(2, setStateCalls);  // the whole preset and the short one
    const std::vector<uint8_t> huge(static_cast<size_t>(kPresetFileMax) + 1, 0);
    acceptedSize = huge.size();
    EXPECT_EQ(PresetLoad::kInvalid, presetLoadBytes(huge.data(), huge.size(), fakeEffect));
    EXPECT_EQ(2, setStateCalls);
}

TEST_F(PresetMenuTest, ListsTheCurrentPresetAndEveryPresetWithAmpersandsEscaped) {
    buildPresetMenu(menu, fakeEffect);
    EXPECT_STREQ("Fast", menu.current);
    ASSERT_EQ(3, menu.presetCount);
    EXPECT_STREQ("Rock && Roll", menu.presets[1]);
}

TEST_F(PresetMenuTest, EffectWithoutCurrentPresetShowsDefaultPresets) {
    currentName.clear();
    buildPresetMenu(menu, fakeEffect);
    EXPECT_STREQ("Default presets", menu.current);
}

TEST_F(PresetMenuTest, EndlessPresetListIsCutOffAtTheCap) {
    endlessPresets = true;
    buildPresetMenu(menu, fakeEffect);
    EXPECT_EQ(kMenuMaxPresets, menu.presetCount);
    EXPECT_LT(kMenuFirstPreset + kMenuMaxPresets, 0xF000);  // below the system commands
}

TEST_F(PresetMenuTest, UnterminatedNamesAreCutAtTheirBuffer) {
    unterminatedNames = true;
    buildPresetMenu(menu, fakeEffect);
    EXPECT_EQ(static_cast<size_t>(kPresetNameBuffer - 1), std::strlen(menu.presets[0]));
}

TEST_F(PresetMenuTest, OnlyCommandsTheMenuHoldsAreActedOn) {
    buildPresetMenu(menu, fakeEffect);
    int preset = 99;
    EXPECT_EQ(PresetAction::kLoad, presetMenuAction(menu, 101, preset));
    EXPECT_EQ(PresetAction::kSave, presetMenuAction(menu, 102, preset));
    EXPECT_EQ(PresetAction::kSelect, presetMenuAction(menu, 103, preset));
    EXPECT_EQ(-1, preset);  // the bold item re-applies the current preset
    EXPECT_EQ(PresetAction::kSelect, presetMenuAction(menu, 106, preset));
    EXPECT_EQ(2, preset);
    EXPECT_EQ(PresetAction::kNone, presetMenuAction(menu, 107, preset));
    EXPECT_EQ(PresetAction::kNone, presetMenuAction(menu, 100, preset));
    EXPECT_EQ(PresetAction::kNone, presetMenuAction(menu, 0xF060, preset));
}

TEST_F(PresetMenuTest, EscapingStopsBeforeTheBufferEnds) {
    char out[6];
    escapeMenuText("a&b&c", out, sizeof out);
    EXPECT_STREQ("a&&b", out);  // "&&" is never split
}

TEST(PresetButton, ClicksOpenTheMenuOnlyInsideTheStripsTopCorner) {
    EXPECT_TRUE(presetButtonHit(0, 0));
    EXPECT_TRUE(presetButtonHit(15, 22));
    EXPECT_FALSE(presetButtonHit(16, 5));
    EXPECT_FALSE(presetButtonHit(5, 23));
}
