// What every built-in effect answers the same way: chunks, presets, opcodes,
// mono blocks, rate 0 and suspend.
#include <limits>
#include <random>

#include "tests/effects/effect_fixture.h"

namespace {

struct Traits {
    const char* name;
    const char* tag;
    size_t chunkSize;
    int presets;
    const char* firstPreset;
    bool tempo;
};

const Traits kTraits[] = {
    {"reverb", "QuoReverb", 27, 1, "Default preset", false},
    {"echo", "ECHO", 28, 3, "Default Preset", true},
    {"flanger", "FLNG", 62, 6, "Default Preset", false},
    {"chorus", "CHRS", 86, 2, "Default Preset", false},
};

class EveryEffect : public EffectTest, public ::testing::WithParamInterface<Traits> {
protected:
    void SetUp() override { open(GetParam().name); }

    std::string presetName(intptr_t index) {
        char buffer[kPresetNameBuffer] = "";
        if (!query(PQ_GET_PRESET_NAME, reinterpret_cast<intptr_t>(buffer), index)) return "<none>";
        return buffer;
    }

    static std::vector<float> noise(size_t n, unsigned seed) {
        std::mt19937 random(seed);
        std::uniform_real_distribution<float> value(-0.5f, 0.5f);
        std::vector<float> v(n);
        for (float& x : v) x = value(random);
        return v;
    }
};

}  // namespace

TEST_P(EveryEffect, ChunkCarriesTagVersionAndExactSize) {
    const Traits& t = GetParam();
    std::vector<uint8_t> chunk = state();
    ASSERT_EQ(t.chunkSize, chunk.size());
    const size_t tag = std::strlen(t.tag);
    EXPECT_EQ(0, std::memcmp(chunk.data(), t.tag, tag));
    if (std::string(t.name) == "echo")
        EXPECT_EQ(1.0f, floatAt(chunk, 4));
    else
        EXPECT_EQ(100, chunk[tag] | (chunk[tag + 1] << 8));
}

TEST_P(EveryEffect, ChunksOfAnotherSizeOrTagAreRefusedAndChangeNothing) {
    const Traits& t = GetParam();
    query(PQ_SELECT_PRESET, 0, t.presets - 1);
    const std::vector<uint8_t> before = state();
    std::vector<uint8_t> other = before;
    for (size_t i = std::strlen(t.tag) + 2; i < other.size(); ++i) other[i] ^= 0x5A;

    std::vector<uint8_t> shorter(other.begin(), other.end() - 1);
    std::vector<uint8_t> longer = other;
    longer.push_back(0);
    std::vector<uint8_t> wrongTag = other;
    wrongTag[0] ^= 0x20;
    EXPECT_EQ(0, setState(shorter));
    EXPECT_EQ(0, setState(longer));
    EXPECT_EQ(0, setState(wrongTag));
    EXPECT_EQ(0, query(PQ_SET_STATE, 0, static_cast<intptr_t>(t.chunkSize)));
    EXPECT_EQ(before, state());
}

TEST_P(EveryEffect, ChunkRoundTripRestoresTheParameters) {
    const Traits& t = GetParam();
    query(PQ_SELECT_PRESET, 0, t.presets - 1);
    const std::vector<uint8_t> saved = state();
    query(PQ_SELECT_PRESET, 0, 0);
    ASSERT_EQ(1, setState(saved));
    EXPECT_EQ(saved, state());
    // A second chunk is a fresh copy with the same content.
    EXPECT_EQ(saved, state());
}

TEST_P(EveryEffect, PresetNamesAndSelectionStopAtThePresetCount) {
    const Traits& t = GetParam();
    EXPECT_EQ(t.firstPreset, presetName(-1));
    EXPECT_EQ(t.firstPreset, presetName(0));
    EXPECT_EQ("<none>", presetName(t.presets));
    EXPECT_EQ(0, query(PQ_SELECT_PRESET, 0, t.presets));
    EXPECT_EQ(1, query(PQ_SELECT_PRESET, 0, t.presets - 1));
    EXPECT_EQ(presetName(t.presets - 1), presetName(-1));
    EXPECT_EQ(1, query(PQ_SELECT_PRESET, 0, -1));
}

TEST_P(EveryEffect, OnlyTheEchoKnowsTheTempoAndUnknownOpcodesAnswerZero) {
    float tempo = 90.0f;
    EXPECT_EQ(GetParam().tempo ? 1 : 0, query(PQ_SET_TEMPO, reinterpret_cast<intptr_t>(&tempo), 0));
    EXPECT_EQ(0, query(PQ_SET_EDITOR_REQUESTS + 1, 0, 0));
    EXPECT_EQ(1, query(PQ_SET_EDITOR_REQUESTS, 0, 0));  // a module that knows it takes "nobody listens" too
    EXPECT_EQ(0, query(-1, 0, 0));
    // The editor's controls are its parameters; a record or value is required.
    EXPECT_GE(query(PQ_GET_PARAM_COUNT, 0, 0), 4);
    EXPECT_EQ(0, query(PQ_GET_PARAM, 0, 0));
    EXPECT_EQ(0, query(PQ_SET_PARAM, 0, 0));
    int size[2] = {0, 0};
    EXPECT_EQ(0, query(PQ_OPEN_EDITOR, reinterpret_cast<intptr_t>(size), 0));
}

