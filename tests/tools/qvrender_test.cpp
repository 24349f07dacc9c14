// qvrender from the stage, run as a user runs it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "common/bytes.h"
#include "tests/support/appfolder.h"
#include "tests/support/modules.h"
#include "platform/platform.h"

namespace {

class QvRender : public ::testing::Test {
protected:
    AppFolder folder;

    std::string path(const std::string& name) { return folder.path() + name; }

    // Runs the staged tool; returns its exit code and keeps its error output.
    // Each run writes its errors to a file of its own: under Wine the first
    // program of a session that needs a desktop starts the desktop process,
    // which keeps that program's standard handles open for as long as it
    // runs, and the shell then cannot redirect into that file again.
    int run(const std::string& arguments) {
        const std::string tool = stagePath(std::string("qvrender") + (librarySuffix() == ".dll" ? ".exe" : ""));
        const std::string errorFile = path("err" + std::to_string(++runs) + ".txt");
        const std::string command = "\"" + tool + "\" " + arguments + " 2> \"" + errorFile + "\"";
#if defined(_WIN32)
        int status = std::system(("\"" + command + "\"").c_str());
#else
        int status = std::system(command.c_str());
        status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
        std::ifstream in(errorFile);
        errors.assign(std::istreambuf_iterator<char>(in), {});
        return status;
    }

    // A 16-bit WAV of the given samples (interleaved).
    void writeWav(const std::string& name, uint16_t channels, uint32_t rate, const std::vector<int16_t>& samples) {
        std::vector<uint8_t> f(44 + samples.size() * 2);
        std::memcpy(&f[0], "RIFF", 4);
        putU32(&f[4], static_cast<uint32_t>(f.size() - 8));
        std::memcpy(&f[8], "WAVEfmt ", 8);
        putU32(&f[16], 16);
        putU16(&f[20], 1);
        putU16(&f[22], channels);
        putU32(&f[24], rate);
        putU32(&f[28], rate * channels * 2);
        putU16(&f[32], static_cast<uint16_t>(channels * 2));
        putU16(&f[34], 16);
        std::memcpy(&f[36], "data", 4);
        putU32(&f[40], static_cast<uint32_t>(samples.size() * 2));
        for (size_t i = 0; i < samples.size(); ++i) putU16(&f[44 + 2 * i], static_cast<uint16_t>(samples[i]));
        std::ofstream(path(name), std::ios::binary).write(reinterpret_cast<const char*>(f.data()),
                                                          static_cast<std::streamsize>(f.size()));
    }

