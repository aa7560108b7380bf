#pragma once

// The system-call table names its entries as plain data pointers; these convert between those and
// typed function pointers (a bit copy, which the platforms the library builds for allow).

#include <cstring>

namespace GridApi {

template <class F>
void* toPointer(F function) {
    void* pointer;
    static_assert(sizeof pointer == sizeof function, "function pointers must fit a data pointer");
    std::memcpy(&pointer, &function, sizeof pointer);
    return pointer;
}

template <class F>
F fromPointer(void* pointer) {
    F function;
    static_assert(sizeof pointer == sizeof function, "function pointers must fit a data pointer");
    std::memcpy(&function, &pointer, sizeof function);
    return function;
}

// Sets the named entry to fn only while it still holds `expected` (both non-null); false otherwise.
// The fault injector puts an entry back this way, so that it never undoes a later replacement.
bool replaceSystemCall(const char* name, void* expected, void* fn);

}  // namespace GridApi
