// The file subcommands: each is one or a few calls of the file-services object, printed as text or
// JSON; a failure prints the Win32 error the object left. Transfers and walks stop between chunks
// and entries on Ctrl-C, and remove what they left half done unless --partial keeps it.

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <vector>

#include <CLI/CLI.hpp>

#include "Gridctl.h"

namespace gridctl {

namespace {

namespace fs = std::filesystem;

const DWORD chunkSize = 1024 * 1024;

std::uint32_t lastError() { return static_cast<std::uint32_t>(GetLastError()); }

std::uint64_t join(DWORD high, DWORD low) { return (static_cast<std::uint64_t>(high) << 32) | low; }

bool valid(FileServicesHandle handle) { return static_cast<void*>(handle) != INVALID_HANDLE_VALUE; }

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

std::string::size_type lastSeparator(const std::string& path) { return path.find_last_of('\\'); }
std::string parentOf(const std::string& path) { return path.substr(0, lastSeparator(path)); }
std::string leafOf(const std::string& path) { return path.substr(lastSeparator(path) + 1); }

// The components after the leading "\\": server, share, folders...
std::vector<std::string> uncComponents(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path.substr(2) + "\\") {
        if (c != '\\') {
            part += c;
        } else if (!part.empty()) {
            parts.push_back(part);
            part.clear();
        }
    }
    return parts;
}

bool hasPattern(const std::string& path) { return leafOf(path).find_first_of("*?") != std::string::npos; }

// '*' any run of characters, '?' one character, letters in either case.
bool matches(const char* pattern, const char* name) {
    if (*pattern == '\0') return *name == '\0';
    if (*pattern == '*') return matches(pattern + 1, name) || (*name && matches(pattern, name + 1));
    if (*name == '\0') return false;
    const bool same = *pattern == '?' || std::tolower(static_cast<unsigned char>(*pattern)) ==
                                             std::tolower(static_cast<unsigned char>(*name));
    return same && matches(pattern + 1, name + 1);
}

struct Entry {
    std::string name;
    std::string path;
    WIN32_FIND_DATAA data;
    bool directory() const { return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
};

// What a chunked transfer ended with.
enum class Pumped { done, readFailed, writeFailed, cancelled };

// The options of one subcommand.
struct Args {
    std::string first;
    std::string second;
    bool flag = false;  // -n, -f, -r as the command names it
    bool partial = false;
    bool dryRun = false;
};

class FileCommands {
  public:
    explicit FileCommands(Session& session) : s(session) {}

    // Names on shares are UNC names of a share or below it; anything else fails before any call.
    bool unc(const char* command, const std::string& path, int& rc) {
        const bool isUnc = path.size() > 2 && path.compare(0, 2, "\\\\") == 0 && path.find('/') == std::string::npos;
        if (isUnc && uncComponents(path).size() >= 2) return true;
        rc = s.error(command,
                     isUnc ? path + " names a server, not a share: expected \\\\server\\share[\\...]"
                           : path +
                                 " is not a UNC name: expected \\\\server\\share[\\...] (local files only as put's "
                                 "source and get's target)",
                     exitUsage, "usage", path);
        return false;
    }

    // A name that is not there fails at once: the object's path query answers "missing" without
    // waiting out the not-found rules, as an operator's typo deserves.
    bool requireExisting(const char* command, const std::string& path, int& rc) {
        if (!unc(command, path, rc)) return false;
        if (s.services->PathFileExistsA(path.c_str())) return true;
        const std::uint32_t code = lastError();
        rc = s.fail(command, path, code ? code : ERROR_FILE_NOT_FOUND);
        return false;
    }

    // The folder a new name goes into must be there: a missing one fails at once, not after the
    // not-found rules' waits.
    bool requireParent(const char* command, const std::string& path, int& rc) {
        if (!unc(command, path, rc)) return false;
        if (uncComponents(path).size() <= 3 || s.services->PathIsDirectoryA(parentOf(path).c_str())) return true;
        rc = s.fail(command, parentOf(path), ERROR_PATH_NOT_FOUND);
        return false;
    }

