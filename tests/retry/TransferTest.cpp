// Reads and writes through the file-services object when the share loses the connection: what the
// handle's record keeps and what a re-creation does with it. (Long transfers under faults, resumed
// at the kept position with no byte lost on a handle opened with CREATE_ALWAYS, are the integrity
// workload's: tests/integrity; the report of a failed transfer on a re-created handle, the fault matrix's; a
// flush on a write-through handle, the scenario suite run through the object.)

#include <string>

#include <gtest/gtest.h>

#include <GridApi/FaultInjector.h>

#include "HostFixture.h"

namespace {

using GridApi::FaultInjector;

class TransferTest : public gridtest::ServicesTest {
  protected:
    FileServicesHandle open(const std::string& file, DWORD disposition) {
        return services_->CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                                      FILE_ATTRIBUTE_NORMAL, FileServicesHandle());
    }
};

TEST_F(TransferTest, ALostHandleFailsWithInvalidHandleUntilARetryReCreatesIt) {
    const std::string file = path("lost.bin");
    FileServicesHandle h = open(file, CREATE_ALWAYS);
    DWORD written = 0;
    ASSERT_EQ(TRUE, services_->WriteFile(h, "0123456789", 10, &written, nullptr));
    ASSERT_NE(INVALID_SET_FILE_POINTER, services_->SetFilePointer(h, 4, nullptr, FILE_BEGIN));

    // The read fails, and so does the re-open: the handle is left lost, with its record.
    StravoHostControl::setDatabaseSetting("NumRetriesOnUnexpectedNetError", 1);
    gridtest::failCalls("ReadFile", ERROR_UNEXP_NET_ERR, 1);
    gridtest::failCalls("CreateFileA", ERROR_ACCESS_DENIED);
    char buffer[4] = {};
    DWORD got = 0;
    EXPECT_EQ(FALSE, services_->ReadFile(h, buffer, 4, &got, nullptr));
    EXPECT_EQ(nullptr, static_cast<void*>(h));
    ASSERT_TRUE(h.hasRecreationInfo());
    EXPECT_EQ(4, h.getHandleRecreationInfo().currFilePointerLow);

    // With the share back, the next read fails with 6 on the lost handle, is granted a retry,
    // re-creates the handle at the kept position and reads.
    FaultInjector::clear();
    StravoHostControl::clearCapturedLogLines();
    EXPECT_EQ(TRUE, services_->ReadFile(h, buffer, 4, &got, nullptr));
    EXPECT_EQ("4567", std::string(buffer, 4));
    EXPECT_NE(nullptr, static_cast<void*>(h));
    const std::vector<std::string> logged = lines();
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ("GRIDAPI-I-0001 Error: 'The handle is invalid'. Retrying 16 times, waiting 5 seconds between retries.",
              logged[2]);
    EXPECT_EQ("GRIDAPI-T-1111 File 'ReadFile' operation successfully completed.", logged.back());
    services_->CloseHandle(h);
}

TEST_F(TransferTest, TheKeptPositionFollowsSeeksAsRecorded) {
    FileServicesHandle h = open(path("seek.bin"), CREATE_ALWAYS);
    LARGE_INTEGER distance;
    distance.QuadPart = 0x100000010LL;
    LARGE_INTEGER now;
    ASSERT_EQ(TRUE, services_->SetFilePointerEx(h, distance, &now, FILE_BEGIN));
    EXPECT_EQ(0x10, h.getHandleRecreationInfo().currFilePointerLow);
    EXPECT_EQ(1, h.getHandleRecreationInfo().currFilePointerHigh);

    // Without a pointer for the new position the file moves but the kept position stays.
    distance.QuadPart = 8;
    ASSERT_EQ(TRUE, services_->SetFilePointerEx(h, distance, nullptr, FILE_BEGIN));
    EXPECT_EQ(0x10, h.getHandleRecreationInfo().currFilePointerLow);
    LONG high = 0;
    EXPECT_EQ(8u, services_->SetFilePointer(h, 0, &high, FILE_CURRENT));

    // A null high part records 0; a failed seek records nothing.
    EXPECT_EQ(12u, services_->SetFilePointer(h, 12, nullptr, FILE_BEGIN));
    EXPECT_EQ(12, h.getHandleRecreationInfo().currFilePointerLow);
    EXPECT_EQ(0, h.getHandleRecreationInfo().currFilePointerHigh);
    EXPECT_EQ(INVALID_SET_FILE_POINTER, services_->SetFilePointer(h, -100, nullptr, FILE_BEGIN));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NEGATIVE_SEEK), GetLastError());
    EXPECT_EQ(12, h.getHandleRecreationInfo().currFilePointerLow);
    services_->CloseHandle(h);
}

TEST_F(TransferTest, OpeningThroughAnUnsharedObjectThrowsBadWeakPtrAndLeaksNothing) {
    StravoStorageApi::FileServicesIf* unshared = createFileServices();
    const std::string file = path("unshared.bin");
    WIN32_FIND_DATAA data;
    EXPECT_THROW(unshared->CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, FileServicesHandle()),
                 boost::bad_weak_ptr);
    EXPECT_THROW(unshared->FindFirstFileA(path("*").c_str(), &data), boost::bad_weak_ptr);
    delete unshared;
    // The opened handle was closed before the exception left: the file can be deleted and opened
    // exclusively again.
    HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, h);
    CloseHandle(h);
}

}  // namespace
