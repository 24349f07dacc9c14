#include "app/report.h"

#include <cstdio>

#include "app/messages.h"

namespace {

// Until a window shows them: one line on standard error.
void printReport(int32_t code) {
    const char* text = messageText(code);
    if (code > 0)
        std::fprintf(stderr, "Error #%d: %s\n", code, text ? text : "");
    else
        std::fprintf(stderr, "%s\n", text ? text : "");
}

ReporterFn current = printReport;

}  // namespace

void ReportResult(int32_t code) {
    if (code != 0 && current) current(code);
}

ReporterFn setReporter(ReporterFn reporter) {
    ReporterFn previous = current;
    current = reporter ? reporter : printReport;
    return previous;
}
