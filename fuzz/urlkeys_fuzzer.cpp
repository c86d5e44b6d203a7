// Fuzz target: the URL keys of ParsedURL on hostile URL text, against the plain reference of
// fuzz/urlkeys_reference.h. The first byte sets byte-order-mark stripping and may force the host
// kind; the rest is the URL as the host's URL finder records it (FillParsedURL). Checks: every
// key and status is the reference's, keys asked again stay as they were, and both forms of the
// URL key agree.
#include <cstring>
#include <string>

#include "engines/urlparser/urlparser.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/urlkeys_reference.h"
#include "host/message_builder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace nsEmlComponents;
    fuzz::Input input(data, size);
    const uint8_t flags = input.Byte();
    ParsedURL record;
    host::FillParsedURL(input.Rest(), &record);
    record.m_stripBOM = flags & 1;
    if (flags & 2) record.m_hostKind = (flags >> 2) % 3;
    const reference::UrlKeys expected = reference::PlainKeys(record);
    FUZZ_CHECK(reference::KeysOf(record) == expected, "keys differ from the reference's");
    FUZZ_CHECK(reference::KeysOf(record) == expected, "keys changed when asked again");
    uint64_t length = 0;
    const char* fromHost = UrlFromHost(record, &length);
    FUZZ_CHECK(std::string(fromHost, length) == std::get<9>(expected), "the two URL keys differ");
    return 0;
}
