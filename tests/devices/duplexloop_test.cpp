// The duplex streaming loop against a scripted device: the start order, the
// block that each pass reads and writes, the lost-buffer recovery and every
// failure's status bit.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "devices/dsgeometry.h"
#include "devices/duplexloop.h"
#include "streamconv/binding.h"
#include "tests/support/appfolder.h"
#include "tests/support/modules.h"
#include "tests/support/transparent.h"

namespace {

// Two rings of bytes; every wait "captures" the next block.
class ScriptedDevice final : public DuplexDevice {
public:
    ScriptedDevice(uint32_t blockBytes, int32_t buffers, std::atomic<bool>& stop, int passes)
        : playback(blockBytes * buffers, 0xEE), blockBytes_(blockBytes), buffers_(buffers), stop_(stop),
          passes_(passes), capture_(blockBytes * buffers) {}

    std::vector<std::string> calls;
    std::vector<uint8_t> playback;
    // Each pass's write: (offset, bytes written).
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> writes;
    // A call named here fails at the given pass (0 = the first).
    std::map<std::string, int> failAt;
    int lostPasses = 0;  // the playback buffer reports "lost" this many times at pass 1
    int restores = 0;
    int pass = 0;

    // The 16-bit stereo content of captured block k.
    static int16_t sample(int k, uint32_t frame, int channel) {
        return static_cast<int16_t>((k + 1) * 700 + static_cast<int>(frame) * 3 - channel * 9000);
    }

    bool lockCapture(uint32_t offset, uint32_t bytes, void** region, uint32_t* got) override {
        calls.push_back("lockCapture " + std::to_string(offset));
        if (fails("lockCapture")) return false;
        *region = &capture_[offset];
        *got = bytes;
        return true;
    }
    bool unlockCapture(void*, uint32_t) override { return !fails("unlockCapture"); }
    bool lockPlayback(uint32_t offset, uint32_t bytes, void** region, uint32_t* got) override {
        calls.push_back("lockPlayback " + std::to_string(offset));
        if (fails("lockPlayback")) return false;
        *region = &playback[offset];
        *got = bytes;
        lockedAt_ = offset;
        return true;
    }
    bool unlockPlayback(void* region, uint32_t bytes) override {
        auto* p = static_cast<uint8_t*>(region);
        writes.push_back({lockedAt_, std::vector<uint8_t>(p, p + bytes)});
        return !fails("unlockPlayback");
    }
    bool startCapture() override {
        calls.push_back("startCapture");
        return !fails("startCapture");
    }
    bool startPlayback() override {
        calls.push_back("startPlayback");
        return true;
    }
    bool rewindPlayback() override {
        calls.push_back("rewind");
        return true;
    }
    bool playbackStatus(bool& lost) override {
        if (fails("status")) return false;
        lost = pass == 1 && lostPasses > 0 && lostPasses-- > 0;
        return true;
    }
    bool restorePlayback() override {
        ++restores;
        return !fails("restore");
    }
    void resetEvents() override { calls.push_back("resetEvents"); }
    void waitForCapture() override {
        // The capture cursor passes the end of the next block.
        const int k = pass;
        const uint32_t base = static_cast<uint32_t>(k % buffers_) * blockBytes_;
        for (uint32_t f = 0; f < blockBytes_ / 4; ++f)
            for (int c = 0; c < 2; ++c) {
                const int16_t v = sample(k, f, c);
                std::memcpy(&capture_[base + f * 4 + c * 2], &v, 2);
            }
        if (++pass >= passes_) stop_ = true;
    }
    void sleepMs(uint32_t ms) override { calls.push_back("sleep " + std::to_string(ms)); }
    void stopAll() override { calls.push_back("stopAll"); }

private:
    bool fails(const std::string& name) {
        auto it = failAt.find(name);
        return it != failAt.end() && it->second == pass;
    }
    uint32_t blockBytes_;
    int32_t buffers_;
    std::atomic<bool>& stop_;
    int passes_;
    std::vector<uint8_t> capture_;
    uint32_t lockedAt_ = 0;
};

class DuplexLoop : public ::testing::Test {
protected:
    EngineState engine;
    std::atomic<bool> stop{false};
    DuplexSettings settings;
    const uint32_t frames = 64;
    const uint32_t blockBytes = 64 * 4;

    void SetUp() override {
        ASSERT_TRUE(converterBind(stagePath(std::string("streamconv") + librarySuffix()).c_str()));
        settings.format = dsFormatRecord(5);  // 44100 Hz, 16-bit, stereo
        settings.buffers = 4;
        settings.outputDelayMs = 3;
        makeTransparent(engine);
        engine.blockSize = frames;
        ASSERT_EQ(0, engineConfigure(engine, 44100, true));
    }

