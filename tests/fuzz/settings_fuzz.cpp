// The node-local settings reader on any file content. A read answers the stored value, the
// caller's default (key absent) or throws SettingsError (a file the parser refuses, a value that is
// not an integer or does not fit): nothing else may leave it, and where both widths answer for a
// stored value they must agree.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include <StravoHost/HostControl.h>
#include <StravoHost/Settings.h>

namespace {

std::string g_file;

// The key of the first "key = value" line, so that reads reach the value parser.
std::string firstKey(const std::string& text) {
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) return "k";
    const std::size_t start = text.find_last_of("\n]", equals);
    std::string key = text.substr(start == std::string::npos ? 0 : start + 1, equals - (start + 1));
    const std::size_t first = key.find_first_not_of(" \t\r");
    const std::size_t last = key.find_last_not_of(" \t\r");
    return first == std::string::npos ? "k" : key.substr(first, last - first + 1);
}

template <class Value>
bool read(const std::string& key, Value& value, Value defaultValue) {
    try {
        CGlobalSettingHelperAdapter<CRegFactoryRetriever>()->getGlobalSetting(key, value, defaultValue);
        return true;
    } catch (const SettingsError&) {
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char name[] = "/tmp/grid-settings-fuzz-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) std::abort();
    close(fd);
    g_file = name;
    std::atexit([] { unlink(g_file.c_str()); });
    StravoHostControl::setNodeLocalStore(g_file);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(g_file, std::ios::binary | std::ios::trunc);
        out << text;
    }
    for (const std::string& key : {firstKey(text), std::string("NumRetriesNetNameDel")}) {
        std::uint32_t wide = 0;
        std::int32_t narrow = 0;
        // Two defaults tell an absent key from a stored value equal to one of them.
        std::uint32_t wideOther = 0;
        const bool wideRead = read<std::uint32_t>(key, wide, 7u) && read<std::uint32_t>(key, wideOther, 8u);
        const bool narrowRead = read<std::int32_t>(key, narrow, 7);
        const bool stored = wideRead && wide == wideOther;
        if (stored && narrowRead && wide <= 0x7FFFFFFFu && static_cast<std::uint32_t>(narrow) != wide) std::abort();
    }
    return 0;
}
