#pragma once

// A fresh directory on the test share for each test, named by UNC path and removed afterwards.
// The share is GRIDTEST_SHARE (default \\gridtest\share); the build maps it onto <build>/unc.

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include <platform/win32.h>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace gridtest {

// Whether the tests run under Wine. Where Wine and Windows differ, the tests expect Windows and
// name the difference where they skip or adjust a check.
inline bool underWine() {
#ifdef _WIN32
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

inline std::string shareRoot() {
    const char* share = std::getenv("GRIDTEST_SHARE");
    return share && *share ? share : "\\\\gridtest\\share";
}

inline unsigned long processId() {
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

// The Win32 calls on a test's files, as a client makes them.
inline HANDLE openFile(const std::string& path, DWORD access = GENERIC_READ | GENERIC_WRITE, DWORD share = 0,
                       DWORD disposition = OPEN_EXISTING, DWORD flags = FILE_ATTRIBUTE_NORMAL) {
    return CreateFileA(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

// Creates (or replaces) a file holding `data`; whether that succeeded.
inline bool writeFile(const std::string& path, const std::string& data = "") {
    HANDLE h = openFile(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok =
        WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) && written == data.size();
    return CloseHandle(h) && ok;
}

// The whole content of a file, or "<error N>".
inline std::string readFile(const std::string& path) {
    HANDLE h = openFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (h == INVALID_HANDLE_VALUE) return "<error " + std::to_string(GetLastError()) + ">";
    std::string out;
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) out.append(buf, n);
    CloseHandle(h);
    return out;
}

inline bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Removes a directory tree through the Win32 calls (read-only entries are made writable first).
inline void removeTree(const std::string& path) {
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &data);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = data.cFileName;
            if (name == "." || name == "..") continue;
            const std::string child = path + "\\" + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeTree(child);
            } else {
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(search, &data));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

class TestShare : public ::testing::Test {
  protected:
    void SetUp() override {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "." + info->name();
        for (char& c : name) {
            if (c == '/' || c == '\\' || c == ':' || c == '*' || c == '?') c = '_';
        }
        dir_ = shareRoot() + "\\" + name + "-" + std::to_string(processId());
        removeTree(dir_);
        ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr)) << dir_ << ": error " << GetLastError();
    }

    void TearDown() override { removeTree(dir_); }

    // The test's own directory, as a UNC path.
    const std::string& dir() const { return dir_; }
    // A path inside it.
    std::string path(const std::string& name) const { return dir_ + "\\" + name; }

  private:
    std::string dir_;
};

}  // namespace gridtest
