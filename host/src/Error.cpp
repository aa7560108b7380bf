#include <StravoHost/Error.h>

#include <cstdarg>

#include <boost/nowide/convert.hpp>

#include "Internal.h"

namespace StravoUtilities {

namespace {

std::string describe(const std::string& message, const std::string& path, DWORD code) {
    return message + " (path '" + path + "', error " + std::to_string(code) + ")";
}

}  // namespace

Error::Error(std::string path, DWORD code, std::string message)
    : path_(std::move(path)), code_(code), message_(std::move(message)), what_(describe(message_, path_, code_)) {}

Error::Error(const Error& other) = default;
Error& Error::operator=(const Error& other) = default;
Error::~Error() = default;

const char* Error::what() const noexcept { return what_.c_str(); }
const std::string& Error::path() const { return path_; }
DWORD Error::code() const { return code_; }
const std::string& Error::message() const { return message_; }

}  // namespace StravoUtilities

FileServicesError::FileServicesError(const std::string& path, DWORD code, const char* format, ...)
    : StravoUtilities::Error(path, code, std::string()) {
    va_list args;
    va_start(args, format);
    message_ = StravoHostInternal::vformat(format, args);
    va_end(args);
    what_ = StravoUtilities::describe(message_, path_, code_);
}

FileServicesError::FileServicesError(const std::wstring& path, DWORD code, const char* format, ...)
    : StravoUtilities::Error(boost::nowide::narrow(path), code, std::string()) {
    va_list args;
    va_start(args, format);
    message_ = StravoHostInternal::vformat(format, args);
    va_end(args);
    what_ = StravoUtilities::describe(message_, path_, code_);
}

FileServicesError::FileServicesError(const FileServicesError& other) = default;
FileServicesError& FileServicesError::operator=(const FileServicesError& other) = default;
FileServicesError::~FileServicesError() = default;

DWORD FileServicesError::code() const { return code_; }
const std::string& FileServicesError::path() const { return path_; }
