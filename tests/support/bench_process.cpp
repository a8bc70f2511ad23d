#include "support/bench_process.h"

#include <vector>

BenchProcess::BenchProcess(const std::string& tool, const std::string& arguments, bool wait_ready)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0))
        return;
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end;
    startup.hStdError = write_end;
    std::string command = "\"C:\\bench\\bin\\" + tool + "\" " + arguments;
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    started_ = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process_);
    CloseHandle(write_end);

    if (started_ && wait_ready) {
        std::string output;
        char chunk[64];
        DWORD got = 0;
        while (output.find("ready") == std::string::npos && ReadFile(read_end, chunk, sizeof chunk, &got, nullptr) && got)
            output.append(chunk, got);
        started_ = output.find("ready") != std::string::npos;
    }
    CloseHandle(read_end);
}

BenchProcess::~BenchProcess()
{
    kill();
}

void BenchProcess::kill()
{
    if (!process_.hProcess)
        return;
    TerminateProcess(process_.hProcess, 9);
    WaitForSingleObject(process_.hProcess, 10000);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
    process_ = {};
}

int BenchProcess::wait(DWORD timeout_ms)
{
    if (!process_.hProcess || WaitForSingleObject(process_.hProcess, timeout_ms) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return static_cast<int>(code);
}
