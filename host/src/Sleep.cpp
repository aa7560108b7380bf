#include <StravoHost/Sleep.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

#include <StravoHost/HostControl.h>

#include "Internal.h"

namespace {

struct SleepState {
    std::mutex mutex;
    std::function<int(int)> replacement;  // empty: sleep for real
    bool recording = false;
    std::vector<int> recorded;
};

// Never destroyed, so that sys_sleep stays usable from static destructors at exit.
SleepState& sleepState() {
    static SleepState* instance = new SleepState();
    return *instance;
}

// Blocks for an unsigned number of seconds, a day at a time, so that no count overflows the
// duration the standard library converts it to.
void sleepSeconds(std::uint64_t seconds) {
    const std::uint64_t day = 24 * 60 * 60;
    while (seconds > 0) {
        const std::uint64_t step = std::min(seconds, day);
        std::this_thread::sleep_for(std::chrono::seconds(static_cast<std::chrono::seconds::rep>(step)));
        seconds -= step;
    }
}

}  // namespace

int sys_sleep(int seconds) {
    SleepState& s = sleepState();
    std::function<int(int)> replacement;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.recording) {
            s.recorded.push_back(seconds);
            return 0;
        }
        replacement = s.replacement;
    }
    if (replacement) return replacement(seconds);
    if (seconds > 0) sleepSeconds(static_cast<std::uint64_t>(seconds));  // zero or less: none
    return 0;
}

namespace StravoHostInternal {

void resetSleep() { StravoHostControl::restoreSleep(); }

}  // namespace StravoHostInternal

namespace StravoHostControl {

void recordSleeps() {
    SleepState& s = sleepState();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.recording = true;
    s.replacement = nullptr;
}

std::vector<int> recordedSleeps() {
    SleepState& s = sleepState();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.recorded;
}

void setSleepFunction(std::function<int(int)> sleeper) {
    SleepState& s = sleepState();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.recording = false;
    s.replacement = std::move(sleeper);
}

void restoreSleep() {
    SleepState& s = sleepState();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.recording = false;
    s.replacement = nullptr;
    s.recorded.clear();
}

void resetToDefaults() {
    StravoHostInternal::resetLog();
    StravoHostInternal::resetSettings();
    clearSettingOverrides();
    StravoHostInternal::resetSleep();
    StravoHostInternal::resetVerifiedMove();
}

}  // namespace StravoHostControl
