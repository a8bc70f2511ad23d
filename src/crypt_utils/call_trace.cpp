#include "crypt_utils/call_trace.h"

#include "diag/log.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

namespace crypt_utils {

CallTrace::CallTrace(const char* name, const std::string& entry)
    : name_(name), full_name_(std::string("crypt_utils::") + name)
{
    log_write(DEBUG, "----> calling %s", entry.c_str());
}

CallTrace::CallTrace(const char* name) : name_(name), full_name_(std::string("crypt_utils::") + name) {}

bool CallTrace::ok(int line, bool succeeded, const char* call_format, ...)
{
    if (succeeded)
        return true;
    const DWORD code = GetLastError();  // before anything else can change it
    char call_text[1024] = {};
    va_list args;
    va_start(args, call_format);
    std::vsnprintf(call_text, sizeof call_text, call_format, args);
    va_end(args);
    fail_with(code, line, call_text);
    return false;
}

bool CallTrace::tolerated(int line, bool succeeded, const char* call_text)
{
    if (succeeded)
        return true;
    const DWORD code = GetLastError();
    log_write(WARNING, "%s error, code: 0x%08X, line: %d, func: %s", call_text, static_cast<unsigned>(code), line,
              full_name_.c_str());
    return false;
}

bool CallTrace::allocated(int line, bool succeeded)
{
    if (succeeded)
        return true;
    if (!failed_) {
        failed_ = true;
        rc_ = rc_alloc_failed;
        log_write(ERROR, " error alloc, line: %d, func: %s", line, full_name_.c_str());
    }
    return false;
}

void CallTrace::fail_with(unsigned long code, int line, const char* call_text)
{
    if (failed_)
        return;
    failed_ = true;
    // The line shows the code as Windows gave it, 0 included; the rc never reads as success.
    rc_ = code != 0 ? static_cast<int>(code) : rc_failed_without_code;
    log_write(ERROR, "%s error, code: 0x%08X, line: %d, func: %s", call_text, static_cast<unsigned>(code), line,
              full_name_.c_str());
}

int CallTrace::close() const
{
    log_write(DEBUG, "<--- closing %s(), rc=%d|0x%08X", name_.c_str(), rc_, static_cast<unsigned>(rc_));
    return rc_;
}

void CallTrace::log_clean_up()
{
    log_write(DEBUG, "clean up:");
}

void CallTrace::log_release(const char* label)
{
    log_write(DEBUG, "\t- %s", label);
}

}  // namespace crypt_utils
