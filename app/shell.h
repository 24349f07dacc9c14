// The program shell's platform-free pieces: what a report box shows, the
// frame's title, the performance path on the command line. The window code
// calls these; tests check them natively.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr const char* kProductName = "Quorvane Live";
constexpr double kProductVersion = 1.21;
constexpr const char* kReleaseDate = "November 2003";

// Message box flags the reporter uses (the platform's MB_* values).
constexpr unsigned kBoxStopIcon = 0x10;
constexpr unsigned kBoxInformationIcon = 0x40;

// The longest text a report box shows.
constexpr size_t kReportTextLimit = 500;

struct ReportBox {
    bool show = false;  // false for code 0
    int32_t id = 0;     // the message id the box names (after mapping)
    unsigned icon = 0;
    char caption[40] = "";
    char text[kReportTextLimit + 1] = "";
};

// The box for a result code. `lookup` gives a message id's text (null when
// there is none). A code with no text is an error "Error #<code>" with the
// text "Unknown error", never an empty notice.
using MessageLookupFn = const char* (*)(int32_t id);
ReportBox describeReport(int32_t code, MessageLookupFn lookup);

// The frame's title. Without a file: "Quorvane Live 1.21". With one:
// "Quorvane Live 1.21 (<name>)", where name is the file's display title
// (`fileTitle`, or the path's last part when the platform gave none) cut at
// its last dot.
void formatFrameTitle(const char* fileTitle, const char* path, char* out, size_t size);

// The performance path on the command line: leading double quotes and
// spaces skipped, then everything up to the end or the next double quote.
// Returns 0 and the path (possibly empty), or 204 when the path is longer
// than 259 characters (it is refused, never cut).
constexpr size_t kCommandLinePathMax = 259;
int32_t commandLinePath(const char* commandLine, char* out, size_t size);

// The VST directory as it is stored: the chosen folder with a trailing
// backslash. Returns 0, or 252 ("Directory is not valid") when the stored
// form would not fit the 260 bytes the VST wrapper reads.
int32_t vstDirectoryToStore(const char* chosen, char* out, size_t size);
