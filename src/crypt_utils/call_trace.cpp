#include "crypt_utils/call_trace.h"

#include "diag/log.h"

#include <windows.h>

namespace keyhaven {

namespace crypt_utils {

CallTrace::CallTrace(const char* name, const std::string& entry)
    : name_(name), full_name_(std::string("crypt_utils::") + name)
{
    log_write(LogLevel::debug, "----> calling %s", entry.c_str());
}

CallTrace::CallTrace(const char* name) : name_(name), full_name_(std::string("crypt_utils::") + name) {}

bool CallTrace::ok(bool succeeded, std::string_view call_text, std::source_location where)
{
    if (succeeded)
        return true;
    fail(observed(false, where), call_text);  // the code is read before anything else can change it
    return false;
}

CallTrace::Call CallTrace::observed(bool succeeded, std::source_location where)
{
    return Call{succeeded, succeeded ? 0UL : GetLastError(), static_cast<int>(where.line())};
}

bool CallTrace::tolerated(bool succeeded, std::string_view call_text, std::source_location where)
{
    if (succeeded)
        return true;
    const DWORD code = GetLastError();
    log_write(LogLevel::warning, "%s error, code: 0x%08X, line: %d, func: %s", std::string(call_text).c_str(),
              static_cast<unsigned>(code), static_cast<int>(where.line()), full_name_.c_str());
    return false;
}

bool CallTrace::allocated(bool succeeded, std::source_location where)
{
    if (succeeded)
        return true;
    if (!failed_) {
        failed_ = true;
        rc_ = rc_alloc_failed;
        log_write(LogLevel::error, " error alloc, line: %d, func: %s",
                  static_cast<int>(where.line()), full_name_.c_str());
    }
    return false;
}

void CallTrace::fail(const Call& call, std::string_view call_text)
{
    if (failed_ || call.succeeded)
        return;
    failed_ = true;
    // The line shows the code as Windows gave it, 0 included; the rc never reads as success.
    rc_ = call.code != 0 ? static_cast<int>(call.code) : rc_failed_without_code;
    log_write(LogLevel::error, "%s error, code: 0x%08X, line: %d, func: %s", std::string(call_text).c_str(),
              static_cast<unsigned>(call.code), call.line, full_name_.c_str());
}

int CallTrace::close() const
{
    log_write(LogLevel::debug, "<--- closing %s(), rc=%d|0x%08X", name_.c_str(), rc_, static_cast<unsigned>(rc_));
    return rc_;
}

void CallTrace::log_clean_up()
{
    log_write(LogLevel::debug, "clean up:");
}

void CallTrace::log_release(const char* label)
{
    log_write(LogLevel::debug, "\t- %s", label);
}

}  // namespace crypt_utils

}  // namespace keyhaven
