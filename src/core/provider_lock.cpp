#include "core/provider_lock.h"

#include "platform/timing.h"
#include "diag/log.h"
#include "diag/repeated_failure.h"

#include <string>
#include <utility>

namespace keyhaven {

namespace {

const DWORD lock_wait_ms = 30000;

double seconds_between(const LARGE_INTEGER& before, const LARGE_INTEGER& after, const LARGE_INTEGER& frequency)
{
    return static_cast<double>(after.QuadPart - before.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// True when the wait obtained ownership.
bool wait_for_other_holder(HANDLE mutex)
{
    log_write(LogLevel::debug, "waiting the mutex will be released...");
    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    const DWORD result = WaitForSingleObject(mutex, timing_ms(lock_wait_ms));
    // The failed wait's own code, before anything else can change it.
    const DWORD error = result == WAIT_FAILED ? GetLastError() : result;
    QueryPerformanceCounter(&after);
    const double wait_time = seconds_between(before, after, frequency);

    switch (result) {
    case WAIT_OBJECT_0:
        log_write(LogLevel::debug, "mutex ownership is obtained successfully { rc=WAIT_OBJECT_0, wait_time=%0.8f }",
                  wait_time);
        return true;
    case WAIT_ABANDONED:
        log_write(LogLevel::debug, "obtained ownership of the abandoned mutex { rc=WAIT_ABANDONED, wait_time=%0.8f }",
                  wait_time);
        return true;
    case WAIT_TIMEOUT:
        log_write(LogLevel::warning,
                  "time-out interval elapsed, error getting mutex ownership { rc=WAIT_TIMEOUT, wait_time=%0.8f }",
                  wait_time);
        return false;
    default:
        log_write(LogLevel::error, "error getting mutex ownership, error=%d", static_cast<int>(error));
        return false;
    }
}

// A name taken by another kind of object fails the lock on every turn: its
// line follows the repeated-failure rule.
void follow_create_failure(bool failed, DWORD error)
{
    static RepeatedFailure create_failure;
    // The period matters only while failing; a lock that works asks the timing seam nothing.
    const unsigned long reminder_ms = failed ? timing_ms(failure_reminder_ms) : 0;
    switch (follow_failure(create_failure, failed, std::to_string(error), GetTickCount64(), reminder_ms)) {
    case FailureStep::write:
        log_write(LogLevel::error, "CreateMutex() error, code=%d", static_cast<int>(error));
        break;
    case FailureStep::ended:
        log_write(LogLevel::info, "provider lock can be created again");
        break;
    case FailureStep::quiet:
    case FailureStep::none:
        break;
    }
}

}  // namespace

ProviderLock acquire_provider_lock()
{
    SetLastError(ERROR_SUCCESS);
    MutexHandle handle(CreateMutexA(nullptr, TRUE, package_names::provider_mutex));
    const DWORD error = GetLastError();
    follow_create_failure(!handle.held(), error);
    // Asking for initial ownership has no effect on a mutex that existed.
    const bool owned = handle.held() && (error != ERROR_ALREADY_EXISTS || wait_for_other_holder(handle.get()));
    return ProviderLock(std::move(handle), owned);
}

}  // namespace keyhaven
