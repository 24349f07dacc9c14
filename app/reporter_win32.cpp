// Result codes shown as message boxes.
#include <windows.h>

#include "app/messages.h"
#include "app/report.h"
#include "app/shell.h"
#include "app/shell_win32.h"

namespace {

// The string table is the program's resource; the same texts are compiled
// into the program's message table, which tools without resources use.
const char* loadMessage(int32_t id) {
    static char text[kReportTextLimit + 1];
    if (id <= 0 || id > 0xFFFF) return nullptr;
    const int length = LoadStringA(gShell.instance, static_cast<UINT>(id), text, sizeof text);
    return length > 0 ? text : nullptr;
}

// Boxes are modal to the MDI client while it exists; before it exists and
// after it is gone (shutdown reports) they have no owner, so they still show.
HWND boxOwner() { return gShell.mdiClient && IsWindow(gShell.mdiClient) ? gShell.mdiClient : nullptr; }

void showReport(int32_t code) {
    const ReportBox box = describeReport(code, loadMessage);
    if (!box.show) return;
    MessageBoxA(boxOwner(), box.text, box.caption, MB_OK | box.icon);
}

}  // namespace

void installBoxReporter() { setReporter(showReport); }

int questionBox(HWND owner, const char* text, const char* caption, UINT buttons) {
    if (owner && !IsWindow(owner)) owner = nullptr;
    return MessageBoxA(owner, text, caption, buttons);
}
