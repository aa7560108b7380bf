// The node-local side of the settings on Windows: REG_DWORD values under a subkey of
// HKEY_LOCAL_MACHINE (SOFTWARE\Stravo\GlobalSettings, or STRAVO_NODE_LOCAL_REGISTRY_KEY).
#include <atomic>

#include <windows.h>

#include <StravoHost/HostControl.h>

#include "SettingsInternal.h"

namespace StravoHostInternal {

namespace {

std::string registryError(const char* what, const std::string& registryKey, LONG rc) {
    return std::string("registry ") + what + " HKEY_LOCAL_MACHINE\\" + registryKey + ": error " + std::to_string(rc);
}

// The raw REG_DWORD, or none when the key or value is missing.
boost::optional<DWORD> readNodeLocal(const std::string& key) {
    const std::string registryKey = nodeLocalStoreForRead();
    if (registryKey.empty()) return boost::none;
    HKEY handle = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, registryKey.c_str(), 0, KEY_QUERY_VALUE, &handle);
    if (rc == ERROR_FILE_NOT_FOUND) return boost::none;
    if (rc != ERROR_SUCCESS) throw SettingsError(registryError("open", registryKey, rc));
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof data;
    rc = RegQueryValueExA(handle, key.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    RegCloseKey(handle);
    if (rc == ERROR_FILE_NOT_FOUND) return boost::none;
    if (rc == ERROR_MORE_DATA || (rc == ERROR_SUCCESS && type != REG_DWORD)) {
        throw SettingsError("setting '" + key + "' is not a REG_DWORD value");
    }
    if (rc != ERROR_SUCCESS) throw SettingsError(registryError("read", registryKey, rc));
    return data;
}

// The key the control surface writes to. Unless a key was named (by the environment or the control
// surface), the first write moves the node-local side to a key of this process's own, removed at
// exit, so that tests running side by side in one Wine prefix never share values.
std::string writableRegistryKey() {
    static std::atomic<unsigned> serial{0};
    SettingsState& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.nodeLocalStore.empty() || s.nodeLocalStoreIsDefault) {
        s.nodeLocalStore = "SOFTWARE\\Stravo\\GlobalSettings-" + std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(++serial);
        s.nodeLocalStoreIsDefault = false;
        addTemporaryRegistryKey(s.nodeLocalStore);
    }
    return s.nodeLocalStore;
}

// An int32_t read returns the same 32 bits as a signed value.
class NodeLocalHelper : public CGlobalSettingHelper {
  public:
    void getGlobalSetting(const std::string& key, uint32_t& value, const uint32_t& defaultValue) override {
        const boost::optional<DWORD> found = readNodeLocal(key);
        value = found ? static_cast<uint32_t>(*found) : defaultValue;
    }
    void getGlobalSetting(const std::string& key, int32_t& value, const int32_t& defaultValue) override {
        const boost::optional<DWORD> found = readNodeLocal(key);
        value = found ? static_cast<int32_t>(*found) : defaultValue;
    }
};

}  // namespace

void clearNodeLocalStore() {
    const std::string registryKey = StravoHostControl::nodeLocalStore();
    if (registryKey.empty()) return;
    const LONG rc = RegDeleteKeyA(HKEY_LOCAL_MACHINE, registryKey.c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
        throw SettingsError(registryError("delete", registryKey, rc));
    }
}

}  // namespace StravoHostInternal

std::unique_ptr<CGlobalSettingHelper> CRegFactoryRetriever::create() {
    return StravoHostInternal::withOverrides(
        std::unique_ptr<CGlobalSettingHelper>(new StravoHostInternal::NodeLocalHelper()));
}

namespace StravoHostControl {

void setNodeLocalSetting(const std::string& key, int64_t value) {
    using namespace StravoHostInternal;
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<uint32_t>::max()) {
        throw SettingsError("setting '" + key + "' value " + std::to_string(value) + " does not fit a REG_DWORD");
    }
    const std::string registryKey = writableRegistryKey();
    HKEY handle = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, registryKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle,
                              nullptr);
    if (rc != ERROR_SUCCESS) throw SettingsError(registryError("create", registryKey, rc));
    const DWORD data = static_cast<DWORD>(value);
    rc = RegSetValueExA(handle, key.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
    RegCloseKey(handle);
    if (rc != ERROR_SUCCESS) throw SettingsError(registryError("write", registryKey, rc));
}

void clearNodeLocalSetting(const std::string& key) {
    using namespace StravoHostInternal;
    const std::string registryKey = nodeLocalStore();
    if (registryKey.empty()) return;
    HKEY handle = nullptr;
    LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, registryKey.c_str(), 0, KEY_SET_VALUE, &handle);
    if (rc == ERROR_FILE_NOT_FOUND) return;
    if (rc != ERROR_SUCCESS) throw SettingsError(registryError("open", registryKey, rc));
    rc = RegDeleteValueA(handle, key.c_str());
    RegCloseKey(handle);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
        throw SettingsError(registryError("delete", registryKey, rc));
    }
}

}  // namespace StravoHostControl
