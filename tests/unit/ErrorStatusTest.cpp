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
    EXPECT_FALSE(r.handle.hasRecreationInfo());
}

TEST_F(ErrorStatusTest, ConversionsFollowStatusAndValue) {
    struct Case {
        std::int32_t status;
        std::uint32_t value;
        int asInt;
        bool asBool;
        unsigned int asUnsigned;
        unsigned long asUnsignedLong;
        long asLong;
    };
    const Case cases[] = {
        {1, 7, 1, true, 7u, 7ul, 7l},
        {0, 42, 0, false, 42u, 42ul, 42l},
        // The run counts -1 as success, but the conversions do not.
        {-1, 0xFFFFFFFFu, 0, false, 4294967295u, 4294967295ul, -1l},
    };
    for (const Case& c : cases) {
        const ErrorStatus r = record(c.status, 0, c.value);
        SCOPED_TRACE(c.status);
        EXPECT_EQ(c.asInt, static_cast<int>(r));
        EXPECT_EQ(c.asBool, static_cast<bool>(r));
        EXPECT_EQ(c.asUnsigned, static_cast<unsigned int>(r));
        EXPECT_EQ(c.asUnsignedLong, static_cast<unsigned long>(r));
        EXPECT_EQ(c.asLong, static_cast<long>(r));
    }
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
