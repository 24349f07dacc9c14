#include "app/recording.h"

#include <cctype>
#include <cstdio>

namespace {

constexpr uint32_t kRates[4] = {32000, 44100, 48000, 96000};

void clear(char* out, size_t size) {
    if (out && size) out[0] = '\0';
}

}  // namespace

RecordingFormatRow recordingFormatRow(int index) {
    RecordingFormatRow row;
    if (index < 0 || index >= kRecordingFormatCount) return row;
    row.rate = kRates[index & 3];
    row.bits = index >= 8 ? 24 : 16;
    row.channels = (index & 4) ? 2 : 1;
    return row;
}

void recordingFormatName(int index, char* out, size_t size) {
    clear(out, size);
    const RecordingFormatRow row = recordingFormatRow(index);
    if (!out || size == 0 || row.rate == 0) return;
    std::snprintf(out, size, "%d smp/sec, %d Bits, %s", static_cast<int>(row.rate), row.bits,
                  row.channels == 2 ? "Stereo" : "Mono");
}

int recordingLimitFormat(int index) {
    if (index < 0) return 0;
    return index >= kRecordingFormatCount ? kRecordingFormatCount - 1 : index;
}

void recordingTimeText(uint32_t frames, uint32_t rate, char* out, size_t size) {
    clear(out, size);
    if (!out || size == 0) return;
    if (rate == 0) {
        std::snprintf(out, size, "%s", kRecordingIdleTime);
        return;
    }
    const uint32_t seconds = frames / rate;
    std::snprintf(out, size, "%d min, %d sec ", static_cast<int>(seconds / 60), static_cast<int>(seconds % 60));
}

void recordingSizeText(uint32_t frames, uint32_t blockAlign, char* out, size_t size) {
    clear(out, size);
    if (!out || size == 0) return;
    const double bytes = static_cast<double>(frames) * blockAlign;
    std::snprintf(out, size, "%.1f Mbytes", bytes / 1048576.0);
}

uint16_t recordingParseSeconds(const char* typed) {
    if (!typed) return kRecordingMinSeconds;
    const char* p = typed;
    while (*p == ' ' || *p == '\t') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    // Saturates instead of overflowing: any run of digits past the limit is
    // simply "too many".
    long value = 0;
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
        value = value * 10 + (*p - '0');
        if (value > kRecordingMaxSeconds) value = kRecordingMaxSeconds + 1;
    }
    if (negative || value < kRecordingMinSeconds) return kRecordingMinSeconds;
    return static_cast<uint16_t>(value > kRecordingMaxSeconds ? kRecordingMaxSeconds : value);
}

void recordingSecondsText(uint16_t seconds, char* out, size_t size) {
    clear(out, size);
    if (!out || size == 0) return;
    std::snprintf(out, size, "%d sec", static_cast<int>(seconds));
}

RecordingControls recordingControls(bool recording, bool accompanimentOpen, bool ramMode) {
    RecordingControls c;
    if (recording) return c;
    c.target = true;
    c.formats = true;
    c.accompanimentOptions = accompanimentOpen;
    c.ramMode = true;
    c.maxTime = ramMode;
    return c;
}

int32_t recordingOpenCheck(bool asio, int32_t outputIndex, int32_t inputIndex, int32_t asioIndex) {
    if (asio) return asioIndex < 0 ? -187 : 0;
    if (outputIndex < 0) return -136;
    if (inputIndex < 0) return -137;
    return 0;
}

void recordingOverwriteQuestion(const char* path, char* out, size_t size) {
    clear(out, size);
    if (!out || size == 0) return;
    std::snprintf(out, size, "%s already exists.\nDo you want to replace it?", path ? path : "");
}
