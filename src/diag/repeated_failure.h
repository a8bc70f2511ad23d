#pragma once
// A failure met again on every working turn (a settings file that stays
// broken, a call that keeps failing) is logged when it starts, when its text
// changes, then at most once per reminder period while it lasts, and once
// more when it ends: the log tells what is wrong without filling the disk.
// No Windows header; the caller gives the clock.

#include <string>

namespace keyhaven {

// The product's reminder period; the polling cycle passes it through its
// timing seam.
constexpr unsigned long failure_reminder_ms = 60UL * 60 * 1000;

struct RepeatedFailure {
    bool failing = false;
    std::string text;
    unsigned long long written_at_ms = 0;
};

enum class [[nodiscard]] FailureStep {
    write,  // log the failure's line now
    quiet,  // the same failure, logged less than a period ago
    ended,  // it was failing and is no longer: say so once
    none,   // nothing failing, nothing to say
};

FailureStep follow_failure(RepeatedFailure& failure, bool failing, const std::string& text, unsigned long long now_ms,
                           unsigned long long reminder_ms);

}  // namespace keyhaven
