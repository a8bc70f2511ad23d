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

#include "diag/printf_check.h"

#include <string>

namespace crypt_utils {

constexpr int rc_ok = 0;
constexpr int rc_alloc_failed = 200;

class CallTrace {
public:
    // name: "enum_containers"; entry: what follows "----> calling ".
    CallTrace(const char* name, const std::string& entry);

    // The platform call just made has failed: takes GetLastError() as rc and
    // writes the ERROR line naming the call. Only the first failure counts.
    void fail(int line, const char* call_format, ...) KEYHAVEN_PRINTF(3, 4);
    // Like fail() with an error code already read.
    void fail_with(unsigned long code, int line, const char* call_text);
    // An allocation has failed: rc 200 and its ERROR line.
    void alloc_failed(int line);

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
