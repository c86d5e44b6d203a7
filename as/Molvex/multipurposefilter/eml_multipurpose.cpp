// CMultiFilter.
#include "as/Molvex/multipurposefilter/eml_multipurpose.h"

#include <new>

#include "common/asexception.h"
#include "common/trace.h"

namespace nsEmlModules {

CMultiFilter::CMultiFilter(const ascommon::sstring& name) {
    m_name = name;
}

CMultiFilter::~CMultiFilter() {
    AS_TRACE(4, "Multipurpose Filter destructor");
}

bool CMultiFilter::IsEnabled(uint64_t session) {
    return IsEnabledByKey(session, u"/eml/filter/multi/Enabled");
}

// Nothing reads the shared data; it exists so that the module counts as ready.
void* CMultiFilter::CreateSharedData() {
    return new char(0);
}

void CMultiFilter::DestroySharedData(void* data) {
    delete static_cast<char*>(data);
}

int32_t CMultiFilter::ApplySharedSettings() {
    return 0;
}

void* CMultiFilter::CreateSessionData() {
    return new (std::nothrow) MultiFilterSessionData();
}

// The session data is plain; a null pointer goes to the free hook as it is.
void CMultiFilter::DestroySessionData(void* data) {
    ::operator delete(data);
}

int32_t CMultiFilter::ApplySessionSettings(uint64_t session) {
    return GuardSessionSettings(AS_HERE, [&] {
        auto* data = static_cast<MultiFilterSessionData*>(GetSessionData(session));
        if (data == nullptr) AS_THROW(ASInternalException, "No session data struct!");
        Settings* s = m_settings;
        data->sexuallyExplicit = s->GetInt(u"/eml/filter/multi/SexuallyExplicit", 0, session) != 0;
        data->asianCharsets = s->GetInt(u"/eml/filter/multi/AsianCharsets", 0, session) != 0;
        data->cyrillicCharsets = s->GetInt(u"/eml/filter/multi/CyrilicCharsets", 0, session) != 0;
        data->excludeJapanese =
            s->GetInt(u"/eml/filter/multi/charset/AsianExcludeJapanese", 0, session) != 0;
        data->japaneseMinPercent =
            s->GetInt(u"/eml/filter/multi/charset/JapaneseMinPercent", 20, session);
        data->allowedAsianPercent =
            s->GetInt(u"/eml/filter/multi/PercentOfAllowedAsianChars", 100, session);
        data->allowedCyrillicPercent =
            s->GetInt(u"/eml/filter/multi/PercentOfAllowedCyrillicChars", 100, session);
        data->maxFileSize = s->GetInt(u"/eml/filter/multi/MaxFileSize", 0, session);
    });
}

int32_t CMultiFilter::GetStatistics(uint64_t, BlackBox*) {
    return 0;
}

int32_t CMultiFilter::ReservedOperation() {
    return 0;
}

uint8_t CMultiFilter::GetVerbMode(uint32_t) {
    return 1;
}

int32_t CMultiFilter::ProcessEntity(uint64_t session, ASEntity* entity, uint32_t verb) {
    return GuardEntity([&] {
        AS_TRACE(4, "EML MultiPurpose Filter processing item...");
        AS_TRACE(4, "EML Muiltipurpose: creating the bb facilitator...");
        if (entity == nullptr || entity->message == nullptr) {
            AS_THROW(ASException, "Problems creating the facilitator");
        }
        auto* data = static_cast<MultiFilterSessionData*>(GetSessionData(session));
        if (data == nullptr) AS_THROW(ASInternalException, "No data struct for current session");
        switch (verb) {
            default:
                AS_TRACE(1, "MultiFilter invalid verb");
                break;
        }
    });
}

int32_t CMultiFilter::ProcessCommand(uint64_t, uint32_t, BlackBox*) {
    return 0;
}

}  // namespace nsEmlModules
