// CURLFilter, "Eml URL Filter": checks the URLs of a message's text and HTML parts and the
// sender's domain against the URL black list that ApplySharedSettings loads from data files
// (less a white-list file), or writes the URL keys to a stream. All sessions share the list
// under the module's locker: shared for work, exclusive while the list is rebuilt.
#pragma once

#include <cstdint>
#include <cstdio>

#include "amodule.h"
#include "common/sstring.h"
#include "engines/htmlparser/structs/breaker_structs.h"
#include "engines/urldb2/urldb2.h"
#include "engines/urlparser/urlparser.h"

namespace nsEmlModules {

struct URLFilterSharedData {
    ascommon::CURLDB2* database = nullptr;  // owned; null until a black list is loaded
    ascommon::sstring tempFolder{""};       // ends in a path separator once set
};

class CURLFilter : public CAFilter {
  public:
    explicit CURLFilter(const ascommon::sstring& name);
    ~CURLFilter() override;

    int32_t ApplySessionSettings(uint64_t session) override;
    bool IsEnabled(uint64_t session) override;
    void* CreateSharedData() override;
    void DestroySharedData(void* data) override;
    int32_t ApplySharedSettings() override;
    void* CreateSessionData() override;
    void DestroySessionData(void* data) override;
    int32_t GetStatistics(uint64_t session, BlackBox* out) override;
    int32_t ReservedOperation() override;
    uint8_t GetVerbMode(uint32_t verb) override;
    int32_t ProcessEntity(uint64_t session, ASEntity* entity, uint32_t verb) override;
    int32_t ProcessCommand(uint64_t session, uint32_t command, BlackBox* io) override;

    // The filter's own slots, wrapped by the host-facing ones above.
    virtual void DoProcessEntity(uint64_t session, ASEntity* entity, uint32_t verb);
    virtual void DoProcessCommand(uint64_t session, uint32_t command, BlackBox* io);
    virtual void DoApplySessionSettings(uint64_t session);
    virtual void DoApplySharedSettings();

    // Checks (verb 0) or extracts (verb 21) the URLs of one message, part by part.
    class URLScanner : public nsEmlComponents::CAPartsTreeListenerR {
      public:
        URLScanner(ascommon::CURLDB2* database, uint32_t verb);
        void OnPart(const nsEmlComponents::CPart* part) override;
        // The sender's domain: its parent domains from the top down, then the whole domain.
        void CheckSenderDomain(const ascommon::sstring* domain);

        ascommon::CURLDB2* m_database;
        bool m_found;
        ascommon::sstring m_matched;
        uint32_t m_verb;
        FILE* m_output;

      private:
        void CheckURL(nsEmlComponents::ParsedURL& url);
        bool Hit(const char* key, size_t length,
                 bool (ascommon::CURLDB2::*contains)(const char*, size_t));
    };
};

}  // namespace nsEmlModules
