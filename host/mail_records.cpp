// Mail records: URL finding and character statistics over a parsed message, then the records.
#include "host/mail_records.h"

#include <string>
#include <utility>

#include "host/char_stats.h"
#include "host/url_finder.h"

namespace host {

using nsEmlComponents::kBodyTextHtml;
using nsEmlComponents::kBodyTextPlain;

std::unique_ptr<Message> BuildMailRecords(ParsedMail&& mail, uint64_t size, uint64_t* urls) {
    CharStats stats;
    if (mail.root.hasSubject) stats.Add(mail.root.subject);

    MessageBuilder builder;
    builder.Root(mail.root).Size(size);
    // Without a From domain the key stays absent, which the URL filter reports as such.
    if (!mail.senderDomain.empty()) builder.SenderDomain(mail.senderDomain);
    std::string visible;
    uint64_t found = 0;
    for (PartFields& part : mail.parts) {
        if (part.kind == kBodyTextPlain) {
            FindTextUrls(part.text, &part.urls);
            stats.Add(part.text);
        } else if (part.kind == kBodyTextHtml) {
            visible.clear();
            FindHtmlUrls(part.text, &part.urls, &visible);
            part.urlCollection = true;
            stats.Add(visible);
        } else if (part.kind == kBodyOtherText) {
            stats.Add(part.text);
        }
        found += part.urls.size();
        builder.Part(std::move(part));
    }
    builder.Statistics(stats.Json());
    if (urls) *urls = found;
    return std::move(builder).Build();
}

}  // namespace host
