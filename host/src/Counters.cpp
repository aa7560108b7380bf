// The performance counters and the host's singletons.
#include <mutex>

#include <StravoHost/HostControl.h>
#include <StravoHost/Settings.h>

namespace {

// The singletons outlive static destruction, like the server's own: a plug-in's static
// destructors may still reach them at exit.
std::mutex& singletonMutex() {
    static std::mutex* mutex = new std::mutex();
    return *mutex;
}
std::unique_ptr<GlobalConfig>& globalConfigSlot() {
    static std::unique_ptr<GlobalConfig>* slot = new std::unique_ptr<GlobalConfig>();
    return *slot;
}
std::unique_ptr<PerformanceCountersManager>& countersSlot() {
    static std::unique_ptr<PerformanceCountersManager>* slot = new std::unique_ptr<PerformanceCountersManager>();
    return *slot;
}

}  // namespace

PerformanceCountersManager::PerformanceCountersManager() {
    for (std::atomic<uint64_t>& counter : counters_) counter.store(0);
}
PerformanceCountersManager::~PerformanceCountersManager() = default;

void PerformanceCountersManager::incrementCounter(PerfCounters::CounterType type) {
    if (type < 0 || type >= PerfCounters::CounterTypeCount) return;
    counters_[type].fetch_add(1, std::memory_order_relaxed);
}

uint64_t PerformanceCountersManager::counter(PerfCounters::CounterType type) const {
    if (type < 0 || type >= PerfCounters::CounterTypeCount) return 0;
    return counters_[type].load(std::memory_order_relaxed);
}

namespace StaticSingleton {

template <>
GlobalConfig& CStaticSingleton<GlobalConfig>::instance() {
    std::lock_guard<std::mutex> lock(singletonMutex());
    if (!globalConfigSlot()) globalConfigSlot().reset(new GlobalConfig());
    return *globalConfigSlot();
}

template <>
bool CStaticSingleton<GlobalConfig>::instanceExists() {
    std::lock_guard<std::mutex> lock(singletonMutex());
    return globalConfigSlot() != nullptr;
}

template <>
PerformanceCountersManager& CStaticSingleton<PerformanceCountersManager>::instance() {
    std::lock_guard<std::mutex> lock(singletonMutex());
    if (!countersSlot()) countersSlot().reset(new PerformanceCountersManager());
    return *countersSlot();
}

template <>
bool CStaticSingleton<PerformanceCountersManager>::instanceExists() {
    std::lock_guard<std::mutex> lock(singletonMutex());
    return countersSlot() != nullptr;
}

}  // namespace StaticSingleton

namespace StravoHostControl {

PerformanceCountersManager& createPerformanceCounters() {
    return StaticSingleton::CStaticSingleton<PerformanceCountersManager>::instance();
}

void resetPerformanceCounters() {
    std::lock_guard<std::mutex> lock(singletonMutex());
    countersSlot().reset();
}

uint64_t performanceCounter(PerfCounters::CounterType type) {
    std::lock_guard<std::mutex> lock(singletonMutex());
    return countersSlot() ? countersSlot()->counter(type) : 0;
}

}  // namespace StravoHostControl
