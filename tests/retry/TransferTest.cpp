// What the handle's record keeps of the file position through the file-services object: the position
// a re-creation goes back to. (Re-creations after lost connections, at the kept position and with no
// byte lost, failed re-opens among them, are the integrity workload's: tests/integrity; the report of
// a failed transfer on a re-created handle, the fault matrix's; a flush on a write-through handle, the
// scenario suite run through the object.)

#include <string>

#include <gtest/gtest.h>

#include "HostFixture.h"

namespace {

class TransferTest : public gridtest::ServicesTest {};

TEST_F(TransferTest, TheKeptPositionFollowsSeeksAsRecorded) {
    FileServicesHandle h = services_->CreateFileA(path("seek.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                  CREATE_ALWAYS, 0, FileServicesHandle());
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

}  // namespace
