#include <GridApi/ErrorStatus.h>

#include <utility>

#include <StravoHost/Log.h>

namespace GridApi {

ErrorStatus::ErrorStatus() : status(0), lastError(0), handle(), value(0) {}

ErrorStatus::ErrorStatus(const ErrorStatus& other)
    : status(other.status), lastError(other.lastError), handle(other.handle), value(other.value) {}

ErrorStatus::~ErrorStatus() = default;

ErrorStatus& ErrorStatus::operator=(const ErrorStatus& other) {
    status = other.status;
    lastError = other.lastError;
    handle = other.handle;
    value = other.value;
    return *this;
}

ErrorStatus::ErrorStatus(ErrorStatus&& other) noexcept
    : status(other.status), lastError(other.lastError), handle(std::move(other.handle)), value(other.value) {}

ErrorStatus& ErrorStatus::operator=(ErrorStatus&& other) noexcept {
    status = other.status;
    lastError = other.lastError;
    handle = std::move(other.handle);
    value = other.value;
    return *this;
}

ErrorStatus::operator FileServicesHandle&() { return handle; }

ErrorStatus::operator int() const { return status > 0 ? 1 : 0; }

ErrorStatus::operator bool() const { return status > 0; }

ErrorStatus::operator unsigned int() const { return value; }

ErrorStatus::operator unsigned long() const { return value; }

ErrorStatus::operator long() const { return static_cast<std::int32_t>(value); }

ErrorStatus::operator void*() const { return static_cast<void*>(handle); }

std::string ErrorStatus::toString() const {
    return StravoUtilities::formatMessage("Status = %d,Last Error = %d", status, static_cast<std::int32_t>(lastError));
}

}  // namespace GridApi