    ScriptedDevice device(int passes) { return ScriptedDevice(blockBytes, settings.buffers, stop, passes); }
};

TEST_F(DuplexLoop, StartsInOrderAndWritesCapturedBlockKToPlaybackBlockKPlusTwo) {
    ScriptedDevice d = device(10);
    duplexRun(d, settings, engine, stop);
    const std::vector<std::string> start(d.calls.begin(), d.calls.begin() + 7);
    EXPECT_EQ((std::vector<std::string>{"lockPlayback 0", "resetEvents", "startCapture", "sleep 3", "startPlayback",
                                        "rewind", "lockCapture 768"}),
              start);
    EXPECT_EQ("stopAll", d.calls.back());
    EXPECT_EQ(0u, engine.engineStatus.load());

    // writes[0] is the silence put into block 0 before starting.
    ASSERT_EQ(11u, d.writes.size());
    EXPECT_EQ(std::vector<uint8_t>(blockBytes, 0), d.writes[0].second);
    // The first pass reads the last (silent) block and writes block 1.
    EXPECT_EQ(blockBytes, d.writes[1].first);
    EXPECT_EQ(std::vector<uint8_t>(blockBytes, 0), d.writes[1].second);
    for (size_t p = 2; p < d.writes.size(); ++p) {
        const int k = static_cast<int>(p) - 2;  // the captured block this pass processed
        EXPECT_EQ(((k + 2) % settings.buffers) * blockBytes, d.writes[p].first) << p;
        for (uint32_t f = 0; f < frames; ++f)
            for (int c = 0; c < 2; ++c) {
                int16_t v;
                std::memcpy(&v, &d.writes[p].second[f * 4 + c * 2], 2);
                ASSERT_EQ(ScriptedDevice::sample(k, f, c), v) << "pass " << p << " frame " << f;
            }
    }
}

TEST_F(DuplexLoop, APausedChainLeavesTheRegionsUntouched) {
    engine.processingEnabled = false;
    ScriptedDevice d = device(4);
    duplexRun(d, settings, engine, stop);
    // Block 0 holds the silence written before the start, the others what was there.
    ASSERT_EQ(5u, d.writes.size());
    for (size_t p = 1; p < d.writes.size(); ++p)
        EXPECT_EQ(std::vector<uint8_t>(blockBytes, d.writes[p].first == 0 ? 0 : 0xEE), d.writes[p].second) << p;
}

TEST_F(DuplexLoop, EachFailureEndsTheLoopWithItsStatusBit) {
    struct Case {
        const char* call;
        int pass;
        uint32_t bit;
    };
    const Case cases[] = {{"lockCapture", 2, STATUS_CAPTURE_ERROR},    {"unlockCapture", 1, STATUS_CAPTURE_ERROR},
                          {"lockPlayback", 3, STATUS_PLAYBACK_ERROR},  {"unlockPlayback", 2, STATUS_PLAYBACK_ERROR},
                          {"status", 1, STATUS_PLAYBACK_ERROR}};
    for (const Case& c : cases) {
        engine.engineStatus = 0;
        stop = false;
        ScriptedDevice d = device(10);
        d.failAt[c.call] = c.pass;
        duplexRun(d, settings, engine, stop);
        EXPECT_EQ(c.bit, engine.engineStatus.load()) << c.call;
        EXPECT_EQ(c.pass, d.pass) << c.call;  // no wait after the failure
        EXPECT_EQ("stopAll", d.calls.back()) << c.call;
    }
    // A failing start runs no pass and sets no bit.
    engine.engineStatus = 0;
    stop = false;
    ScriptedDevice d = device(10);
    d.failAt["startCapture"] = 0;
    duplexRun(d, settings, engine, stop);
    EXPECT_EQ(0u, engine.engineStatus.load());
    EXPECT_EQ(0, d.pass);
}

TEST_F(DuplexLoop, ALostPlaybackBufferIsRestoredOrEndsTheLoop) {
    ScriptedDevice d = device(5);
    d.lostPasses = 2;
    duplexRun(d, settings, engine, stop);
    EXPECT_EQ(2, d.restores);
    EXPECT_EQ(0u, engine.engineStatus.load());
    EXPECT_EQ(5, d.pass);

    stop = false;
    ScriptedDevice failing = device(5);
    failing.lostPasses = 1;
    failing.failAt["restore"] = 1;
    duplexRun(failing, settings, engine, stop);
    EXPECT_EQ(STATUS_PLAYBACK_ERROR, engine.engineStatus.load());
}

}  // namespace
