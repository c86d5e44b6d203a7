// Mail records: the last step of the reference host's message path. Takes a parsed message
// (mail_parser.h), finds the URLs of its text/plain and HTML bodies (url_finder.h), counts its
// characters by script (char_stats.h) and builds the host's records of it in a message blackbox
// (message_builder.h) with the headers map, the parts tree, the statistics document and the
// sender's domain. Stateless; any thread may build its own messages.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/mail_parser.h"
#include "host/message_builder.h"

namespace host {

// What building the records learnt of a message, for reports.
struct MailFacts {
    uint64_t urls = 0;  // attached to the bodies
    double asianPercent = 0;
    double cyrillicPercent = 0;                 // as the filter computes its shares
    std::vector<std::string> declaredCharsets;  // Content-Type and Subject, in order, once each
    std::string senderDomain;                   // the first From address's, lower-case
};

// Consumes `mail` (its texts move into the records). `size` is the raw message's size in bytes,
// which the message source reports. `facts`, when not null, receives what was learnt. Throws
// std::bad_alloc when memory runs out.
std::unique_ptr<Message> BuildMailRecords(ParsedMail&& mail, uint64_t size,
                                          MailFacts* facts = nullptr);

}  // namespace host
