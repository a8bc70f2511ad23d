#pragma once
// Other programs of the session, started from an in-process test: the
// bench's tools in C:\bench\bin.

#include <windows.h>

#include <string>

class BenchProcess {
public:
    // Starts C:\bench\bin\<tool> with arguments; when wait_ready, returns
    // once it printed "ready" (false from started() if it never did).
    BenchProcess(const std::string& tool, const std::string& arguments, bool wait_ready = true);
    ~BenchProcess();
    BenchProcess(const BenchProcess&) = delete;
    BenchProcess& operator=(const BenchProcess&) = delete;

    bool started() const { return started_; }
    // Ends it at once, the way TerminateProcess does (mutexes it owns are abandoned).
    void kill();
    // Waits for it to end by itself; its exit code, or -1 on time-out.
    int wait(DWORD timeout_ms);

private:
    PROCESS_INFORMATION process_ = {};
    bool started_ = false;
};
