// CreateFile routing by prefix and the overlapped-I/O calls on a file object of the test's
// own: a device whose requests stay pending until the test completes them.
#include "platform/win32/File.h"
#include "platform/win32/Sync.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <thread>

namespace {

class ScriptedFile : public win32::FileObject {
public:
    BOOL IoControl(DWORD code, const void*, DWORD, void* out, DWORD outSize, DWORD* returned,
                   OVERLAPPED* ov) override
    {
        if (code == 1) {  // completes at once
            if (returned) *returned = outSize;
            return TRUE;
        }
        win32::StartOverlapped(ov);
        std::lock_guard guard(lock);
        pending.push_back({ov, out, outSize});
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    BOOL CancelIo() override
    {
        std::lock_guard guard(lock);
        for (auto& p : pending) win32::CompleteOverlapped(p.ov, 0xC0000120u, 0);
        pending.clear();
        return TRUE;
    }
    void OnClose() override { closed = true; }

    void CompleteFirst(uint32_t status, ULONG_PTR bytes)
    {
        std::lock_guard guard(lock);
        win32::CompleteOverlapped(pending.front().ov, status, bytes);
        pending.erase(pending.begin());
    }

    struct Pending {
        OVERLAPPED* ov;
        void* out;
        DWORD size;
    };
    std::mutex lock;
    std::vector<Pending> pending;
    bool closed = false;
};

class FileRouting : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* prefix : {"DEV", "DEVX"}) {
            std::string p = prefix;
            win32::RegisterFileNamespace(p, [this, p](const std::string& name, DWORD, DWORD, DWORD, DWORD) {
                opened.push_back(p + ":" + name);
                auto file = std::make_shared<ScriptedFile>();
                last = file;
                return win32::InsertHandle(file);
            });
        }
    }
    void TearDown() override
    {
        win32::UnregisterFileNamespace("DEV");
        win32::UnregisterFileNamespace("DEVX");
    }
    HANDLE Open(const char* name)
    {
        return CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    }
    std::vector<std::string> opened;
    std::shared_ptr<ScriptedFile> last;
};

TEST_F(FileRouting, LongestPrefixChoosesTheOpenerAndUnknownNamesAreNotFound)
{
    HANDLE a = Open("DEV1");
    HANDLE b = Open("DEVX1");
    EXPECT_EQ(opened, (std::vector<std::string>{"DEV:DEV1", "DEVX:DEVX1"}));
    SetLastError(0);
    EXPECT_EQ(Open("COM9"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    CloseHandle(a);
    CloseHandle(b);
}

TEST_F(FileRouting, GetOverlappedResultWithoutWaitingIsIncompleteUntilDone)
{
    HANDLE h = Open("DEV0");
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);  // reset when the request starts
    uint8_t buffer[8];
    EXPECT_FALSE(DeviceIoControl(h, 2, nullptr, 0, buffer, 8, nullptr, &ov));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_EQ(WaitForSingleObject(ov.hEvent, 0), WAIT_TIMEOUT);
    DWORD n = 99;
    EXPECT_FALSE(GetOverlappedResult(h, &ov, &n, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
    last->CompleteFirst(0, 5);
    EXPECT_EQ(WaitForSingleObject(ov.hEvent, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(GetOverlappedResult(h, &ov, &n, FALSE));
    EXPECT_EQ(n, 5u);
    CloseHandle(ov.hEvent);
    CloseHandle(h);
}

struct StatusCase {
    uint32_t status;
    DWORD error;
};
class StatusMapping : public FileRouting, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StatusMapping, AFailedOperationReportsTheMappedError)
{
    HANDLE h = Open("DEV0");
    OVERLAPPED ov{};
    DeviceIoControl(h, 2, nullptr, 0, nullptr, 0, nullptr, &ov);
    last->CompleteFirst(GetParam().status, 3);
    DWORD n = 0;
    EXPECT_FALSE(GetOverlappedResult(h, &ov, &n, TRUE));
    EXPECT_EQ(GetLastError(), GetParam().error);
    CloseHandle(h);
}

INSTANTIATE_TEST_SUITE_P(Statuses, StatusMapping,
                         ::testing::Values(StatusCase{0xC000003Fu, ERROR_CRC}, StatusCase{0xC000009Cu, ERROR_CRC},
                                           StatusCase{0xC0000120u, ERROR_OPERATION_ABORTED},
                                           StatusCase{0xC000000Du, ERROR_INVALID_PARAMETER},
                                           StatusCase{0xC0000056u, ERROR_ACCESS_DENIED},
                                           StatusCase{0xC000009Du, ERROR_DEVICE_NOT_CONNECTED},
                                           StatusCase{0xC000009Au, ERROR_NO_SYSTEM_RESOURCES},
                                           StatusCase{0x80000011u, ERROR_BUSY},
                                           StatusCase{0xC0000001u, ERROR_GEN_FAILURE}),
                         [](const auto& info) {
                             char name[16];
                             std::snprintf(name, sizeof name, "Status%08X", info.param.status);
                             return std::string(name);
                         });

TEST_F(FileRouting, WaitingGetOverlappedResultBlocksUntilCompletion)
{
    HANDLE h = Open("DEV0");
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DeviceIoControl(h, 2, nullptr, 0, nullptr, 0, nullptr, &ov);
    std::thread completer([&] {
        Sleep(20);
        last->CompleteFirst(0, 9);
    });
    DWORD n = 0;
    EXPECT_TRUE(GetOverlappedResult(h, &ov, &n, TRUE));
    EXPECT_EQ(n, 9u);
    completer.join();
    CloseHandle(ov.hEvent);
    CloseHandle(h);
}

TEST_F(FileRouting, CancelIoAbortsPendingAndCloseReachesTheObject)
{
    HANDLE h = Open("DEV0");
    OVERLAPPED ov{};
    DeviceIoControl(h, 2, nullptr, 0, nullptr, 0, nullptr, &ov);
    EXPECT_TRUE(CancelIo(h));
    DWORD n = 0;
    EXPECT_FALSE(GetOverlappedResult(h, &ov, &n, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    auto file = last;
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_TRUE(file->closed);
    EXPECT_FALSE(DeviceIoControl(h, 1, nullptr, 0, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(FileRouting, DefaultOperationsAreRefused)
{
    HANDLE h = Open("DEV0");
    DWORD n;
    EXPECT_FALSE(ReadFile(h, nullptr, 0, &n, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    CloseHandle(h);
}

} // namespace