    std::vector<uint8_t> read(const std::string& name) {
        std::ifstream in(path(name), std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

    std::string errors;
    int runs = 0;
};

}  // namespace

TEST_F(QvRender, NeutralSettingsGiveTheInputBackAt24BitsWithItsLength) {
    std::vector<int16_t> samples;
    for (int i = 0; i < 3000; ++i) samples.push_back(static_cast<int16_t>((i * 37) % 20000 - 10000));
    writeWav("in.wav", 1, 48000, samples);
    ASSERT_EQ(0, run("--quiet --gate-threshold 0 --gate-attack 0 --dc-remover off --block 256 \"" + path("in.wav") +
                     "\" \"" + path("out.wav") + "\""))
        << errors;
    std::vector<uint8_t> out = read("out.wav");
    ASSERT_EQ(44u + 3000 * 3, out.size());
    EXPECT_EQ(1, getU16(&out[22]));
    EXPECT_EQ(48000u, getU32(&out[24]));
    EXPECT_EQ(24, getU16(&out[34]));
    EXPECT_EQ(3000u * 3, getU32(&out[40]));
    for (int i = 0; i < 3000; ++i) {
        const uint8_t* p = &out[44 + 3 * i];
        const int32_t v = static_cast<int32_t>((p[0] << 8) | (p[1] << 16) | (static_cast<uint32_t>(p[2]) << 24)) >> 8;
        const int32_t expected = static_cast<int32_t>(static_cast<double>(samples[i] / 32768.0f) * 8388607.0);
        ASSERT_EQ(expected, v) << i;
    }
}

TEST_F(QvRender, FailuresPrintTheirMessageAndExitNonZero) {
    EXPECT_EQ(2, run("--block x a.wav b.wav"));
    EXPECT_EQ(2, run("only-one.wav"));
    EXPECT_NE(0, run("\"" + path("missing.wav") + "\" \"" + path("o.wav") + "\""));
    writeWav("in.wav", 2, 44100, std::vector<int16_t>(200, 0));
    std::ofstream(path("bad.qvp"), std::ios::binary) << "PERX";
    EXPECT_EQ(1, run("--quiet --performance \"" + path("bad.qvp") + "\" \"" + path("in.wav") + "\" \"" +
                     path("o.wav") + "\""));
    EXPECT_NE(std::string::npos, errors.find("File is damaged")) << errors;
    EXPECT_EQ(1, run("--quiet --accompaniment \"" + path("in.wav") + "x\" \"" + path("in.wav") + "\" \"" +
                     path("o.wav") + "\""));
    EXPECT_NE(std::string::npos, errors.find("Unable to open accompaniment file")) << errors;
}

TEST_F(QvRender, PerformanceWhoseAccompanimentIsMissingFailsWithItsMessage) {
    const std::string missing = path("gone.wav");
    std::vector<uint8_t> perf = {'P', 'E', 'R', 'F', 0, 0, 0xF2, 0x42, 'A', 'C', 'C', 'O', 'M', 'P',
                                 static_cast<uint8_t>(missing.size()), 0};
    perf.insert(perf.end(), missing.begin(), missing.end());
    std::ofstream(path("a.qvp"), std::ios::binary).write(reinterpret_cast<const char*>(perf.data()),
                                                        static_cast<std::streamsize>(perf.size()));
    writeWav("in.wav", 2, 44100, std::vector<int16_t>(200, 0));
    EXPECT_EQ(1, run("--quiet --record-dry off --performance \"" + path("a.qvp") + "\" \"" + path("in.wav") +
                     "\" \"" + path("o.wav") + "\""));
    EXPECT_NE(std::string::npos, errors.find("Unable to open accompaniment file")) << errors;
}

TEST_F(QvRender, PerformanceNamingAMissingModuleFailsWithoutAWindow) {
    // A performance of the default wrapper holding one "nosuch.dll".
    std::vector<uint8_t> blob = {'D', 'E', 'F', 'W', 'R', 'A', 'P', '_', 'P', 'L', 'U', 'G', 10, 0};
    for (char c : std::string("nosuch.dll")) blob.push_back(static_cast<uint8_t>(c));
    blob.insert(blob.end(), {0, 0, 0, 0, 1, 0, 0, 0, 0x80});
    std::vector<uint8_t> perf = {'P', 'E', 'R', 'F', 0, 0, 0xF2, 0x42, 'A', 'C', 'C', 'O', 'M', 'P', 0, 0,
                                 'W', 'R', 'A', 'P', 'P', 'E', 'R', 17, 0};
    for (char c : std::string("Quorvane Plugins")) perf.push_back(static_cast<uint8_t>(c));
    perf.push_back(0);
    perf.insert(perf.end(), {'S', 'T', 'A', 'T', 'E'});
    uint8_t size[4];
    putU32(size, static_cast<uint32_t>(blob.size()));
    perf.insert(perf.end(), size, size + 4);
    perf.insert(perf.end(), blob.begin(), blob.end());
    std::ofstream(path("p.qvp"), std::ios::binary).write(reinterpret_cast<const char*>(perf.data()),
                                                        static_cast<std::streamsize>(perf.size()));
    writeWav("in.wav", 2, 44100, std::vector<int16_t>(200, 0));
    EXPECT_EQ(1, run("--quiet --performance \"" + path("p.qvp") + "\" \"" + path("in.wav") + "\" \"" +
                     path("o.wav") + "\""));
    EXPECT_NE(std::string::npos, errors.find("Unable to load plugin library!")) << errors;
}

TEST_F(QvRender, BuildsAVstChainSavesItAndRendersItAgainAfterTheFolderMoved) {
    namespace fs = std::filesystem;
    const char separator = platformPathSeparator();
    fs::create_directories(path("VstA"));
    fs::copy_file(testModulePath("tvst_stereo"), path("VstA") + separator + "tvst_stereo" + librarySuffix());
    ASSERT_TRUE(platformWriteSetting("VSTDir", path("VstA").c_str()));
    ASSERT_EQ(0, run("--list-plugins > \"" + path("list.txt") + "\""));
    std::ifstream listed(path("list.txt"));
    const std::string list(std::istreambuf_iterator<char>(listed), {});
    EXPECT_NE(std::string::npos, list.find("VST Plugins: tvst_stereo")) << list;
    EXPECT_NE(std::string::npos, list.find("Quorvane Plugins: echo")) << list;

    std::vector<int16_t> samples;
    for (int i = 0; i < 4000; ++i) samples.insert(samples.end(), {1000, 1000});
    writeWav("in.wav", 2, 44100, samples);
    const std::string neutral = "--quiet --gate-threshold 0 --dc-remover off ";
    ASSERT_EQ(0, run(neutral + "--effect tvst_stereo --save-performance \"" + path("p.qvp") + "\" \"" +
                     path("in.wav") + "\" \"" + path("a.wav") + "\""))
        << errors;
    const std::vector<uint8_t> a = read("a.wav");
    ASSERT_EQ(44u + 4000u * 6u, a.size());
    // The effect doubles the right channel.
    auto sample = [&](size_t frame, int channel) {
        const uint8_t* p = &a[44 + frame * 6 + static_cast<size_t>(channel) * 3];
        return static_cast<int32_t>(static_cast<uint32_t>(p[0] << 8 | p[1] << 16 | p[2] << 24)) >> 8;
    };
    EXPECT_NEAR(2.0 * sample(3000, 0), sample(3000, 1), 2.0);
    EXPECT_NE(0, sample(3000, 0));

    fs::rename(path("VstA"), path("VstB"));
    ASSERT_TRUE(platformWriteSetting("VSTDir", path("VstB").c_str()));
    ASSERT_EQ(0, run(neutral + "--performance \"" + path("p.qvp") + "\" \"" + path("in.wav") + "\" \"" +
                     path("b.wav") + "\""))
        << errors;
    EXPECT_EQ(a, read("b.wav"));
    EXPECT_EQ(1, run(neutral + "--effect nosuch \"" + path("in.wav") + "\" \"" + path("c.wav") + "\""));
    EXPECT_NE(std::string::npos, errors.find("no plug-in is listed as nosuch")) << errors;
    platformWriteSetting("VSTDir", nullptr);
}

namespace {

// The settings a test sets, removed again however the test ends (the
// registry outlives a test program under Wine).
struct SettingsGuard {
    ~SettingsGuard() {
        platformWriteSetting("VSTDir", nullptr);
        platformWriteSetting("VST3Cache", nullptr);
        platformWriteSetting("CLAPCache", nullptr);
    }
};

// The environment qvrender inherits; null removes the variable.
void setEnvironment(const char* name, const char* value) {
#if defined(_WIN32)
    _putenv_s(name, value ? value : "");
#else
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
#endif
}

// What a WAV file's header says against what the file holds: the frames the
// header counts, or -1 when the header is not a valid one for the file
// (sizes that disagree, a partial frame, more data than the file has).
int64_t headerFrames(const std::vector<uint8_t>& f, uint32_t align) {
    if (f.size() < 44 || std::memcmp(&f[0], "RIFF", 4) != 0 || std::memcmp(&f[36], "data", 4) != 0) return -1;
    const uint32_t data = getU32(&f[40]);
    if (getU32(&f[4]) != data + 36 || data % align != 0 || data > f.size() - 44) return -1;
    return data / align;
}

}  // namespace

// A plug-in that brings the process down in the middle of a render (or a
// kill) leaves a valid WAV that counts all it holds but the last second or
// so: the header is brought up to date as the take grows.
TEST_F(QvRender, ACrashOrAKillInTheMiddleLeavesAValidWavOfAllButTheLastSecond) {
    namespace fs = std::filesystem;
    SettingsGuard guard;
    const char separator = platformPathSeparator();
    fs::create_directories(path("Vst"));
    fs::copy_file(testModulePath("tvst_faulty"), path("Vst") + separator + "tvst_faulty" + librarySuffix());
    ASSERT_TRUE(platformWriteSetting("VSTDir", path("Vst").c_str()));
    std::vector<int16_t> samples(44100 * 2 * 20);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(8000.0 * std::sin(0.05 * (i / 2)));
    writeWav("in.wav", 2, 44100, samples);
    const std::string arguments = "--quiet --block 256 --format 12 --effect tvst_faulty \"" + path("in.wav") + "\" \"";
    constexpr uint32_t kAlign = 6;

    // Block 401 crashes: 400 blocks of 256 frames were rendered.
    setEnvironment("QV_TVST_FAULT", "crash:400");
    EXPECT_NE(0, run(arguments + path("crashed.wav") + "\""));
    const std::vector<uint8_t> crashed = read("crashed.wav");
    const int64_t counted = headerFrames(crashed, kAlign);
    ASSERT_GE(counted, 0) << crashed.size();
    EXPECT_LE(counted, 400 * 256);
    EXPECT_GE(counted, 400 * 256 - 44100 - 256);

#if !defined(_WIN32)
    // Killed while it renders at about real time (5 ms a block of 5.8 ms).
    setEnvironment("QV_TVST_FAULT", "slow:5");
    const std::string tool = stagePath("qvrender");
    const std::string out = path("killed.wav");
    const pid_t child = fork();
    if (child == 0) {
        execl(tool.c_str(), "qvrender", "--quiet", "--block", "256", "--format", "12", "--effect", "tvst_faulty",
              path("in.wav").c_str(), out.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(child, 0);
    // Until a good second and a half of the take is on disk.
    for (int i = 0; i < 200 && platformFileSize(out.c_str()) < 44 + 66150 * int64_t{kAlign}; ++i) usleep(50000);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    const std::vector<uint8_t> killed = read("killed.wav");
    const int64_t kept = headerFrames(killed, kAlign);
    ASSERT_GE(kept, 0) << killed.size();
    const int64_t held = static_cast<int64_t>(killed.size() - 44) / kAlign;
    EXPECT_GE(held, 66150);
    EXPECT_GE(kept, held - 44100 - 256) << held;
#endif
    setEnvironment("QV_TVST_FAULT", nullptr);
    platformWriteSetting("VSTDir", nullptr);
}

// A plug-in in a helper process gives the samples it gives inside. When it
// crashes, aborts, hangs or writes past its buffers there, the render goes
// on: the blocks before are the plug-in's, from the failing block on the
// slot passes its input, the length is the input's, and the tool names the
// plug-in, the slot and the frame, and ends with exit code 3.
TEST_F(QvRender, APlugInInAHelperProcessRendersAlikeAndItsFailuresAreSurvived) {
    namespace fs = std::filesystem;
    SettingsGuard guard;
    fs::create_directories(path("Vst"));
    fs::copy_file(testModulePath("tvst_faulty"), path("Vst") + platformPathSeparator() + "tvst_faulty" + librarySuffix());
    ASSERT_TRUE(platformWriteSetting("VSTDir", path("Vst").c_str()));
    std::vector<int16_t> samples;
    for (int i = 0; i < 30000; ++i)
        samples.insert(samples.end(), {static_cast<int16_t>(i % 2000 * 7 - 7000), static_cast<int16_t>(3000 - i % 999)});
    writeWav("in.wav", 2, 44100, samples);
    const std::string neutral = "--quiet --gate-threshold 0 --dc-remover off --block 256 --format 13 ";
    const std::string files = "\"" + path("in.wav") + "\" \"";
    ASSERT_EQ(0, run(neutral + files + path("dry.wav") + "\"")) << errors;
    ASSERT_EQ(0, run(neutral + "--effect tvst_faulty " + files + path("inside.wav") + "\"")) << errors;
    ASSERT_EQ(0, run(neutral + "--separate-processes --effect tvst_faulty " + files + path("outside.wav") + "\""))
        << errors;
    const std::vector<uint8_t> dry = read("dry.wav"), inside = read("inside.wav");
    ASSERT_EQ(44u + 30000 * 6, inside.size());
    ASSERT_NE(dry, inside);
    EXPECT_EQ(inside, read("outside.wav"));

    // Block 41 fails: 40 blocks of 256 frames are the plug-in's.
    constexpr size_t kSplit = 44 + 40 * 256 * 6;
    for (const char* fault : {"crash:40", "abort:40", "hang:40", "overrun:40"}) {
        SCOPED_TRACE(fault);
        setEnvironment("QV_TVST_FAULT", fault);
        EXPECT_EQ(3, run(neutral + "--separate-processes --effect tvst_faulty " + files + path("failed.wav") + "\""));
        const bool hang = std::strncmp(fault, "hang", 4) == 0;
        EXPECT_NE(std::string::npos,
                  errors.find(std::string("the plug-in tvst_faulty in slot 1 ") +
                              (hang ? "stopped responding" : "crashed") + " at frame 10240"))
            << errors;
        const std::vector<uint8_t> failed = read("failed.wav");
        ASSERT_EQ(inside.size(), failed.size());
        EXPECT_TRUE(std::equal(failed.begin(), failed.begin() + kSplit, inside.begin()));
        EXPECT_TRUE(std::equal(failed.begin() + kSplit, failed.end(), dry.begin() + kSplit));
    }
    setEnvironment("QV_TVST_FAULT", nullptr);
    platformWriteSetting("VSTDir", nullptr);
}

// A VST 3 effect in the chain, by its listed name, saved in a performance
// and rendered again from it: our test gain at its default passes every
// sample unchanged, in both builds; in a helper process too, though a
// module beside it cannot be read (the helper's scan tells nobody).
TEST_F(QvRender, RendersThroughAVst3EffectAndItsSavedPerformance) {
    namespace fs = std::filesystem;
    SettingsGuard guard;
    fs::create_directories(path("Vst3"));
    fs::copy(fs::path(testModulePath("x")).parent_path() / "vst3" / "QvTestGain.vst3",
             fs::path(path("Vst3")) / "QvTestGain.vst3", fs::copy_options::recursive);
    fs::copy(fs::path(testModulePath("x")).parent_path() / "vst3-hostile" / "QvGarbage.vst3",
             fs::path(path("Vst3")) / "QvGarbage.vst3", fs::copy_options::recursive);
    ASSERT_TRUE(platformWriteSetting("VSTDir", path("Vst3").c_str()));
    ASSERT_TRUE(platformWriteSetting("VST3Cache", path("cache.txt").c_str()));
    std::vector<int16_t> samples;
    for (int i = 0; i < 6000; ++i) samples.insert(samples.end(), {static_cast<int16_t>(i * 5 - 15000), 777});
    writeWav("in.wav", 2, 48000, samples);
    const std::string neutral = "--quiet --gate-threshold 0 --dc-remover off --block 512 ";
    ASSERT_EQ(0, run(neutral + "\"" + path("in.wav") + "\" \"" + path("plain.wav") + "\"")) << errors;
    ASSERT_EQ(0, run(neutral + "--effect \"Qv Test Gain\" --save-performance \"" + path("p.qvp") + "\" \"" +
                     path("in.wav") + "\" \"" + path("vst3.wav") + "\""))
        << errors;
    EXPECT_EQ(read("plain.wav"), read("vst3.wav"));
    ASSERT_EQ(0, run(neutral + "--performance \"" + path("p.qvp") + "\" \"" + path("in.wav") + "\" \"" +
                     path("again.wav") + "\""))
        << errors;
    EXPECT_EQ(read("plain.wav"), read("again.wav"));
    ASSERT_EQ(0, run(neutral + "--separate-processes --effect \"Qv Test Gain\" \"" + path("in.wav") + "\" \"" +
                     path("outside.wav") + "\""))
        << errors;
    EXPECT_EQ(read("plain.wav"), read("outside.wav"));
    platformWriteSetting("VSTDir", nullptr);
    platformWriteSetting("VST3Cache", nullptr);
}

// The same through a CLAP effect: our test gain at its default.
TEST_F(QvRender, RendersThroughAClapEffectAndItsSavedPerformance) {
    namespace fs = std::filesystem;
    SettingsGuard guard;
    fs::create_directories(path("Clap"));
    fs::copy_file(fs::path(testModulePath("x")).parent_path() / "clap" / "QvTestGain.clap",
                  fs::path(path("Clap")) / "QvTestGain.clap");
    ASSERT_TRUE(platformWriteSetting("VSTDir", path("Clap").c_str()));
    ASSERT_TRUE(platformWriteSetting("CLAPCache", path("clapcache.txt").c_str()));
    std::vector<int16_t> samples;
    for (int i = 0; i < 6000; ++i) samples.insert(samples.end(), {static_cast<int16_t>(i * 5 - 15000), -321});
    writeWav("in.wav", 2, 44100, samples);
    const std::string neutral = "--quiet --gate-threshold 0 --dc-remover off --block 256 ";
    ASSERT_EQ(0, run(neutral + "\"" + path("in.wav") + "\" \"" + path("plain.wav") + "\"")) << errors;
    ASSERT_EQ(0, run(neutral + "--effect \"Qv Test Gain\" --save-performance \"" + path("c.qvp") + "\" \"" +
                     path("in.wav") + "\" \"" + path("clap.wav") + "\""))
        << errors;
    EXPECT_EQ(read("plain.wav"), read("clap.wav"));
    ASSERT_EQ(0, run(neutral + "--performance \"" + path("c.qvp") + "\" \"" + path("in.wav") + "\" \"" +
                     path("again.wav") + "\""))
        << errors;
    EXPECT_EQ(read("plain.wav"), read("again.wav"));
    platformWriteSetting("VSTDir", nullptr);
    platformWriteSetting("CLAPCache", nullptr);
}
