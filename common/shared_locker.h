// shared_locker guards a resource that many threads read and few change: many read-only holders,
// or one exclusive holder, plus a delete flag that refuses every new holder while the resource is
// being destroyed. A waiting writer keeps the write section, so new readers queue behind it.
// auto_locker is the scoped holder. Both are used from any thread. Host-facing header.
#pragma once

#include <cstdint>

#include "common/layout.h"
#include "common/platform.h"

namespace ascommon {

class shared_locker {
  public:
    shared_locker();
    ~shared_locker();
    shared_locker(const shared_locker&) = delete;
    shared_locker& operator=(const shared_locker&) = delete;

    void LockReadOnly();  // throws ASInternalException when marked for deletion
    void UnlockReadOnly();
    void LockWrite();  // throws ASInternalException when marked for deletion
    void UnlockWrite();
    // Waits until no one holds the resource, then marks it for deletion.
    void LockForDelete();
    // Clears the delete flag; throws when it was not set.
    void ResetDeleteFlag();

    uint32_t readers();  // read under the count section
    bool marked_for_delete() const { return m_delete; }

  private:
    friend struct LockerLayout;
    // Enters both sections once no reader is left; throws when marked for deletion.
    void AcquireExclusive();

    platform::EventHandle m_event;
    platform::CriticalSection m_writeSection;
    uint32_t m_readers;
    platform::CriticalSection m_countSection;
    bool m_delete;
};

// Layout: event handle, write section, readers, count section, delete flag (as on x64 Windows).
struct LockerLayout {
    AS_LAYOUT_BEGIN
    AS_PIN(shared_locker, m_event, 0);
    AS_PIN(shared_locker, m_writeSection, 8);
    AS_PIN(shared_locker, m_readers, 48);
    AS_PIN(shared_locker, m_countSection, 56);
    AS_PIN(shared_locker, m_delete, 96);
    AS_PIN_SIZE(shared_locker, 104);
    AS_LAYOUT_END
};

class auto_locker {
  public:
    enum Mode : int32_t { kReadOnly = 0, kExclusive = 1 };
    // Takes the lock of the mode; a null locker throws ASInternalException.
    auto_locker(shared_locker* locker, int32_t mode);
    ~auto_locker() { release(); }
    auto_locker(const auto_locker&) = delete;
    auto_locker& operator=(const auto_locker&) = delete;
    // Gives the lock back; does nothing when none is held.
    void release();

  private:
    int32_t m_held;
    int32_t m_mode;
    shared_locker* m_locker;
};

}  // namespace ascommon
