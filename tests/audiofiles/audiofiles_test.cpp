// The accompaniment player and the recorder, driven through the engine with
// the staged converter.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "audiofiles/accompaniment.h"
#include "audiofiles/recorder.h"
#include "common/bytes.h"
#include "streamconv/binding.h"
#include "tests/support/appfolder.h"
#include "tests/support/modules.h"

namespace {

struct WavSpec {
    uint16_t tag = 1, channels = 1;
    uint32_t rate = 44100;
    uint16_t bits = 16;
    uint16_t align = 0;      // 0: channels * bits / 8
    std::string between;     // a chunk between "fmt " and "data"
    int64_t dataSizeField = -1;  // -1: the real size
};

std::vector<uint8_t> wavBytes(const WavSpec& s, const std::vector<uint8_t>& data) {
    const uint16_t align = s.align ? s.align : static_cast<uint16_t>(s.channels * s.bits / 8);
    std::vector<uint8_t> f(44);
    std::memcpy(&f[0], "RIFF", 4);
    putU32(&f[4], static_cast<uint32_t>(36 + data.size()));
    std::memcpy(&f[8], "WAVEfmt ", 8);
    putU32(&f[16], 16);
    putU16(&f[20], s.tag);
    putU16(&f[22], s.channels);
    putU32(&f[24], s.rate);
    putU32(&f[28], s.rate * align);
    putU16(&f[32], align);
    putU16(&f[34], s.bits);
    f.resize(36);
    f.insert(f.end(), s.between.begin(), s.between.end());
    uint8_t header[8];
    std::memcpy(header, "data", 4);
    putU32(header + 4, s.dataSizeField >= 0 ? static_cast<uint32_t>(s.dataSizeField) : static_cast<uint32_t>(data.size()));
    f.insert(f.end(), header, header + 8);
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

std::vector<uint8_t> pcm16(const std::vector<int16_t>& samples) {
    std::vector<uint8_t> bytes(samples.size() * 2);
    for (size_t i = 0; i < samples.size(); ++i) putU16(&bytes[2 * i], static_cast<uint16_t>(samples[i]));
    return bytes;
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

class AudioFilesTest : public ::testing::Test {
protected:
    AppFolder folder;
    EngineState engine;

    void SetUp() override {
        ASSERT_TRUE(converterBind(stagePath(std::string("streamconv") + librarySuffix()).c_str()));
        accompanimentClose();
        fresh(gAccompaniment);
        fresh(gRecorder);
        accompanimentAttach(engine);
        recorderAttach(engine);
        engine.gateThreshold = 0.0f;
        engine.gateAttackMs = 0;
        engine.dcRemoverOn = false;
    }
    void TearDown() override {
        engineRelease(engine);
        accompanimentClose();
        fresh(gRecorder);
    }

    // The records hold atomics, so they are rebuilt in place.
    template <class T>
    static void fresh(T& record) {
        record.~T();
        new (&record) T();
    }

    std::string path(const std::string& name) { return folder.path() + name; }

    // Runs `blocks` blocks of a constant input; returns the left output.
    std::vector<float> run(int blocks, float input = 0.0f) {
        std::vector<float> out;
        for (int b = 0; b < blocks; ++b) {
            for (uint32_t i = 0; i < engine.blockSize; ++i) {
                engine.inputL[i] = input;
                if (engine.inputR) engine.inputR[i] = input;
            }
            processBlock(engine);
            out.insert(out.end(), engine.outputL, engine.outputL + engine.blockSize);
            right.insert(right.end(), engine.outputR ? engine.outputR : engine.outputL,
                         (engine.outputR ? engine.outputR : engine.outputL) + engine.blockSize);
        }
        return out;
    }
    std::vector<float> right;
};

using Accomp = AudioFilesTest;
using Record = AudioFilesTest;

}  // namespace

TEST_F(Accomp, EveryDamageHasItsMessageAndLeavesNothingOpen) {
    const std::vector<uint8_t> data = pcm16({1, 2, 3, 4});
    struct Case {
        std::vector<uint8_t> bytes;
        int32_t expected;
    };
    std::vector<uint8_t> notRiff = wavBytes({}, data), notWave = notRiff, notFmt = notRiff;
    notRiff[0] = 'X';
    notWave[8] = 'X';
    notFmt[12] = 'X';
    WavSpec list;
    list.between = std::string("LIST\x04\x00\x00\x00" "abcd", 12);
    WavSpec threeChannels;
    threeChannels.channels = 3;
    WavSpec zero;
    WavSpec beyond;
    beyond.dataSizeField = 0xFFFFFFF0;  // 64-bit arithmetic: no wrap past the check
    WavSpec odd;
    odd.align = 3;
    WavSpec noAlign;
    noAlign.align = 0;
    noAlign.bits = 0;
    const Case cases[] = {
        {notRiff, kAccompNoRiff},
        {notWave, kAccompNoWave},
        {notFmt, kAccompNoFmt},
        {wavBytes(list, data), kAccompNoData},
        {wavBytes(threeChannels, pcm16({1, 2, 3, 4, 5, 6})), kAccompUnsupported},
        {wavBytes(zero, {}), kAccompEmpty},
        {wavBytes(beyond, data), kAccompBeyondFile},
        {wavBytes(odd, data), kAccompBadAlignment},
        {wavBytes(noAlign, data), kAccompBadAlignment},
        {std::vector<uint8_t>(notRiff.begin(), notRiff.begin() + 2), kAccompCannotOpen},
        {std::vector<uint8_t>(data.begin(), data.begin()), kAccompCannotOpen},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        writeFile(path("bad.wav"), cases[i].bytes);
        EXPECT_EQ(cases[i].expected, accompanimentLoad(path("bad.wav").c_str())) << "case " << i;
        EXPECT_FALSE(accompanimentIsOpen()) << "case " << i;
    }
    EXPECT_EQ(kAccompCannotOpen, accompanimentLoad(path("missing.wav").c_str()));
}

TEST_F(Accomp, LoadSetsTheTitleAndCloseForgetsThePath) {
    writeFile(path("song.wav"), wavBytes({}, pcm16({1, 2})));
    ASSERT_EQ(0, accompanimentLoad(path("song.wav").c_str()));
    EXPECT_STREQ("song", gAccompaniment.title);
    EXPECT_EQ(path("song.wav"), std::string(gAccompaniment.path));
    accompanimentClose();
    EXPECT_STREQ("", gAccompaniment.path);
    EXPECT_STREQ("<no accompaniment>", gAccompaniment.title);
}

TEST_F(Accomp, LoopsWithASilentTailAndStopsAfterTheRequestedBlock) {
    // 100 frames of 0.5 at the engine's rate, 64-frame blocks: blocks of 64,
    // then 36 frames and 28 of silence, then from the start again.
    WavSpec stereo;
    stereo.channels = 2;
    writeFile(path("loop.wav"), wavBytes(stereo, pcm16(std::vector<int16_t>(200, 16384))));
    ASSERT_EQ(0, accompanimentLoad(path("loop.wav").c_str()));
    engine.blockSize = 64;
    ASSERT_EQ(0, engineConfigure(engine, 44100, true));
    std::vector<float> out = run(1);
    EXPECT_EQ(std::vector<float>(64, 0.0f), out);  // not playing yet
    accompanimentToggle();
    out = run(3);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(0.5f, out[i]) << i;
    for (int i = 100; i < 128; ++i) ASSERT_EQ(0.0f, out[i]) << i;
    for (int i = 128; i < 192; ++i) ASSERT_EQ(0.5f, out[i]) << i;
    EXPECT_EQ(0.5f, right[191 + 64]);

    accompanimentToggle();  // stop: the next block still plays
    out = run(2);
    EXPECT_EQ(0.5f, out[0]);
    EXPECT_EQ(0.0f, out[64]);
    EXPECT_FALSE(gAccompaniment.playing.load());
}

// A song change on stage replaces the file while blocks run: the files
// change places between blocks (the buffer follows the new format), the
// new one waits to be started, and a refused one leaves none open.
TEST_F(Accomp, ReplacingUnderRunningBlocksChangesFilesBetweenBlocks) {
    WavSpec stereo;
    stereo.channels = 2;
    writeFile(path("a.wav"), wavBytes(stereo, pcm16(std::vector<int16_t>(2000, 16384))));
    writeFile(path("b.wav"), wavBytes({1, 1, 22050, 16}, pcm16(std::vector<int16_t>(1000, 8192))));
    writeFile(path("bad.wav"), {'R', 'I', 'F', 'X', 0, 0, 0, 0});
    ASSERT_EQ(0, accompanimentLoad(path("a.wav").c_str()));
    engine.blockSize = 64;
    ASSERT_EQ(0, engineConfigure(engine, 44100, true));
    accompanimentStart();
    EXPECT_EQ(0.5f, run(1)[10]);

    std::atomic<bool> stop{false};
    std::thread blocks([&] {
        while (!stop.load()) processBlock(engine);
    });
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(0, accompanimentReplace(path(i % 2 ? "a.wav" : "b.wav").c_str()));
        accompanimentStart();
    }
    stop = true;
    blocks.join();

    EXPECT_EQ(path("a.wav"), gAccompaniment.path);
    ASSERT_EQ(0, accompanimentReplace(path("b.wav").c_str()));
    EXPECT_STREQ("b", gAccompaniment.title);
    EXPECT_EQ(0.0f, run(1)[10]);  // waiting to be started
    accompanimentStart();
    EXPECT_EQ(0.25f, run(2)[100]);

    EXPECT_EQ(kAccompNoRiff, accompanimentReplace(path("bad.wav").c_str()));
    EXPECT_FALSE(accompanimentIsOpen());
    EXPECT_STREQ("<no accompaniment>", gAccompaniment.title);
    EXPECT_EQ(0.0f, run(1)[10]);
    ASSERT_EQ(0, accompanimentReplace(path("a.wav").c_str()));
    EXPECT_EQ(0, accompanimentReplace(""));
    EXPECT_FALSE(accompanimentIsOpen());
    EXPECT_STREQ("", gAccompaniment.path);
}

TEST_F(Accomp, HalfRateMonoReadsHalfABlockAndFillsBothChannels) {
    writeFile(path("half.wav"), wavBytes({1, 1, 22050, 16}, pcm16(std::vector<int16_t>(22050, 8192))));
    ASSERT_EQ(0, accompanimentLoad(path("half.wav").c_str()));
    engine.blockSize = 512;
    ASSERT_EQ(0, engineConfigure(engine, 44100, true));
    accompanimentToggle();
    run(2);
    EXPECT_EQ(2u * 256 * 2, gAccompaniment.position.load());  // 256 frames of 2 bytes per block
    EXPECT_EQ(0.25f, right[700]);
    EXPECT_EQ(0.25f, right[700 - 1]);
}

TEST_F(Accomp, FractionalFramesPerBlockKeepTime) {
    // 44.1 kHz into a 48 kHz engine at 512 frames: 470.4 source frames per
    // block on average, never a frame lost.
    writeFile(path("a.wav"), wavBytes({}, pcm16(std::vector<int16_t>(441000, 100))));
    ASSERT_EQ(0, accompanimentLoad(path("a.wav").c_str()));
    engine.blockSize = 512;
    ASSERT_EQ(0, engineConfigure(engine, 48000, false));
    accompanimentToggle();
    run(500);
    EXPECT_EQ(500ull * 512 * 44100 / 48000 * 2, gAccompaniment.position.load());
}

TEST_F(Accomp, StartPositionFallsOnAFrameAndAnyStatusBitMutes) {
    WavSpec stereo;
    stereo.channels = 2;
    std::vector<int16_t> ramp;
    for (int i = 0; i < 1000; ++i) ramp.push_back(static_cast<int16_t>(i)), ramp.push_back(0);
    writeFile(path("ramp.wav"), wavBytes(stereo, pcm16(ramp)));
    ASSERT_EQ(0, accompanimentLoad(path("ramp.wav").c_str()));
    accompanimentSetStart(333);
    EXPECT_EQ(333u * 4, gAccompaniment.startPosition.load());
    engine.blockSize = 16;
    ASSERT_EQ(0, engineConfigure(engine, 44100, true));
    accompanimentToggle();
    engine.engineStatus = STATUS_RESTART_REQUEST;
    EXPECT_EQ(std::vector<float>(16, 0.0f), run(1));
    engine.engineStatus = 0;
    std::vector<float> out = run(1);
    EXPECT_EQ(333.0f / 32768, out[0]);
    EXPECT_EQ(348.0f / 32768, out[15]);
}

TEST_F(Accomp, APressWhileAStopIsPendingPlaysOnAndTheExplicitFormsRepeatHarmlessly) {
    writeFile(path("on.wav"), wavBytes({}, pcm16(std::vector<int16_t>(4000, 16384))));
    ASSERT_EQ(0, accompanimentLoad(path("on.wav").c_str()));
    int barChanges = 0;
    static int* counter = nullptr;
    counter = &barChanges;
    gAccompaniment.barChanged = [] { ++*counter; };
    engine.blockSize = 32;
    ASSERT_EQ(0, engineConfigure(engine, 44100, false));

    accompanimentStart();
    EXPECT_TRUE(accompanimentShowsPlaying());
    run(1);
    accompanimentStart();  // already playing: no second stream reset, no new start
    EXPECT_FALSE(gAccompaniment.resetRequest.load());

    accompanimentToggle();  // stop asked for, not yet served
    EXPECT_TRUE(gAccompaniment.playing.load());
    EXPECT_FALSE(accompanimentShowsPlaying());
    accompanimentToggle();  // the button offered play: playback goes on
    EXPECT_TRUE(accompanimentShowsPlaying());
    EXPECT_FALSE(gAccompaniment.resetRequest.load());  // no reset in mid-stream
    std::vector<float> out = run(2);
    EXPECT_EQ(0.5f, out[63]);
    EXPECT_TRUE(gAccompaniment.playing.load());

    accompanimentStop();
    accompanimentStop();
    run(1);
    EXPECT_FALSE(gAccompaniment.playing.load());
    accompanimentStop();  // stopped: nothing to ask for
    EXPECT_FALSE(gAccompaniment.stopRequest.load());
    EXPECT_EQ(4, barChanges);  // start, toggle, toggle, stop; the repeats change nothing
    gAccompaniment.barChanged = nullptr;
}

TEST_F(Accomp, HaltServesAStopThatNoBlockWillServe) {
    // Blocks with a status bit set leave the accompaniment alone, and after
    // live input stops there are no blocks at all: the stop is served by hand.
    writeFile(path("halt.wav"), wavBytes({}, pcm16(std::vector<int16_t>(4000, 100))));
    ASSERT_EQ(0, accompanimentLoad(path("halt.wav").c_str()));
    engine.blockSize = 32;
    ASSERT_EQ(0, engineConfigure(engine, 44100, false));
    accompanimentStart();
    accompanimentStop();
    engine.engineStatus = STATUS_CAPTURE_ERROR;
    run(3);
    EXPECT_TRUE(gAccompaniment.playing.load());
    EXPECT_TRUE(gAccompaniment.stopRequest.load());
    accompanimentHalt();
    EXPECT_FALSE(gAccompaniment.playing.load());
    EXPECT_FALSE(gAccompaniment.stopRequest.load());
    EXPECT_FALSE(accompanimentShowsPlaying());
    accompanimentStart();  // the next run starts cleanly
    EXPECT_TRUE(accompanimentShowsPlaying());
    EXPECT_TRUE(gAccompaniment.resetRequest.load());
}

TEST_F(Accomp, TheTrackbarsStartPositionIsCutToWholeFrames) {
    gAccompaniment.format.nBlockAlign = 4;
    gAccompaniment.dataSize = 1000;
    accompanimentSetStart(500);
    EXPECT_EQ(500u, gAccompaniment.startPosition.load());
    EXPECT_TRUE(gAccompaniment.restartRequest.load());
    gAccompaniment.dataSize = 1002;
    accompanimentSetStart(500);
    EXPECT_EQ(500u, gAccompaniment.startPosition.load());
    accompanimentSetStart(1000);
    EXPECT_EQ(1000u, gAccompaniment.startPosition.load());
    gAccompaniment.format.nBlockAlign = 0;
    gAccompaniment.dataSize = 0;
}

TEST_F(Record, FormatTableRowsAndHeader) {
    StreamFormat f = recordStreamFormat(13);
    EXPECT_EQ(44100u, f.nSamplesPerSec);
    EXPECT_EQ(6, f.nBlockAlign);
    EXPECT_EQ(264600u, f.nAvgBytesPerSec);
    EXPECT_EQ(24, f.wBitsPerSample);
    EXPECT_EQ(2, f.nChannels);
    f = recordStreamFormat(2);
    EXPECT_EQ(48000u, f.nSamplesPerSec);
    EXPECT_EQ(1, f.nChannels);
    EXPECT_EQ(16, f.wBitsPerSample);
    EXPECT_EQ(10, recorderLimitSeconds(5));
    EXPECT_EQ(600, recorderLimitSeconds(1000));
}

TEST_F(Record, FileRecordingHoldsEveryBlockWithFinalSizes) {
    std::snprintf(gRecorder.target, sizeof gRecorder.target, "%s", path("take.wav").c_str());
    gRecorder.formatIndex = 5;  // 44100, 16-bit, stereo
    ASSERT_EQ(0, recorderStart());
    engine.blockSize = 64;
    ASSERT_EQ(0, engineConfigure(engine, 44100, true));
    run(10, 0.25f);
    ASSERT_EQ(0, recorderStop());
    std::vector<uint8_t> file = readFile(path("take.wav"));
    ASSERT_EQ(44u + 640 * 4, file.size());
    EXPECT_EQ(0, std::memcmp(file.data(), "RIFF", 4));
    EXPECT_EQ(640u * 4 + 36, getU32(&file[4]));
    EXPECT_EQ(640u * 4, getU32(&file[40]));
    EXPECT_EQ(176400u, getU32(&file[28]));
    EXPECT_EQ(8192, static_cast<int16_t>(getU16(&file[44])));
    EXPECT_EQ(8192, static_cast<int16_t>(getU16(&file[file.size() - 2])));
}

// Live input restarts in the middle of a take when the driver asks for it
// or changes its size or rate: the engine is released and configured again
// (here at another block size and rate). The take goes on in the same file
// or memory: nothing recorded before is overwritten and the header counts
// every frame.
TEST_F(Record, ATakeGoesOnAcrossALiveInputRestart) {
    for (bool memory : {false, true}) {
        std::snprintf(gRecorder.target, sizeof gRecorder.target, "%s", path("restart.wav").c_str());
        gRecorder.formatIndex = 5;  // 44100, 16-bit, stereo
        gRecorder.ramMode = memory;
        gRecorder.maxSeconds = 10;
        gRecorder.askStore = [] { return true; };
        ASSERT_EQ(0, recorderStart());
        engine.blockSize = 64;
        ASSERT_EQ(0, engineConfigure(engine, 44100, true));
        run(10, 0.25f);
        engineRelease(engine);
        engine.blockSize = 128;
        ASSERT_EQ(0, engineConfigure(engine, 48000, true));
        EXPECT_EQ(640u, gRecorder.framesRecorded.load()) << memory;
        run(75, -0.5f);  // 75 x 128 x 44100 / 48000 = 8820 frames
        EXPECT_EQ(640u + 8820u, gRecorder.framesRecorded.load()) << memory;
        ASSERT_EQ(0, recorderStop());
        const std::vector<uint8_t> file = readFile(path("restart.wav"));
        ASSERT_EQ(44u + 9460 * 4, file.size()) << memory;
        EXPECT_EQ(9460u * 4, getU32(&file[40]));
        EXPECT_EQ(9460u * 4 + 36, getU32(&file[4]));
        EXPECT_EQ(8192, static_cast<int16_t>(getU16(&file[44])));
        EXPECT_EQ(8192, static_cast<int16_t>(getU16(&file[44 + 639 * 4])));
        EXPECT_EQ(-16384, static_cast<int16_t>(getU16(&file[44 + 700 * 4])));
        EXPECT_EQ(-16384, static_cast<int16_t>(getU16(&file[file.size() - 2])));
        std::filesystem::remove(path("restart.wav"));
        engineRelease(engine);
    }
}

// While a file take runs, its header on disk is a valid one for what
// reached the disk, brought up to date every second of time or of audio:
// a crash loses no more than that. Memory takes have nothing on disk.
TEST_F(Record, TheHeaderOfARunningTakeIsKeptUpToDate) {
    std::snprintf(gRecorder.target, sizeof gRecorder.target, "%s", path("kept.wav").c_str());
    gRecorder.formatIndex = 5;
    ASSERT_EQ(0, recorderStart());
    engine.blockSize = 441;
    ASSERT_EQ(0, engineConfigure(engine, 44100, true));
    EXPECT_FALSE(recorderKeepHeader(0));  // nothing recorded yet
    auto onDisk = [&] {
        const std::vector<uint8_t> f = readFile(path("kept.wav"));
        EXPECT_EQ(getU32(&f[40]) + 36, getU32(&f[4]));
        EXPECT_LE(getU32(&f[40]), f.size() - 44);
        return getU32(&f[40]) / 4;
    };
    EXPECT_EQ(0u, onDisk());  // the header is on disk from the start
    run(1, 0.25f);
    EXPECT_TRUE(recorderKeepHeader(10));  // the first block is written at once
    const uint32_t first = onDisk();
    EXPECT_LE(first, 441u);
    run(50, 0.25f);
    EXPECT_FALSE(recorderKeepHeader(500));  // half a second of either
    run(50, 0.25f);
    EXPECT_TRUE(recorderKeepHeader(600));  // a second of audio
    EXPECT_GE(onDisk(), first);
    run(1, 0.25f);
    platformFileFlush(gRecorder.file);  // all of it on disk: the header counts all of it
    EXPECT_TRUE(recorderKeepHeader(1600));  // a second of time
    EXPECT_EQ(102u * 441u, onDisk());
    ASSERT_EQ(0, recorderStop());
    EXPECT_EQ(102u * 441u, onDisk());

    gRecorder.ramMode = true;
    engineRelease(engine);
    ASSERT_EQ(0, recorderStart());
    ASSERT_EQ(0, engineConfigure(engine, 44100, true));
    run(200, 0.25f);
    EXPECT_FALSE(recorderKeepHeader(5000));
    gRecorder.askStore = [] { return false; };
    ASSERT_EQ(0, recorderStop());
}

TEST_F(Record, RecordingAtAnotherRateKeepsTime) {
    std::snprintf(gRecorder.target, sizeof gRecorder.target, "%s", path("rate.wav").c_str());
    gRecorder.formatIndex = 1;  // 44100 mono
    ASSERT_EQ(0, recorderStart());
    engine.blockSize = 512;
    ASSERT_EQ(0, engineConfigure(engine, 48000, true));
    run(100, 0.5f);
    EXPECT_EQ(100u * 512 * 44100 / 48000, gRecorder.framesRecorded.load());
    ASSERT_EQ(0, recorderStop());
    EXPECT_EQ(44u + 47040 * 2, readFile(path("rate.wav")).size());
}

TEST_F(Record, MemoryRecordingStopsWhenFullAndIsStoredOrDiscarded) {
    for (bool store : {true, false}) {
        std::snprintf(gRecorder.target, sizeof gRecorder.target, "%s", path("ram.wav").c_str());
        gRecorder.formatIndex = 5;
        gRecorder.ramMode = true;
        gRecorder.maxSeconds = 10;
        static bool answer;
        answer = store;
        gRecorder.askStore = [] { return answer; };
        ASSERT_EQ(0, recorderStart());
        EXPECT_EQ(1764000u, gRecorder.poolSize);
        engine.blockSize = 1000;  // 441 blocks fill the pool exactly
        ASSERT_EQ(0, engineConfigure(engine, 44100, true));
        run(440, 0.5f);
        EXPECT_EQ(0u, engine.engineStatus.load() & STATUS_RECORD_FULL);
        run(3, 0.5f);
        EXPECT_NE(0u, engine.engineStatus.load() & STATUS_RECORD_FULL);
        EXPECT_EQ(441000u, gRecorder.framesRecorded.load());
        ASSERT_EQ(0, recorderStop());
        EXPECT_EQ(store, std::filesystem::exists(path("ram.wav")));
        if (store) EXPECT_EQ(44u + 1764000, std::filesystem::file_size(path("ram.wav")));
        std::filesystem::remove(path("ram.wav"));
        engineRelease(engine);
    }
}

TEST_F(Record, ALastBlockThatDoesNotFitIsShortened) {
    std::snprintf(gRecorder.target, sizeof gRecorder.target, "%s", path("short.wav").c_str());
    gRecorder.formatIndex = 4;  // 32000, 16-bit stereo
    gRecorder.ramMode = true;
    gRecorder.maxSeconds = 10;  // 320000 frames
    ASSERT_EQ(0, recorderStart());
    engine.blockSize = 700;
    ASSERT_EQ(0, engineConfigure(engine, 32000, true));
    run(460, 0.5f);
    EXPECT_EQ(320000u, gRecorder.framesRecorded.load());
    EXPECT_NE(0u, engine.engineStatus.load() & STATUS_RECORD_FULL);
    run(3, 0.5f);
    EXPECT_EQ(320000u, gRecorder.framesRecorded.load());
    ASSERT_EQ(0, recorderStop());
}

TEST_F(Record, RefusesTheAccompanimentsFileAndAnUncreatableOne) {
    writeFile(path("song.wav"), wavBytes({}, pcm16({1, 2})));
    ASSERT_EQ(0, accompanimentLoad(path("song.wav").c_str()));
    gRecorder.accompanimentPath = [] { return static_cast<const char*>(gAccompaniment.path); };
    std::snprintf(gRecorder.target, sizeof gRecorder.target, "%s", path("song.wav").c_str());
    EXPECT_EQ(kRecordIsAccompaniment, recorderStart());
    std::snprintf(gRecorder.target, sizeof gRecorder.target, "%s", folder.path().c_str());
    EXPECT_EQ(kRecordCannotCreate, recorderStart());
    EXPECT_FALSE(gRecorder.recording.load());
}

// ---- a take is never destroyed ----

namespace {

// A recording file whose disk takes `budget` bytes, then `lost` more that
// are accepted but never arrive (a buffer that cannot be flushed), then
// fails. `partial`: the failing write moves what is left of the budget and
// says so instead of -1.
struct FailingDisk {
    long budget = 0;
    long lost = 0;
    bool partial = false;
    int writes = 0;
};
FailingDisk disk;

long failingWrite(PlatformFile file, const void* data, long size) {
    ++disk.writes;
    if (size <= disk.budget) {
        disk.budget -= size;
        return platformFileWrite(file, data, size);
    }
    if (disk.budget == 0 && size <= disk.lost) {
        disk.lost -= size;
        return size;
    }
    const long moved = disk.partial ? platformFileWrite(file, data, disk.budget) : -1;
    disk.budget = 0;
    disk.lost = 0;
    return moved;
}

}  // namespace

TEST_F(Record, AWriteErrorKeepsTheTakeWithTheWholeFramesThatReachedTheFile) {
    std::snprintf(gRecorder.target, sizeof gRecorder.target, "%s", path("partial.wav").c_str());
    gRecorder.formatIndex = 5;  // 4 bytes a frame
    gRecorder.writeFile = failingWrite;
    disk = FailingDisk{5 * 256 + 10, 0, true};  // five 64-frame blocks and 2.5 frames
    ASSERT_EQ(0, recorderStart());
    engine.blockSize = 64;
    ASSERT_EQ(0, engineConfigure(engine, 44100, true));
    run(6, 0.25f);
    EXPECT_NE(0u, engine.engineStatus.load() & STATUS_RECORD_WRITE_ERROR);
    EXPECT_EQ(5u * 64 + 2, gRecorder.framesRecorded.load());
    run(4, 0.25f);  // the feed has stopped
    EXPECT_EQ(6, disk.writes);
    // The refresh timer takes the bit before it stops the recording.
    engine.engineStatus.fetch_and(~STATUS_RECORD_WRITE_ERROR);
    EXPECT_EQ(0, recorderStop());
    const std::vector<uint8_t> file = readFile(path("partial.wav"));
    ASSERT_EQ(44u + 5 * 256 + 10, file.size());
    EXPECT_EQ(5u * 256 + 8, getU32(&file[40]));
    EXPECT_EQ(5u * 256 + 8 + 36, getU32(&file[4]));
    EXPECT_EQ(8192, static_cast<int16_t>(getU16(&file[44 + 5 * 256 + 6])));
}

TEST_F(Record, AWriteErrorAfterBlocksLostInABufferSizesTheFileByWhatIsOnDisk) {
    std::snprintf(gRecorder.target, sizeof gRecorder.target, "%s", path("lost.wav").c_str());
    gRecorder.formatIndex = 1;  // 2 bytes a frame
    gRecorder.writeFile = failingWrite;
    disk = FailingDisk{3 * 128, 2 * 128, false};
    ASSERT_EQ(0, recorderStart());
    engine.blockSize = 64;
    ASSERT_EQ(0, engineConfigure(engine, 44100, false));
    run(8, 0.5f);
    EXPECT_EQ(5u * 64, gRecorder.framesRecorded.load());  // counted, but only three arrived
    EXPECT_EQ(0, recorderStop());  // the bit still set: the dialog's stop reports it
    const std::vector<uint8_t> file = readFile(path("lost.wav"));
    ASSERT_EQ(44u + 3 * 128, file.size());
    EXPECT_EQ(3u * 128, getU32(&file[40]));
    EXPECT_EQ(3u * 128 + 36, getU32(&file[4]));
    EXPECT_EQ(0u, engine.engineStatus.load());
}

TEST_F(Record, AFileRecordingStopsAsFullBeforeTheHeadersLimit) {
    EXPECT_EQ(0xFFFFFFFFu, kRecordDataLimit + 36);
    std::snprintf(gRecorder.target, sizeof gRecorder.target, "%s", path("full.wav").c_str());
    gRecorder.formatIndex = 5;
    gRecorder.dataLimit = 1002;  // 250.5 frames: the last block is cut to whole frames
    ASSERT_EQ(0, recorderStart());
    engine.blockSize = 64;
    ASSERT_EQ(0, engineConfigure(engine, 44100, true));
    run(3, 0.25f);
    EXPECT_EQ(0u, engine.engineStatus.load() & STATUS_RECORD_FULL);
    run(1, 0.25f);
    EXPECT_NE(0u, engine.engineStatus.load() & STATUS_RECORD_FULL);
    EXPECT_EQ(250u, gRecorder.framesRecorded.load());
    run(3, 0.25f);
    EXPECT_EQ(250u, gRecorder.framesRecorded.load());
    ASSERT_EQ(0, recorderStop());
    const std::vector<uint8_t> file = readFile(path("full.wav"));
    ASSERT_EQ(44u + 1000, file.size());
    EXPECT_EQ(1000u, getU32(&file[40]));
    EXPECT_EQ(8192, static_cast<int16_t>(getU16(&file[file.size() - 2])));
}

TEST_F(Record, StartingAgainOntoAnExistingFileAsksUnlessTheSaveDialogJustDid) {
    std::snprintf(gRecorder.target, sizeof gRecorder.target, "%s", path("again.wav").c_str());
    writeFile(path("again.wav"), wavBytes({}, pcm16({1, 2, 3})));
    static int asked;
    static bool answer;
    asked = 0;
    gRecorder.confirmOverwrite = [](const char*) { return ++asked, answer; };
    gRecorder.targetConfirmed = true;  // chosen in the save dialog
    ASSERT_EQ(0, recorderStart());
    EXPECT_EQ(0, asked);
    engine.blockSize = 64;
    ASSERT_EQ(0, engineConfigure(engine, 44100, true));
    run(2, 0.25f);
    ASSERT_EQ(0, recorderStop());
    engineRelease(engine);
    const std::vector<uint8_t> take = readFile(path("again.wav"));
    ASSERT_EQ(44u + 2 * 256, take.size());

    answer = false;
    EXPECT_EQ(0, recorderStart());
    EXPECT_EQ(1, asked);
    EXPECT_FALSE(gRecorder.recording.load());
    EXPECT_EQ(take, readFile(path("again.wav")));

    answer = true;
    ASSERT_EQ(0, recorderStart());
    EXPECT_EQ(2, asked);
    EXPECT_TRUE(gRecorder.recording.load());
    ASSERT_EQ(0, recorderStop());
    EXPECT_EQ(44u, readFile(path("again.wav")).size());
}

TEST_F(Record, TheAccompanimentsFileIsRefusedUnderAnySpellingOfItsPath) {
    writeFile(path("song.wav"), wavBytes({}, pcm16({1, 2})));
    ASSERT_EQ(0, accompanimentLoad(path("song.wav").c_str()));
    gRecorder.accompanimentPath = [] { return static_cast<const char*>(gAccompaniment.path); };
    // The platform's long form: a short name and a dot folder both resolve.
    gRecorder.fullPath = [](const char* in, char* out, size_t size) {
        std::string s(in);
        for (const auto& [from, to] : {std::pair<std::string, std::string>{"SONG~1.WAV", "song.wav"},
                                       {"/./", "/"}, {"\\./", "\\"}, {"\\.\\", "\\"}})
            if (const size_t at = s.find(from); at != std::string::npos) s.replace(at, from.size(), to);
        return std::snprintf(out, size, "%s", s.c_str()) < static_cast<int>(size);
    };
    const std::string folderPath = folder.path();
    std::string upper = path("SONG.WAV");
    EXPECT_EQ(kRecordIsAccompaniment, recorderCheckTarget(upper.c_str()));
    EXPECT_EQ(kRecordIsAccompaniment, recorderCheckTarget(path("SONG~1.WAV").c_str()));
    EXPECT_EQ(kRecordIsAccompaniment, recorderCheckTarget((folderPath + "./song.wav").c_str()));
    EXPECT_EQ(0, recorderCheckTarget(path("song.wav.wav").c_str()));
    EXPECT_EQ(0, recorderCheckTarget(path("son.wav").c_str()));
    std::snprintf(gRecorder.target, sizeof gRecorder.target, "%s", path("SONG~1.WAV").c_str());
    EXPECT_EQ(kRecordIsAccompaniment, recorderStart());
    EXPECT_FALSE(gRecorder.recording.load());
    EXPECT_EQ(wavBytes({}, pcm16({1, 2})), readFile(path("song.wav")));
}

TEST_F(Record, AFailedStoreOffersAnotherFileBeforeTheMemoryIsReleased) {
    static std::vector<int32_t> offered;
    static std::string another;
    static bool accept;
    gRecorder.askStore = [] { return true; };
    gRecorder.offerAnotherTarget = [](int32_t failure) {
        offered.push_back(failure);
        if (!accept) return false;
        std::snprintf(gRecorder.target, sizeof gRecorder.target, "%s", another.c_str());
        disk.budget = 1 << 30;  // the other disk has room
        return true;
    };
    gRecorder.writeFile = failingWrite;
    for (bool take : {true, false}) {
        offered.clear();
        accept = take;
        another = path(take ? "second.wav" : "never.wav");
        // The folder of the first target does not exist: 175.
        std::snprintf(gRecorder.target, sizeof gRecorder.target, "%s", path("gone/first.wav").c_str());
        gRecorder.ramMode = true;
        gRecorder.maxSeconds = 10;
        gRecorder.formatIndex = 5;
        ASSERT_EQ(0, recorderStart());
        engine.blockSize = 100;
        ASSERT_EQ(0, engineConfigure(engine, 44100, true));
        run(5, 0.5f);
        EXPECT_EQ(0, recorderStop());
        ASSERT_EQ(1u, offered.size());
        EXPECT_EQ(kRecordCannotCreate, offered[0]);
        EXPECT_EQ(take, std::filesystem::exists(another));
        if (take) EXPECT_EQ(44u + 500 * 4, readFile(another).size());
        EXPECT_EQ(nullptr, gRecorder.pool);
        engineRelease(engine);
    }
}

TEST_F(Record, AShortStoreKeepsWhatReachedTheDiskAndStoresAgainElsewhere) {
    static std::vector<int32_t> offered;
    gRecorder.askStore = [] { return true; };
    gRecorder.offerAnotherTarget = [](int32_t failure) {
        offered.push_back(failure);
        std::snprintf(gRecorder.target, sizeof gRecorder.target, "%s", (std::string(gRecorder.target) + "2").c_str());
        disk.budget = 1 << 30;
        return true;
    };
    gRecorder.writeFile = failingWrite;
    disk = FailingDisk{1000, 0, true};
    std::snprintf(gRecorder.target, sizeof gRecorder.target, "%s", path("store.wav").c_str());
    gRecorder.ramMode = true;
    gRecorder.maxSeconds = 10;
    gRecorder.formatIndex = 13;  // 6 bytes a frame
    ASSERT_EQ(0, recorderStart());
    engine.blockSize = 100;
    ASSERT_EQ(0, engineConfigure(engine, 44100, true));
    run(5, 0.5f);
    EXPECT_EQ(0, recorderStop());
    EXPECT_EQ(std::vector<int32_t>{kRecordPoolWriteError}, offered);
    const std::vector<uint8_t> partial = readFile(path("store.wav"));
    ASSERT_EQ(44u + 1000, partial.size());
    EXPECT_EQ(996u, getU32(&partial[40]));  // 166 whole frames
    EXPECT_EQ(44u + 3000, readFile(path("store.wav2")).size());
}

// The disk of a running take is taken away (here: the file is moved, which
// looks the same to the path): the watch stops the take as a write error,
// and the file gets the sizes of what it holds through the open handle.
TEST_F(Record, ATakeWhoseFileIsGoneStopsAndKeepsItsLastHeader) {
#if defined(_WIN32)
    // Windows moves no file that is open for writing; the end-to-end
    // disk-full scenario takes the drive away from under the program instead.
    GTEST_SKIP() << "an open file cannot be moved here";
#endif
    std::snprintf(gRecorder.target, sizeof gRecorder.target, "%s", path("gone.wav").c_str());
    gRecorder.formatIndex = 5;
    ASSERT_EQ(0, recorderStart());
    engine.blockSize = 441;
    ASSERT_EQ(0, engineConfigure(engine, 44100, true));
    run(120, 0.25f);
    platformFileFlush(gRecorder.file);
    ASSERT_TRUE(recorderKeepHeader(0));
    std::filesystem::rename(path("gone.wav"), path("moved.wav"));
    recorderWatchFile();
    EXPECT_NE(0u, engine.engineStatus.load() & STATUS_RECORD_WRITE_ERROR);
    run(10, 0.25f);  // stopped: nothing more is counted
    EXPECT_EQ(0, recorderStop());  // the failure was the status bit's to report
    const std::vector<uint8_t> file = readFile(path("moved.wav"));
    ASSERT_EQ(44u + 120 * 441 * 4, file.size());
    EXPECT_EQ(120u * 441 * 4, getU32(&file[40]));
    EXPECT_EQ(getU32(&file[40]) + 36, getU32(&file[4]));
}

TEST_F(Record, AFileThatStopsGrowingWhileBlocksAreCountedIsAWriteError) {
    std::snprintf(gRecorder.target, sizeof gRecorder.target, "%s", path("silent.wav").c_str());
    gRecorder.formatIndex = 5;
    gRecorder.writeFile = failingWrite;
    // 16 KiB blocks: four reach the disk, then writes vanish without a word.
    disk = FailingDisk{4 * 16384, 1 << 30, false};
    ASSERT_EQ(0, recorderStart());
    engine.blockSize = 4096;
    ASSERT_EQ(0, engineConfigure(engine, 44100, true));
    run(4 + static_cast<int>(kRecordWriteSlack / 16384) - 1, 0.25f);
    recorderWatchFile();
    EXPECT_EQ(0u, engine.engineStatus.load() & STATUS_RECORD_WRITE_ERROR);  // within the slack
    run(2, 0.25f);
    recorderWatchFile();
    EXPECT_NE(0u, engine.engineStatus.load() & STATUS_RECORD_WRITE_ERROR);
    const uint32_t counted = gRecorder.framesRecorded.load();
    run(2, 0.25f);
    EXPECT_EQ(counted, gRecorder.framesRecorded.load());
    EXPECT_EQ(0, recorderStop());
    const std::vector<uint8_t> file = readFile(path("silent.wav"));
    ASSERT_EQ(44u + 4 * 16384, file.size());
    EXPECT_EQ(4u * 16384, getU32(&file[40]));
    EXPECT_EQ(4u * 16384 + 36, getU32(&file[4]));
}
