// Helpers to pin the layouts shared with the host. The shared classes have a vtable, so offsetof
// is "conditionally supported"; GCC and Clang give the Itanium layout, which is what we pin.
#pragma once

#include <cstddef>

#if defined(__x86_64__) || defined(_M_X64)
#define AS_LAYOUT_PINNED 1
#else
#define AS_LAYOUT_PINNED 0
#endif

#if defined(__GNUC__)
#define AS_LAYOUT_BEGIN \
    _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Winvalid-offsetof\"")
#define AS_LAYOUT_END _Pragma("GCC diagnostic pop")
#else
#define AS_LAYOUT_BEGIN
#define AS_LAYOUT_END
#endif

// Inside a friend struct of the class: AS_PIN(Class, member, offset);
#define AS_PIN(Cls, member, offset) \
    static_assert(!AS_LAYOUT_PINNED || offsetof(Cls, member) == (offset), #Cls "::" #member)
#define AS_PIN_SIZE(Cls, size) \
    static_assert(!AS_LAYOUT_PINNED || sizeof(Cls) == (size), "sizeof " #Cls)