TEST_P(EveryEffect, RateZeroLeavesBlocksUntouched) {
    query(PQ_SET_SAMPLE_RATE, 0, 0);
    std::vector<float> left = noise(256, 1), right = noise(256, 2);
    const std::vector<float> l0 = left, r0 = right;
    run(left, &right);
    EXPECT_EQ(l0, left);
    EXPECT_EQ(r0, right);
    query(PQ_SET_SAMPLE_RATE, 0, 44100);
    run(left, &right);  // lines are back
}

TEST_P(EveryEffect, SuspendSilencesTheHistory) {
    std::vector<float> left = noise(4096, 3), right = noise(4096, 4);
    run(left, &right);
    query(PQ_SUSPEND, 0, 0);
    query(PQ_RESUME, 0, 0);
    std::vector<float> l(4096, 0.0f), r(4096, 0.0f);
    run(l, &r);
    for (size_t i = 0; i < l.size(); ++i) {
        ASSERT_NEAR(0.0f, l[i], 1e-6f) << i;  // the chorus keeps a 1e-9 in its feedback
        ASSERT_NEAR(0.0f, r[i], 1e-6f) << i;
    }
}

TEST_P(EveryEffect, MonoBlocksProcessTheLeftChannelAlone) {
    // Longer than the echo's default half second.
    std::vector<float> left = noise(30016, 5);
    run(left, nullptr);  // right is null: must not be touched or read
    bool changed = false;
    std::vector<float> original = noise(30016, 5);
    for (size_t i = 0; i < left.size(); ++i) changed |= left[i] != original[i];
    EXPECT_TRUE(changed);
}

INSTANTIATE_TEST_SUITE_P(Effects, EveryEffect, ::testing::ValuesIn(kTraits),
                         [](const ::testing::TestParamInfo<Traits>& info) { return std::string(info.param.name); });

// Damaged chunks: every value enters limited to its parameter's range, a
// value that is not a number at the lower bound; the chunk written back
// holds the limited values.
namespace {

struct DamagedValue {
    const char* effect;
    size_t offset;
    bool integer;
    float written;  // as float, or the integer's value
    float loaded;
};

const float kNaN = std::numeric_limits<float>::quiet_NaN();

const DamagedValue kDamaged[] = {
    {"reverb", 11, true, 5000, 100},        {"reverb", 15, false, kNaN, 0},
    {"reverb", 19, false, -4, 0},           {"reverb", 23, false, 7, 1},
    {"echo", 8, true, 0, 100},              {"echo", 8, true, 4000000000.0f, 1000},
    {"echo", 12, false, kNaN, 0},           {"echo", 16, false, 9, 2},
    {"echo", 20, false, -1, 0},             {"echo", 24, false, 3, 1},
    {"flanger", 10, false, 9, 5},           {"flanger", 6, false, 0, 0.1f},
    {"flanger", 26, false, kNaN, 0},        {"chorus", 6, false, 99, 3},
    {"chorus", 14, false, -3, -0.5f},       {"chorus", 18, false, kNaN, -1},
    {"chorus", 30 + 20, false, 100, 40},    {"chorus", 30 + 4, false, 0, 0.05f},
};

class DamagedChunk : public EffectTest, public ::testing::WithParamInterface<DamagedValue> {};

}  // namespace

TEST_P(DamagedChunk, LoadsLimitedToTheParametersRange) {
    const DamagedValue& d = GetParam();
    open(d.effect);
    std::vector<uint8_t> chunk = state();
    ASSERT_GE(chunk.size(), d.offset + 4);
    if (d.integer)
        putU32At(chunk, d.offset, static_cast<uint32_t>(d.written));
    else
        putFloatAt(chunk, d.offset, d.written);
    ASSERT_EQ(1, setState(chunk));
    std::vector<uint8_t> back = state();
    if (d.integer) {
        uint32_t v;
        std::memcpy(&v, &back[d.offset], 4);
        EXPECT_EQ(static_cast<uint32_t>(d.loaded), v);
    } else {
        EXPECT_EQ(d.loaded, floatAt(back, d.offset));
    }
    std::vector<float> left(4096), right(4096);
    for (size_t i = 0; i < left.size(); ++i) left[i] = right[i] = std::sin(i * 0.05f) * 0.5f;
    run(left, &right);
    for (size_t i = 0; i < left.size(); ++i) ASSERT_TRUE(std::isfinite(left[i]) && std::isfinite(right[i])) << i;
}

INSTANTIATE_TEST_SUITE_P(Effects, DamagedChunk, ::testing::ValuesIn(kDamaged),
                         [](const ::testing::TestParamInfo<DamagedValue>& info) {
                             return std::string(info.param.effect) + "_at_" + std::to_string(info.param.offset) +
                                    "_" + std::to_string(info.index);
                         });
