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
// N is the line of the failing call in the file that holds it: each check
// is given __LINE__ on the line where the platform call is written.

#include "diag/printf_check.h"

#include <string>

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

    // The platform call on `line` has returned; succeeded is its result
    // taken as a truth value (TRUE, non-zero, non-null). On failure: rc from
    // GetLastError(), the ERROR line naming the call, and false.
    bool ok(int line, bool succeeded, const char* call_format, ...) KEYHAVEN_PRINTF(4, 5);
    // The allocation on `line` has returned; on failure: rc 200, its ERROR line, false.
    bool allocated(int line, bool succeeded);
    // A call whose failure the routine survives: the same line at WARNING,
    // with the code as read; rc and the rest of the routine are unchanged.
    bool tolerated(int line, bool succeeded, const char* call_text);
    // A failure whose error code was already read. Only the first failure counts.
    void fail_with(unsigned long code, int line, const char* call_text);

    bool failed() const { return failed_; }
    int rc() const { return rc_; }
    void set_rc(int rc) { rc_ = rc; }
    const std::string& full_name() const { return full_name_; }

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
    std::string full_name_;
    int rc_ = rc_ok;
    bool failed_ = false;
};

}  // namespace crypt_utils
