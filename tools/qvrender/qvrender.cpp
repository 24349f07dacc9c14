// qvrender: renders a WAV file through the engine exactly as live input
// would, with the chain (and accompaniment) of a performance file, and writes
// the result through the recorder. No sound device, no window.
#include <cerrno>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/messages.h"
#include "app/report.h"
#include "audiofiles/accompaniment.h"
#include "audiofiles/recorder.h"
#include "common/bytes.h"
#include "engine/engine.h"
#include "host/host.h"
#include "host/performance.h"
#include "platform/platform.h"
#include "streamconv/binding.h"

#if defined(_WIN32)
#include <io.h>
#define QV_ISATTY _isatty
#define QV_FILENO _fileno
#define QV_EXPORT extern "C" __declspec(dllexport)
#else
#include <unistd.h>
#define QV_ISATTY isatty
#define QV_FILENO fileno
#define QV_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

const char* const kUsage =
    "usage: qvrender [options] INPUT.wav OUTPUT.wav\n"
    "  --performance FILE.qvp   chain and accompaniment from a performance file\n"
    "  --block N                frames per block (default 16384, or 4096 for a recording at another\n"
    "                           rate than the input's)\n"
    "  --format N               record format 0..15 (default: the input's rate if the table has it,\n"
    "                           else 44100; 24-bit; the input's channel count)\n"
    "  --input-gain G --master-gain G --gate-threshold T --gate-attack MS --gate-release MS\n"
    "  --dc-remover on|off      (default on)\n"
    "  --record-dry on|off      (default on: the accompaniment is not in the output)\n"
    "  --accompaniment FILE.wav (overrides the performance's)\n"
    "  --effect NAME            appends a plug-in to the chain (repeatable), by its listed name\n"
    "  --save-performance FILE.qvp  writes the chain (and accompaniment) before rendering\n"
    "  --list-plugins           lists every wrapper's plug-ins and exits (no files needed)\n"
    "  --separate-processes     runs every plug-in (the built-in effects excepted) in a helper\n"
    "                           process of its own, as a performance's slots marked so always run.\n"
    "                           A plug-in that crashes or hangs there passes its input from then\n"
    "                           on; the render completes and ends with exit code 3\n"
    "  --quiet                  no progress bar\n"
    "The VST wrapper scans the folder in the setting VSTDir (QUORVANE_VSTDIR in the native\n"
    "build), else \"VST Plugins\" beside the program.\n";

struct Options {
    std::string input, output, performance, accompaniment, savePerformance;
    std::vector<std::string> effects;
    bool listPlugins = false;
    // Every step of the engine and the effects carries its state across
    // blocks, so the block length changes no sample; a long one costs fewer
    // calls and file writes. The recorder's rate converter, though, gives
    // slightly different samples for another split of the input, so a
    // resampled recording keeps the block it was always made with. 0: the
    // default for the recording's rate.
    uint32_t block = 0;
    int format = -1;
    float inputGain = 1.0f, masterGain = 1.0f, gateThreshold = 0.0039f;
    uint16_t gateAttack = 5, gateRelease = 100;
    bool dcRemover = true, recordDry = true, quiet = false, separate = false;
};

bool failed = false;

void printCode(int32_t code) {
    if (code == 0) return;
    const char* text = messageText(code);
    std::fprintf(stderr, "qvrender: %s (%s #%d)\n", text ? text : "failure", code > 0 ? "error" : "notice",
                 code > 0 ? code : -code);
}

int fail(int32_t code) {
    printCode(code);
    return 1;
}

int fail(const std::string& text) {
    std::fprintf(stderr, "qvrender: %s\n", text.c_str());
    return 1;
}

bool parseNumber(const char* text, double low, double high, double& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    return end && *end == '\0' && errno == 0 && value >= low && value <= high;
}

bool parseSwitch(const char* text, bool& value) {
    if (std::strcmp(text, "on") == 0) return value = true, true;
    if (std::strcmp(text, "off") == 0) return value = false, true;
    return false;
}

