// The node-local settings file (Linux; on Windows the node-local side is the registry) as a store no
// one meant: one far too large. The other hostile stores and values are HostileSettingsTest's.
#include <StravoHost/HostControl.h>
#include <StravoHost/Settings.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#if !defined(_WIN32)
namespace {

// What a read of the node-local side throws, or "(no exception)".
std::string failureOf(const std::string& key) {
    try {
        std::uint32_t value = 0;
        CGlobalSettingHelperAdapter<CRegFactoryRetriever>()->getGlobalSetting(key, value, 0u);
    } catch (const std::exception& error) {
        return error.what();
    }
    return "(no exception)";
}

// The node-local file is read up to 1 MiB: a file of exactly that size is read, one byte more is refused.
TEST(HostSettings, NodeLocalFileIsReadUpToOneMebibyte) {
    StravoHostControl::resetToDefaults();
    const char* dir = std::getenv("GRIDTEST_TMP");
    const std::string ini = std::string(dir && *dir ? dir : ".") + "/host-settings-size.ini";
    const std::string setting = "RetryCount = 7\n";
    for (const std::size_t size : {std::size_t(1024 * 1024), std::size_t(1024 * 1024 + 1)}) {
        // The setting, then a comment that fills the file up to the size.
        std::ofstream(ini, std::ios::binary | std::ios::trunc)
            << setting << "#" << std::string(size - setting.size() - 2, 'x') << "\n";
        StravoHostControl::setNodeLocalStore(ini);
        EXPECT_EQ(size == 1024 * 1024 ? "(no exception)" : "cannot read " + ini + ": larger than 1048576 bytes",
                  failureOf("RetryCount"));
    }
    std::remove(ini.c_str());
    StravoHostControl::resetToDefaults();
}

}  // namespace
#endif
