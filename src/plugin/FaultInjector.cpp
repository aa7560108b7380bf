#include <GridApi/FaultInjector.h>

#include <atomic>
#include <mutex>
#include <random>
#include <tuple>

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
    FaultCounts counts;
    void* next = nullptr;  // the table entry the fault replaced: calls outside the window go there
};

// Allocated on first use: a static array would be stored in the DLL image (each generator's
// initial state is computed at compile time), some 86 KB that only a test or a drill ever needs.
Slot& slotOf(int index) {
    static Slot* const all = new Slot[callCount];
    return all[index];
}
std::atomic<std::uint64_t> injectedSinceStart{0};

int indexOf(const std::string& name) {
    for (int i = 0; i < callCount; ++i) {
        if (name == callNames[i]) return i;
    }
    return -1;
}

// What happens to one call: whether it fails, how, with which error, and where it goes on to.
struct Decision {
    bool fail = false;
    FaultMode mode = FaultMode::failBefore;
    DWORD error = 0;
    void* next = nullptr;
};

// Counts the call and decides its fate.
Decision decide(int index) {
    Decision decision;
    Slot& slot = slotOf(index);
    std::lock_guard<std::mutex> lock(slot.mutex);
    decision.next = slot.next;
    if (!slot.active) return decision;  // cleared while this call was on its way in: it goes through
    const std::uint64_t n = ++slot.counts.calls;
    const Fault& fault = slot.fault;
    const bool inWindow = n >= fault.fromCall && (fault.count == 0 || n - fault.fromCall < fault.count);
    if (!inWindow) return decision;
    if (fault.probability < 1.0 && std::uniform_real_distribution<double>(0.0, 1.0)(slot.random) >= fault.probability) {
        return decision;
    }
    ++slot.counts.injected;
    injectedSinceStart.fetch_add(1, std::memory_order_relaxed);
    decision.fail = true;
    decision.error =
        fault.errors.empty()
            ? fault.error
            : fault.errors[std::uniform_int_distribution<std::size_t>(0, fault.errors.size() - 1)(slot.random)];
    decision.mode = fault.mode;
    if (fault.mode == FaultMode::eitherWay) {
        decision.mode =
            std::uniform_int_distribution<int>(0, 1)(slot.random) ? FaultMode::lostAnswer : FaultMode::failBefore;
    }
    ++(decision.mode == FaultMode::lostAnswer ? slot.counts.answersLost : slot.counts.failedBefore);
    ++slot.counts.byError[decision.error];
    return decision;
}

// What a lost answer leaves behind besides the failure value: the transfer count Win32 leaves on a
// failure, and no handle the caller never received (the dropped session closes the server's open).
template <int Index, class R, class... A>
void afterLostAnswer(R result, A... args) {
    if constexpr (Index == index_ReadFile || Index == index_WriteFile) {
        LPDWORD done = std::get<3>(std::tie(args...));
        if (done) *done = 0;
    } else if constexpr (Index == index_CreateFileA) {
        if (result != INVALID_HANDLE_VALUE) ::CloseHandle(result);
    } else if constexpr (Index == index_FindFirstFileA) {
        if (result != INVALID_HANDLE_VALUE) ::FindClose(result);
    }
}

template <class F>
struct Interposer;

template <class R, class... A>
struct Interposer<R(WINAPI*)(A...)> {
    template <int Index, R (*failure)()>
    static R WINAPI call(A... args) {
        const Decision decision = decide(Index);
        const auto next = fromPointer<R(WINAPI*)(A...)>(decision.next);
        if (!decision.fail) return next(args...);
        if (decision.mode == FaultMode::lostAnswer) afterLostAnswer<Index>(next(args...), args...);
        ::SetLastError(decision.error);
        return failure();
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
    // Calls are counted from 1, and a probability outside [0, 1] or an unknown mode means nothing.
    if (index < 0 || fault.fromCall == 0 || !(fault.probability >= 0.0 && fault.probability <= 1.0)) return false;
    if (fault.mode != FaultMode::failBefore && fault.mode != FaultMode::lostAnswer &&
        fault.mode != FaultMode::eitherWay)
        return false;
    Slot& slot = slotOf(index);
    std::lock_guard<std::mutex> lock(slot.mutex);
    slot.fault = fault;
    slot.random.seed(fault.seed);
    slot.counts = FaultCounts();
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
        Slot& slot = slotOf(index);
        std::lock_guard<std::mutex> lock(slot.mutex);
        if (!slot.active) continue;
        // Only an entry that still holds the interposer goes back: one restored or replaced since
        // stays as it is.
        replaceSystemCall(callNames[index], interposers[index](), slot.next);
        slot.active = false;
    }
}

std::uint64_t FaultInjector::calls(const std::string& call) { return counts(call).calls; }

std::uint64_t FaultInjector::injected(const std::string& call) { return counts(call).injected; }

std::uint64_t FaultInjector::injectedTotal() { return injectedSinceStart.load(std::memory_order_relaxed); }

FaultCounts FaultInjector::counts(const std::string& call) {
    const int index = indexOf(call);
    if (index < 0) return FaultCounts();
    std::lock_guard<std::mutex> lock(slotOf(index).mutex);
    return slotOf(index).counts;
}

}  // namespace GridApi