// 0 when parsed, 2 for a usage error (message printed).
int parseArguments(int argc, char** argv, Options& o) {
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        double number = 0;
        bool ok = true;
        if (arg == "--quiet") {
            o.quiet = true;
        } else if (arg == "--separate-processes") {
            o.separate = true;
        } else if (arg == "--list-plugins") {
            o.listPlugins = true;
        } else if (arg == "--performance" || arg == "--accompaniment" || arg == "--save-performance") {
            const char* v = value();
            ok = v != nullptr;
            if (ok)
                (arg == "--performance" ? o.performance
                                        : arg == "--accompaniment" ? o.accompaniment : o.savePerformance) = v;
        } else if (arg == "--effect") {
            const char* v = value();
            ok = v != nullptr && o.effects.size() < kChainSlots;
            if (ok) o.effects.push_back(v);
        } else if (arg == "--block") {
            const char* v = value();
            ok = v && parseNumber(v, 1, 65536, number) && number == std::floor(number);
            o.block = static_cast<uint32_t>(number);
        } else if (arg == "--format") {
            const char* v = value();
            ok = v && parseNumber(v, 0, 15, number) && number == std::floor(number);
            o.format = static_cast<int>(number);
        } else if (arg == "--input-gain" || arg == "--master-gain") {
            const char* v = value();
            ok = v && parseNumber(v, 0, 4, number);
            (arg == "--input-gain" ? o.inputGain : o.masterGain) = static_cast<float>(number);
        } else if (arg == "--gate-threshold") {
            const char* v = value();
            ok = v && parseNumber(v, 0, 0.5, number);
            o.gateThreshold = static_cast<float>(number);
        } else if (arg == "--gate-attack" || arg == "--gate-release") {
            const char* v = value();
            const double top = arg == "--gate-attack" ? 200 : 700;
            ok = v && parseNumber(v, 0, top, number) && number == std::floor(number);
            (arg == "--gate-attack" ? o.gateAttack : o.gateRelease) = static_cast<uint16_t>(number);
        } else if (arg == "--dc-remover" || arg == "--record-dry") {
            const char* v = value();
            ok = v && parseSwitch(v, arg == "--dc-remover" ? o.dcRemover : o.recordDry);
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 1;
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            ok = false;
        } else {
            files.push_back(arg);
        }
        if (!ok) {
            std::fprintf(stderr, "qvrender: bad option or value: %s\n%s", arg.c_str(), kUsage);
            return 2;
        }
    }
    if (o.listPlugins && files.empty()) return 0;
    if (files.size() != 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    o.input = files[0];
    o.output = files[1];
    return 0;
}

// ---- the input file ----

// The input WAV: any chunks may come between "fmt " and "data".
struct InputFile {
    FILE* file = nullptr;
    StreamFormat format{};
    uint64_t frames = 0;
};

std::string openInput(const std::string& path, InputFile& in) {
    in.file = std::fopen(path.c_str(), "rb");
    if (!in.file) return "cannot open the input file " + path;
    // A few large reads, not one per block. The C library of the native
    // build takes a size only with a buffer, which must outlive the stream.
    static char buffer[1 << 20];
    std::setvbuf(in.file, buffer, _IOFBF, sizeof buffer);
    uint8_t header[12];
    if (std::fread(header, 1, 12, in.file) != 12 || std::memcmp(header, "RIFF", 4) != 0 ||
        std::memcmp(header + 8, "WAVE", 4) != 0)
        return "the input is not a WAV file";
    bool haveFormat = false;
    for (;;) {
        uint8_t chunk[8];
        if (std::fread(chunk, 1, 8, in.file) != 8) return "the input has no data chunk";
        const uint32_t size = getU32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            uint8_t body[16];
            if (size < 16 || std::fread(body, 1, 16, in.file) != 16) return "the input's format chunk is damaged";
            in.format.wFormatTag = getU16(body);
            in.format.nChannels = getU16(body + 2);
            in.format.nSamplesPerSec = getU32(body + 4);
            in.format.nAvgBytesPerSec = getU32(body + 8);
            in.format.nBlockAlign = getU16(body + 12);
            in.format.wBitsPerSample = getU16(body + 14);
            if (in.format.wFormatTag == 0xFFFE && size >= 40) {
                uint8_t extension[24];  // the sub-format's tag is the first word of its GUID
                if (std::fread(extension, 1, 24, in.file) != 24) return "the input's format chunk is damaged";
                in.format.wFormatTag = getU16(extension + 8);
                if (std::fseek(in.file, static_cast<long>(size - 40 + (size & 1)), SEEK_CUR) != 0)
                    return "the input is damaged";
            } else if (std::fseek(in.file, static_cast<long>(size - 16 + (size & 1)), SEEK_CUR) != 0) {
                return "the input is damaged";
            }
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) return "the input's data comes before its format";
            if (in.format.nBlockAlign == 0) return "the input's format is damaged";
            in.frames = size / in.format.nBlockAlign;
            return "";
        } else if (std::fseek(in.file, static_cast<long>(size + (size & 1)), SEEK_CUR) != 0) {
            return "the input is damaged";
        }
    }
}

