// The class factory: the host's entry to the module types. CAClassFactory is the interface the
// host calls; CClassFactory keeps the per-type allocators and every module it created, and
// releases them when destroyed. Called from one host thread at a time. Host-facing header.
#pragma once

#include <cstdint>
#include <exception>
#include <new>

#include "amodule.h"
#include "common/carray.h"
#include "common/sstring.h"
#include "common/trace.h"

class CAClassFactory {
  public:
    virtual ~CAClassFactory() {}
    virtual uint64_t GetModuleCount() = 0;
    // The type's name; throws InvalidIndexException for an index past the last type.
    virtual const ascommon::sstring* GetModuleName(uint64_t index) = 0;
    // A new module of the type; throws InvalidIndexException for an index past the last type,
    // and std::bad_alloc (from the host's hook) when the module cannot be allocated.
    virtual CAModule* CreateModule(uint64_t index) = 0;
};

// Makes modules of one type.
class CBasicAllocator {
  public:
    virtual CAModule* Create() = 0;
    virtual const ascommon::sstring* GetName() { return &m_name; }
    virtual ~CBasicAllocator() {}

    ascommon::sstring m_name;
};

// Reports a module whose shared data could not be allocated (the module is kept without it).
void ReportSharedDataFailure();

template <class T>
class TAllocator : public CBasicAllocator {
  public:
    // Throws std::bad_alloc when the name cannot be copied: a type is never offered unnamed.
    explicit TAllocator(const char* name) {
        m_name = name;
        if (!m_name.initialised()) throw std::bad_alloc();
    }

    // A new module named after the type, with its shared data when that could be allocated (a
    // CreateSharedData that throws for want of memory counts as one that gave null).
    CAModule* Create() override {
        AS_TRACE(1, "DE2ZE: Creating new module: [%s]", m_name.c_str());
        T* module = new T(m_name);
        try {
            module->m_sharedData = module->CreateSharedData();
        } catch (const std::exception&) {
            module->m_sharedData = nullptr;
        }
        if (module->m_sharedData != nullptr) {
            module->m_sharedDataReady = 1;
        } else {
            ReportSharedDataFailure();
        }
        return module;
    }
};

class CClassFactory : public CAClassFactory {
  public:
    CClassFactory() {}
    ~CClassFactory() override;

    uint64_t GetModuleCount() override;
    const ascommon::sstring* GetModuleName(uint64_t index) override;
    CAModule* CreateModule(uint64_t index) override;

  protected:
    ascommon::CArray<CBasicAllocator*, 64> m_allocators;
    ascommon::CArray<CAModule*, 64> m_modules;
};
