// CAModule and CAFilter: names, the enable rule, unit test default and the exception boundary.
#include "amodule.h"

#include <new>

#include "common/ashooks_access.h"
#include "common/trace.h"

CAModule::CAModule() : m_kind(1), m_fallbackName(""), m_settings(nullptr) {}

CAModule::~CAModule() {}

int32_t CAModule::UnitTest() {
    AS_TRACE(3, "module [%s] does not implement unit testing", DisplayName());
    return 1;
}

void CAModule::SetName(const ascommon::sstring& name) {
    m_name = name;
    if (name.initialised() && !m_name.initialised()) throw std::bad_alloc();
}

const char* CAModule::DisplayName() const {
    return m_name.c_str() != nullptr ? m_name.c_str() : m_fallbackName.c_str();
}

bool CAModule::IsEnabledByKey(uint64_t session, const char16_t* filterKey) {
    if (m_settings->GetInt(u"/eml/global/AllFiltersEnabled", 0, session) == 1) return true;
    return m_settings->GetInt(filterKey, 1, session) == 1;
}

int32_t CAFilter::SessionSettingsFailed(const char* file, int line, const std::exception& e) {
    AS_TRACE_FULL_AT(2, file, line,
                     AS_TRACE_PREFIX
                     "Module %s failed to apply session settings with message: %s\n",
                     DisplayName(), e.what());
    return ascommon::installed_hooks._as_set_err(-104, "%s", e.what());
}

int32_t CAFilter::SharedSettingsFailed(const char* file, int line, const std::exception& e) {
    AS_TRACE_FULL_AT(2, file, line,
                     AS_TRACE_PREFIX "Module %s failed to apply shared settings with message: %s\n",
                     DisplayName(), e.what());
    return ascommon::installed_hooks._as_set_err(-104, "%s", e.what());
}

int32_t CAFilter::EntityFailed(const std::exception& e) {
    return ascommon::installed_hooks._as_set_err(
        -104, "Module %s failed to process entity with message: %s", DisplayName(), e.what());
}

int32_t CAFilter::CommandFailed(const std::exception& e) {
    return ascommon::installed_hooks._as_set_err(
        -104, "Module %s failed to process command with message: %s", DisplayName(), e.what());
}
