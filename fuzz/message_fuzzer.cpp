// The scanner's whole message path on arbitrary bytes: MIME parsing, URL finding, character
// statistics, the records, and all verbs of the three filters of the real module (loaded once,
// with the bundled lists). Every scan must end without a failed verb (no input may make the host
// build records that the module rejects) and with every verdict written as 0 or 1, except the
// address list verdicts, which the filter leaves out for a message without a From address.
#include <cstdint>
#include <string>

#include "blackbox_keys.h"
#include "fuzz_support.h"
#include "host/host_hooks.h"
#include "host/module_host.h"
#include "host/scan_config.h"
#include "host/scanner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static host::Scanner* scanner = [] {  // stays open for the whole run
        auto* opened = new host::Scanner();
        host::ScanConfig config = host::BuiltInScanConfig("/tmp", MOLVEX_SAMPLE_DATA);
        config.blacklist = {"*@spammer.example", "a*b?c@*.example", "exact@list.example"};
        config.whitelist = {"boss@partner.example", "*@trusted.example"};
        std::string error;
        FUZZ_CHECK(opened->Open(config, &error), "%s", error.c_str());
        return opened;
    }();
    // Odd sizes also extract the URL keys, so both URL verbs see every kind of record.
    const host::ScanResult r =
        scanner->Scan(reinterpret_cast<const char*>(data), size, (size & 1) != 0);
    FUZZ_CHECK(r.moduleErrors.empty(), "%s", r.moduleErrors.front().c_str());
    for (size_t i = 0; r.ok && i < host::kVerdictCount; ++i) {
        const uint32_t key = host::kVerdictKeys[i].key;
        const bool optional = key == asbb::kWhitelisted || key == asbb::kBlacklisted;
        FUZZ_CHECK(r.verdicts[i] == 0 || r.verdicts[i] == 1 || (optional && r.verdicts[i] == -1),
                   "verdict %s is %d", host::kVerdictKeys[i].name, r.verdicts[i]);
    }
    FUZZ_CHECK(host::Counters().untaggedFrees == 0, "a block freed that the hooks never made");
    return 0;
}
