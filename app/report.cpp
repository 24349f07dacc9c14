#include "app/report.h"

#include <cstdio>

namespace {

void printReport(int32_t code) {
    if (code > 0)
        std::fprintf(stderr, "Error #%d\n", code);
    else
        std::fprintf(stderr, "Notice #%d\n", -code);
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
