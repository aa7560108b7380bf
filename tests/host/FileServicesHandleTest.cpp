#include <StravoHost/FileServicesHandle.h>

#include <tuple>

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

// Every field of a record, for comparing records as a whole.
auto fields(const HandleRecreationInfo& i) {
    const SECURITY_ATTRIBUTES& sa = i.securityAttributes;
    return std::make_tuple(i.fileName, i.currFilePointerLow, i.currFilePointerHigh, i.desiredAccess, i.shareMode,
                           sa.nLength, sa.lpSecurityDescriptor, sa.bInheritHandle, i.creationDisposition,
                           i.flagsAndAttributes, i.templateFile);
}

TEST(HostFileServicesHandle, DefaultIsEmpty) {
    const FileServicesHandle handle;
    EXPECT_EQ(static_cast<void*>(handle), INVALID_HANDLE_VALUE);
    EXPECT_EQ(handle.api().use_count(), 0);
    EXPECT_FALSE(handle.hasRecreationInfo());
    EXPECT_EQ(handle.fileName(), "");
    EXPECT_EQ(fields(handle.getHandleRecreationInfo()),
              std::make_tuple(std::string(), 0, 0, 0u, 0u, 0u, nullptr, 0, 0u, 0u, nullptr));
}

TEST(HostFileServicesHandle, CopiesShareTheApiAndCopyRawAndRecord) {
    boost::shared_ptr<int> owner;
    HANDLE raw = reinterpret_cast<HANDLE>(0x1234);
    FileServicesHandle original(ownedApi(owner), sampleInfo(), raw);
    EXPECT_TRUE(original.hasRecreationInfo());
    EXPECT_EQ(original.fileName(), "\\\\srv\\share\\data.bin");

    FileServicesHandle copy(original), assigned;
    assigned = original;
    for (const FileServicesHandle* h : {&copy, &assigned}) {
        EXPECT_EQ(static_cast<void*>(*h), raw);
        EXPECT_TRUE(sameOwner(h->api(), owner));
        EXPECT_EQ(fields(h->getHandleRecreationInfo()), fields(sampleInfo()));
    }
    EXPECT_EQ(owner.use_count(), 4);

    // Copies are independent afterwards.
    copy.setCurrFilePointer(7, 0);
    copy.resetRectreationInfo();
    copy = reinterpret_cast<void*>(0x99);
    EXPECT_EQ(static_cast<void*>(original), raw);
    EXPECT_EQ(fields(original.getHandleRecreationInfo()), fields(sampleInfo()));
}

// A new raw handle, an emptied record and a new file pointer each change only their own part.
TEST(HostFileServicesHandle, UpdatesChangeOnlyTheirPart) {
    boost::shared_ptr<int> owner;
    FileServicesHandle handle(ownedApi(owner), sampleInfo(), reinterpret_cast<HANDLE>(0x10));
    handle = reinterpret_cast<void*>(0x20);
    EXPECT_EQ(static_cast<void*>(handle), reinterpret_cast<void*>(0x20));
    EXPECT_EQ(fields(handle.getHandleRecreationInfo()), fields(sampleInfo()));
    handle = INVALID_HANDLE_VALUE;
    EXPECT_TRUE(handle.hasRecreationInfo());

    HandleRecreationInfo moved = sampleInfo();
    moved.currFilePointerLow = -2;
    moved.currFilePointerHigh = 3;
    handle.setCurrFilePointer(-2, 3);
    EXPECT_EQ(fields(handle.getHandleRecreationInfo()), fields(moved));

    handle.resetRectreationInfo();
    EXPECT_FALSE(handle.hasRecreationInfo());
    EXPECT_EQ(fields(handle.getHandleRecreationInfo()), fields(HandleRecreationInfo()));
    EXPECT_EQ(static_cast<void*>(handle), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(sameOwner(handle.api(), owner));
}

}  // namespace