    // The entries of a directory (without "." and ".."), sorted by name; 0 or the failing error.
    std::uint32_t list(const std::string& directory, std::vector<Entry>& entries) {
        Entry entry;
        FileServicesHandle search = s.services->FindFirstFileA((directory + "\\*").c_str(), &entry.data);
        if (!valid(search)) return lastError();
        do {
            entry.name = entry.data.cFileName;
            entry.path = directory + "\\" + entry.name;
            if (entry.name != "." && entry.name != "..") entries.push_back(entry);
        } while (s.services->FindNextFileA(search, &entry.data));
        const std::uint32_t code = lastError();
        s.services->FindClose(search);
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
        return code == ERROR_NO_MORE_FILES ? 0 : code;
    }

    // The names a pattern in the last component matches, from a listing of its folder through the
    // object's FindFirstFileA; no match fails with ERROR_FILE_NOT_FOUND at once.
    bool expand(const char* command, const std::string& pattern, std::vector<Entry>& found, int& rc) {
        if (!requireExisting(command, parentOf(pattern), rc)) return false;
        std::vector<Entry> entries;
        if (const std::uint32_t code = list(parentOf(pattern), entries)) {
            rc = s.fail(command, pattern, code);
            return false;
        }
        const std::string leaf = leafOf(pattern);
        for (const Entry& entry : entries) {
            if (matches(leaf.c_str(), entry.name.c_str())) found.push_back(entry);
        }
        if (found.empty()) rc = s.fail(command, pattern, ERROR_FILE_NOT_FOUND);
        return !found.empty();
    }

    int ls(const std::string& path) {
        int rc = 0;
        std::vector<Entry> entries;
        if (hasPattern(path)) {
            if (!expand("ls", path, entries, rc)) return rc;
        } else {
            if (!requireExisting("ls", path, rc)) return rc;
            if (!s.services->PathIsDirectoryA(path.c_str())) return stat(path);
            if (const std::uint32_t code = list(path, entries)) return s.fail("ls", path, code);
        }
        nlohmann::json items = nlohmann::json::array();
        std::string text;
        for (const Entry& entry : entries) {
            nlohmann::json item = entryJson(entry.data);
            text += entryLine(item, entry.name);
            item["name"] = entry.name;
            items.push_back(item);
        }
        s.emit({{"command", "ls"}, {"path", path}, {"entries", items}}, text);
        return exitOk;
    }

    int stat(const std::string& path) {
        int rc = 0;
        std::vector<Entry> entries;
        if (hasPattern(path)) {
            if (!expand("stat", path, entries, rc)) return rc;
        } else {
            if (!requireExisting("stat", path, rc)) return rc;
            entries.push_back({leafOf(path), path, {}});
        }
        nlohmann::json items = nlohmann::json::array();
        std::ostringstream text;
        for (const Entry& entry : entries) {
            WIN32_FILE_ATTRIBUTE_DATA data = {};
            if (!s.services->GetFileAttributesExA(entry.path.c_str(), GetFileExInfoStandard, &data))
                return s.fail("stat", entry.path, lastError());
            nlohmann::json item = entryJson(data);
            text << (entries.size() > 1 && !items.empty() ? "\n" : "") << "path:       " << entry.path << "\n"
                 << "type:       " << (item["directory"].get<bool>() ? "directory" : "file") << "\n"
                 << "size:       " << item["size"].get<std::uint64_t>() << "\n"
                 << "attributes: 0x" << std::hex << data.dwFileAttributes << std::dec << " ("
                 << item["flags"].get<std::string>() << ")\n"
                 << "created:    " << item["created"].get<std::string>() << " UTC\n"
                 << "accessed:   " << item["accessed"].get<std::string>() << " UTC\n"
                 << "modified:   " << item["modified"].get<std::string>() << " UTC\n";
            item["path"] = entry.path;
            items.push_back(item);
        }
        nlohmann::json doc = hasPattern(path) ? nlohmann::json{{"entries", items}} : items[0];
        doc["command"] = "stat";
        doc["path"] = path;
        s.emit(doc, text.str());
        return exitOk;
    }