// Converts `frames` frames of the input into the engine's input buffers
// through history slot 3, as the input device is read. A two-channel float
// file is split into one-channel buffers, as the converter takes floats.
bool convertInput(const InputFile& in, std::vector<uint8_t>& bytes, uint32_t frames, EngineState& e,
                  std::vector<uint8_t>& split) {
    gConverter.setHistory(kSlotInputDevice);
    const StreamFormat& f = in.format;
    if (f.wFormatTag == kFormatIeeeFloat && f.nChannels == 2) {
        const unsigned width = f.nBlockAlign / 2;
        StreamFormat mono = f;
        mono.nChannels = 1;
        mono.nBlockAlign = static_cast<uint16_t>(width);
        split.resize(static_cast<size_t>(frames) * width);
        float* targets[2] = {e.inputL, e.inputR};
        for (unsigned c = 0; c < 2; ++c) {
            for (uint32_t i = 0; i < frames; ++i)
                std::memcpy(&split[i * width], &bytes[i * f.nBlockAlign + c * width], width);
            if (!gConverter.process(&mono, split.data(), targets[c], nullptr, frames, frames, 0)) return false;
        }
        return true;
    }
    return gConverter.process(&f, bytes.data(), e.inputL, e.inputR, frames, frames, 0) != 0;
}

// ---- the program's pieces, wired for an offline run ----

const char* accompanimentPath() { return gAccompaniment.path; }
// A performance's accompaniment that cannot be opened is reported like any
// other failure: rendering without it silently would be a different result.
bool openAccompaniment(const char* path) {
    const int32_t opened = accompanimentLoad(path);
    ReportResult(opened);
    return opened == 0;
}
void closeAccompaniment() { accompanimentClose(); }

void listPlugins() {
    for (int w = 0; w < wrapperCount(); ++w)
        for (int i = 0; i < wrapperAvailableCount(w); ++i)
            std::printf("%s: %s\n", wrapperName(w), wrapperAvailableName(w, i));
}

// Puts the first listed plug-in called `name` into the first empty slot.
int32_t appendEffect(const EngineState& engine, const std::string& name, bool separate, std::string& problem) {
    int slot = 0;
    while (slot < kChainSlots && engine.chain[slot].instance != 0) ++slot;
    if (slot == kChainSlots) {
        problem = "the chain is full; no slot for " + name;
        return -1;
    }
    for (int w = 0; w < wrapperCount(); ++w)
        for (int i = 0; i < wrapperAvailableCount(w); ++i)
            if (name == wrapperAvailableName(w, i))
                return separate && wrapperCanRunOutside(w) ? chainAttachSeparate(slot, w, i) : chainAttach(slot, w, i);
    problem = "no plug-in is listed as " + name + " (see --list-plugins)";
    return -1;
}

void showProgress(uint64_t done, uint64_t total) {
    const int width = 40;
    const int filled = total ? static_cast<int>(done * width / total) : width;
    std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################", width - filled, "",
                 total ? static_cast<int>(done * 100 / total) : 100);
    std::fflush(stderr);
}

}  // namespace

// Message boxes of the wrappers become lines on standard error: no modal box
// ever appears. Each one means the render would not be what was asked for
// (a module that does not load, say), so the run fails after loading.
// While the plug-in lists are scanned, a message is a notice (modules left
// out of a list): printed, but the render goes on.
bool scanning = false;

// A plug-in that failed in its helper: the render goes on with its slot
// passing the input, and ends with exit code 3.
bool pluginFailed = false;

