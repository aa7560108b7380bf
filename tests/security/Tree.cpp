#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "Jail.h"

namespace security {

namespace fs = std::filesystem;

bool enterNamespaces(std::string* why) {
    if (geteuid() == 0) return true;
    const auto put = [](const char* file, const std::string& text) {
        const int fd = open(file, O_WRONLY | O_CLOEXEC);
        const bool ok = fd >= 0 && write(fd, text.data(), text.size()) == ssize_t(text.size());
        if (fd >= 0) close(fd);
        return ok;
    };
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 && (put("/proc/self/setgroups", "deny") || errno == ENOENT) &&
        put("/proc/self/uid_map", cat("0 ", uid, " 1")) && put("/proc/self/gid_map", cat("0 ", gid, " 1")))
        return true;
    *why = cat("unshare(CLONE_NEWUSER | CLONE_NEWNS) or its id maps: ", std::strerror(errno));
    return false;
}

Tree snapshot(const std::string& root, const std::vector<std::string>& keep) {
    Tree out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string path = it->path().lexically_relative(root);
        const fs::file_status st = it->symlink_status();
        const std::string mode = cat(std::oct, int(st.permissions()));
        switch (st.type()) {
            case fs::file_type::directory:
                out[path] = "dir " + mode;
                if (std::find(keep.begin(), keep.end(), path) != keep.end()) it.disable_recursion_pending();
                break;
            case fs::file_type::symlink:
                out[path] = "link -> " + fs::read_symlink(it->path()).string();
                break;
            case fs::file_type::regular:
                out[path] = cat("file ", mode, " ", it->file_size(), " \"", readFile(it->path()), "\"");
                break;
            default:
                out[path] = cat("special ", int(st.type()), " ", mode);
        }
    }
    return out;
}

std::string changes(const Tree& before, const Tree& after) {
    std::string out;
    for (const auto& [path, what] : before) {
        const auto it = after.find(path);
        if (it == after.end())
            out += "- " + path + " (" + what + ")\n";
        else if (it->second != what)
            out += "~ " + path + ": " + what + " -> " + it->second + "\n";
    }
    for (const auto& [path, what] : after) {
        if (!before.count(path)) out += "+ " + path + " (" + what + ")\n";
    }
    return out;
}

void buildShare(const std::string& root) {
    const std::string share = root + "/unc/srv/sh", target = root + "/outside/target";
    for (const std::string& dir : {share + "/x", target}) makeDirs(dir + "/sub/deep");
    writeFile(share + "/x/victim.txt", "inside");
    writeFile(share + "/x/sub/deep/f", "inside f");
    writeFile(target + "/victim.txt", "outside");
    writeFile(target + "/sub/deep/f", "outside f", 0640);
    writeFile(target + "/secret.txt", "secret", 0600);
    writeFile(share + "/src.txt", "source");
    writeFile(share + "/keep.txt", "keep");
    for (const auto& [to, link] : {std::pair{"/outside/target", "/xl"},        // leads out
                                   std::pair{"/outside/new", "/dl"},           // dangling, absolute
                                   std::pair{"../../../outside/new2", "/dr"},  // dangling, relative
                                   std::pair{"missing-inside", "/din"},        // dangling, stays inside
                                   std::pair{"/nowhere", "/dm"}}) {            // on the way: dm\x
        makeLink(to, share + link);
    }
}

void makeDirs(const std::string& path) { fs::create_directories(path); }

void writeFile(const std::string& path, const std::string& content, unsigned mode) {
    if (!(std::ofstream(path, std::ios::trunc) << content)) throw std::runtime_error("write " + path);
    fs::permissions(path, fs::perms(mode));
}

void makeLink(const std::string& target, const std::string& at) { fs::create_symlink(target, at); }
void removeTree(const std::string& path) { fs::remove_all(path); }
bool exists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return in ? text.str() : "<missing>";
}

}  // namespace security