    int df(const std::string& path) {
        int rc = 0;
        if (!unc("df", path, rc)) return rc;
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

    // -p: every missing folder on the way, and an existing folder is no error.
    int mkdir(const std::string& path, bool parents) {
        int rc = 0;
        std::uint64_t created = 0;
        if (!makeFolders("mkdir", path, parents, created, rc)) return rc;
        s.emit({{"command", "mkdir"}, {"path", path}, {"created", created}},
               (created ? "created " : "exists: ") + path + "\n");
        return exitOk;
    }

    bool makeFolders(const char* command, const std::string& path, bool parents, std::uint64_t& created, int& rc) {
        if (!unc(command, path, rc)) return false;
        const std::vector<std::string> parts = uncComponents(path);
        std::string folder = "\\\\" + parts[0] + "\\" + parts[1];
        for (std::size_t i = 2; i < parts.size(); ++i) {
            folder += "\\" + parts[i];
            const bool last = i + 1 == parts.size();
            if (s.services->PathFileExistsA(folder.c_str())) {
                const bool directory = s.services->PathIsDirectoryA(folder.c_str()) != FALSE;
                if (!directory || (last && !parents)) rc = s.fail(command, folder, ERROR_ALREADY_EXISTS);
                if (rc) return false;
                continue;
            }
            if (!last && !parents) rc = s.fail(command, folder, ERROR_PATH_NOT_FOUND, 0, "-p creates it");
            if (!rc && !s.services->CreateDirectoryA(folder.c_str(), nullptr))
                rc = s.fail(command, folder, lastError());
            if (rc) return false;
            ++created;
        }
        return true;
    }

    int rm(const std::string& path, bool recursive, bool dryRun) {
        int rc = 0;
        if (!unc("rm", path, rc)) return rc;
        if (uncComponents(path).size() == 2) {
            return s.error("rm", "refusing to remove the share root " + path + "; name a folder in it", exitUsage,
                           "usage", path);
        }
        std::vector<Entry> targets;
        if (hasPattern(path)) {
            if (!expand("rm", path, targets, rc)) return rc;
        } else {
            if (!requireExisting("rm", path, rc)) return rc;
            Entry entry{leafOf(path), path, {}};
            entry.data.dwFileAttributes = s.services->PathIsDirectoryA(path.c_str()) ? FILE_ATTRIBUTE_DIRECTORY : 0;
            targets.push_back(entry);
        }
        Removal removal;
        removal.dryRun = dryRun;
        removal.recursive = recursive;
        for (const Entry& target : targets) {
            if (!remove(target, removal)) break;
        }
        std::ostringstream counts;
        counts << (dryRun ? "would remove " : "removed ") << removal.files << " files and " << removal.folders
               << " folders";
        if (removal.code || removal.stopped) {
            const std::string done = counts.str() + (removal.stopped ? " before stopping" : " before the failure");
            return removal.stopped ? s.cancelled("rm", removal.where, 0, done)
                                   : s.fail("rm", removal.where, removal.code, 0, done);
        }
        s.emit({{"command", "rm"},
                {"path", path},
                {"dryRun", dryRun},
                {"files", removal.files},
                {"folders", removal.folders},
                {"removed", removal.names}},
               removal.text + counts.str() + "\n");
        return exitOk;
    }

    int tempname(const std::string& directory, const std::string& prefix) {
        int rc = 0;
        if (!unc("tempname", directory, rc)) return rc;
        char name[MAX_PATH + 1] = {};
        if (!s.services->GetTempFileNameA(directory.c_str(), prefix.c_str(), 0, name))
            return s.fail("tempname", directory, lastError());
        s.emit({{"command", "tempname"}, {"path", directory}, {"name", std::string(name)}}, std::string(name) + "\n");
        return exitOk;
    }

    // put: a local file (or with -r a folder) to the share, written through the object in chunks.
    int put(const Args& a) {
        int rc = 0;
        if (!unc("put", a.second, rc)) return rc;
        std::error_code error;
        const fs::file_status status = fs::status(a.first, error);
        if (fs::is_directory(status)) {
            if (!a.flag) return s.error("put", a.first + " is a folder: put -r copies folders", exitUsage, "usage");
            return putTree(a);
        }
        if (!fs::is_regular_file(status)) return s.error("put", "no local file " + a.first, exitFailed, "local");
        if (!requireParent("put", a.second, rc)) return rc;
        std::uint64_t bytes = 0;
        rc = putFile(a.first, a.second, a.partial, bytes);
        return rc == exitOk ? transferred("put", a.first, a.second, bytes) : rc;
    }

    int get(const Args& a) {
        int rc = 0;
        if (a.second == "-") {
            if (s.json) return s.error("get", "get to - (stdout) is not JSON: use cat, or drop --json");
            return cat(a.first);
        }
        std::vector<Entry> sources;
        if (hasPattern(a.first)) {
            if (!expand("get", a.first, sources, rc)) return rc;
            if (!fs::is_directory(a.second)) return s.error("get", a.second + " is not a local folder", exitUsage);
        } else {
            if (!requireExisting("get", a.first, rc)) return rc;
            Entry entry{leafOf(a.first), a.first, {}};
            if (s.services->PathIsDirectoryA(a.first.c_str())) {
                if (!a.flag) return s.error("get", a.first + " is a folder: get -r copies folders");
                entry.data.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
            }
            sources.push_back(entry);
        }
        std::uint64_t bytes = 0;
        for (const Entry& source : sources) {
            const std::string target =
                sources.size() > 1 || hasPattern(a.first) ? (fs::path(a.second) / source.name).string() : a.second;
            rc = source.directory() ? getTree(source.path, target, a.partial, bytes)
                                    : getFile(source.path, target, a.partial, bytes);
            if (rc != exitOk) return rc;
        }
        return transferred("get", a.first, a.second, bytes);
    }

    int cat(const std::string& remote) {
        int rc = 0;
        if (!requireExisting("cat", remote, rc)) return rc;
        std::string content;
        std::uint64_t bytes = 0;
        bool binary = false, unwritable = false;
        auto sink = [&](const char* data, DWORD size) {
            if (!s.json) return !(unwritable = !s.out.write(data, size));
            binary = std::find(data, data + size, '\0') != data + size;
            content.append(data, binary ? 0 : size);
            return !binary;
        };
        rc = readRemote("cat", remote, sink, bytes, "");
        if (binary) {
            return s.error("cat", remote + " holds binary data, which --json does not carry: use get", exitFailed,
                           "data", remote);
        }
        if (unwritable || (rc == exitOk && !s.json && !s.out.flush()))
            return s.error("cat", "cannot write to standard output", exitFailed, "local", remote);
        if (rc != exitOk || !s.json) return rc;
        try {
            s.out << nlohmann::json{{"ok", true},
                                    {"command", "cat"},
                                    {"path", remote},
                                    {"bytes", bytes},
                                    {"content", content}}
                         .dump(2)
                  << "\n";
        } catch (const nlohmann::json::exception&) {
            return s.error("cat", remote + " is not UTF-8 text, which --json carries only: use get", exitFailed, "data",
                           remote);
        }
        return exitOk;
    }

    int cp(const Args& a) {
        int rc = 0;
        if (!requireExisting("cp", a.first, rc) || !requireParent("cp", a.second, rc)) return rc;
        if (s.services->PathIsDirectoryA(a.first.c_str()))
            return s.error("cp", a.first + " is a folder; cp copies files");
        if (a.flag && s.services->PathFileExistsA(a.second.c_str())) return s.fail("cp", a.second, ERROR_FILE_EXISTS);
        std::uint64_t bytes = 0;
        rc = copyRemote("cp", a.first, a.second, a.flag, a.partial, bytes);
        return rc == exitOk ? transferred("cp", a.first, a.second, bytes) : rc;
    }

    // A rename where the object can; across volumes a copy (stopping on Ctrl-C) and a delete.
    int mv(const Args& a) {
        int rc = 0;
        if (!requireExisting("mv", a.first, rc) || !requireParent("mv", a.second, rc)) return rc;
        if (!a.flag && s.services->PathFileExistsA(a.second.c_str()))
            return s.fail("mv", a.second, ERROR_ALREADY_EXISTS);
        if (s.services->MoveFileA(a.first.c_str(), a.second.c_str(), a.flag ? MOVEFILE_REPLACE_EXISTING : 0u))
            return done("mv", a.first, "moved " + a.first + " -> " + a.second, a.second);
        const std::uint32_t code = lastError();
        if (code != ERROR_NOT_SAME_DEVICE || s.services->PathIsDirectoryA(a.first.c_str()))
            return s.fail("mv", a.first, code);
        std::uint64_t bytes = 0;
        rc = copyRemote("mv", a.first, a.second, !a.flag, a.partial, bytes);
        if (rc != exitOk) return rc;
        if (!s.services->DeleteFileA(a.first.c_str()))
            return s.fail("mv", a.first, lastError(), bytes, "copied to " + a.second + "; the source stays");
        return transferred("mv", a.first, a.second, bytes);
    }

  private:
    struct Removal {
        bool dryRun = false;
        bool recursive = false;
        std::uint64_t files = 0;
        std::uint64_t folders = 0;
        std::uint32_t code = 0;
        bool stopped = false;
        std::string where;
        std::string text;
        nlohmann::json names = nlohmann::json::array();
    };

    // One entry and, for a folder under -r, everything in it; stops between entries on Ctrl-C.
    bool remove(const Entry& entry, Removal& r) {
        r.where = entry.path;
        if (cancelRequested()) {
            r.stopped = true;
            return false;
        }
        if (entry.directory() && r.recursive) {
            std::vector<Entry> children;
            if ((r.code = list(entry.path, children)) != 0) return false;
            for (const Entry& child : children) {
                if (!remove(child, r)) return false;
            }
            r.where = entry.path;
        }
        if (!r.dryRun) {
            if (!entry.directory() && (entry.data.dwFileAttributes & FILE_ATTRIBUTE_READONLY))
                s.services->SetFileAttributesA(entry.path.c_str(), FILE_ATTRIBUTE_NORMAL);
            const BOOL ok = entry.directory() ? s.services->RemoveDirectoryA(entry.path.c_str(), 0)
                                              : s.services->DeleteFileA(entry.path.c_str());
            if (!ok) {
                r.code = lastError();
                return false;
            }
        }
        ++(entry.directory() ? r.folders : r.files);
        r.names.push_back(entry.path);
        if (r.dryRun) r.text += "would remove " + entry.path + "\n";
        return true;
    }

    // Moves everything from read to write in chunks; stops between chunks on Ctrl-C.
    template <class Read, class Write>
    Pumped pump(const char* label, std::uint64_t total, Read read, Write write, std::uint64_t& bytes) {
        std::vector<char> buffer(chunkSize);
        Progress progress(s, label, total);
        for (;;) {
            if (cancelRequested()) return Pumped::cancelled;
            DWORD got = 0;
            if (!read(buffer.data(), chunkSize, got)) return Pumped::readFailed;
            if (got == 0) return Pumped::done;
            if (!write(buffer.data(), got)) return Pumped::writeFailed;
            bytes += got;
            progress.update(bytes);
        }
    }

    // Reads of and writes to an open handle of the object; code keeps the failing call's error.
    auto remoteReader(FileServicesHandle& file, std::uint32_t& code) {
        return [this, &file, &code](char* data, DWORD size, DWORD& got) {
            if (s.services->ReadFile(file, data, size, &got, nullptr)) return true;
            code = lastError();
            return false;
        };
    }
    auto remoteWriter(FileServicesHandle& file, std::uint32_t& code) {
        return [this, &file, &code](const char* data, DWORD size) {
            DWORD written = 0;
            if (s.services->WriteFile(file, data, size, &written, nullptr) && written == size) return true;
            code = lastError();
            if (!code) code = ERROR_HANDLE_DISK_FULL;  // a short write without an error: no room left
            return false;
        };
    }

    FileServicesHandle openRemote(const std::string& path, bool write, bool mustBeNew = false) {
        return s.services->CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, write ? 0 : FILE_SHARE_READ,
                                       nullptr, write ? (mustBeNew ? CREATE_NEW : CREATE_ALWAYS) : OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, FileServicesHandle());
    }

