#include <GridApi/SystemCalls.h>

#include <cstring>

#include "plugin/FunctionPointer.h"

namespace GridApi {

namespace {

// Filled from the defaults when the library is loaded (see below). A default's address is always
// taken in code, never in a constant initialiser: on Windows the latter gives an imported
// function's thunk and the former the function itself, and a default must compare equal to the
// entry it restores.
SystemCallTable current;

struct Entry {
    const char* name;
    void* (*getDefault)();
    void* (*get)();
    void (*set)(void*);
    bool (*replace)(void*, void*);
};

const Entry entries[] = {
#define GRIDAPI_SYSCALL_ENTRY(name, failure)                                                                        \
    {#name, [] { return toPointer(&::name); }, [] { return toPointer(current.name.load()); },                       \
     [](void* fn) { current.name.store(fn ? fromPointer<decltype(&::name)>(fn) : &::name); },                       \
     [](void* expected, void* fn) {                                                                                 \
         return current.name.replace(fromPointer<decltype(&::name)>(expected), fromPointer<decltype(&::name)>(fn)); \
     }},
    GRIDAPI_SYSTEM_CALLS(GRIDAPI_SYSCALL_ENTRY)
#undef GRIDAPI_SYSCALL_ENTRY
};

const Entry* find(const char* name) {
    if (!name) return nullptr;
    for (const Entry& entry : entries) {
        if (std::strcmp(entry.name, name) == 0) return &entry;
    }
    return nullptr;
}

struct LoadDefaults {
    LoadDefaults() {
        for (const Entry& entry : entries) entry.set(nullptr);
    }
} loadDefaults;

}  // namespace

const SystemCallTable& systemCalls() { return current; }

bool setSystemCall(const char* name, void* fn) {
    const Entry* entry = find(name);
    if (!entry) return false;
    entry->set(fn);
    return true;
}

bool replaceSystemCall(const char* name, void* expected, void* fn) {
    const Entry* entry = find(name);
    return entry && entry->replace(expected, fn);
}

void* getSystemCall(const char* name) {
    const Entry* entry = find(name);
    return entry ? entry->get() : nullptr;
}

void* getDefaultSystemCall(const char* name) {
    const Entry* entry = find(name);
    return entry ? entry->getDefault() : nullptr;
}

const char* nextSystemCall(const char* name) {
    const std::size_t count = sizeof entries / sizeof entries[0];
    if (!name) return entries[0].name;
    for (std::size_t i = 0; i + 1 < count; ++i) {
        if (std::strcmp(entries[i].name, name) == 0) return entries[i + 1].name;
    }
    return nullptr;
}

void restoreSystemCalls() {
    for (const Entry& entry : entries) entry.set(nullptr);
}

}  // namespace GridApi
