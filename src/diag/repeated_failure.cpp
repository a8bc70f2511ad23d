#include "diag/repeated_failure.h"

namespace keyhaven {

FailureStep follow_failure(RepeatedFailure& failure, bool failing, const std::string& text, unsigned long long now_ms,
                           unsigned long long reminder_ms)
{
    if (!failing) {
        const bool was = failure.failing;
        failure = RepeatedFailure();
        return was ? FailureStep::ended : FailureStep::none;
    }
    // A clock that went back counts as a period gone by.
    const bool due = now_ms < failure.written_at_ms || now_ms - failure.written_at_ms >= reminder_ms;
    if (failure.failing && failure.text == text && !due)
        return FailureStep::quiet;
    failure.failing = true;
    failure.text = text;
    failure.written_at_ms = now_ms;
    return FailureStep::write;
}

}  // namespace keyhaven
