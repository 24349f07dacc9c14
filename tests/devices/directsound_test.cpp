// DirectSound live input under Wine, whose DirectSound reaches the test
// PulseAudio daemon: two null sinks "QvOutA" and "QvOutB", whose monitors
// are capture devices. The loopback test plays bursts into QvOutB and runs
// live input from its monitor back into QvOutB at half gain, so every burst
// returns as a train of echoes, each one loop later and half as loud.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "devices/directsound.h"
#include "streamconv/binding.h"
#include "tests/support/appfolder.h"
#include "tests/support/modules.h"
#include "tests/support/transparent.h"

namespace {

int indexOf(const DsDevice* list, const std::string& description) {
    int i = 0;
    for (const DsDevice* d = list; d; d = d->next, ++i)
        if (description == d->description) return i;
    return -1;
}

const DsDevice* nodeAt(const DsDevice* list, int index) {
    for (int i = 0; list && i < index; ++i) list = list->next;
    return list;
}

HWND testWindow() {
    static HWND window = CreateWindowA("STATIC", "qvtest", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    return window;
}

class DirectSound : public ::testing::Test {
protected:
    EngineState engine;
    int outA = -1, outB = -1, monitorA = -1, monitorB = -1;

    static void SetUpTestSuite() {
        ASSERT_EQ(0, dsEnumerateDevices());
    }
    void SetUp() override {
        ASSERT_TRUE(converterBind(stagePath("streamconv.dll").c_str()));
        dsSetEngine(&engine);
        dsSettings() = DsSettings{};
        outA = indexOf(dsPlaybackDevices(), "QvOutA");
        outB = indexOf(dsPlaybackDevices(), "QvOutB");
        monitorA = indexOf(dsCaptureDevices(), "Monitor of QvOutA");
        monitorB = indexOf(dsCaptureDevices(), "Monitor of QvOutB");
        makeTransparent(engine);
    }
    void TearDown() override {
        dsStop();
        dsCloseOutput();
        dsCloseInput();
        engineRelease(engine);
        dsSetEngine(nullptr);
    }
};

TEST_F(DirectSound, DevicesAreListedInThePlatformsOrder) {
    ASSERT_NE(nullptr, dsPlaybackDevices());
    EXPECT_EQ(nullptr, dsPlaybackDevices()->id);  // the default device comes first
    EXPECT_GE(outA, 1);
    EXPECT_GE(outB, 1);
    EXPECT_GE(monitorA, 0);
    EXPECT_GE(monitorB, 0);
    for (const DsDevice* d = dsPlaybackDevices(); d; d = d->next) std::printf("playback: %s\n", d->description);
    for (const DsDevice* d = dsCaptureDevices(); d; d = d->next) std::printf("capture: %s\n", d->description);
    EXPECT_NE(nullptr, nodeAt(dsPlaybackDevices(), outA)->id);
}

TEST_F(DirectSound, ApplyingOpensClampsAndRefusesUnknownFormats) {
    ASSERT_EQ(0, dsApplySettings(outA, monitorB, 5, 40, 70, testWindow()));
    EXPECT_EQ(outA, dsSettings().outputIndex);
    EXPECT_EQ(monitorB, dsSettings().inputIndex);
    EXPECT_EQ(32, dsSettings().buffers);
    EXPECT_EQ(1764u, engine.blockSize);
    EXPECT_EQ(0, dsOpenOutput(outB, testWindow()));  // one is open: nothing happens
    EXPECT_EQ(outA, dsSettings().outputIndex);

    ASSERT_EQ(0, dsApplySettings(outB, monitorB, 1, 20, 4, testWindow()));
    EXPECT_EQ(outB, dsSettings().outputIndex);
    EXPECT_EQ(882u, engine.blockSize);

    EXPECT_EQ(kDsNoOutputDriver, dsApplySettings(99, monitorB, 5, 20, 2, testWindow()));
    EXPECT_EQ(-1, dsSettings().outputIndex);
    EXPECT_EQ(-1, dsSettings().inputIndex);  // the input closes with it

    EXPECT_EQ(kDsNoInputDriver, dsApplySettings(outA, 99, 5, 20, 2, testWindow()));
    EXPECT_EQ(-1, dsSettings().outputIndex);  // the output closes with it

    EXPECT_EQ(kDsFormatRefused, dsApplySettings(outA, monitorB, 16, 20, 2, testWindow()));
    EXPECT_EQ(-1, dsSettings().outputIndex);
    EXPECT_EQ(-1, dsSettings().inputIndex);
    EXPECT_EQ(0, dsStop());  // nothing streams: at once
}

TEST_F(DirectSound, AFormatOutsideTheTableFailsTheStartBeforeAnyBuffer) {
    ASSERT_EQ(0, dsApplySettings(outA, monitorB, 5, 20, 2, testWindow()));
    dsSettings().formatIndex = 16;
    EXPECT_EQ(kDsCaptureFormatError, dsStart());
    EXPECT_FALSE(dsStreaming());
    dsSettings().formatIndex = 5;
    engine.blockSize = 0;  // no block: no buffer
    EXPECT_EQ(kDsCaptureSizeError, dsStart());
    EXPECT_FALSE(dsStreaming());
    engine.blockSize = 882;
    dsSettings().buffers = 1;  // raised to 2 at start
    ASSERT_EQ(0, dsStart());
    EXPECT_EQ(2, dsSettings().buffers);
    Sleep(300);
    EXPECT_EQ(0, dsStop());
    EXPECT_FALSE(dsStreaming());
    EXPECT_EQ(0u, engine.engineStatus.load() & (STATUS_PLAYBACK_ERROR | STATUS_CAPTURE_ERROR));
}

TEST_F(DirectSound, StartingAndStoppingInQuickSuccessionNeverHangs) {
    // 32 kHz, 16-bit, mono: Wine's capture takes no 24-bit format of this kind.
    ASSERT_EQ(0, dsApplySettings(outA, monitorB, 0, 5, 2, testWindow()));
    for (int round = 0; round < 10; ++round) {
        ASSERT_EQ(0, dsStart()) << round;
        EXPECT_TRUE(dsStreaming());
        Sleep(static_cast<DWORD>(round * 7));
        ASSERT_EQ(0, dsStop()) << round;
        EXPECT_FALSE(dsStreaming());
        engineRelease(engine);
    }
    // Closing a device stops the streaming first.
    ASSERT_EQ(0, dsStart());
    EXPECT_EQ(0, dsCloseInput());
    EXPECT_FALSE(dsStreaming());
    EXPECT_EQ(0u, engine.engineStatus.load() & (STATUS_PLAYBACK_ERROR | STATUS_CAPTURE_ERROR));
}

// ---- the loopback ----

// A harness capture of one monitor, running beside live input.
struct Recording {
    IDirectSoundCapture* device = nullptr;
    IDirectSoundCaptureBuffer* buffer = nullptr;
    DWORD bytes = 0;

    bool start(const DsDevice* source, DWORD seconds) {
        WAVEFORMATEX f = dsFormatRecord(5);
        bytes = f.nAvgBytesPerSec * seconds;
        DSCBUFFERDESC d{};
        d.dwSize = sizeof d;
        d.dwBufferBytes = bytes;
        d.lpwfxFormat = &f;
        return SUCCEEDED(DirectSoundCaptureCreate(static_cast<const GUID*>(source->id), &device, nullptr)) &&
               SUCCEEDED(device->CreateCaptureBuffer(&d, &buffer, nullptr)) && SUCCEEDED(buffer->Start(0));
    }
    // The left channel of everything captured, as floats.
    std::vector<float> stop() {
        std::vector<float> left;
        if (!buffer) return left;
        buffer->Stop();
        void* p = nullptr;
        DWORD n = 0;
        if (SUCCEEDED(buffer->Lock(0, bytes, &p, &n, nullptr, nullptr, 0))) {
            const auto* s = static_cast<const int16_t*>(p);
            for (DWORD i = 0; i + 1 < n / 2; i += 2) left.push_back(s[i] / 32768.0f);
            buffer->Unlock(p, n, nullptr, 0);
        }
        buffer->Release();
        device->Release();
        return left;
    }
};

// The signal played into QvOutB: 20 ms bursts of 1 kHz at amplitude 0.5,
// one every 2 s, looping.
struct Player {
    IDirectSound* device = nullptr;
    IDirectSoundBuffer* buffer = nullptr;

    bool start(const DsDevice* sink) {
        WAVEFORMATEX f = dsFormatRecord(5);
        const DWORD frames = 88200;
        DSBUFFERDESC d{};
        d.dwSize = sizeof d;
        d.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS;
        d.dwBufferBytes = frames * 4;
        d.lpwfxFormat = &f;
        if (FAILED(DirectSoundCreate(static_cast<const GUID*>(sink->id), &device, nullptr)) ||
            FAILED(device->SetCooperativeLevel(testWindow(), DSSCL_PRIORITY)) ||
            FAILED(device->CreateSoundBuffer(&d, &buffer, nullptr)))
            return false;
        void* p = nullptr;
        DWORD n = 0;
        if (FAILED(buffer->Lock(0, d.dwBufferBytes, &p, &n, nullptr, nullptr, 0))) return false;
        auto* s = static_cast<int16_t*>(p);
        for (DWORD i = 0; i < frames; ++i) {
            const double v = i < 882 ? 0.5 * std::sin(2 * 3.141592653589793 * 1000.0 * i / 44100.0) : 0.0;
            s[2 * i] = s[2 * i + 1] = static_cast<int16_t>(std::lround(v * 32767));
        }
        buffer->Unlock(p, n, nullptr, 0);
        return SUCCEEDED(buffer->Play(0, 0, DSBPLAY_LOOPING));
    }
    void stop() {
        if (buffer) {
            buffer->Stop();
            buffer->Release();
        }
        if (device) device->Release();
    }
};

// Sample indices where a burst begins (the level first passes 0.05 after
// 100 ms of quiet).
std::vector<size_t> onsets(const std::vector<float>& x, float threshold) {
    std::vector<size_t> found;
    size_t quiet = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        if (std::fabs(x[i]) >= threshold) {
            if (quiet >= 4410) found.push_back(i);
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return found;
}

float peakAfter(const std::vector<float>& x, size_t at, size_t length) {
    float peak = 0.0f;
    for (size_t i = at; i < x.size() && i < at + length; ++i) peak = std::max(peak, std::fabs(x[i]));
    return peak;
}

// Live input from "Monitor of QvOutB" back into QvOutB itself, with an
// input gain of 0.5: every burst played there comes round again and again,
// each time half as loud, one loop latency later. One recording of that
// monitor holds the burst and its echoes, so no two recordings need to be
// lined up.
TEST_F(DirectSound, LoopbackCarriesTheSignalScaledAndLateByTheBlockGeometry) {
    const uint32_t latencyMs = 20;
    ASSERT_EQ(0, dsApplySettings(outB, monitorB, 5, latencyMs, 3, testWindow()));
    engine.inputGain = 0.5f;
    ASSERT_EQ(0, dsStart());
    Recording recording;
    ASSERT_TRUE(recording.start(nodeAt(dsCaptureDevices(), monitorB), 6));
    Player player;
    ASSERT_TRUE(player.start(nodeAt(dsPlaybackDevices(), outB)));
    Sleep(5500);
    player.stop();
    const std::vector<float> heard = recording.stop();
    ASSERT_EQ(0, dsStop());
    EXPECT_EQ(0u, engine.engineStatus.load() & (STATUS_PLAYBACK_ERROR | STATUS_CAPTURE_ERROR));

    // Trains: a burst (peak about 0.5), then its echoes.
    const std::vector<size_t> found = onsets(heard, 0.02f);
    std::vector<double> loops, ratios;
    for (size_t i = 0; i + 1 < found.size(); ++i) {
        const double gap = (static_cast<double>(found[i + 1]) - static_cast<double>(found[i])) * 1000.0 / 44100.0;
        const float now = peakAfter(heard, found[i], 882), next = peakAfter(heard, found[i + 1], 882);
        if (gap > 1000.0 || next > now) continue;  // the next burst, not an echo
        loops.push_back(gap);
        ratios.push_back(next / now);
    }
    ASSERT_GE(loops.size(), 3u) << found.size() << " onsets";
    std::vector<double> sorted = loops;
    std::sort(sorted.begin(), sorted.end());
    const double loop = sorted[sorted.size() / 2];
    for (size_t i = 0; i < loops.size(); ++i) EXPECT_NEAR(0.5, ratios[i], 0.06) << "echo " << i;
    // Captured block k plays as block k + 2, the output delay after capture
    // began: two blocks and the output delay are the program's own share.
    // The sound system adds its devices' buffering, and under Wine that
    // share moves in steps of its own period while a run goes on, so every
    // round is checked against the geometry's minimum, not against the others.
    const double predicted = 2.0 * latencyMs + dsSettings().outputDelayMs;
    std::string rounds;
    for (double l : loops) rounds += " " + std::to_string(static_cast<int>(std::lround(l)));
    std::printf("loopback: %zu rounds at 20 ms blocks, median %.1f ms (rounds:%s); the block geometry accounts for "
                "%.1f ms, the sound system for the rest\n",
                loops.size(), loop, rounds.c_str(), predicted);
    for (double l : loops) {
        EXPECT_GE(l, predicted - 5.0) << rounds;
        EXPECT_LE(l, predicted + 400.0) << rounds;
    }
}

}  // namespace