    // What happens to a half-written target: removed unless --partial keeps it.
    std::string dropPartial(const std::string& target, bool keep, bool remote) {
        if (keep) return "the partial file " + target + " was kept (--partial)";
        if (remote) {
            s.services->DeleteFileA(target.c_str());
        } else {
            std::error_code ignored;
            fs::remove(target, ignored);
        }
        return "the partial file " + target + " was removed (--partial keeps it)";
    }

    // The end of a transfer that did not finish: says how far it got and what became of the target.
    int unfinished(const char* command, Pumped how, const std::string& failedName, std::uint32_t code,
                   std::uint64_t bytes, std::uint64_t total, const std::string& target, bool keep, bool remote) {
        const std::string partial = dropPartial(target, keep, remote);
        const std::string done = std::to_string(bytes) + " of " + std::to_string(total) + " bytes done; " + partial;
        if (how == Pumped::cancelled) return s.cancelled(command, failedName, bytes, done);
        if (code == 0) return s.error(command, "cannot write local file " + target + "; " + done, exitFailed, "local");
        return s.fail(command, failedName, code, bytes, done);
    }

    int putFile(const std::string& local, const std::string& remote, bool keep, std::uint64_t& bytes) {
        std::ifstream in(local, std::ios::binary);
        if (!in) return s.error("put", "cannot open local file " + local, exitFailed, "local");
        std::error_code ignored;
        const std::uint64_t total = fs::file_size(local, ignored);
        FileServicesHandle file = openRemote(remote, true);
        if (!valid(file)) return s.fail("put", remote, lastError());
        std::uint32_t code = 0;
        std::uint64_t done = 0;
        auto read = [&in](char* data, DWORD size, DWORD& got) {
            in.read(data, size);
            got = static_cast<DWORD>(in.gcount());
            return !in.bad();
        };
        const Pumped how = pump("put", total, read, remoteWriter(file, code), done);
        bytes += done;
        if (how == Pumped::done && !s.services->CloseHandle(file)) {
            code = lastError();
            return unfinished("put", Pumped::writeFailed, remote, code, done, total, remote, keep, true);
        }
        if (how == Pumped::done) return exitOk;
        s.services->CloseHandle(file);
        if (how == Pumped::readFailed)
            return s.error("put", "cannot read local file " + local + "; " + dropPartial(remote, keep, true),
                           exitFailed, "local", remote);
        return unfinished("put", how, remote, code, done, total, remote, keep, true);
    }

