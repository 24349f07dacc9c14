// clapscan: reads one CLAP module's effects in a process of its own, so
// that a module that crashes or hangs while it is loaded takes only this
// process down. The wrapper runs it with a time limit and reads what it
// prints: the scan cache's form of one module.
//
//   clapscan MODULE-PATH
//
// Exit code 0 with the module's effects, 1 when the module cannot be read,
// 2 for a wrong command line.
#include "wrappers/clap/clapmodule.h"

int main(int argc, char** argv) { return scannerMain(clap::kClapScan, argc, argv); }
