// CNotifiableObject: sessions, shared data guard and module teardown.
#include "notifobj.h"

#include "common/ashooks_access.h"
#include "common/aserrno.h"
#include "common/trace.h"

CNotifiableObject::CNotifiableObject()
    : m_sessions(nullptr), m_sharedDataReady(0), m_sharedData(nullptr) {
    m_sessions.rehash(64);
}

CNotifiableObject::~CNotifiableObject() {}

void* CNotifiableObject::GetSessionData(uint64_t session) {
    nobjSessionInfo* info = m_sessions.lookup(session);
    if (info == nullptr || info->data == nullptr) {
        AS_TRACE(2, "invalid session or session not initialized for ID (%d)",
                 static_cast<int>(session));
        return nullptr;
    }
    return info->data;
}

void CNotifiableObject::SetSessionInitialised(uint64_t session, bool initialised) {
    nobjSessionInfo* info = m_sessions.lookup(session);
    if (info == nullptr) {
        AS_TRACE(2, "invalid session ID (%d)", static_cast<int>(session));
        return;
    }
    info->initialised = initialised;
}

void CNotifiableObject::ReleaseModule() {
    m_sharedDataReady = 0;
    while (auto* node = m_sessions.first()) {
        const uint64_t id = node->key;
        void* data = node->value.data;
        if (data != nullptr) {
            DestroySessionData(data);
            m_sessions.remove(id);
            ascommon::installed_hooks._as_get_err()->SetNumber(0);
        } else {
            ascommon::installed_hooks._as_set_err(
                -104, "Session ID not defined! [%d]. Cannot release", static_cast<int>(id));
            m_sessions.remove(id);
        }
    }
    m_locker.LockForDelete();
    DestroySharedData(m_sharedData);
    m_locker.ResetDeleteFlag();
}
