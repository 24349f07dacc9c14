// A limit on a call that must return (a stop, a join): past it the process
// reports what hung and ends with exit code 3, so a deadlock fails the run
// at once instead of holding it until ctest's limit. Windows only.
#pragma once

#include <windows.h>

#include <cstdio>

class Watchdog {
public:
    Watchdog(const char* what, DWORD limitMs) : what_(what), limitMs_(limitMs) {
        done_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, watch, this, 0, nullptr);
    }
    ~Watchdog() {
        SetEvent(done_);
        if (thread_) {
            WaitForSingleObject(thread_, INFINITE);
            CloseHandle(thread_);
        }
        CloseHandle(done_);
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    static DWORD WINAPI watch(void* self) {
        auto* w = static_cast<Watchdog*>(self);
        if (WaitForSingleObject(w->done_, w->limitMs_) == WAIT_OBJECT_0) return 0;
        std::printf("DEADLOCK: %s has not returned after %lu ms\n", w->what_, static_cast<unsigned long>(w->limitMs_));
        std::fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 3);
        return 0;
    }

    const char* what_;
    DWORD limitMs_;
    HANDLE done_ = nullptr;
    HANDLE thread_ = nullptr;
};
