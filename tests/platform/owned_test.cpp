// The ownership template's handle policies against real kernel objects.
#include "crypt_utils/crypt_handles.h"
#include "platform/owned.h"

#include <gtest/gtest.h>

#include <windows.h>

using namespace keyhaven;

TEST(Owned, KernelHandlesTakeNullAndInvalidHandleValueForEmpty)
{
    KernelHandle missing(CreateFileA("C:\\no\\such\\folder\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(INVALID_HANDLE_VALUE, missing.get());
    EXPECT_FALSE(missing.held());
    EXPECT_FALSE(KernelHandle(OpenMutexA(SYNCHRONIZE, FALSE, "no such mutex")).held());
}

TEST(Owned, ReleaseKeepsTheLastErrorOfTheFailedCall)
{
    KernelHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event.held());
    HANDLE raw = event.get();
    SetLastError(ERROR_SHARING_VIOLATION);
    event.free_now();
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    EXPECT_FALSE(event.held());
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(raw, &flags));  // closed, exactly once
}

TEST(Owned, ABufferFreedHasNoSizeLeft)
{
    crypt_utils::Buffer buffer("buffer");
    ASSERT_TRUE(buffer.allocate(16));
    EXPECT_EQ(16u, buffer.size());
    buffer.free_now();
    EXPECT_FALSE(buffer.held());
    EXPECT_EQ(0u, buffer.size());
}
