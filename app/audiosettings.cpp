#include "app/audiosettings.h"

#include <cmath>
#include <cstdio>

#include "app/resource.h"
#include "devices/wasapicore.h"

namespace {

constexpr uint32_t kRates[4] = {32000, 44100, 48000, 96000};

// The two groups whose enabled state follows the device system; the radio
// buttons, the tempo controls and the unlabelled labels belong to neither.
constexpr int kDirectSoundGroup[] = {IDC_AUDIO_INPUT,         IDC_AUDIO_OUTPUT,      IDC_AUDIO_FORMATS,
                                     IDC_AUDIO_LATENCY,       IDC_AUDIO_DS_GROUP,    IDC_AUDIO_INPUT_LABEL,
                                     IDC_AUDIO_OUTPUT_LABEL,  IDC_AUDIO_LATENCY_LABEL, IDC_AUDIO_LATENCY_SLIDER,
                                     IDC_AUDIO_BUFFERS,       IDC_AUDIO_DELAY};
constexpr int kAsioGroup[] = {IDC_AUDIO_ASIO_DRIVER, IDC_AUDIO_ASIO_GROUP, IDC_AUDIO_ASIO_LABEL};
constexpr int kWasapiGroup[] = {IDC_WASAPI_GROUP,        IDC_WASAPI_INPUT_LABEL, IDC_WASAPI_INPUT,
                                IDC_WASAPI_OUTPUT_LABEL, IDC_WASAPI_OUTPUT,      IDC_WASAPI_MODE_LABEL,
                                IDC_WASAPI_MODE,         IDC_WASAPI_READOUT};

bool inGroup(const int* group, size_t count, int id) {
    for (size_t i = 0; i < count; ++i)
        if (group[i] == id) return true;
    return false;
}

uint32_t limited(uint32_t value, uint32_t low, uint32_t high) { return value < low ? low : (value > high ? high : value); }

int32_t limitedPosition(int32_t position, int32_t high) { return position < 0 ? 0 : (position > high ? high : position); }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

const char* skipSpaces(const char* p) {
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

}  // namespace

const int kAudioGroupControls[] = {IDC_AUDIO_INPUT,        IDC_AUDIO_OUTPUT,        IDC_AUDIO_FORMATS,
                                   IDC_AUDIO_LATENCY,      IDC_AUDIO_DS_GROUP,      IDC_AUDIO_INPUT_LABEL,
                                   IDC_AUDIO_OUTPUT_LABEL, IDC_AUDIO_LATENCY_LABEL, IDC_AUDIO_LATENCY_SLIDER,
                                   IDC_AUDIO_BUFFERS,      IDC_AUDIO_DELAY,         IDC_AUDIO_ASIO_DRIVER,
                                   IDC_AUDIO_ASIO_GROUP,   IDC_AUDIO_ASIO_LABEL,    IDC_WASAPI_GROUP,
                                   IDC_WASAPI_INPUT_LABEL, IDC_WASAPI_INPUT,        IDC_WASAPI_OUTPUT_LABEL,
                                   IDC_WASAPI_OUTPUT,      IDC_WASAPI_MODE_LABEL,   IDC_WASAPI_MODE,
                                   IDC_WASAPI_READOUT};
const int kAudioGroupControlCount = sizeof kAudioGroupControls / sizeof kAudioGroupControls[0];

AudioFormatEntry audioFormatEntry(int index) {
    AudioFormatEntry e;
    if (index < 0 || index >= kAudioFormatCount) return e;
    e.rate = kRates[index & 3];
    e.stereo = (index & 4) != 0;
    e.bytesPerSample = index < 8 ? 2 : 3;
    return e;
}

void audioFormatName(int index, char* out, size_t size) {
    if (!out || size == 0) return;
    out[0] = '\0';
    if (index < 0 || index >= kAudioFormatCount) return;
    const AudioFormatEntry e = audioFormatEntry(index);
    std::snprintf(out, size, "%d smp/sec, %d Bits, %s", static_cast<int>(e.rate), e.bytesPerSample * 8,
                  e.stereo ? "Stereo" : "Mono");
}

int32_t latencyToTrackbar(uint32_t latencyMs) {
    return static_cast<int32_t>(limited(latencyMs, kLatencyMinMs, kLatencyMaxMs) - kLatencyMinMs) * 10;
}

uint32_t latencyFromTrackbar(int32_t position) {
    return static_cast<uint32_t>(limitedPosition(position, kLatencyTrackbarMax) / 10) + kLatencyMinMs;
}

int32_t tempoToTrackbar(float bpm) {
    if (std::isnan(bpm)) return 0;
    // In double and limited before the conversion: a stored tempo far out of
    // range must not overflow the integer.
    const double position = (static_cast<double>(bpm) - kTempoMin) * 1000.0 / 140.0;
    if (position <= 0.0) return 0;
    if (position >= kTempoTrackbarMax) return kTempoTrackbarMax;
    return static_cast<int32_t>(position);
}

float tempoFromTrackbar(int32_t position) {
    return static_cast<float>(limitedPosition(position, kTempoTrackbarMax) * 0.001 * 140.0 + kTempoMin);
}

uint32_t leadingNumber(const char* text) {
    if (!text) return 0;
    uint64_t value = 0;
    for (const char* p = skipSpaces(text); isDigit(*p); ++p) {
        value = value * 10 + static_cast<uint64_t>(*p - '0');
        if (value > 0xFFFFFFFFu) return 0xFFFFFFFFu;
    }
    return static_cast<uint32_t>(value);
}

uint32_t latencyFromText(const char* text) { return limited(leadingNumber(text), kLatencyMinMs, kLatencyMaxMs); }

uint8_t outputDelayFromText(const char* text) {
    return static_cast<uint8_t>(limited(leadingNumber(text), 0, kOutputDelayMax));
}

float tempoFromText(const char* text) {
    if (!text) return kTempoMin;
    const char* p = skipSpaces(text);
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    // Digits beyond what decides the range add nothing; the value saturates.
    double value = 0.0;
    bool digits = false;
    for (; isDigit(*p); ++p, digits = true)
        if (value < 1e6) value = value * 10.0 + (*p - '0');
    if (*p == '.') {
        double scale = 0.1;
        for (++p; isDigit(*p); ++p, digits = true, scale *= 0.1) value += (*p - '0') * scale;
    }
    if (!digits || negative || value < kTempoMin) return kTempoMin;
    return value > kTempoMax ? kTempoMax : static_cast<float>(value);
}

void formatLatency(uint32_t latencyMs, char* out, size_t size) {
    if (out && size) std::snprintf(out, size, "%d ms", static_cast<int>(latencyMs));
}

void formatOutputDelay(uint32_t delay, char* out, size_t size) {
    if (out && size) std::snprintf(out, size, "%d", static_cast<int>(delay));
}

void formatTempo(float bpm, char* out, size_t size) {
    if (out && size) std::snprintf(out, size, "%.1f bpm", static_cast<double>(bpm));
}

int32_t bufferCountOfItem(int item) {
    if (item < 0 || item >= kBufferChoices) return 1;
    return int32_t{1} << (item + 1);
}

int bufferItemOfCount(int32_t count) {
    for (int item = 0; item < kBufferChoices; ++item)
        if (bufferCountOfItem(item) == count) return item;
    return -1;
}

bool audioControlEnabled(int id, uint32_t system) {
    constexpr size_t kDs = sizeof kDirectSoundGroup / sizeof kDirectSoundGroup[0];
    constexpr size_t kAsio = sizeof kAsioGroup / sizeof kAsioGroup[0];
    if (inGroup(kDirectSoundGroup, kDs, id)) return system == kSystemDirectSound;
    if (inGroup(kAsioGroup, kAsio, id)) return system == kSystemAsio;
    if (inGroup(kWasapiGroup, sizeof kWasapiGroup / sizeof kWasapiGroup[0], id)) return system == kSystemWasapi;
    return true;
}

int32_t deviceIndexOfItem(int item) { return item < 1 ? -1 : item - 1; }

void formatWasapiReadout(const WasapiStream* s, const char* modeName, char* out, size_t size) {
    if (!out || size == 0) return;
    if (!s || s->rate == 0) {
        std::snprintf(out, size, "Start live input to see the latencies.");
        return;
    }
    const double ms = 1000.0 / s->rate;
    std::snprintf(out, size, "%s: input %.1f ms, output %.1f ms, period %.1f ms", modeName ? modeName : "?",
                  s->inputLatencyFrames * ms, s->outputLatencyFrames * ms, s->periodFrames * ms);
}

AudioDialogChoice audioChoiceFromControls(const AudioDialogControls& controls, int currentFormat) {
    AudioDialogChoice c;
    c.system = controls.wasapiChecked ? kSystemWasapi : controls.asioChecked ? kSystemAsio : kSystemDirectSound;
    // Item 0 of each endpoint list is "Default device".
    c.wasapiInput = deviceIndexOfItem(controls.wasapiInputItem);
    c.wasapiOutput = deviceIndexOfItem(controls.wasapiOutputItem);
    c.wasapiMode = controls.wasapiModeItem >= 0 && controls.wasapiModeItem <= 2
                       ? static_cast<uint32_t>(controls.wasapiModeItem) : 0u;
    c.outputIndex = deviceIndexOfItem(controls.outputItem);
    c.inputIndex = deviceIndexOfItem(controls.inputItem);
    const bool formatChosen = controls.formatItem >= 0 && controls.formatItemData >= 0 &&
                              controls.formatItemData < kAudioFormatCount;
    c.formatIndex = formatChosen ? static_cast<int>(controls.formatItemData) : currentFormat;
    if (c.formatIndex < 0 || c.formatIndex >= kAudioFormatCount) c.formatIndex = 5;
    c.latencyMs = latencyFromText(controls.latencyText);
    c.buffers = bufferCountOfItem(controls.bufferItem);
    c.outputDelay = outputDelayFromText(controls.delayText);
    c.tempo = tempoFromText(controls.tempoText);
    c.asioDriver = deviceIndexOfItem(controls.asioItem);
    return c;
}
