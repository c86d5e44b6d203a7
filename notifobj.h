// CNotifiableObject: the first of the module base classes. It owns the session map (filled and
// emptied by the host), the shared-data-ready flag, the locker of the shared data and the shared
// data pointer; the host shares this layout and the slot order. Entry points run on the host's
// threads; the session map is not locked (the host must not change it while the module works).
// Host-facing header.
#pragma once

#include <cstdint>

#include "common/cmap.h"
#include "common/layout.h"
#include "common/shared_locker.h"

// The value of the session map: the session data and whether ApplySessionSettings succeeded.
struct nobjSessionInfo {
    void* data;
    bool initialised;
};

class CNotifiableObject {
  public:
    CNotifiableObject();
    virtual ~CNotifiableObject();

    virtual int32_t ApplySessionSettings(uint64_t session) = 0;
    virtual bool IsEnabled(uint64_t session) = 0;
    virtual void* CreateSharedData() = 0;
    virtual void DestroySharedData(void* data) = 0;
    virtual int32_t ApplySharedSettings() = 0;
    virtual void* CreateSessionData() = 0;
    virtual void DestroySessionData(void* data) = 0;

    // The session's data, or null (with a trace line) for an unknown or empty session.
    void* GetSessionData(uint64_t session);
    void SetSessionInitialised(uint64_t session, bool initialised);
    // Teardown before destruction: releases remaining sessions and the shared data.
    void ReleaseModule();

    ascommon::CMap<uint64_t, nobjSessionInfo> m_sessions;
    uint32_t m_sharedDataReady;
    ascommon::shared_locker m_locker;
    void* m_sharedData;
};

struct NotifiableObjectLayout {
    AS_LAYOUT_BEGIN
    AS_PIN(nobjSessionInfo, initialised, 8);
    AS_PIN_SIZE(nobjSessionInfo, 16);
    AS_PIN(CNotifiableObject, m_sessions, 8);
    AS_PIN(CNotifiableObject, m_sharedDataReady, 56);
    AS_PIN(CNotifiableObject, m_locker, 64);
    AS_PIN(CNotifiableObject, m_sharedData, 168);
    AS_PIN_SIZE(CNotifiableObject, 176);
    AS_LAYOUT_END
};
