#include <GridApi/FaultInjector.h>

#include <mutex>
#include <random>

#include <GridApi/SystemCalls.h>

#include "plugin/FunctionPointer.h"

namespace GridApi {

namespace {

enum CallIndex {
#define GRIDAPI_SYSCALL_INDEX(name, failure) index_##name,
    GRIDAPI_SYSTEM_CALLS(GRIDAPI_SYSCALL_INDEX)
#undef GRIDAPI_SYSCALL_INDEX
        callCount
};

const char* const callNames[] = {
#define GRIDAPI_SYSCALL_NAME(name, failure) #name,
    GRIDAPI_SYSTEM_CALLS(GRIDAPI_SYSCALL_NAME)
#undef GRIDAPI_SYSCALL_NAME
};

// One call's fault and what it has seen since the fault was added.
struct Slot {
    std::mutex mutex;
    bool active = false;
    Fault fault;
    std::mt19937 random;
    std::uint64_t calls = 0;
    std::uint64_t injected = 0;
    void* next = nullptr;  // the table entry the fault replaced: calls outside the window go there
};

Slot slots[callCount];

int indexOf(const std::string& name) {
    for (int i = 0; i < callCount; ++i) {
        if (name == callNames[i]) return i;
    }
    return -1;
}

// Counts the call and says whether it fails (and with which error) or goes on to `next`.
bool shouldFail(int index, DWORD& error, void*& next) {
    Slot& slot = slots[index];
    std::lock_guard<std::mutex> lock(slot.mutex);
    next = slot.next;
    if (!slot.active) return false;  // cleared while this call was on its way in: it goes through
    const std::uint64_t n = ++slot.calls;
    const Fault& fault = slot.fault;
    const bool inWindow = n >= fault.fromCall && (fault.count == 0 || n - fault.fromCall < fault.count);
    if (!inWindow) return false;
    if (fault.probability < 1.0 && std::uniform_real_distribution<double>(0.0, 1.0)(slot.random) >= fault.probability) {
        return false;
    }
    ++slot.injected;
    error = fault.error;
    return true;
}

template <class F>
struct Interposer;

template <class R, class... A>
struct Interposer<R(WINAPI*)(A...)> {
    template <int Index, R (*failure)()>
    static R WINAPI call(A... args) {
        DWORD error = 0;
        void* next = nullptr;
        if (shouldFail(Index, error, next)) {
            ::SetLastError(error);
            return failure();
        }
        return fromPointer<R(WINAPI*)(A...)>(next)(args...);
    }
};

template <class F>
struct ResultOf;
template <class R, class... A>
struct ResultOf<R(WINAPI*)(A...)> {
    typedef R type;
};

#define GRIDAPI_SYSCALL_INTERPOSER(name, failureValue)                                                   \
    typedef decltype(&::name) Type_##name;                                                               \
    ResultOf<Type_##name>::type failure_##name() { return (ResultOf<Type_##name>::type)(failureValue); } \
    void* interposer_##name() { return toPointer(&Interposer<Type_##name>::call<index_##name, &failure_##name>); }
GRIDAPI_SYSTEM_CALLS(GRIDAPI_SYSCALL_INTERPOSER)
#undef GRIDAPI_SYSCALL_INTERPOSER

void* (*const interposers[])() = {
#define GRIDAPI_SYSCALL_INTERPOSER_REF(name, failure) &interposer_##name,
    GRIDAPI_SYSTEM_CALLS(GRIDAPI_SYSCALL_INTERPOSER_REF)
#undef GRIDAPI_SYSCALL_INTERPOSER_REF
};

}  // namespace

bool FaultInjector::add(const Fault& fault) {
    const int index = indexOf(fault.call);
    // Calls are counted from 1, and a probability outside [0, 1] means nothing.
    if (index < 0 || fault.fromCall == 0 || !(fault.probability >= 0.0 && fault.probability <= 1.0)) return false;
    Slot& slot = slots[index];
    std::lock_guard<std::mutex> lock(slot.mutex);
    slot.fault = fault;
    slot.random.seed(fault.seed);
    slot.calls = 0;
    slot.injected = 0;
    slot.active = true;
    // Installs the interposer unless the entry holds it already; restoreSystemCalls() (or a host's
    // setSystemCall) since the last add() may have put another function there, which then becomes
    // the one that calls outside the fault's window go to.
    void* const interposer = interposers[index]();
    for (;;) {
        void* const current = getSystemCall(callNames[index]);
        if (current == interposer) break;
        slot.next = current;
        if (replaceSystemCall(callNames[index], current, interposer)) break;
    }
    return true;
}

void FaultInjector::clear() {
    for (int index = 0; index < callCount; ++index) {
        Slot& slot = slots[index];
        std::lock_guard<std::mutex> lock(slot.mutex);
        if (!slot.active) continue;
        // Only an entry that still holds the interposer goes back: one restored or replaced since
        // stays as it is.
        replaceSystemCall(callNames[index], interposers[index](), slot.next);
        slot.active = false;
    }
}

std::uint64_t FaultInjector::calls(const std::string& call) {
    const int index = indexOf(call);
    if (index < 0) return 0;
    std::lock_guard<std::mutex> lock(slots[index].mutex);
    return slots[index].calls;
}

std::uint64_t FaultInjector::injected(const std::string& call) {
    const int index = indexOf(call);
    if (index < 0) return 0;
    std::lock_guard<std::mutex> lock(slots[index].mutex);
    return slots[index].injected;
}

}  // namespace GridApi
