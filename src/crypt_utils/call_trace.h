#pragma once
// The calling and logging pattern every crypt_utils routine follows:
//
//   ----> calling <entry>                      DEBUG, on entry
//   <call> error, code: 0x..., line: N, func: crypt_utils::<name>
//                                              ERROR, at the first failure only
//   clean up:                                  DEBUG
//   \t- <label>                                DEBUG, per resource still held, in the routine's order
//   <--- closing <name>(), rc=N|0x...          DEBUG
//
// A routine makes one CallTrace, runs its steps until the first failure,
// then calls clean_up() with its resources in their fixed order and returns
// close(). Resources are Owned<> values: whatever clean_up() does not list is
// still released by its destructor, so nothing can leak.
//
// The steps run in a lambda invoked where it is written, `[&] { ... }();`:
// a `return` at the first failure then lands on the routine's one exit,
// where clean_up() and close() run in their fixed order, without a goto and
// without a second copy of the clean-up on each failure path.
//
// N is the line of the failing call in the file that holds it: each check
// captures the line where it is written, and the platform call is written
// on that same line: `trace.ok(CryptAcquireContextA(...),`.

#include "platform/printf_check.h"

#include <source_location>
#include <string>
#include <string_view>

namespace keyhaven {

namespace crypt_utils {

constexpr int rc_ok = 0;
constexpr int rc_alloc_failed = 200;
// A call failed but Windows left its error code at 0: the rc must still say
// "failed", or the caller would take the routine's failure for success.
constexpr int rc_failed_without_code = -1;

class CallTrace {
public:
    // name: "enum_containers"; entry: what follows "----> calling ".
    CallTrace(const char* name, const std::string& entry);
    // For a routine that writes only the ERROR line of the pattern (no
    // entry, clean-up or closing lines).
    explicit CallTrace(const char* name);

    // One platform call as the trace saw it: whether it succeeded, the error
    // code read right after it (on failure), and the line it is written on.
    struct Call {
        bool succeeded;
        unsigned long code;
        int line;
    };

    // The platform call has returned; succeeded is its result taken as a
    // truth value (TRUE, non-zero, non-null). On failure: rc from
    // GetLastError(), the ERROR line naming the call, and false.
    [[nodiscard]] bool ok(bool succeeded, std::string_view call_text,
                          std::source_location where = std::source_location::current());
    // The allocation has returned; on failure: rc 200, its ERROR line, false.
    [[nodiscard]] bool allocated(bool succeeded, std::source_location where = std::source_location::current());
    // A call whose failure the routine survives: the same line at WARNING,
    // with the code as read; rc and the rest of the routine are unchanged.
    bool tolerated(bool succeeded, std::string_view call_text,
                   std::source_location where = std::source_location::current());
    // For a call whose failure the routine first tells apart by its code
    // (the end of a walk): the call's outcome, logged nothing yet.
    static Call observed(bool succeeded, std::source_location where = std::source_location::current());
    // The failure of an observed call. Only the first failure counts.
    void fail(const Call& call, std::string_view call_text);

    bool failed() const { return failed_; }
    void set_rc(int rc) { rc_ = rc; }

    template <typename... Resources>
    void clean_up(Resources&... resources)
    {
        log_clean_up();
        (release_logged(resources), ...);
    }

    // The closing line; returns rc.
    int close() const;

private:
    template <typename Resource>
    void release_logged(Resource& resource)
    {
        if (!resource.held())
            return;
        log_release(resource.label());
        resource.free_now();
    }
    static void log_clean_up();
    static void log_release(const char* label);

    std::string name_;
    std::string full_name_;  // "crypt_utils::<name>", as the ERROR line shows it
    int rc_ = rc_ok;
    bool failed_ = false;
};

}  // namespace crypt_utils

}  // namespace keyhaven
