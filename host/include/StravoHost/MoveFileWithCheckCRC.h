#pragma once

// A move that cannot lose data: a rename where the file system allows it, otherwise a copy whose
// CRC-32 is checked against the source before the source is removed.

#include <cstdint>
#include <string>

#include <platform/win32.h>

#include <StravoHost/Export.h>

class STRAVOHOST_API MoveFileWithCheckCRC {
  public:
    // flags: MOVEFILE_* (MOVEFILE_REPLACE_EXISTING is honoured; MOVEFILE_COPY_ALLOWED is implied).
    // option: 1 = verified move; any other value moves with MoveFileExA(existing, target, flags)
    // alone.
    MoveFileWithCheckCRC(std::string existing, std::string target, DWORD flags, int option);
    virtual ~MoveFileWithCheckCRC();

    // One attempt. TRUE: the file is at the target and the source is gone. FALSE: the reason is the
    // thread's last error. The source is never removed unless an identical copy exists at the target,
    // and a copy that failed its check is removed again. (When the source cannot be deleted after a
    // good copy, both files remain and the delete's error is reported.)
    BOOL doOnce();

    const std::string& existing() const { return existing_; }
    const std::string& target() const { return target_; }

  protected:
    // The steps, overridable so that a test can stage failures a real file system rarely shows.
    // rename: MoveFileExA without MOVEFILE_COPY_ALLOWED; ERROR_NOT_SAME_DEVICE selects the copy.
    virtual BOOL renameFile(const std::string& from, const std::string& to, DWORD flags);
    virtual BOOL copyFile(const std::string& from, const std::string& to);
    // CRC-32 of a file's content, read through CreateFileA/ReadFile.
    virtual BOOL fileCrc(const std::string& path, uint32_t& crc);

  private:
    BOOL copyVerified();

    std::string existing_;
    std::string target_;
    DWORD flags_;
    int option_;
};
