// Events, waits and threads.
#include "platform/win32/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

namespace {

struct Events {
    explicit Events(size_t n, BOOL manual = TRUE)
    {
        for (size_t i = 0; i < n; ++i) handles.push_back(CreateEventA(nullptr, manual, FALSE, nullptr));
    }
    ~Events()
    {
        for (HANDLE h : handles) CloseHandle(h);
    }
    std::vector<HANDLE> handles;
};

struct PriorityCase {
    std::vector<int> signalled;
    DWORD expected;
};

class WaitPriority : public ::testing::TestWithParam<PriorityCase> {};

TEST_P(WaitPriority, LowestSignalledIndexWins)
{
    Events e(4);
    for (int i : GetParam().signalled) SetEvent(e.handles[i]);
    EXPECT_EQ(WaitForMultipleObjects(4, e.handles.data(), FALSE, 0), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, WaitPriority,
                         ::testing::Values(PriorityCase{{}, WAIT_TIMEOUT}, PriorityCase{{3}, WAIT_OBJECT_0 + 3},
                                           PriorityCase{{2, 3}, WAIT_OBJECT_0 + 2},
                                           PriorityCase{{0, 1, 2, 3}, WAIT_OBJECT_0},
                                           PriorityCase{{3, 1}, WAIT_OBJECT_0 + 1}),
                         [](const auto& info) {
                             std::string name = "Signalled";
                             for (int i : info.param.signalled) name += std::to_string(i);
                             return info.param.signalled.empty() ? std::string("NoneSignalled") : name;
                         });

TEST(Events, ManualResetStaysSetUntilResetAndAutoResetReleasesOneWait)
{
    Events manual(1, TRUE), automatic(1, FALSE);
    SetEvent(manual.handles[0]);
    SetEvent(automatic.handles[0]);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(WaitForSingleObject(manual.handles[0], 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic.handles[0], 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic.handles[0], 0), WAIT_TIMEOUT);
    ResetEvent(manual.handles[0]);
    EXPECT_EQ(WaitForSingleObject(manual.handles[0], 0), WAIT_TIMEOUT);
}

TEST(Events, WaitAllNeedsEveryObjectAtOnce)
{
    Events e(2);
    SetEvent(e.handles[1]);
    EXPECT_EQ(WaitForMultipleObjects(2, e.handles.data(), TRUE, 0), WAIT_TIMEOUT);
    SetEvent(e.handles[0]);
    EXPECT_EQ(WaitForMultipleObjects(2, e.handles.data(), TRUE, 0), WAIT_OBJECT_0);
}

TEST(Events, TimeOutLastsAtLeastTheAskedTime)
{
    Events e(1);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(e.handles[0], 30), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST(Events, ASetFromAnotherThreadWakesTheWaiter)
{
    Events e(2);
    HANDLE target = e.handles[1];
    HANDLE t = CreateThread(nullptr, 0, [](void* h) -> DWORD {
        Sleep(20);
        SetEvent(static_cast<HANDLE>(h));
        return 7;
    }, target, 0, nullptr);
    EXPECT_EQ(WaitForMultipleObjects(2, e.handles.data(), FALSE, 5000), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);  // a thread is signalled when it ends
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(code, 7u);
    CloseHandle(t);
}

TEST(Handles, BadHandlesFailAndValuesAreSmallMultiplesOfFour)
{
    HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    auto value = reinterpret_cast<uintptr_t>(e);
    EXPECT_EQ(value % 4, 0u);
    EXPECT_NE(value, 0u);
    EXPECT_LE(value, 0xFFFFFFFFu);
    EXPECT_TRUE(CloseHandle(e));
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(e));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetEvent(e));
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForSingleObject(INVALID_HANDLE_VALUE, 0), WAIT_FAILED);
}

TEST(Handles, TypedReferenceRefusesAnObjectOfAnotherKind)
{
    HANDLE t = CreateThread(nullptr, 0, [](void*) -> DWORD { return 0; }, nullptr, 0, nullptr);
    EXPECT_EQ(win32::ReferenceHandleAs<win32::EventObject>(t), nullptr);
    EXPECT_FALSE(SetEvent(t));
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);
}

TEST(Handles, LastErrorBelongsToTheThread)
{
    SetLastError(ERROR_CRC);
    HANDLE t = CreateThread(nullptr, 0, [](void*) -> DWORD {
        SetLastError(ERROR_BUSY);
        return GetLastError();
    }, nullptr, 0, nullptr);
    WaitForSingleObject(t, INFINITE);
    DWORD code = 0;
    GetExitCodeThread(t, &code);
    EXPECT_EQ(code, ERROR_BUSY);
    EXPECT_EQ(GetLastError(), ERROR_CRC);
    CloseHandle(t);
}

} // namespace
