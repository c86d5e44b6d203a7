// CBWFilter.
#include "as/Molvex/bwfilter/bwfilter.h"

#include <new>

#include "common/asexception.h"
#include "common/trace.h"

namespace nsEmlModules {

CBWFilter::CBWFilter(const ascommon::sstring& name) {
    m_name = name;
}

CBWFilter::~CBWFilter() {
    AS_TRACE(4, "Destructing the Black/White List filter with name %s", DisplayName());
}

bool CBWFilter::IsEnabled(uint64_t session) {
    return IsEnabledByKey(session, u"/eml/filter/bwfilter/Enabled");
}

void* CBWFilter::CreateSharedData() {
    return new (std::nothrow) BWFilterSharedData();
}

void CBWFilter::DestroySharedData(void* data) {
    delete static_cast<BWFilterSharedData*>(data);
}

void* CBWFilter::CreateSessionData() {
    return new (std::nothrow) BWFilterSessionData();
}

void CBWFilter::DestroySessionData(void* data) {
    delete static_cast<BWFilterSessionData*>(data);
}

int32_t CBWFilter::ApplySharedSettings() {
    return GuardSharedSettings(AS_HERE, [&] {
        ascommon::auto_locker lock(&m_locker, ascommon::auto_locker::kExclusive);
        if (m_sharedData == nullptr) AS_THROW(ASException, "invalid pointer to shared data");
    });
}

int32_t CBWFilter::ApplySessionSettings(uint64_t session) {
    return GuardSessionSettings(AS_HERE, [&] {
        ascommon::auto_locker lock(&m_locker, ascommon::auto_locker::kReadOnly);
        if (GetSessionData(session) == nullptr) {
            AS_THROW(ASBadPtrException, "invalid data structure pointer received");
        }
        if (m_sharedData == nullptr) {
            AS_THROW(ASBadPtrException, "invalid shared data structure pointer received");
        }
        SetSessionInitialised(session, true);
    });
}

int32_t CBWFilter::GetStatistics(uint64_t session, BlackBox* out) {
    if (out == nullptr) {
        AS_TRACE(2, "NULL pointer passed as argument");
        return -101;
    }
    ascommon::auto_locker lock(&m_locker, ascommon::auto_locker::kReadOnly);
    if (GetSessionData(session) == nullptr) {
        AS_TRACE(2, "invalid reference to data structure");
        return -103;
    }
    out->Set(25002, 3, 0, 0);
    out->Set(25001, 3, 0, 0);
    return 0;
}

int32_t CBWFilter::ReservedOperation() {
    return 0;
}

uint8_t CBWFilter::GetVerbMode(uint32_t verb) {
    return (verb == 11 || verb == 12) ? 0 : 2;
}

int32_t CBWFilter::ProcessEntity(uint64_t session, ASEntity* entity, uint32_t verb) {
    return GuardEntity([&] {
        if (entity == nullptr) AS_THROW(ASBadPtrException, "invalid pointer to the item");
        if (GetSessionData(session) == nullptr) {
            AS_THROW(ASBadPtrException, "CBWFilter - Invalid data structure pointer");
        }
        switch (verb) {
            default:
                AS_TRACE(4, "this command is not supported");
                break;
        }
    });
}

int32_t CBWFilter::ProcessCommand(uint64_t, uint32_t, BlackBox*) {
    return GuardCommand([&] { AS_TRACE(4, "this command is not supported"); });
}

}  // namespace nsEmlModules
