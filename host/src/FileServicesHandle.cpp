#include <StravoHost/FileServicesHandle.h>

#include <utility>

FileServicesHandle::FileServicesHandle() : raw_(INVALID_HANDLE_VALUE) {}

FileServicesHandle::FileServicesHandle(boost::shared_ptr<StravoStorageApi::FileServicesIf> api,
                                       const HandleRecreationInfo& info, HANDLE raw)
    : raw_(raw), api_(std::move(api)), info_(info) {}

FileServicesHandle::FileServicesHandle(boost::shared_ptr<StravoStorageApi::FileServicesIf> api,
                                       HandleRecreationInfo&& info, HANDLE raw)
    : raw_(raw), api_(std::move(api)), info_(std::move(info)) {}

FileServicesHandle::FileServicesHandle(const FileServicesHandle& other) = default;

FileServicesHandle& FileServicesHandle::operator=(const FileServicesHandle& other) = default;

FileServicesHandle::FileServicesHandle(FileServicesHandle&& other) noexcept = default;

FileServicesHandle& FileServicesHandle::operator=(FileServicesHandle&& other) noexcept = default;

FileServicesHandle::~FileServicesHandle() = default;

FileServicesHandle& FileServicesHandle::operator=(void* raw) {
    raw_ = raw;
    return *this;
}

FileServicesHandle::operator void*() const { return raw_; }

boost::shared_ptr<StravoStorageApi::FileServicesIf> FileServicesHandle::api() const { return api_; }

const std::string& FileServicesHandle::fileName() const { return info_.fileName; }

const HandleRecreationInfo& FileServicesHandle::getHandleRecreationInfo() const { return info_; }

bool FileServicesHandle::hasRecreationInfo() const { return !info_.fileName.empty(); }

void FileServicesHandle::resetRectreationInfo() { info_ = HandleRecreationInfo(); }

void FileServicesHandle::setCurrFilePointer(LONG low, LONG high) {
    info_.currFilePointerLow = low;
    info_.currFilePointerHigh = high;
}
