#include <gtest/gtest.h>

#include <GridApi/ErrorStatus.h>

#include "HostFixture.h"

namespace {

using GridApi::ErrorStatus;

ErrorStatus record(std::int32_t status, std::uint32_t lastError, std::uint32_t value) {
    ErrorStatus r;
    r.status = status;
    r.lastError = lastError;
    r.value = value;
    return r;
}

class ErrorStatusTest : public gridtest::HostTest {};

TEST_F(ErrorStatusTest, DefaultRecordIsAllZeroWithAnEmptyHandle) {
    const ErrorStatus r;
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(0u, r.lastError);
    EXPECT_EQ(0u, r.value);
    EXPECT_EQ(static_cast<void*>(FileServicesHandle()), static_cast<void*>(r));
}

TEST_F(ErrorStatusTest, CopyAndAssignmentCarryEveryField) {
    ErrorStatus source = record(3, 64, 9);
    HandleRecreationInfo info;
    info.fileName = "\\\\server\\share\\f";
    info.currFilePointerLow = 12;
    source.handle = FileServicesHandle(boost::shared_ptr<StravoStorageApi::FileServicesIf>(), info,
                                       reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x1234)));

    const ErrorStatus copy(source);
    ErrorStatus assigned;
    assigned = source;
    const ErrorStatus* const both[] = {&copy, &assigned};
    for (const ErrorStatus* r : both) {
        EXPECT_EQ(3, r->status);
        EXPECT_EQ(64u, r->lastError);
        EXPECT_EQ(9u, r->value);
        EXPECT_EQ(reinterpret_cast<void*>(static_cast<intptr_t>(0x1234)), static_cast<void*>(*r));
        EXPECT_EQ("\\\\server\\share\\f", r->handle.fileName());
        EXPECT_EQ(12, r->handle.getHandleRecreationInfo().currFilePointerLow);
    }
}

}  // namespace