void tellFailure(int slot, const char* plugin, int32_t why, uint64_t frame) {
    std::fprintf(stderr, "qvrender: the plug-in %s in slot %d %s at frame %llu; the slot passes its input from there\n",
                 plugin, slot + 1, why == kBridgeHung ? "stopped responding" : "crashed",
                 static_cast<unsigned long long>(frame));
    pluginFailed = true;
}

QV_EXPORT int qvMessageHook(const char* text, const char* caption, unsigned) {
    std::fprintf(stderr, "qvrender: %s: %s\n", caption ? caption : "", text ? text : "");
    if (!scanning) failed = true;
    return 1;
}

void refreshLists() {
    scanning = true;
    for (int w = 0; w < wrapperCount(); ++w) wrapperRefreshList(w);
    scanning = false;
}

int main(int argc, char** argv) {
    Options o;
    if (int usage = parseArguments(argc, argv, o)) return usage == 1 ? 0 : 2;
    setReporter([](int32_t code) {
        printCode(code);
        if (code > 0) failed = true;
    });

    char directory[kPathBuffer];
    if (!platformExecutableDirectory(directory, sizeof directory)) return fail("cannot find the program's folder");
    const std::string appDir = directory;
    if (!converterBind((appDir + "streamconv" + platformModuleSuffix()).c_str()))
        return fail("cannot load the converter library streamconv beside the program");
    if (o.input.empty()) {  // only the list was asked for
        hostReset(gEngine, appDir.c_str());
        const int32_t loaded = wrappersLoadAll();
        if (loaded != 0) ReportResult(loaded);
        refreshLists();
        listPlugins();
        wrappersUnloadAll();
        return 0;
    }

    InputFile in;
    const std::string problem = openInput(o.input, in);
    if (!problem.empty()) return fail(problem);
    const StreamFormat& f = in.format;
    const bool stereo = f.nChannels == 2;
    if ((f.nChannels != 1 && f.nChannels != 2) || f.nSamplesPerSec == 0) return fail(kAccompUnsupported);

    // Engine at the input's rate and channel count.
    EngineState& engine = gEngine;
    engine.inputGain = o.inputGain;
    engine.masterGain = o.masterGain;
    engine.gateThreshold = o.gateThreshold;
    engine.gateAttackMs = o.gateAttack;
    engine.gateReleaseMs = o.gateRelease;
    engine.dcRemoverOn = o.dcRemover;
    engine.recordDryOnly = o.recordDry;
    accompanimentAttach(engine);
    recorderAttach(engine);

    hostReset(engine, appDir.c_str());
    // Offline, a helper has as long as it needs for a block, up to a limit
    // that tells a hang.
    gHost.separateDeadlineUs = 2000 * 1000;
    gHost.allSeparate = o.separate;
    const int32_t loaded = wrappersLoadAll();
    if (loaded != 0) ReportResult(loaded);
    refreshLists();
    if (o.listPlugins) listPlugins();

    gPerformance.accompanimentPath = accompanimentPath;
    gPerformance.openAccompaniment = openAccompaniment;
    gPerformance.closeAccompaniment = closeAccompaniment;
    if (!o.performance.empty()) {
        const int32_t read = performanceRead(o.performance.c_str());
        if (read != 0) return fail(read);
    }
    if (!o.accompaniment.empty()) {
        accompanimentClose();
        const int32_t opened = accompanimentLoad(o.accompaniment.c_str());
        if (opened != 0) return fail(opened);
    }
    for (const std::string& name : o.effects) {
        std::string problem;
        const int32_t attached = appendEffect(engine, name, o.separate, problem);
        if (attached < 0) return fail(problem);
        if (attached != 0) return fail(attached);
    }
    if (!o.savePerformance.empty()) {
        const int32_t written = performanceWrite(o.savePerformance.c_str());
        if (written != 0) return fail(written);
    }
    if (failed) return 1;

    // The recorder writes the output, as a recording of live input.
    int format = o.format;
    if (format < 0) {
        const uint32_t rates[4] = {32000, 44100, 48000, 96000};
        int rateIndex = 1;
        for (int i = 0; i < 4; ++i)
            if (rates[i] == f.nSamplesPerSec) rateIndex = i;
        format = rateIndex | (stereo ? 4 : 0) | 8;
    }
    std::snprintf(gRecorder.target, sizeof gRecorder.target, "%s", o.output.c_str());
    gRecorder.formatIndex = format;
    gRecorder.ramMode = false;
    gRecorder.startAccompaniment = false;
    gRecorder.accompanimentPath = accompanimentPath;
    // Live input here is the render loop below; the engine is configured
    // once the recording is set up, so that the record block is sized.
    gRecorder.startLiveInput = nullptr;
    gRecorder.stopLiveInput = [] { engineRelease(gEngine); };
    const int32_t started = recorderStart();
    if (started != 0) return fail(started);
    // At the input's rate the recorder cuts the padded last block itself:
    // shortening the file after it was closed waits for the disk.
    const uint64_t inputBytes = in.frames * gRecorder.format.nBlockAlign;
    if (gRecorder.format.nSamplesPerSec == f.nSamplesPerSec && inputBytes < gRecorder.dataLimit)
        gRecorder.dataLimit = static_cast<uint32_t>(inputBytes);
    if (o.block == 0) o.block = gRecorder.format.nSamplesPerSec == f.nSamplesPerSec ? 16384 : 4096;
    engine.blockSize = o.block;
    const int32_t configured = engineConfigure(engine, f.nSamplesPerSec, stereo);
    if (configured != 0) {
        recorderStop();
        return fail(configured);
    }
    for (int w = 0; w < wrapperCount(); ++w) {
        wrapperSetProcessing(w, false);
        wrapperSetProcessing(w, true);
    }
    if (accompanimentIsOpen()) accompanimentToggle();
    gConverter.setHistory(kSlotInputDevice);
    float dummy = 0.0f;
    gConverter.process(nullptr, nullptr, &dummy, nullptr, 0, 0, 0);

    // Block by block, as the device layer runs live input; the last block is
    // padded with silence and the output cut to the input's length.
    const bool progress = !o.quiet && QV_ISATTY(QV_FILENO(stderr));
    std::vector<uint8_t> bytes(static_cast<size_t>(o.block) * f.nBlockAlign);
    std::vector<uint8_t> split;
    uint64_t done = 0;
    while (done < in.frames) {
        const uint32_t frames = static_cast<uint32_t>(std::min<uint64_t>(o.block, in.frames - done));
        const size_t want = static_cast<size_t>(frames) * f.nBlockAlign;
        const size_t got = std::fread(bytes.data(), 1, want, in.file);
        std::memset(bytes.data() + got, 0, bytes.size() - got);
        if (!convertInput(in, bytes, o.block, engine, split)) {
            recorderStop();
            return fail(kAccompUnsupported);
        }
        if (engineBlockBegin(engine)) processBlock(engine);
        engineBlockEnd(engine);
        chainCheckSeparate(tellFailure);
        if (engine.engineStatus.load() & STATUS_RECORD_WRITE_ERROR) {
            recorderStop();
            return fail(kRecordWriteError);
        }
        // A plug-in that brings the process down, or a kill, leaves a valid
        // WAV of all but the last second or so.
        recorderKeepHeader(static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                     std::chrono::steady_clock::now().time_since_epoch())
                                                     .count()));
        done += got < want ? got / f.nBlockAlign : frames;  // a file that ends early ends there
        if (progress && (done / o.block) % 64 == 0) showProgress(done, in.frames);
        if (got < want) break;  // the file ended early
    }
    if (progress) {
        showProgress(in.frames, in.frames);
        std::fputc('\n', stderr);
    }
    std::fclose(in.file);

    // The recording holds whole blocks; keep the input's length in time.
    const uint64_t keep = done * gRecorder.format.nSamplesPerSec / f.nSamplesPerSec;
    if (keep < gRecorder.framesRecorded.load()) gRecorder.framesRecorded = static_cast<uint32_t>(keep);
    const uint64_t dataBytes = static_cast<uint64_t>(gRecorder.framesRecorded.load()) * gRecorder.format.nBlockAlign;
    const int32_t stopped = recorderStop();
    if (stopped != 0) return fail(stopped);
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(o.output, error);
    if (error || size != 44 + dataBytes) std::filesystem::resize_file(o.output, 44 + dataBytes, error);
    if (error) return fail("cannot finish the output file " + o.output);
    wrappersUnloadAll();
    return pluginFailed ? 3 : 0;
}
