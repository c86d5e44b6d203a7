// Mail records: URL finding and character statistics over a parsed message, then the records.
#include "host/mail_records.h"

#include <strings.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "host/char_stats.h"
#include "host/url_finder.h"

namespace host {

using nsEmlComponents::kBodyTextHtml;
using nsEmlComponents::kBodyTextPlain;

namespace {

void AddCharset(const std::optional<std::string>& charset, std::vector<std::string>* charsets) {
    if (!charset || charset->empty()) return;
    for (const std::string& known : *charsets) {
        if (strcasecmp(known.c_str(), charset->c_str()) == 0) return;
    }
    charsets->push_back(*charset);
}

}  // namespace

std::unique_ptr<Message> BuildMailRecords(ParsedMail&& mail, uint64_t size, MailFacts* facts) {
    std::vector<std::string> charsets;
    if (facts) facts->senderDomain = mail.senderDomain;
    AddCharset(mail.root.contentCharset, &charsets);
    AddCharset(mail.root.subjectCharset, &charsets);
    CharStats stats;
    if (mail.root.hasSubject) stats.Add(mail.root.subject);

    MessageBuilder builder;
    builder.Root(std::move(mail.root)).Size(size);
    // Without a From domain the key stays absent, which the URL filter reports as such.
    if (!mail.senderDomain.empty()) builder.SenderDomain(mail.senderDomain);
    std::string visible;
    uint64_t found = 0;
    for (PartFields& part : mail.parts) {
        AddCharset(part.headers.contentCharset, &charsets);
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
    if (facts) {
        facts->urls = found;
        facts->asianPercent = stats.AsianPercent();
        facts->cyrillicPercent = stats.CyrillicPercent();
        facts->declaredCharsets = std::move(charsets);
    }
    return std::move(builder).Build();
}

}  // namespace host
