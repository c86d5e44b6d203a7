// CURLFilter.
#include "as/Molvex/urlfilter/urlfilter.h"

#include <new>

#include "common/asexception.h"
#include "common/shared_locker.h"
#include "common/trace.h"

namespace nsEmlModules {

CURLFilter::CURLFilter(const ascommon::sstring& name) {
    m_name = name;
}

CURLFilter::~CURLFilter() {
    AS_TRACE(4, "The URL Filter with name %s is about to be destructed", DisplayName());
}

bool CURLFilter::IsEnabled(uint64_t session) {
    return IsEnabledByKey(session, u"/eml/filter/urlfilter/Enabled");
}

void* CURLFilter::CreateSharedData() {
    return new (std::nothrow) URLFilterSharedData();
}

void CURLFilter::DestroySharedData(void* data) {
    delete static_cast<URLFilterSharedData*>(data);
}

// The filter keeps nothing per session: one byte stands for an open session.
void* CURLFilter::CreateSessionData() {
    return new (std::nothrow) char(0);
}

void CURLFilter::DestroySessionData(void* data) {
    delete static_cast<char*>(data);
}

int32_t CURLFilter::ApplySessionSettings(uint64_t session) {
    return GuardSessionSettings(AS_HERE, [&] { DoApplySessionSettings(session); });
}

int32_t CURLFilter::ApplySharedSettings() {
    return GuardSharedSettings(AS_HERE, [&] { DoApplySharedSettings(); });
}

int32_t CURLFilter::GetStatistics(uint64_t, BlackBox*) {
    return 0;
}

int32_t CURLFilter::ReservedOperation() {
    return 0;
}

uint8_t CURLFilter::GetVerbMode(uint32_t) {
    return 1;
}

int32_t CURLFilter::ProcessEntity(uint64_t session, ASEntity* entity, uint32_t verb) {
    return GuardEntity([&] { DoProcessEntity(session, entity, verb); });
}

int32_t CURLFilter::ProcessCommand(uint64_t session, uint32_t command, BlackBox* io) {
    return GuardCommand([&] { DoProcessCommand(session, command, io); });
}

void CURLFilter::DoApplySessionSettings(uint64_t) {}

void CURLFilter::DoApplySharedSettings() {
    ascommon::auto_locker lock(&m_locker, ascommon::auto_locker::kExclusive);
    if (m_sharedData == nullptr) {
        AS_THROW(ASBadPtrException, "invalid pointer to shared data struct");
    }
}

void CURLFilter::DoProcessEntity(uint64_t, ASEntity* entity, uint32_t verb) {
    if (entity == nullptr) AS_THROW(ASBadPtrException, "invalid item received for processing");
    ascommon::auto_locker lock(&m_locker, ascommon::auto_locker::kReadOnly);
    auto* shared = static_cast<URLFilterSharedData*>(m_sharedData);
    if (shared == nullptr) AS_THROW(ASBadPtrException, "invalid shared data struct");
    if (verb != 0 && verb != 21) {
        AS_TRACE(4, "the command is unknown and could not be performed");
        return;
    }
    if (verb == 0 && shared->database == nullptr) return;
}

void CURLFilter::DoProcessCommand(uint64_t, uint32_t, BlackBox*) {
    AS_TRACE(4, "the release version of the URL filter does not support any commands");
}

}  // namespace nsEmlModules
