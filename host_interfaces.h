// The host objects as the module calls them: the settings object, the blackboxes and the entity
// record of ProcessEntity. The host implements them; slot orders are fixed, and the slots the
// module never calls are the host's own operations. Host-facing header.
#pragma once

#include <cstdint>

#include "blackbox_keys.h"
#include "common/bbobject.h"

class Settings {
  public:
    virtual ~Settings() {}
    // Host-side operations (the module never calls them).
    virtual int32_t SetString(const char16_t* key, const char* value) = 0;
    virtual int32_t SetInt(const char16_t* key, int32_t value) = 0;
    virtual int32_t SetSessionInt(const char16_t* key, uint64_t session, int32_t value) = 0;
    virtual int32_t Remove(const char16_t* key) = 0;
    virtual void Clear() = 0;
    // UTF-8 text of the key, or null when absent; `reserved` is always 0.
    virtual const char* GetString(const char16_t* key, int reserved) = 0;
    // The key's value for the session, or `fallback` when absent.
    virtual int32_t GetInt(const char16_t* key, int32_t fallback, uint64_t session) = 0;
};

class BlackBox {
  public:
    // 0 when stored; any other value is a failure.
    virtual int32_t Set(uint32_t key, uint32_t type, uint32_t zero, uint64_t value) = 0;
    // The stored value by type (see asbb::Type), or null when absent.
    virtual void* Get(uint32_t key, uint32_t type, uint32_t flag) = 0;
    virtual int32_t SetString(uint32_t key, const char* text) = 0;
    // Host-side operations (the module never calls them).
    virtual int32_t SetInt(uint32_t key, int32_t value) = 0;
    // Stores an object under key for Get with `type`; owned objects are destroyed with the box.
    virtual int32_t PutObject(uint32_t key, uint32_t type, ascommon::CBlackBoxObject* object,
                              bool owned) = 0;
    virtual int32_t Remove(uint32_t key) = 0;
    virtual void Clear() = 0;
    // Receives an object that the caller destroys when the call returns; copy what to keep.
    virtual int32_t SetObject(uint32_t key, ascommon::CBlackBoxObject* object) = 0;
    virtual ~BlackBox() {}
};

// What ProcessEntity receives: two host fields, the message blackbox, the extra blackbox.
struct ASEntity {
    void* host0;
    void* host1;
    BlackBox* message;
    BlackBox* extra;  // may be null
};

static_assert(sizeof(ASEntity) == 4 * sizeof(void*), "entity record is four pointers");
