// QvPluginHost: hosts one plug-in for the program in a process of its own,
// so that a plug-in that crashes, aborts or hangs takes only this process
// down. The program starts it with the names of the shared area and its
// wake-ups; it serves the command channel on its main thread and the
// audio channel on a thread of audio priority, and ends when told to close
// or when the program ends.
#include <csignal>
#include <cstdlib>
#include <thread>

#include "host/bridge.h"
#include "host/pluginhost/helpereditor.h"
#include "platform/platform.h"

#if defined(_WIN32)
#define QV_EXPORT extern "C" __declspec(dllexport)
#else
#define QV_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// A box here would hold the command the program waits for until someone
// pressed its button, and the program would take the helper as hung. What
// a wrapper tells in one (the modules its scan skipped, which the program's
// own scan has told already; a plug-in it could not load, which the
// program then tries inside and reports itself) is answered at once, unseen.
QV_EXPORT int qvMessageHook(const char*, const char*, unsigned) { return 1; }

namespace {

// Ends the process at once, as a crash would: the program sees the helper
// end and passes the slot's input.
[[noreturn]] void endNow(int) { std::_Exit(3); }

void serveAudio(PlatformHelper link, BridgeServer* server) {
    platformAudioThreadPriority();
    int woken = 0;
    for (;;) {
        while (woken == 0) woken = platformHelperWaitRequest(link, 0, 1000, false);
        if (woken < 0) std::_Exit(0);
        // The answer and the wait for the next block are one step.
        bridgeServeAudio(*server);
        woken = platformHelperAnswerAndWait(link, 0, 1000);
    }
}

}  // namespace

int main(int argc, char** argv) {
    platformEndOnCrash();
    std::signal(SIGABRT, endNow);
    size_t size = 0;
    void* area = nullptr;
    PlatformHelper link = platformHelperAttach(argc, argv, size, &area);
    constexpr BridgeLayout layout = bridgeLayout();
    if (!link || size != layout.size) return 2;
    // The program fills the header after starting this process and before
    // its first command: it is read once that command has come.
    int first = 0;
    while ((first = platformHelperWaitRequest(link, 1, 1000, false)) == 0) {
    }
    if (first < 0) return 0;  // the program has ended
    BridgeHeader* header = bridgeHeader(area);
    if (header->magic != kBridgeMagic || header->version != kBridgeVersion || header->areaSize != layout.size) return 2;
    uint8_t* base = static_cast<uint8_t*>(area);
    if (!platformGuardPages(base + layout.leftEnd, kBridgePage) ||
        !platformGuardPages(base + layout.rightEnd, kBridgePage))
        return 2;

    static BridgeServer server;
    server.area = area;
    server.showEditor = helperShowEditor;
    server.closeEditor = helperCloseEditor;
    gBridgeEditorClosed = helperEditorClosed;
    platformExecutableDirectory(server.applicationDirectory, sizeof server.applicationDirectory);
    std::thread(serveAudio, link, &server).detach();
    bridgeServeCommand(server);
    platformHelperAnswer(link, 1);
    // The main thread serves the commands and, meanwhile, the editor's
    // window messages.
    while (!server.closed) {
        const int woken = platformHelperWaitRequest(link, 1, 100, true);
        if (woken < 0) break;  // the program has ended
        helperEditorTick();
        if (woken == 0) continue;
        bridgeServeCommand(server);
        platformHelperAnswer(link, 1);
    }
    std::_Exit(0);
}
