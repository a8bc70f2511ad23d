#include "core/provider_lock.h"

#include "core/timing.h"
#include "diag/log.h"

namespace {

const DWORD lock_wait_ms = 30000;

double seconds_between(const LARGE_INTEGER& before, const LARGE_INTEGER& after, const LARGE_INTEGER& frequency)
{
    return static_cast<double>(after.QuadPart - before.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void wait_for_other_holder(HANDLE mutex)
{
    log_write(DEBUG, "waiting the mutex will be released...");
    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    DWORD result = WaitForSingleObject(mutex, timing_ms(lock_wait_ms));
    QueryPerformanceCounter(&after);
    const double wait_time = seconds_between(before, after, frequency);

    switch (result) {
    case WAIT_OBJECT_0:
        log_write(DEBUG, "mutex ownership is obtained successfully { rc=WAIT_OBJECT_0, wait_time=%0.8f }", wait_time);
        break;
    case WAIT_ABANDONED:
        log_write(DEBUG, "obtained ownership of the abandoned mutex { rc=WAIT_ABANDONED, wait_time=%0.8f }", wait_time);
        break;
    case WAIT_TIMEOUT:
        log_write(WARNING, "time-out interval elapsed, error getting mutex ownership { rc=WAIT_TIMEOUT, wait_time=%0.8f }",
                  wait_time);
        break;
    default:
        log_write(ERROR, "error getting mutex ownership, error=%d", static_cast<int>(result));
        break;
    }
}

}  // namespace

HANDLE acquire_provider_lock()
{
    SetLastError(ERROR_SUCCESS);
    HANDLE mutex = CreateMutexA(nullptr, TRUE, provider_mutex_name);
    const DWORD error = GetLastError();
    if (!mutex) {
        log_write(ERROR, "CreateMutex() error, code=%d", static_cast<int>(error));
        return nullptr;
    }
    // Asking for initial ownership has no effect on a mutex that existed.
    if (error == ERROR_ALREADY_EXISTS)
        wait_for_other_holder(mutex);
    return mutex;
}
