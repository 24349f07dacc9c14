// vst3scan: reads one VST 3 module's effect classes in a process of its
// own, so that a module that crashes or hangs while it is loaded takes only
// this process down. The wrapper runs it with a time limit and reads what
// it prints: the scan cache's form of one module.
//
//   vst3scan MODULE-PATH
//
// Exit code 0 with the module's classes, 1 when the module cannot be read
// (its line then says so), 2 for a wrong command line.
#include "wrappers/vst3/vst3module.h"

int main(int argc, char** argv) { return scannerMain(vst3::kVst3Scan, argc, argv); }
