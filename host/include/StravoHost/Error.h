#pragma once

// Errors the host's file services report as exceptions.

#include <exception>
#include <string>

#include <platform/win32.h>

#include <StravoHost/Export.h>

namespace StravoUtilities {

// An error about a path with a Win32 error code. what() is
//   "<message> (path '<path>', error <code>)"
// with the code in decimal.
class STRAVOHOST_API Error : public std::exception {
  public:
    Error(std::string path, DWORD code, std::string message);
    Error(const Error& other);
    Error& operator=(const Error& other);
    virtual ~Error();

    const char* what() const noexcept override;
    const std::string& path() const;
    DWORD code() const;
    // The message alone, without path and code.
    const std::string& message() const;

  protected:
    std::string path_;
    DWORD code_;
    std::string message_;
    std::string what_;
};

}  // namespace StravoUtilities

class STRAVOHOST_API FileServicesError : public StravoUtilities::Error {
  public:
    // The message is formatted printf-style from format and the arguments.
    FileServicesError(const std::string& path, DWORD code, const char* format, ...) STRAVOHOST_PRINTF(4, 5);
    // The same for a wide path, which is kept (and shown) as UTF-8.
    FileServicesError(const std::wstring& path, DWORD code, const char* format, ...) STRAVOHOST_PRINTF(4, 5);
    FileServicesError(const FileServicesError& other);
    FileServicesError& operator=(const FileServicesError& other);
    virtual ~FileServicesError();

    DWORD code() const;
    const std::string& path() const;
};
