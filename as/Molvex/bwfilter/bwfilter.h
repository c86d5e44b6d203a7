// CBWFilter, "Eml Blacklist/Whitelist Filter": judges a message by its From address against a
// white and a black list kept per session. Shared data (the loaded libraries and their folders)
// is guarded by the module's locker; each session's lists by the session's own locker.
#pragma once

#include <cstdint>

#include "amodule.h"
#include "common/shared_locker.h"
#include "common/sstring.h"

namespace nsEmlModules {

struct BWFilterSharedData {
    void* regexLibrary = nullptr;            // the loaded regex library, owned
    ascommon::sstring regexDirectory{""};    // where it was loaded from
    ascommon::sstring unicodeDirectory{""};  // where the Unicode services library was loaded from
};

struct BWFilterSessionData {
    ascommon::shared_locker listLocker;  // guards both lists
};

class CBWFilter : public CAFilter {
  public:
    explicit CBWFilter(const ascommon::sstring& name);
    ~CBWFilter() override;

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
};

}  // namespace nsEmlModules
