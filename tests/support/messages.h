// Message boxes in tests: every box the process shows (from the program or a
// module it loaded) is answered with OK and recorded. Under Windows a watcher
// thread finds the dialog, reads its caption and text and presses OK; the
// native build's message boxes call the test program's hook instead.
#pragma once

#include <string>
#include <vector>

struct ShownMessage {
    std::string text;
    std::string caption;
};

// Starts recording (and answering); clears what was recorded before.
void messagesStart();
// What was shown since the start, in order.
std::vector<ShownMessage> messagesTaken();
