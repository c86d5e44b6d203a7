// MailParser: turns the raw bytes of one RFC 5322 message into the host's description of its
// records (root headers, every MIME part in document order with its kind and decoded text, the
// sender's domain), using GMime 3. Bodies are decoded from their transfer encoding and converted
// to UTF-8 the way mail clients read them: in the declared charset (common aliases included)
// when the bytes fit it, else in an HTML part's <meta> charset, else in the charset ICU's
// detector finds; a Content-Type that is not "type/subtype" makes a text/plain part in
// US-ASCII. Broken input never throws: what can be read is kept and
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

// What ParseMail makes of one message. Header values and texts are valid UTF-8 without NUL.
// The mediaType of HeaderFields is the effective type (text/plain when the header is absent);
// hasContentType and contentCharset say what the header itself held. Address headers (From,
// To, Cc, Bcc, Reply-To, Sender) are listed once under their usual spelling with the bare
// addresses of every occurrence, group members flattened; the first Subject counts.
struct ParsedMail {
    // The message's headers with its body's Content-* ones; names as written (upper-case lookups
    // happen in the records).
    HeaderFields root;
    // Every MIME part in document (depth-first) order: multipart containers (kBodyMultipart),
    // enclosed messages (kBodyMessage, headers: the part's own plus the enclosed message's)
    // followed by their parts, and leaves. Texts are filled for kinds 52, 53 and kBodyOtherText.
    // urls are left empty (see url_finder.h).
    std::vector<PartFields> parts;
    std::string senderDomain;          // the first From address's domain, lower-case; may be empty
    std::vector<std::string> defects;  // what was broken or unknown, for -v output; parts count
                                       // from 1 in document order
    // One line per text part: the charset its text was read in and why ("part 2: cp950 (alias
    // of CHINESEBIG5)", "part 3: gb18030 (detected, 100%)").
    std::vector<std::string> charsets;
    // What was read round GMime (docs/mail-parser.md): parts and header fields.
    size_t partsRoundGMime = 0;
    size_t fieldsRoundGMime = 0;
};

// Whether runs of many plain header fields and of many plain parts are read round GMime
// (header_runs, plain_parts); on by default. Off, GMime parses every message whole, which
// differential tests compare against. Process-wide: set it before any parse starts.
void SetGMimeBypass(bool enabled);

// Initialises GMime (idempotent, thread-safe). Returns false when it cannot.
bool InitMailParser();

// Parses `size` bytes. Returns false with *error set when the bytes hold no message at all: the
// input is empty, or neither its start nor any later line reads as a header field ("Name:" with
// a name of two or more ASCII letters, digits, '-' or '_'), as with binary garbage or plain
// text. Junk lines before the first header line are skipped; a message that starts with a blank
// line is read as one without headers. Otherwise returns true with *mail filled as far as it
// could be. Any thread may call it after InitMailParser(); each call has its own GMime objects.
bool ParseMail(const char* data, size_t size, ParsedMail* mail, std::string* error);

}  // namespace host