    int putTree(const Args& a) {
        int rc = 0;
        std::uint64_t bytes = 0, created = 0;
        if (!makeFolders("put", a.second, true, created, rc)) return rc;
        std::error_code error;
        for (fs::recursive_directory_iterator it(a.first, error), end; rc == exitOk && it != end; it.increment(error)) {
            if (cancelRequested()) return s.cancelled("put", it->path().string(), bytes, "stopped between files");
            std::string remote = a.second;
            for (const fs::path& part : fs::relative(it->path(), a.first)) remote += "\\" + part.string();
            if (it->is_directory()) {
                if (!s.services->PathFileExistsA(remote.c_str()) &&
                    !s.services->CreateDirectoryA(remote.c_str(), nullptr))
                    return s.fail("put", remote, lastError(), bytes);
            } else {
                rc = putFile(it->path().string(), remote, a.partial, bytes);
            }
        }
        if (error)
            return s.error("put", "cannot read local folder " + a.first + ": " + error.message(), exitFailed, "local");
        return rc == exitOk ? transferred("put", a.first, a.second, bytes) : rc;
    }

    // Reads a file of the share through the object in chunks, handing each to sink; a sink that
    // fails ends it. target: the local file sink writes (closed through local, then removed on
    // failure unless kept: Windows removes no open file), or "".
    template <class Sink>
    int readRemote(const char* command, const std::string& remote, Sink sink, std::uint64_t& bytes,
                   const std::string& target, bool keep = false, std::ofstream* local = nullptr) {
        FileServicesHandle file = openRemote(remote, false);
        if (!valid(file)) return s.fail(command, remote, lastError());
        LARGE_INTEGER size = {};
        s.services->GetFileSizeEx(file, &size);
        std::uint32_t code = 0;
        std::uint64_t done = 0;
        const Pumped how =
            pump(command, static_cast<std::uint64_t>(size.QuadPart), remoteReader(file, code), sink, done);
        s.services->CloseHandle(file);
        bytes += done;
        if (how == Pumped::done) return exitOk;
        if (target.empty()) {
            if (how == Pumped::cancelled) return s.cancelled(command, remote, done, "output stopped");
            // A sink that failed: the caller says why.
            return how == Pumped::readFailed ? s.fail(command, remote, code, done) : exitFailed;
        }
        if (local) local->close();
        return unfinished(command, how, remote, code, done, static_cast<std::uint64_t>(size.QuadPart), target, keep,
                          false);
    }

