// CURLFilter, "Eml URL Filter": checks the URLs of a message's text and HTML parts and the
// sender's domain against the URL black list that ApplySharedSettings loads. All sessions share
// the list under the module's locker (read for work, exclusive for reloads).
#pragma once

#include <cstdint>

#include "amodule.h"
#include "common/sstring.h"

namespace nsEmlModules {

class CURLDB2;

struct URLFilterSharedData {
    CURLDB2* database = nullptr;       // owned; null until a black list is loaded
    ascommon::sstring tempFolder{""};  // ends in a path separator once set
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
};

}  // namespace nsEmlModules
