// main() of every in-process test: GoogleTest's, plus an unhandled-exception
// filter. Without it a crashing test program may leave Wine with exit code 0
// (the crash debugger's), and the crash would pass for success.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

namespace {

const UINT crashed_exit_code = 99;

LONG WINAPI end_crashed_test(EXCEPTION_POINTERS* exception)
{
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::fprintf(stderr, "unhandled exception 0x%08lX at %p in %s.%s\n",
                 static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode),
                 exception->ExceptionRecord->ExceptionAddress, test ? test->test_suite_name() : "?",
                 test ? test->name() : "?");
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), crashed_exit_code);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int main(int argc, char** argv)
{
    SetUnhandledExceptionFilter(end_crashed_test);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
