// The file subcommands: each is one or a few calls of the file-services object, printed as text or
// JSON; a failure prints the Win32 error the object left.

#include <algorithm>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <vector>

#include <CLI/CLI.hpp>

#include "Gridctl.h"

namespace gridctl {

namespace {

const DWORD chunkSize = 1024 * 1024;

std::uint32_t lastError() { return static_cast<std::uint32_t>(GetLastError()); }

std::uint64_t join(DWORD high, DWORD low) { return (static_cast<std::uint64_t>(high) << 32) | low; }

std::string attributeLetters(DWORD attributes) {
    std::string letters = "-----";
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) letters[0] = 'd';
    if (attributes & FILE_ATTRIBUTE_READONLY) letters[1] = 'r';
    if (attributes & FILE_ATTRIBUTE_HIDDEN) letters[2] = 'h';
    if (attributes & FILE_ATTRIBUTE_SYSTEM) letters[3] = 's';
    if (attributes & FILE_ATTRIBUTE_ARCHIVE) letters[4] = 'a';
    return letters;
}

// The fields that a find entry and an attribute query share.
template <class Data>
nlohmann::json entryJson(const Data& data) {
    return {{"size", join(data.nFileSizeHigh, data.nFileSizeLow)},
            {"attributes", data.dwFileAttributes},
            {"flags", attributeLetters(data.dwFileAttributes)},
            {"directory", (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0},
            {"created", formatFileTime(data.ftCreationTime)},
            {"accessed", formatFileTime(data.ftLastAccessTime)},
            {"modified", formatFileTime(data.ftLastWriteTime)}};
}

std::string entryLine(const nlohmann::json& entry, const std::string& name) {
    std::ostringstream line;
    line << entry["flags"].get<std::string>() << " " << std::setw(12) << entry["size"].get<std::uint64_t>() << "  "
         << entry["modified"].get<std::string>() << "  " << name << "\n";
    return line.str();
}

class FileCommands {
  public:
    explicit FileCommands(Session& session) : s(session) {}

    // A name that is not there fails at once: the object's path query answers "missing" without
    // waiting out the not-found rules, as an operator's typo deserves.
    bool requireExisting(const char* command, const std::string& path, int& rc) {
        if (s.services->PathFileExistsA(path.c_str())) return true;
        const std::uint32_t code = lastError();
        rc = s.fail(command, path, code ? code : ERROR_FILE_NOT_FOUND);
        return false;
    }

    int ls(const std::string& path) {
        int rc = 0;
        if (!requireExisting("ls", path, rc)) return rc;
        const bool directory = s.services->PathIsDirectoryA(path.c_str()) != FALSE;
        const std::string pattern = directory ? path + "\\*" : path;
        WIN32_FIND_DATAA data = {};
        FileServicesHandle search = s.services->FindFirstFileA(pattern.c_str(), &data);
        if (static_cast<void*>(search) == INVALID_HANDLE_VALUE) return s.fail("ls", path, lastError());
        std::vector<std::pair<std::string, nlohmann::json>> entries;
        std::uint32_t code = 0;
        do {
            const std::string name = data.cFileName;
            if (name != "." && name != "..") entries.emplace_back(name, entryJson(data));
        } while (s.services->FindNextFileA(search, &data));
        code = lastError();
        s.services->FindClose(search);
        if (code != ERROR_NO_MORE_FILES) return s.fail("ls", path, code);
        std::sort(entries.begin(), entries.end(),
                  [](const std::pair<std::string, nlohmann::json>& a, const std::pair<std::string, nlohmann::json>& b) {
                      return a.first < b.first;
                  });
        nlohmann::json list = nlohmann::json::array();
        std::string text;
        for (auto& entry : entries) {
            text += entryLine(entry.second, entry.first);
            entry.second["name"] = entry.first;
            list.push_back(entry.second);
        }
        s.emit({{"command", "ls"}, {"path", path}, {"entries", list}}, text);
        return exitOk;
    }

    int stat(const std::string& path) {
        int rc = 0;
        if (!requireExisting("stat", path, rc)) return rc;
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        if (!s.services->GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
            return s.fail("stat", path, lastError());
        nlohmann::json doc = entryJson(data);
        std::ostringstream text;
        text << "path:       " << path << "\n"
             << "type:       " << (doc["directory"].get<bool>() ? "directory" : "file") << "\n"
             << "size:       " << doc["size"].get<std::uint64_t>() << "\n"
             << "attributes: 0x" << std::hex << data.dwFileAttributes << std::dec << " ("
             << doc["flags"].get<std::string>() << ")\n"
             << "created:    " << doc["created"].get<std::string>() << " UTC\n"
             << "accessed:   " << doc["accessed"].get<std::string>() << " UTC\n"
             << "modified:   " << doc["modified"].get<std::string>() << " UTC\n";
        doc["command"] = "stat";
        doc["path"] = path;
        s.emit(doc, text.str());
        return exitOk;
    }

    int df(const std::string& path) {
        ULARGE_INTEGER available = {}, total = {}, free = {};
        if (!s.services->GetDiskFreeSpaceExA(path.c_str(), &available, &total, &free))
            return s.fail("df", path, lastError());
        std::ostringstream text;
        text << "total:      " << total.QuadPart << "\n"
             << "free:       " << free.QuadPart << "\n"
             << "available:  " << available.QuadPart << "\n";
        s.emit({{"command", "df"},
                {"path", path},
                {"total", total.QuadPart},
                {"free", free.QuadPart},
                {"available", available.QuadPart}},
               text.str());
        return exitOk;
    }

    int mkdir(const std::string& path) {
        if (!s.services->CreateDirectoryA(path.c_str(), nullptr)) return s.fail("mkdir", path, lastError());
        return done("mkdir", path, "created " + path);
    }

    int rm(const std::string& path, bool recursive) {
        int rc = 0;
        if (!requireExisting("rm", path, rc)) return rc;
        BOOL ok;
        if (s.services->PathIsDirectoryA(path.c_str())) {
            ok = s.services->RemoveDirectoryA(path.c_str(), recursive ? 1 : 0);
        } else {
            ok = s.services->DeleteFileA(path.c_str());
        }
        if (!ok) return s.fail("rm", path, lastError());
        return done("rm", path, "removed " + path);
    }

    int cp(const std::string& from, const std::string& to, bool noClobber) {
        int rc = 0;
        if (!requireExisting("cp", from, rc)) return rc;
        if (!s.services->CopyFileA(from.c_str(), to.c_str(), noClobber ? TRUE : FALSE))
            return s.fail("cp", from, lastError());
        return done("cp", from, "copied " + from + " -> " + to, to);
    }

    int mv(const std::string& from, const std::string& to, bool replace) {
        int rc = 0;
        if (!requireExisting("mv", from, rc)) return rc;
        const DWORD flags = MOVEFILE_COPY_ALLOWED | (replace ? MOVEFILE_REPLACE_EXISTING : 0u);
        if (!s.services->MoveFileA(from.c_str(), to.c_str(), flags)) return s.fail("mv", from, lastError());
        return done("mv", from, "moved " + from + " -> " + to, to);
    }

    int tempname(const std::string& directory, const std::string& prefix) {
        char name[MAX_PATH + 1] = {};
        if (!s.services->GetTempFileNameA(directory.c_str(), prefix.c_str(), 0, name))
            return s.fail("tempname", directory, lastError());
        s.emit({{"command", "tempname"}, {"path", directory}, {"name", std::string(name)}}, std::string(name) + "\n");
        return exitOk;
    }

    // put: a local file to the share, written through the object in chunks.
    int put(const std::string& local, const std::string& remote) {
        std::ifstream in(local, std::ios::binary);
        if (!in) return s.error("put", "cannot open local file " + local);
        in.seekg(0, std::ios::end);
        const std::uint64_t total = static_cast<std::uint64_t>(in.tellg());
        in.seekg(0);
        FileServicesHandle file = s.services->CreateFileA(remote.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                          FILE_ATTRIBUTE_NORMAL, FileServicesHandle());
        if (static_cast<void*>(file) == INVALID_HANDLE_VALUE) return s.fail("put", remote, lastError());
        std::vector<char> buffer(chunkSize);
        std::uint64_t done = 0;
        Progress progress(s, "put", total);
        while (done < total) {
            const DWORD want = static_cast<DWORD>(std::min<std::uint64_t>(chunkSize, total - done));
            if (!in.read(buffer.data(), want)) {
                s.services->CloseHandle(file);
                return s.error("put", "cannot read local file " + local);
            }
            DWORD written = 0;
            if (!s.services->WriteFile(file, buffer.data(), want, &written, nullptr) || written != want) {
                const std::uint32_t code = lastError();
                s.services->CloseHandle(file);
                return s.fail("put", remote, code);
            }
            done += written;
            progress.update(done);
        }
        progress.finish();
        if (!s.services->CloseHandle(file)) return s.fail("put", remote, lastError());
        return transferred("put", local, remote, done);
    }

    // Reads a file of the share through the object in chunks, handing each to sink.
    template <class Sink>
    int readRemote(const char* command, const std::string& remote, Sink sink, std::uint64_t& done) {
        int rc = 0;
        if (!requireExisting(command, remote, rc)) return rc;
        FileServicesHandle file = s.services->CreateFileA(remote.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, FileServicesHandle());
        if (static_cast<void*>(file) == INVALID_HANDLE_VALUE) return s.fail(command, remote, lastError());
        LARGE_INTEGER size = {};
        s.services->GetFileSizeEx(file, &size);
        std::vector<char> buffer(chunkSize);
        Progress progress(s, command, static_cast<std::uint64_t>(size.QuadPart));
        for (;;) {
            DWORD got = 0;
            if (!s.services->ReadFile(file, buffer.data(), chunkSize, &got, nullptr)) {
                const std::uint32_t code = lastError();
                s.services->CloseHandle(file);
                return s.fail(command, remote, code);
            }
            if (got == 0) break;
            sink(buffer.data(), got);
            done += got;
            progress.update(done);
        }
        progress.finish();
        s.services->CloseHandle(file);
        return exitOk;
    }

    int get(const std::string& remote, const std::string& local) {
        std::ofstream outFile(local, std::ios::binary | std::ios::trunc);
        if (!outFile) return s.error("get", "cannot create local file " + local);
        std::uint64_t done = 0;
        const int rc = readRemote(
            "get", remote, [&outFile](const char* data, DWORD size) { outFile.write(data, size); }, done);
        if (rc != exitOk) return rc;
        if (!outFile.flush()) return s.error("get", "cannot write local file " + local);
        return transferred("get", remote, local, done);
    }

    int cat(const std::string& remote) {
        std::string content;
        std::uint64_t done = 0;
        const int rc = readRemote(
            "cat", remote,
            [this, &content](const char* data, DWORD size) {
                if (s.json) {
                    content.append(data, size);
                } else {
                    s.out.write(data, size);
                }
            },
            done);
        if (rc != exitOk) return rc;
        if (s.json) s.emit({{"command", "cat"}, {"path", remote}, {"size", done}, {"content", content}}, "");
        s.out.flush();
        return exitOk;
    }

  private:
    int done(const char* command, const std::string& path, const std::string& text, const std::string& to = "") {
        nlohmann::json doc = {{"command", command}, {"path", path}};
        if (!to.empty()) doc["to"] = to;
        s.emit(doc, text + "\n");
        return exitOk;
    }

    int transferred(const char* command, const std::string& from, const std::string& to, std::uint64_t bytes) {
        std::ostringstream text;
        text << command << " " << from << " -> " << to << ": " << bytes << " bytes, " << s.stats.retries
             << " retries\n";
        s.emit({{"command", command}, {"path", from}, {"to", to}, {"bytes", bytes}, {"retries", s.stats.retries}},
               text.str());
        return exitOk;
    }

    Session& s;
};

// The path arguments of one subcommand.
struct Paths {
    std::string first;
    std::string second;
    bool flag = false;
};

}  // namespace

void addFileCommands(CLI::App& app, Session& session, Action& action) {
    auto commands = std::make_shared<FileCommands>(session);
    auto add = [&app, &action](const char* name, const char* help, const char* example,
                               std::function<int(const Paths&)> run) {
        CLI::App* sub = app.add_subcommand(name, help);
        sub->footer(std::string("Example:\n  ") + example);
        auto paths = std::make_shared<Paths>();
        sub->callback([&action, paths, run] { action = [paths, run] { return run(*paths); }; });
        return std::make_pair(sub, paths);
    };
    auto ls =
        add("ls", "List a directory (or the entries matching a pattern): sizes, attributes, times",
            "gridctl ls '\\\\gridtest\\share\\data'", [commands](const Paths& p) { return commands->ls(p.first); });
    ls.first->add_option("path", ls.second->first, "directory, file or pattern")->required();

    auto stat = add("stat", "Show a file's or directory's attributes, size and times",
                    "gridctl stat '\\\\gridtest\\share\\data\\a.bin'",
                    [commands](const Paths& p) { return commands->stat(p.first); });
    stat.first->add_option("path", stat.second->first, "file or directory")->required();

    auto df = add("df", "Show the free and total space of the share holding a path", "gridctl df '\\\\gridtest\\share'",
                  [commands](const Paths& p) { return commands->df(p.first); });
    df.first->add_option("path", df.second->first, "a directory on the share")->required();

    auto mkdir = add("mkdir", "Create a directory", "gridctl mkdir '\\\\gridtest\\share\\new'",
                     [commands](const Paths& p) { return commands->mkdir(p.first); });
    mkdir.first->add_option("path", mkdir.second->first, "the new directory")->required();

    auto rm = add("rm", "Remove a file, or an empty directory (with -r a directory and everything in it)",
                  "gridctl rm -r '\\\\gridtest\\share\\old'",
                  [commands](const Paths& p) { return commands->rm(p.first, p.flag); });
    rm.first->add_option("path", rm.second->first, "file or directory")->required();
    rm.first->add_flag("-r,--recursive", rm.second->flag, "remove a directory with everything in it");

    auto cp = add("cp", "Copy a file", "gridctl cp '\\\\gridtest\\share\\a.bin' '\\\\gridtest\\share\\b.bin'",
                  [commands](const Paths& p) { return commands->cp(p.first, p.second, p.flag); });
    cp.first->add_option("source", cp.second->first, "the existing file")->required();
    cp.first->add_option("target", cp.second->second, "the new file")->required();
    cp.first->add_flag("-n,--no-clobber", cp.second->flag, "fail when the target exists");

    auto mv = add("mv", "Move or rename a file or directory",
                  "gridctl mv '\\\\gridtest\\share\\a.bin' '\\\\gridtest\\share\\archive\\a.bin'",
                  [commands](const Paths& p) { return commands->mv(p.first, p.second, p.flag); });
    mv.first->add_option("source", mv.second->first, "the existing file or directory")->required();
    mv.first->add_option("target", mv.second->second, "the new name")->required();
    mv.first->add_flag("-f,--replace", mv.second->flag, "replace an existing target file");

    auto put = add("put", "Write a local file to the share through the object, in chunks",
                   "gridctl put backup.tar '\\\\gridtest\\share\\backup.tar'",
                   [commands](const Paths& p) { return commands->put(p.first, p.second); });
    put.first->add_option("local", put.second->first, "the local file")->required();
    put.first->add_option("remote", put.second->second, "the file on the share")->required();

    auto get = add("get", "Read a file of the share through the object into a local file",
                   "gridctl get '\\\\gridtest\\share\\backup.tar' backup.tar",
                   [commands](const Paths& p) { return commands->get(p.first, p.second); });
    get.first->add_option("remote", get.second->first, "the file on the share")->required();
    get.first->add_option("local", get.second->second, "the local file")->required();

    auto cat = add("cat", "Print a file of the share", "gridctl cat '\\\\gridtest\\share\\notes.txt'",
                   [commands](const Paths& p) { return commands->cat(p.first); });
    cat.first->add_option("path", cat.second->first, "the file")->required();

    auto temp = add("tempname", "Create a new empty file with a unique name in a directory",
                    "gridctl tempname '\\\\gridtest\\share\\tmp' --prefix job",
                    [commands](const Paths& p) { return commands->tempname(p.first, p.second); });
    temp.first->add_option("directory", temp.second->first, "where the file is made")->required();
    temp.second->second = "gct";
    temp.first->add_option("--prefix", temp.second->second, "up to three characters of the name")
        ->capture_default_str();
}

}  // namespace gridctl
