// The host's in-memory settings layer: values a host program sets for its own process (a command
// line's retry options, say), read before the database and the node-local store. Nothing is
// written anywhere; the layer ends with the process or with clearSettingOverrides().
#include <map>
#include <mutex>

#include <StravoHost/HostControl.h>

#include "SettingsInternal.h"

namespace StravoHostInternal {

namespace {

struct Overrides {
    std::mutex mutex;
    std::map<std::string, long long> values;
};

Overrides& overrides() {
    static Overrides* const all = new Overrides;  // never destroyed: reads may come from exit handlers
    return *all;
}

boost::optional<long long> overrideOf(const std::string& key) {
    Overrides& all = overrides();
    std::lock_guard<std::mutex> lock(all.mutex);
    const auto found = all.values.find(key);
    if (found == all.values.end()) return boost::none;
    return found->second;
}

// A store's reader behind the layer: a key the layer holds never reaches the store.
class OverridingHelper : public CGlobalSettingHelper {
  public:
    explicit OverridingHelper(std::unique_ptr<CGlobalSettingHelper> store) : store_(std::move(store)) {}
    void getGlobalSetting(const std::string& key, uint32_t& value, const uint32_t& defaultValue) override {
        read(key, value, defaultValue);
    }
    void getGlobalSetting(const std::string& key, int32_t& value, const int32_t& defaultValue) override {
        read(key, value, defaultValue);
    }

  private:
    template <class T>
    void read(const std::string& key, T& value, const T& defaultValue) {
        const boost::optional<long long> found = overrideOf(key);
        if (found) {
            value = checkedValue<T>(key, *found);
        } else {
            store_->getGlobalSetting(key, value, defaultValue);
        }
    }
    std::unique_ptr<CGlobalSettingHelper> store_;
};

}  // namespace

std::unique_ptr<CGlobalSettingHelper> withOverrides(std::unique_ptr<CGlobalSettingHelper> store) {
    return std::unique_ptr<CGlobalSettingHelper>(new OverridingHelper(std::move(store)));
}

}  // namespace StravoHostInternal

namespace StravoHostControl {

void setSettingOverride(const std::string& key, int64_t value) {
    StravoHostInternal::Overrides& all = StravoHostInternal::overrides();
    std::lock_guard<std::mutex> lock(all.mutex);
    all.values[key] = static_cast<long long>(value);
}

void clearSettingOverrides() {
    StravoHostInternal::Overrides& all = StravoHostInternal::overrides();
    std::lock_guard<std::mutex> lock(all.mutex);
    all.values.clear();
}

bool settingOverride(const std::string& key, int64_t& value) {
    const boost::optional<long long> found = StravoHostInternal::overrideOf(key);
    if (found) value = static_cast<int64_t>(*found);
    return static_cast<bool>(found);
}

}  // namespace StravoHostControl
