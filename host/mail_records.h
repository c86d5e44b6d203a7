// Mail records: the last step of the reference host's message path. Takes a parsed message
// (mail_parser.h), finds the URLs of its text/plain and HTML bodies (url_finder.h), counts its
// characters by script (char_stats.h) and builds the host's records of it in a message blackbox
// (message_builder.h) with the headers map, the parts tree, the statistics document and the
// sender's domain. Stateless; any thread may build its own messages.
#pragma once

#include <cstdint>
#include <memory>

#include "host/mail_parser.h"
#include "host/message_builder.h"

namespace host {

// Consumes `mail` (its texts move into the records). `size` is the raw message's size in bytes,
// which the message source reports. When `urls` is not null it receives the number of URLs
// attached to the bodies. Throws std::bad_alloc when memory runs out.
std::unique_ptr<Message> BuildMailRecords(ParsedMail&& mail, uint64_t size,
                                          uint64_t* urls = nullptr);

}  // namespace host
