// bench_mutex.exe: holds a named mutex the way another program of the
// session would, so tests can meet the agent's mutexes in every state.
//
//   bench_mutex hold NAME [SECONDS]     create it owned; release after SECONDS (default: never)
//   bench_mutex abandon NAME [SECONDS]  create it owned by a thread that ends without releasing;
//                                       keep the handle SECONDS (default: never) so it stays abandoned
//   bench_mutex unowned NAME [SECONDS]  create it without owning it; keep the handle
//   bench_mutex release NAME            the holders of NAME release it (if they own it) and end
//   bench_mutex exists NAME             exit 0 when the mutex exists, 1 otherwise
// "ready" is printed once the mutex is in its state.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

DWORD keep_ms(int argc, char** argv)
{
    return argc > 3 ? static_cast<DWORD>(std::atof(argv[3]) * 1000) : INFINITE;
}

std::string release_event_name(const char* mutex_name)
{
    return std::string("bench_release_") + mutex_name;
}

// Prints "ready", then keeps the mutex until the time is up or a
// "bench_mutex release" asks for it.
void keep(int argc, char** argv)
{
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, release_event_name(argv[2]).c_str());
    std::printf("ready\n");
    std::fflush(stdout);
    WaitForSingleObject(release, keep_ms(argc, argv));
    CloseHandle(release);
}

DWORD WINAPI create_and_abandon(void* name)
{
    CreateMutexA(nullptr, TRUE, static_cast<const char*>(name));
    return 0;  // the thread ends owning the mutex: the system abandons it
}

int usage()
{
    std::fprintf(stderr, "usage: bench_mutex hold|abandon|unowned NAME [SECONDS] | release NAME | exists NAME\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return usage();
    const char* action = argv[1];
    const char* name = argv[2];

    if (std::strcmp(action, "exists") == 0) {
        HANDLE h = OpenMutexA(SYNCHRONIZE, FALSE, name);
        if (h)
            CloseHandle(h);
        return h ? 0 : 1;
    }
    if (std::strcmp(action, "release") == 0) {
        HANDLE release = OpenEventA(EVENT_MODIFY_STATE, FALSE, release_event_name(name).c_str());
        if (!release)
            return 1;
        SetEvent(release);
        CloseHandle(release);
        return 0;
    }
    if (std::strcmp(action, "hold") == 0) {
        HANDLE h = CreateMutexA(nullptr, TRUE, name);
        if (!h)
            return 1;
        keep(argc, argv);
        ReleaseMutex(h);
        CloseHandle(h);
        return 0;
    }
    if (std::strcmp(action, "abandon") == 0) {
        // The thread's handle stays open in this process after the thread
        // ends, so the mutex lives on, abandoned.
        HANDLE thread = CreateThread(nullptr, 0, create_and_abandon, const_cast<char*>(name), 0, nullptr);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        keep(argc, argv);
        return 0;
    }
    if (std::strcmp(action, "unowned") == 0) {
        HANDLE h = CreateMutexA(nullptr, FALSE, name);
        if (!h)
            return 1;
        keep(argc, argv);
        CloseHandle(h);
        return 0;
    }
    return usage();
}
