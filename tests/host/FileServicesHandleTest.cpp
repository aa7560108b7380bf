#include <StravoHost/FileServicesHandle.h>

#include <memory>

#include <gtest/gtest.h>

namespace {

using Api = boost::shared_ptr<StravoStorageApi::FileServicesIf>;

// An owner for the handle's file-services pointer: the handle only stores and shares it, so any
// owned object serves to observe the sharing.
Api ownedApi(boost::shared_ptr<int>& owner) {
    owner = boost::shared_ptr<int>(new int(0));
    return Api(owner, static_cast<StravoStorageApi::FileServicesIf*>(nullptr));
}

bool sameOwner(const Api& a, const boost::shared_ptr<int>& b) { return !a.owner_before(b) && !b.owner_before(a); }

HandleRecreationInfo sampleInfo() {
    HandleRecreationInfo info;
    info.fileName = "\\\\srv\\share\\data.bin";
    info.currFilePointerLow = 4096;
    info.currFilePointerHigh = 1;
    info.desiredAccess = GENERIC_READ | GENERIC_WRITE;
    info.shareMode = FILE_SHARE_READ;
    info.securityAttributes.nLength = sizeof(SECURITY_ATTRIBUTES);
    info.securityAttributes.bInheritHandle = TRUE;
    info.creationDisposition = OPEN_ALWAYS;
    info.flagsAndAttributes = FILE_ATTRIBUTE_NORMAL;
    info.templateFile = reinterpret_cast<HANDLE>(0x55);
    return info;
}

void expectSameInfo(const HandleRecreationInfo& a, const HandleRecreationInfo& b) {
    EXPECT_EQ(a.fileName, b.fileName);
    EXPECT_EQ(a.currFilePointerLow, b.currFilePointerLow);
    EXPECT_EQ(a.currFilePointerHigh, b.currFilePointerHigh);
    EXPECT_EQ(a.desiredAccess, b.desiredAccess);
    EXPECT_EQ(a.shareMode, b.shareMode);
    EXPECT_EQ(a.securityAttributes.nLength, b.securityAttributes.nLength);
    EXPECT_EQ(a.securityAttributes.lpSecurityDescriptor, b.securityAttributes.lpSecurityDescriptor);
    EXPECT_EQ(a.securityAttributes.bInheritHandle, b.securityAttributes.bInheritHandle);
    EXPECT_EQ(a.creationDisposition, b.creationDisposition);
    EXPECT_EQ(a.flagsAndAttributes, b.flagsAndAttributes);
    EXPECT_EQ(a.templateFile, b.templateFile);
}

TEST(HostFileServicesHandle, DefaultIsEmpty) {
    const FileServicesHandle handle;
    EXPECT_EQ(static_cast<void*>(handle), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(handle.api());
    EXPECT_EQ(handle.api().use_count(), 0);
    EXPECT_FALSE(handle.hasRecreationInfo());
    EXPECT_EQ(handle.fileName(), "");
    expectSameInfo(handle.getHandleRecreationInfo(), HandleRecreationInfo());
    EXPECT_EQ(HandleRecreationInfo().templateFile, nullptr);
    EXPECT_EQ(HandleRecreationInfo().securityAttributes.lpSecurityDescriptor, nullptr);
}

TEST(HostFileServicesHandle, CopiesShareTheApiAndCopyRawAndRecord) {
    boost::shared_ptr<int> owner;
    HANDLE raw = reinterpret_cast<HANDLE>(0x1234);
    FileServicesHandle original(ownedApi(owner), sampleInfo(), raw);
    EXPECT_TRUE(original.hasRecreationInfo());
    EXPECT_EQ(original.fileName(), "\\\\srv\\share\\data.bin");

    FileServicesHandle copy(original);
    EXPECT_EQ(static_cast<void*>(copy), raw);
    EXPECT_TRUE(sameOwner(copy.api(), owner));
    expectSameInfo(copy.getHandleRecreationInfo(), sampleInfo());
    EXPECT_EQ(owner.use_count(), 3);

    FileServicesHandle assigned;
    assigned = original;
    EXPECT_EQ(static_cast<void*>(assigned), raw);
    EXPECT_TRUE(sameOwner(assigned.api(), owner));
    expectSameInfo(assigned.getHandleRecreationInfo(), sampleInfo());
    EXPECT_EQ(owner.use_count(), 4);

    // Copies are independent afterwards.
    copy.setCurrFilePointer(7, 0);
    copy.resetRectreationInfo();
    copy = reinterpret_cast<void*>(0x99);
    EXPECT_EQ(static_cast<void*>(original), raw);
    expectSameInfo(original.getHandleRecreationInfo(), sampleInfo());
}

TEST(HostFileServicesHandle, AssigningARawHandleKeepsApiAndRecord) {
    boost::shared_ptr<int> owner;
    FileServicesHandle handle(ownedApi(owner), sampleInfo(), reinterpret_cast<HANDLE>(0x10));
    handle = reinterpret_cast<void*>(0x20);
    EXPECT_EQ(static_cast<void*>(handle), reinterpret_cast<void*>(0x20));
    EXPECT_TRUE(sameOwner(handle.api(), owner));
    expectSameInfo(handle.getHandleRecreationInfo(), sampleInfo());
    handle = INVALID_HANDLE_VALUE;
    EXPECT_EQ(static_cast<void*>(handle), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(handle.hasRecreationInfo());
}

TEST(HostFileServicesHandle, ResetClearsOnlyTheRecord) {
    boost::shared_ptr<int> owner;
    FileServicesHandle handle(ownedApi(owner), sampleInfo(), reinterpret_cast<HANDLE>(0x10));
    handle.resetRectreationInfo();
    EXPECT_FALSE(handle.hasRecreationInfo());
    expectSameInfo(handle.getHandleRecreationInfo(), HandleRecreationInfo());
    EXPECT_EQ(static_cast<void*>(handle), reinterpret_cast<void*>(0x10));
    EXPECT_TRUE(sameOwner(handle.api(), owner));
}

TEST(HostFileServicesHandle, SetCurrFilePointerUpdatesBothHalves) {
    FileServicesHandle handle(Api(), sampleInfo(), reinterpret_cast<HANDLE>(0x10));
    handle.setCurrFilePointer(-2, 3);
    EXPECT_EQ(handle.getHandleRecreationInfo().currFilePointerLow, -2);
    EXPECT_EQ(handle.getHandleRecreationInfo().currFilePointerHigh, 3);
    EXPECT_EQ(handle.getHandleRecreationInfo().desiredAccess, GENERIC_READ | GENERIC_WRITE);
}

}  // namespace
