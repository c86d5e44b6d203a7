// shared_locker and auto_locker.
#include "common/shared_locker.h"

#include "common/asexception.h"
#include "common/trace.h"

namespace ascommon {

shared_locker::shared_locker() : m_event(nullptr), m_readers(0), m_delete(false) {
    m_event = platform::CreateAutoResetEvent(true);
    platform::InitSection(&m_writeSection);
    platform::InitSection(&m_countSection);
}

shared_locker::~shared_locker() {
    m_delete = true;
    if (m_readers > 0) {
        AS_TRACE(1,
                 "WARNING: Destroying the resource locker without releasing all the Read Only "
                 "Locks!");
    }
    platform::CloseEvent(m_event);
    platform::DeleteSection(&m_countSection);
    platform::DeleteSection(&m_writeSection);
}

void shared_locker::LockReadOnly() {
    platform::EnterSection(&m_writeSection);
    if (m_delete) {
        platform::LeaveSection(&m_writeSection);
        throw ASInternalException(0,
                                  "Unable to lock resource read only because it is being deleted!");
    }
    platform::LeaveSection(&m_writeSection);
    platform::EnterSection(&m_countSection);
    ++m_readers;
    platform::LeaveSection(&m_countSection);
}

uint32_t shared_locker::readers() {
    platform::EnterSection(&m_countSection);
    const uint32_t count = m_readers;
    platform::LeaveSection(&m_countSection);
    return count;
}

void shared_locker::UnlockReadOnly() {
    platform::EnterSection(&m_countSection);
    const uint32_t before = m_readers;
    --m_readers;
    if (before == 1) platform::SignalEvent(m_event);
    platform::LeaveSection(&m_countSection);
}

void shared_locker::AcquireExclusive() {
    platform::EnterSection(&m_writeSection);
    if (m_delete) {
        platform::LeaveSection(&m_writeSection);
        AS_THROW_INTERNAL_CODE(0, "Unable to lock resource read only because it is being deleted!");
    }
    platform::EnterSection(&m_countSection);
    while (m_readers != 0) {
        platform::LeaveSection(&m_countSection);
        platform::WaitEvent(m_event);
        platform::EnterSection(&m_countSection);
    }
}

void shared_locker::LockWrite() {
    AcquireExclusive();
}

void shared_locker::UnlockWrite() {
    platform::LeaveSection(&m_countSection);
    platform::LeaveSection(&m_writeSection);
}

void shared_locker::LockForDelete() {
    AcquireExclusive();
    m_delete = true;
    platform::LeaveSection(&m_countSection);
    platform::LeaveSection(&m_writeSection);
}

void shared_locker::ResetDeleteFlag() {
    if (!m_delete) {
        AS_THROW_INTERNAL_CODE(0,
                               "The resource is not being deleted! Cannot reset its delete flag.");
    }
    m_delete = false;
}

auto_locker::auto_locker(shared_locker* locker, int32_t mode)
    : m_held(0), m_mode(mode), m_locker(locker) {
    if (locker == nullptr) AS_THROW_INTERNAL_CODE(0, "Null locker data in auto_locker!");
    if (mode == kExclusive) {
        locker->LockWrite();
    } else {
        locker->LockReadOnly();
    }
    m_held = 1;
}

void auto_locker::release() {
    if (!m_held) return;
    if (m_mode == kExclusive) {
        m_locker->UnlockWrite();
    } else {
        m_locker->UnlockReadOnly();
    }
    m_held = 0;
}

}  // namespace ascommon
