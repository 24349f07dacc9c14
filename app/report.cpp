#include "app/report.h"

#include <cstdio>

#include "app/messages.h"

namespace {

// DirectSound results and their messages.
constexpr struct {
    uint32_t result;
    int32_t message;
} kDirectSoundResults[] = {
    {0x8878000A, 138}, {0x8878001E, 140}, {0x88780032, 142}, {0x88780046, 147},
    {0x88780064, 139}, {0x88780078, 145}, {0x887800AA, 148}, {0x80004005, 141},
    {0x80004001, 149}, {0x8007000E, 146}, {0x80070057, 143}, {0x80040110, 144},
};

// Until a window shows them: one line on standard error.
void printReport(int32_t code) {
    code = reportedMessage(code);
    const char* text = messageText(code);
    if (code > 0)
        std::fprintf(stderr, "Error #%d: %s\n", code, text ? text : "");
    else
        std::fprintf(stderr, "%s\n", text ? text : "");
}

ReporterFn current = printReport;

}  // namespace

int32_t reportedMessage(int32_t code) {
    for (const auto& row : kDirectSoundResults)
        if (static_cast<uint32_t>(code) == row.result) return row.message;
    return code;
}

void ReportResult(int32_t code) {
    if (code != 0 && current) current(code);
}

ReporterFn setReporter(ReporterFn reporter) {
    ReporterFn previous = current;
    current = reporter ? reporter : printReport;
    return previous;
}
