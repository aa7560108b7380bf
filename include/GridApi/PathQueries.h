#pragma once

// Yes-or-no questions about a path, retried on network errors; a path that is not there (and for
// the directory queries a few other answers) ends the run at once.

#include <string>

#include <GridApi/GridMethod.h>

namespace GridApi {

// A final "no" only sets the thread's last error: no log line, no event.
class GRIDAPI_API PathFileExistsA : public GridMethod {
  public:
    explicit PathFileExistsA(const std::string& path);
    GRIDAPI_COMMAND(PathFileExistsA)

  private:
    std::string path_;
};

// status is the call's own answer (16 for a directory); a final "no" is reported as information.
class GRIDAPI_API PathIsDirectoryA : public GridMethod {
  public:
    explicit PathIsDirectoryA(const std::string& path);
    GRIDAPI_COMMAND(PathIsDirectoryA)

  private:
    std::string path_;
};

// A final "no" is reported as information.
class GRIDAPI_API PathIsDirectoryEmptyA : public GridMethod {
  public:
    explicit PathIsDirectoryEmptyA(const std::string& path);
    GRIDAPI_COMMAND(PathIsDirectoryEmptyA)

  private:
    std::string path_;
};

}  // namespace GridApi
