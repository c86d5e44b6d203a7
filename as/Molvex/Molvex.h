// The module's three exported functions, as a host declares and looks them up. Host-facing
// header: compiles on its own.
#pragma once

#include <cstdint>

#include "class_factory.h"
#include "common/ashooks.h"

#if defined(_WIN32)
#define MOLVEX_EXPORT __declspec(dllexport)
#else
#define MOLVEX_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
// Installs the host's hooks (saving the ones in force) and returns the one factory, made on the
// first call; null when it cannot be allocated.
MOLVEX_EXPORT CAClassFactory* GetClassFactory(const ASHookTable* hooks);
// Destroys the factory and every module it made, then puts the saved hooks back. Always 0.
MOLVEX_EXPORT int32_t ReleaseClassFactory();
// Writes the version 2, 21, 1, 1625 into version[0..3].
MOLVEX_EXPORT void GetASVersion(uint32_t* version);
}

typedef CAClassFactory* (*GetClassFactoryFn)(const ASHookTable* hooks);
typedef int32_t (*ReleaseClassFactoryFn)();
typedef void (*GetASVersionFn)(uint32_t* version);