    int getFile(const std::string& remote, const std::string& local, bool keep, std::uint64_t& bytes) {
        std::ofstream out(local, std::ios::binary | std::ios::trunc);
        if (!out) return s.error("get", "cannot create local file " + local, exitFailed, "local");
        auto write = [&out](const char* data, DWORD size) { return static_cast<bool>(out.write(data, size)); };
        const int rc = readRemote("get", remote, write, bytes, local, keep, &out);
        if (rc != exitOk) return rc;
        out.close();
        if (!out) return unfinished("get", Pumped::writeFailed, remote, 0, bytes, bytes, local, keep, false);
        return exitOk;
    }

    int getTree(const std::string& remote, const std::string& local, bool keep, std::uint64_t& bytes) {
        std::error_code error;
        fs::create_directories(local, error);
        if (error)
            return s.error("get", "cannot create local folder " + local + ": " + error.message(), exitFailed, "local");
        std::vector<Entry> entries;
        if (const std::uint32_t code = list(remote, entries)) return s.fail("get", remote, code, bytes);
        for (const Entry& entry : entries) {
            if (cancelRequested()) return s.cancelled("get", entry.path, bytes, "stopped between files");
            const std::string target = (fs::path(local) / entry.name).string();
            const int rc =
                entry.directory() ? getTree(entry.path, target, keep, bytes) : getFile(entry.path, target, keep, bytes);
            if (rc != exitOk) return rc;
        }
        return exitOk;
    }

