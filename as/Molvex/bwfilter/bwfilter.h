// CBWFilter, "Eml Blacklist/Whitelist Filter": judges a message by its From address against a
// white and a black list of exact addresses and wildcard patterns kept per session. The host
// fills the lists with commands (whole lists through an I/O blackbox) and with verbs (the From
// address, the addresses of a named header, one address). Shared data (the loaded libraries and
// their folders) is guarded by the module's locker; each session's lists by the session's own
// locker: lookups share it, additions and reloads hold it exclusively.
#pragma once

#include <cstdint>

#include "amodule.h"
#include "common/convert.h"
#include "common/shared_locker.h"
#include "common/sstring.h"
#include "engines/htmlparser/structs/bbfacilitator.h"
#include "engines/matchinglist/MatchingList.h"
#include "engines/rexkit/rexkitlib.h"

namespace nsEmlModules {

struct BWFilterSharedData {
    ascommon::RexkitLib* regexLibrary = nullptr;  // owned; null until loaded
    ascommon::CStringConversion conversion;       // holds the Unicode services library
    ascommon::sstring regexDirectory{""};         // where the regex library was loaded from
    ascommon::sstring unicodeDirectory{""};       // where the Unicode library was loaded from
};

struct BWFilterSessionData {
    ascommon::CMatchingList blackList;
    ascommon::CMatchingList whiteList;
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

  private:
    void LoadLibraries(BWFilterSharedData* shared);
    void Judge(nsEmlComponents::CBBFacilitator& message, BWFilterSessionData* data, BlackBox* out);
    void AddFrom(nsEmlComponents::CBBFacilitator& message, BWFilterSessionData* data, BlackBox* out,
                 bool black);
    void AddHeaderAddresses(nsEmlComponents::CBBFacilitator& message, BWFilterSessionData* data,
                            BlackBox* extra);
    void AddOneAddress(BWFilterSessionData* data, BlackBox* extra);
    void Query(BWFilterSessionData* data, BlackBox* out, BlackBox* extra);
    void LookUp(BWFilterSessionData* data, const ascommon::sstring& address, bool neverWhite,
                BlackBox* out);
    void LoadList(ascommon::CMatchingList& list, BlackBox* io, uint32_t key);
};

}  // namespace nsEmlModules
