// CAModule and CAFilter: the module and filter bases that every filter of the library derives
// from. The host reads and writes the data members directly (it stores m_settings after
// creation) and calls the virtual slots in the order declared here. Host-facing header.
#pragma once

#include <cstdint>
#include <exception>

#include "common/layout.h"
#include "common/sstring.h"
#include "host_interfaces.h"
#include "notifobj.h"

class CAModule : public CNotifiableObject {
  public:
    CAModule();
    ~CAModule() override;

    virtual int32_t GetStatistics(uint64_t session, BlackBox* out) = 0;
    virtual int32_t ReservedOperation() = 0;
    // The default: traces that the module has no unit test and returns 1.
    virtual int32_t UnitTest();

    // The name for messages: the name when it has a buffer, otherwise the fallback name.
    const char* DisplayName() const;
    // Copies the module name given by the factory; throws std::bad_alloc when the copy cannot
    // get its buffer, so that a module is never created without its name.
    void SetName(const ascommon::sstring& name);

    uint32_t m_kind;
    ascommon::sstring m_name;
    ascommon::sstring m_fallbackName;
    Settings* m_settings;

  protected:
    // True when the global switch is 1, or the filter's own key is 1 or absent.
    bool IsEnabledByKey(uint64_t session, const char16_t* filterKey);
};

struct ModuleLayout {
    AS_LAYOUT_BEGIN
    AS_PIN(CAModule, m_kind, 176);
    AS_PIN(CAModule, m_name, 184);
    AS_PIN(CAModule, m_fallbackName, 256);
    AS_PIN(CAModule, m_settings, 328);
    AS_PIN_SIZE(CAModule, 336);
    AS_LAYOUT_END
};

class CAFilter : public CAModule {
  public:
    virtual uint8_t GetVerbMode(uint32_t verb) = 0;
    virtual int32_t ProcessEntity(uint64_t session, ASEntity* entity, uint32_t verb) = 0;
    virtual int32_t ProcessCommand(uint64_t session, uint32_t command, BlackBox* io) = 0;

  protected:
    // The exception boundary of the four operations that work on the host's behalf: run the
    // body, return 0, or turn an exception into -104 and the host error message. `file` and
    // `line` name the filter's own source for the trace lines (use AS_HERE).
    template <class Body>
    int32_t GuardSessionSettings(const char* file, int line, Body&& body);
    template <class Body>
    int32_t GuardSharedSettings(const char* file, int line, Body&& body);
    template <class Body>
    int32_t GuardEntity(Body&& body);
    template <class Body>
    int32_t GuardCommand(Body&& body);

    int32_t SessionSettingsFailed(const char* file, int line, const std::exception& e);
    int32_t SharedSettingsFailed(const char* file, int line, const std::exception& e);
    int32_t EntityFailed(const std::exception& e);
    int32_t CommandFailed(const std::exception& e);
};

#define AS_HERE __FILE__, __LINE__

template <class Body>
int32_t CAFilter::GuardSessionSettings(const char* file, int line, Body&& body) {
    try {
        body();
        return 0;
    } catch (const std::exception& e) {
        return SessionSettingsFailed(file, line, e);
    }
}

template <class Body>
int32_t CAFilter::GuardSharedSettings(const char* file, int line, Body&& body) {
    try {
        body();
        return 0;
    } catch (const std::exception& e) {
        return SharedSettingsFailed(file, line, e);
    }
}

template <class Body>
int32_t CAFilter::GuardEntity(Body&& body) {
    try {
        body();
        return 0;
    } catch (const std::exception& e) {
        return EntityFailed(e);
    }
}

template <class Body>
int32_t CAFilter::GuardCommand(Body&& body) {
    try {
        body();
        return 0;
    } catch (const std::exception& e) {
        return CommandFailed(e);
    }
}