    // A file of the share to another name on a share, through the object in chunks.
    int copyRemote(const char* command, const std::string& from, const std::string& to, bool mustBeNew, bool keep,
                   std::uint64_t& bytes) {
        FileServicesHandle source = openRemote(from, false);
        if (!valid(source)) return s.fail(command, from, lastError());
        LARGE_INTEGER size = {};
        s.services->GetFileSizeEx(source, &size);
        FileServicesHandle target = openRemote(to, true, mustBeNew);
        if (!valid(target)) {
            const std::uint32_t code = lastError();
            s.services->CloseHandle(source);
            return s.fail(command, to, code);
        }
        std::uint32_t readCode = 0, writeCode = 0;
        const Pumped how = pump(command, static_cast<std::uint64_t>(size.QuadPart), remoteReader(source, readCode),
                                remoteWriter(target, writeCode), bytes);
        s.services->CloseHandle(source);
        const bool closed = s.services->CloseHandle(target) != FALSE;
        if (how == Pumped::done && closed) return exitOk;
        const std::uint32_t code = how == Pumped::done ? lastError() : readCode ? readCode : writeCode;
        return unfinished(command, how == Pumped::done ? Pumped::writeFailed : how, readCode ? from : to, code, bytes,
                          static_cast<std::uint64_t>(size.QuadPart), to, keep, true);
    }

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

}  // namespace

void addFileCommands(CLI::App& app, Session& session, Action& action) {
    auto commands = std::make_shared<FileCommands>(session);
    auto add = [&app, &action](const char* name, const char* help, const char* example,
                               std::function<int(const Args&)> run) {
        CLI::App* sub = app.add_subcommand(name, help);
        sub->footer(std::string("Example:\n  ") + example);
        auto args = std::make_shared<Args>();
        sub->callback([&action, args, run] { action = [args, run] { return run(*args); }; });
        return std::make_pair(sub, args);
    };
    const char* partialHelp = "keep a partly written target when stopped or failed (default: removed)";
    auto ls = add("ls", "List a directory, or the entries a pattern (* and ?) in the last component matches",
                  "gridctl ls '\\\\gridtest\\share\\data\\*.txt'",
                  [commands](const Args& a) { return commands->ls(a.first); });
    ls.first->add_option("path", ls.second->first, "directory, file or pattern")->required();

    auto stat = add("stat", "Show attributes, size and times of a file, directory or pattern's matches",
                    "gridctl stat '\\\\gridtest\\share\\data\\a.bin'",
                    [commands](const Args& a) { return commands->stat(a.first); });
    stat.first->add_option("path", stat.second->first, "file, directory or pattern")->required();

    auto df = add("df", "Show the free and total space of the share holding a path", "gridctl df '\\\\gridtest\\share'",
                  [commands](const Args& a) { return commands->df(a.first); });
    df.first->add_option("path", df.second->first, "a directory on the share")->required();

    auto mkdir = add("mkdir", "Create a directory (-p: and its missing parents; an existing one is fine)",
                     "gridctl mkdir -p '\\\\gridtest\\share\\new\\sub'",
                     [commands](const Args& a) { return commands->mkdir(a.first, a.flag); });
    mkdir.first->add_option("path", mkdir.second->first, "the new directory")->required();
    mkdir.first->add_flag("-p,--parents", mkdir.second->flag, "create missing parents; no error if it exists");

    auto rm =
        add("rm", "Remove files, or an empty directory (-r: a directory and everything in it); never a share root",
            "gridctl rm -r --dry-run '\\\\gridtest\\share\\old'",
            [commands](const Args& a) { return commands->rm(a.first, a.flag, a.dryRun); });
    rm.first->add_option("path", rm.second->first, "file, directory or pattern")->required();
    rm.first->add_flag("-r,--recursive", rm.second->flag, "remove a directory with everything in it");
    rm.first->add_flag("--dry-run", rm.second->dryRun, "list what would be removed, remove nothing");

    auto cp = add("cp", "Copy a file (in chunks, stopping on Ctrl-C)",
                  "gridctl cp '\\\\gridtest\\share\\a.bin' '\\\\gridtest\\share\\b.bin'",
                  [commands](const Args& a) { return commands->cp(a); });
    cp.first->add_option("source", cp.second->first, "the existing file")->required();
    cp.first->add_option("target", cp.second->second, "the new file")->required();
    cp.first->add_flag("-n,--no-clobber", cp.second->flag, "fail when the target exists");
    cp.first->add_flag("--partial", cp.second->partial, partialHelp);

    auto mv = add("mv", "Move or rename a file or directory (across volumes: copy, then delete)",
                  "gridctl mv '\\\\gridtest\\share\\a.bin' '\\\\gridtest\\share\\archive\\a.bin'",
                  [commands](const Args& a) { return commands->mv(a); });
    mv.first->add_option("source", mv.second->first, "the existing file or directory")->required();
    mv.first->add_option("target", mv.second->second, "the new name")->required();
    mv.first->add_flag("-f,--replace", mv.second->flag, "replace an existing target file");
    mv.first->add_flag("--partial", mv.second->partial, partialHelp);

    auto put = add("put", "Write a local file (-r: folder) to the share through the object, in chunks",
                   "gridctl put backup.tar '\\\\gridtest\\share\\backup.tar'",
                   [commands](const Args& a) { return commands->put(a); });
    put.first->add_option("local", put.second->first, "the local file or folder")->required();
    put.first->add_option("remote", put.second->second, "the file or folder on the share")->required();
    put.first->add_flag("-r,--recursive", put.second->flag, "copy a folder and everything in it");
    put.first->add_flag("--partial", put.second->partial, partialHelp);

    auto get =
        add("get", "Read a file (-r: folder; a pattern: its matches) of the share into a local file, or - (stdout)",
            "gridctl get '\\\\gridtest\\share\\backup.tar' backup.tar",
            [commands](const Args& a) { return commands->get(a); });
    get.first->add_option("remote", get.second->first, "the file, folder or pattern on the share")->required();
    get.first->add_option("local", get.second->second, "the local file or folder, or - for stdout")->required();
    get.first->add_flag("-r,--recursive", get.second->flag, "copy a folder and everything in it");
    get.first->add_flag("--partial", get.second->partial, partialHelp);

    auto cat = add("cat", "Print a file of the share (--json: text files only)",
                   "gridctl cat '\\\\gridtest\\share\\notes.txt'",
                   [commands](const Args& a) { return commands->cat(a.first); });
    cat.first->add_option("path", cat.second->first, "the file")->required();

    auto temp = add("tempname", "Create a new empty file with a unique name in a directory",
                    "gridctl tempname '\\\\gridtest\\share\\tmp' --prefix job",
                    [commands](const Args& a) { return commands->tempname(a.first, a.second); });
    temp.first->add_option("directory", temp.second->first, "where the file is made")->required();
    temp.second->second = "gct";
    temp.first->add_option("--prefix", temp.second->second, "up to three characters of the name")
        ->capture_default_str();
}

}  // namespace gridctl
