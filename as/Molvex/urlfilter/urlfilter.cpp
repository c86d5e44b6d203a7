// CURLFilter and its URL scanner.
#include "as/Molvex/urlfilter/urlfilter.h"

#include <cstring>
#include <memory>
#include <new>

#include "common/ashooks_access.h"
#include "common/asexception.h"
#include "common/asfile.h"
#include "common/carray.h"
#include "common/shared_locker.h"
#include "common/trace.h"

namespace nsEmlModules {

using ascommon::auto_locker;
using ascommon::CURLDB2;
using ascommon::sstring;
using nsEmlComponents::CPart;
using nsEmlComponents::ParsedURL;

namespace {

// folder + separator + name; the separator is always added.
sstring JoinPath(const sstring& folder, const char* name) {
    sstring path(folder);
    const char separator[2] = {platform::kPathSeparator, '\0'};
    if (!CopyComplete(path, folder) || path.append(separator, 1) != 0 ||
        path.append(name, std::strlen(name)) != 0) {
        AS_THROW(ASMemException, "could not concatenate strings");
    }
    return path;
}

}  // namespace

CURLFilter::CURLFilter(const sstring& name) {
    SetName(name);
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
    auto* shared = static_cast<URLFilterSharedData*>(data);
    if (shared == nullptr) return;
    delete shared->database;
    delete shared;
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

void CURLFilter::DoProcessCommand(uint64_t, uint32_t, BlackBox*) {
    AS_TRACE(4, "the release version of the URL filter does not support any commands");
}

// Rebuilds the database from the data files named in the settings. Without a black-list
// setting the database stays exactly as it is.
void CURLFilter::DoApplySharedSettings() {
    auto_locker lock(&m_locker, auto_locker::kExclusive);
    auto* shared = static_cast<URLFilterSharedData*>(m_sharedData);
    if (shared == nullptr) AS_THROW(ASBadPtrException, "invalid pointer to shared data struct");

    const char* temp = m_settings->GetString(u"/eml/global/GlobalTempPath", 0);
    if (temp == nullptr) {
        AS_TRACE(1,
                 "Module %s failed to apply shared settings with message: invalid "
                 "EmlGlobalTempPath",
                 DisplayName());
        temp = ".";
    }
    shared->tempFolder = temp;
    bool kept = shared->tempFolder.initialised();
    const size_t tempLength = std::strlen(temp);
    if (tempLength == 0 || (temp[tempLength - 1] != '\\' && temp[tempLength - 1] != '/')) {
        const char separator[2] = {platform::kPathSeparator, '\0'};
        kept = kept && shared->tempFolder.append(separator, 1) == 0;
    }
    if (!kept) {  // a folder without its text would put the temporary copies in the root
        shared->tempFolder = "";
        AS_THROW(ASMemException, "could not keep the temp folder %s", temp);
    }

    const char* blackFiles = m_settings->GetString(u"/eml/filter/url/filesbl", 0);
    const char* whiteFile = m_settings->GetString(u"/eml/filter/url/filewl", 0);
    if (blackFiles == nullptr) return;
    const char* dataSetting = m_settings->GetString(u"/eml/global/SharedDataPath", 0);
    const sstring dataFolder(dataSetting ? dataSetting : ".");
    if (!dataFolder.initialised()) {
        AS_THROW(ASMemException, "could not keep the data folder %s", dataSetting);
    }

    ascommon::CArray<sstring, 64> files;
    try {
        sstring names(blackFiles);
        if (names.c_str() == nullptr)
            AS_THROW(ASMemException, "could not assign value to usstring");
        char* context = nullptr;
        for (char* name = ascommon::tokenize(names.data(), " \n\r\t", &context); name != nullptr;
             name = ascommon::tokenize(nullptr, " \n\r\t", &context)) {
            const sstring path = JoinPath(dataFolder, name);
            const uint64_t failures = ascommon::AllocationFailures();
            if (!ascommon::FileExists(path.c_str())) {
                if (ascommon::AllocationFailures() != failures) {
                    AS_THROW(ASMemException, "could not look for the list file %s", name);
                }
                AS_TRACE(1, "[url] Url blacklist File Not Found!");
                continue;
            }
            if (files.add(path) != 0) AS_THROW(ASException, "Problems loading the URLs");
        }
    } catch (const std::exception&) {
        AS_THROW(ASException, "Problems loading the BL URLs");
    }

    if (shared->database != nullptr) {
        shared->database->ClearAll();
    } else {
        shared->database = new (std::nothrow) CURLDB2();
        if (shared->database == nullptr) AS_THROW(ASException, "Problems loading the BL URLs");
    }
    if (shared->database->LoadDataFiles(files, shared->tempFolder) != 0) {
        AS_THROW(ASException, "Problems loading the BL URLs");
    }
    if (whiteFile != nullptr) {
        const sstring path = JoinPath(dataFolder, whiteFile);
        if (shared->database->SubtractDataFile(path, shared->tempFolder) != 0) {
            AS_THROW(ASException, "Problems loading the WL URLs");
        }
    }
}

void CURLFilter::DoProcessEntity(uint64_t, ASEntity* entity, uint32_t verb) {
    if (entity == nullptr) AS_THROW(ASBadPtrException, "invalid item received for processing");
    auto_locker lock(&m_locker, auto_locker::kReadOnly);
    auto* shared = static_cast<URLFilterSharedData*>(m_sharedData);
    if (shared == nullptr) AS_THROW(ASBadPtrException, "invalid shared data struct");
    if (verb == asbb::kCheckUrls && shared->database == nullptr) return;
    if (verb != asbb::kCheckUrls && verb != asbb::kExtractUrlKeys) {
        AS_TRACE(4, "the command is unknown and could not be performed");
        return;
    }
    BlackBox* message = entity->message;
    auto* tree = message ? static_cast<nsEmlComponents::CPartsArray*>(
                               message->Get(asbb::kPartsTree, asbb::kObject, asbb::kPlain))
                         : nullptr;
    if (tree == nullptr) {
        AS_THROW(ASBadCastException, "Could not convert from CBlackBoxObject* to CPartsContainer*");
    }
    URLScanner* scanner = new (std::nothrow) URLScanner(shared->database, verb);
    if (scanner == nullptr) AS_THROW(ASMemException, "could not allocate URL Scanner");
    std::unique_ptr<URLScanner> owner(scanner);
    if (verb == asbb::kExtractUrlKeys) {
        scanner->m_output = entity->extra ? static_cast<FILE*>(entity->extra->Get(
                                                asbb::kUrlKeyStream, asbb::kObject, asbb::kPlain))
                                          : nullptr;
        if (scanner->m_output == nullptr) {
            AS_THROW(ASInternalException, "no output file set to extract urls to");
        }
    }
    if (const nsEmlComponents::TPartsArray* parts = tree->m_allParts) {
        for (uint64_t i = 0; i < parts->size(); ++i) scanner->OnPart(parts->at(i));
    }
    if (shared->database != nullptr) {
        scanner->CheckSenderDomain(static_cast<const sstring*>(
            message->Get(asbb::kSenderDomain, asbb::kText, asbb::kValue)));
    }
    AS_TRACE(4, "the message %s spam URLs", scanner->m_found ? "has" : "does not have");
    message->Set(asbb::kUrlListed, asbb::kVerdict, 0, scanner->m_found ? 1 : 0);
    message->Set(asbb::kUrlMatchedKeys, asbb::kText, 0,
                 reinterpret_cast<uintptr_t>(scanner->m_matched.c_str()));
}

CURLFilter::URLScanner::URLScanner(CURLDB2* database, uint32_t verb)
    : m_database(database), m_found(false), m_matched(""), m_verb(verb), m_output(nullptr) {}

void CURLFilter::URLScanner::OnPart(const CPart* part) {
    if (m_found) return;
    if (m_verb != asbb::kExtractUrlKeys && m_database == nullptr) return;
    nsEmlComponents::CPartBody* base = part != nullptr ? part->m_body : nullptr;
    if (base == nullptr) return;
    // The kind says which class the host made; a body of another class is refused, not trusted.
    const uint32_t kind = base->GetKind();
    if (kind == nsEmlComponents::kBodyTextPlain) {
        auto* body = dynamic_cast<nsEmlComponents::CPartBodyTextPlain*>(base);
        if (body == nullptr) AS_THROW(ASBadCastException, "could not cast to CPartBodyTextPlain");
        for (uint64_t i = 0; i < body->m_URLs.size() && !m_found; ++i) {
            CheckURL(body->m_URLs.data()[i]);
        }
    } else if (kind == nsEmlComponents::kBodyTextHtml) {
        auto* body = dynamic_cast<nsEmlComponents::CPartBodyTextHtml*>(base);
        if (body == nullptr) AS_THROW(ASBadCastException, "could not cast to CPartBodyTextHtml");
        if (body->m_urlCollection == nullptr) return;
        const auto& urls = body->m_urlCollection->m_URLs;
        for (uint64_t i = 0; i < urls.size() && !m_found; ++i) {
            try {
                CheckURL(*urls.data()[i]);
            } catch (const ascommon::ASMemException&) {
                throw;  // memory ran out: the message is not judged on what is left
            } catch (const std::bad_alloc&) {
                throw;
            } catch (const std::exception&) {
                AS_TRACE(2,
                         "conversion to current locale failed - TODO: treat ALL URL'S as "
                         "UNICODE strings");
            }
        }
    }
}

bool CURLFilter::URLScanner::Hit(const char* key, size_t length,
                                 bool (CURLDB2::*contains)(const char*, size_t)) {
    if (length == 0 || !(m_database->*contains)(key, length)) return false;
    m_found = true;
    if (m_matched.append(key, length) != 0 || m_matched.append(" ", 1) != 0) {
        AS_THROW(ASMemException, "could not keep the matched key %.*s", static_cast<int>(length),
                 key);
    }
    return true;
}

// The keys are cached in the host's record on first use. A key that cannot be computed is empty
// and not looked up; one that lacked memory fails the check.
void CURLFilter::URLScanner::CheckURL(ParsedURL& url) {
    if (nsEmlComponents::ComputeDomain(url) == ascommon::kNoBuffer ||
        nsEmlComponents::ComputeSubDomain(url) == ascommon::kNoBuffer) {
        AS_THROW(ASMemException, "could not compute the keys of a URL");
    }
    const sstring& domain = nsEmlComponents::GetDomain(url);
    const sstring& subDomain = nsEmlComponents::GetSubDomain(url);
    uint64_t urlLength = 0;
    const char* fromHost = nsEmlComponents::UrlFromHost(url, &urlLength);
    const size_t domainLength = domain.c_str() ? domain.length() : 0;
    const size_t subLength = subDomain.c_str() ? subDomain.length() : 0;
    if (m_verb == asbb::kExtractUrlKeys) {
        if (domainLength) std::fprintf(m_output, "%s\n", domain.c_str());
        if (subLength) std::fprintf(m_output, "%s\n", subDomain.c_str());
        if (fromHost && urlLength) std::fprintf(m_output, "%s\n", fromHost);
        return;
    }
    if (Hit(domain.c_str(), domainLength, &CURLDB2::ContainsDomain)) return;
    if (fromHost && Hit(fromHost, urlLength, &CURLDB2::ContainsURL)) return;
    Hit(subDomain.c_str(), subLength, &CURLDB2::ContainsSubDomain);
}

void CURLFilter::URLScanner::CheckSenderDomain(const sstring* domain) {
    if (domain == nullptr || domain->c_str() == nullptr || domain->length() == 0) {
        AS_TRACE(4, "[RTDA] Could not get from domain from blackbox");
        return;
    }
    const char* text = domain->c_str();
    const size_t length = domain->length();
    bool topLevelDotPassed = false;
    for (size_t i = length - 1; i > 0; --i) {
        if (text[i] != '.') continue;
        if (!topLevelDotPassed) {
            topLevelDotPassed = true;
            continue;
        }
        const char* parent = text + i + 1;
        const size_t parentLength = length - i - 1;
        if (Hit(parent, parentLength, &CURLDB2::ContainsDomain) ||
            Hit(parent, parentLength, &CURLDB2::ContainsSubDomain)) {
            return;
        }
    }
    if (!Hit(text, length, &CURLDB2::ContainsDomain))
        Hit(text, length, &CURLDB2::ContainsSubDomain);
}

}  // namespace nsEmlModules
