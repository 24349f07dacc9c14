// The one reporter of result codes: 0 is success, a positive code an error
// message id, a negative code minus a notice's id. Everything the main
// program reports goes through ReportResult. The real-time side never
// reports (it sets engine status bits).
#pragma once

#include <cstdint>

// The message a code shows: DirectSound's own result codes map to their
// messages, every other code stands for itself.
int32_t reportedMessage(int32_t code);

// Shows (or records) the report for `code`; 0 reports nothing. UI thread.
void ReportResult(int32_t code);

// The reporter behind ReportResult. The program installs the message-box
// reporter; tools print; tests record. Returns the previous one.
using ReporterFn = void (*)(int32_t code);
ReporterFn setReporter(ReporterFn reporter);
