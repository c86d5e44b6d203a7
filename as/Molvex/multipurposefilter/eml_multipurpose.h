// CMultiFilter, "Eml Multipurpose Filter": one cheap test per verb (GTUBE, sexually-explicit
// subject, declared charsets, oversized message, Asian and Cyrillic character shares). The
// session data holds the switches and thresholds read by ApplySessionSettings; the filter takes
// no lock (the host does not configure and use one session at once).
#pragma once

#include <cstdint>

#include "amodule.h"
#include "engines/htmlparser/structs/bbfacilitator.h"

namespace nsEmlModules {

// Per-session switches and thresholds, with their defaults.
struct MultiFilterSessionData {
    bool sexuallyExplicit = false;
    bool asianCharsets = false;
    bool cyrillicCharsets = false;
    bool excludeJapanese = false;
    int32_t japaneseMinPercent = 20;
    int32_t maxFileSize = 0;
    int32_t allowedAsianPercent = 100;
    int32_t allowedCyrillicPercent = 100;
};

class CMultiFilter : public CAFilter {
  public:
    explicit CMultiFilter(const ascommon::sstring& name);
    ~CMultiFilter() override;

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
    void RunGtube(nsEmlComponents::CBBFacilitator& message, BlackBox* out);
    void RunSexuallyExplicit(nsEmlComponents::CBBFacilitator& message,
                             const MultiFilterSessionData& data, BlackBox* out);
    void RunCharsets(nsEmlComponents::CBBFacilitator& message, const MultiFilterSessionData& data,
                     BlackBox* out);
    void RunOversized(nsEmlComponents::CBBFacilitator& message, const MultiFilterSessionData& data,
                      BlackBox* out);
    void RunAsianShare(const MultiFilterSessionData& data, BlackBox* out);
    void RunCyrillicShare(const MultiFilterSessionData& data, BlackBox* out);
    // True when a header map declares a listed charset (Content-Type first, then Subject).
    bool HeadersDeclareCharset(nsEmlComponents::THeadersMap* headers,
                               const MultiFilterSessionData& data, bool* asianHit);
};

}  // namespace nsEmlModules
