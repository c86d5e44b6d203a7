// MailParser: turns the raw bytes of one RFC 5322 message into the host's description of its
// records (root headers, every MIME part in document order with its kind and decoded text, the
// sender's domain), using GMime 3. Bodies are decoded from their transfer encoding and converted
// to UTF-8 from their declared charset. Broken input never throws: what can be read is kept and
// the defects are listed. Call InitMailParser() once before any thread parses; after that any
// number of threads may parse separate messages at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/message_builder.h"

namespace host {

// Body kinds the host assigns beside text/plain (52) and HTML (53). The module only tells 52 and
// 53 apart; the others let a reader of the records see what a part was.
enum HostBodyKind : uint32_t {
    kBodyMultipart = 60,   // a multipart container
    kBodyMessage = 61,     // an enclosed message (message/rfc822)
    kBodyOtherText = 62,   // text/* other than plain and HTML
    kBodyAttachment = 63,  // anything else (application/*, image/*, ...)
};

struct ParsedMail {
    HeaderSpec root;                   // upper-case lookups happen in the records; names as written
    std::vector<PartSpec> parts;       // document order; urls are left empty (see url_finder.h)
    std::string senderDomain;          // the first From address's domain, lower-case; may be empty
    std::vector<std::string> defects;  // what was broken or unknown, for -v output
};

// Initialises GMime (idempotent, thread-safe). Returns false when it cannot.
bool InitMailParser();

// Parses `size` bytes. Returns false with *error set when the bytes hold no message at all
// (nothing that looks like a header); otherwise true, with *mail filled as far as it could be.
bool ParseMail(const char* data, size_t size, ParsedMail* mail, std::string* error);

}  // namespace host
