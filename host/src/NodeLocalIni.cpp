// The node-local side of the settings on Linux: the INI file named by STRAVO_NODE_LOCAL_FILE, read
// with Boost.PropertyTree's INI parser. Keys count in every section and match without regard to
// case; a '#' or ';' after a value starts a comment. Only a regular file of at most 1 MiB is read.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <boost/property_tree/ini_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <StravoHost/HostControl.h>

#include "SettingsInternal.h"
#include "StoreFile.h"

namespace StravoHostInternal {

namespace {

namespace pt = boost::property_tree;

// The file as a tree; a missing file is an empty one. The file is read as StoreFile.h says: a
// FIFO, a directory, a device or a file beyond the size limit is refused at once.
pt::ptree readTree(const std::string& path) {
    pt::ptree tree;
    const boost::optional<std::string> content = readStoreFile(path, maxNodeLocalFileBytes);
    if (!content) return tree;
    std::istringstream in(*content);
    try {
        pt::read_ini(in, tree);
    } catch (const pt::ini_parser_error& error) {
        throw SettingsError(path + " line " + std::to_string(error.line()) + ": " + error.message());
    }
    return tree;
}

// Calls f(entries, entry) for every key of the tree: those before the first section and those
// of each section.
template <class F>
void forEachKey(pt::ptree& tree, F f) {
    for (auto entry = tree.begin(); entry != tree.end();) {
        if (entry->second.empty()) {
            entry = f(tree, entry);
        } else {
            pt::ptree& section = entry->second;
            for (auto key = section.begin(); key != section.end();) key = f(section, key);
            entry = section.empty() ? tree.erase(entry) : std::next(entry);  // a section emptied by f goes
        }
    }
}

// Decimal or 0x hex, optionally negative; anything else is refused.
long long parseValue(const std::string& key, const std::string& data) {
    const std::string text = boost::algorithm::trim_copy(data.substr(0, data.find_first_of("#;")));
    std::string digits = text;
    bool negative = false;
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
        negative = digits[0] == '-';
        digits.erase(0, 1);
    }
    int base = 10;
    if (boost::algorithm::istarts_with(digits, "0x")) {
        base = 16;
        digits.erase(0, 2);
    }
    if (digits.empty() ||
        digits.find_first_not_of(base == 16 ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos) {
        throw SettingsError("setting '" + key + "' value '" + text + "' is not an integer");
    }
    errno = 0;
    const unsigned long long magnitude = std::strtoull(digits.c_str(), nullptr, base);
    if (errno == ERANGE || magnitude > static_cast<unsigned long long>(std::numeric_limits<long long>::max())) {
        throw SettingsError("setting '" + key + "' value '" + text + "' is out of range");
    }
    return negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
}

boost::optional<long long> readNodeLocal(const std::string& key) {
    const std::string path = nodeLocalStoreForRead();
    if (path.empty()) return boost::none;
    pt::ptree tree = readTree(path);
    boost::optional<std::string> value;
    forEachKey(tree, [&](pt::ptree&, pt::ptree::iterator entry) {
        if (boost::algorithm::iequals(entry->first, key)) value = entry->second.data();  // the last one counts
        return ++entry;
    });
    if (!value) return boost::none;
    return parseValue(key, *value);
}

// Rewrites the file with the key dropped (in any case, from every section) and, when given, the
// new value added before the first section.
void rewriteIni(const std::string& key, const boost::optional<long long>& value) {
    SettingsState& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.nodeLocalStore.empty()) {
        if (!value) return;
        s.nodeLocalStore = makeTemporaryFile("nodelocal");
    }
    pt::ptree tree = readTree(s.nodeLocalStore);
    forEachKey(tree, [&](pt::ptree& entries, pt::ptree::iterator entry) {
        return boost::algorithm::iequals(entry->first, key) ? entries.erase(entry) : ++entry;
    });
    if (value) tree.push_front(pt::ptree::value_type(key, pt::ptree(std::to_string(*value))));
    const std::string staging = s.nodeLocalStore + ".new";
    try {
        pt::write_ini(staging, tree);
    } catch (const pt::ini_parser_error& error) {
        throw SettingsError("cannot write " + staging + ": " + error.message());
    }
    if (std::rename(staging.c_str(), s.nodeLocalStore.c_str()) != 0) {
        throw SettingsError("cannot replace " + s.nodeLocalStore + ": " + std::strerror(errno));
    }
}

}  // namespace

void clearNodeLocalStore() {
    SettingsState& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.nodeLocalStore.empty()) return;
    std::ofstream file(s.nodeLocalStore, std::ios::trunc);
    if (!file) throw SettingsError("cannot write " + s.nodeLocalStore + ": " + std::strerror(errno));
}

}  // namespace StravoHostInternal

std::unique_ptr<CGlobalSettingHelper> CRegFactoryRetriever::create() {
    return StravoHostInternal::withOverrides(std::unique_ptr<CGlobalSettingHelper>(
        new StravoHostInternal::RangeCheckedHelper<&StravoHostInternal::readNodeLocal>()));
}

namespace StravoHostControl {

void setNodeLocalSetting(const std::string& key, int64_t value) {
    StravoHostInternal::rewriteIni(key, static_cast<long long>(value));
}

void clearNodeLocalSetting(const std::string& key) { StravoHostInternal::rewriteIni(key, boost::none); }

}  // namespace StravoHostControl
