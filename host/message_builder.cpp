// MessageBuilder, Message and MemorySource.
#include "host/message_builder.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include "common/ascii.h"
#include "common/unicode_tolower.h"

namespace host {

using namespace nsEmlComponents;

int32_t MemorySource::Read(void* buffer, uint64_t size, uint64_t* read) {
    const uint64_t left = m_position < m_bytes.size() ? m_bytes.size() - m_position : 0;
    const uint64_t n = size < left ? size : left;
    if (n) std::memcpy(buffer, m_bytes.data() + m_position, n);
    m_position += n;
    if (read) *read = n;
    return 0;
}

int32_t MemorySource::Seek(uint64_t offset) {
    if (offset > m_bytes.size()) return -1;
    m_position = offset;
    return 0;
}

int32_t MemorySource::Rewind() {
    m_position = 0;
    return 0;
}

int32_t MemorySource::SetName(const char* name) {
    m_name = name ? name : "";
    return 0;
}

int32_t MemorySource::Append(const char* bytes, uint64_t size) {
    m_bytes.append(bytes, size);
    return 0;
}

void MemorySource::Clear() {
    m_bytes.clear();
    m_position = 0;
}

int32_t MemorySource::GetSize(uint64_t* size) {
    if (size == nullptr) return -1;
    *size = m_hasSize ? m_size : m_bytes.size();
    return 0;
}

// The blackbox lets go of the records before the members free them.
Message::~Message() {
    m_blackbox.Clear();
}

MessageBuilder& MessageBuilder::Subject(const std::string& text, const char* charset) {
    m_root.subject = text;
    if (charset)
        m_root.subjectCharset = charset;
    else
        m_root.subjectCharset.reset();
    m_root.hasSubject = true;
    return *this;
}

MessageBuilder& MessageBuilder::ContentType(const std::string& mediaType, const char* charset) {
    m_root.mediaType = mediaType;
    if (charset)
        m_root.contentCharset = charset;
    else
        m_root.contentCharset.reset();
    m_root.hasContentType = true;
    return *this;
}

MessageBuilder& MessageBuilder::From(const std::vector<std::string>& addresses) {
    return Addresses("From", addresses);
}

MessageBuilder& MessageBuilder::To(const std::vector<std::string>& addresses) {
    return Addresses("To", addresses);
}

MessageBuilder& MessageBuilder::Addresses(const std::string& name,
                                          const std::vector<std::string>& addresses) {
    m_root.addresses.emplace_back(name, addresses);
    return *this;
}

MessageBuilder& MessageBuilder::NullHeader(const std::string& name) {
    m_root.nullHeaders.push_back(name);
    return *this;
}

MessageBuilder& MessageBuilder::Root(const HeaderFields& headers) {
    m_root = headers;
    return *this;
}

MessageBuilder& MessageBuilder::Root(HeaderFields&& headers) {
    m_root = std::move(headers);
    return *this;
}

MessageBuilder& MessageBuilder::SenderDomain(const std::string& domain) {
    m_senderDomain = domain;
    return *this;
}

MessageBuilder& MessageBuilder::Part(const PartFields& part) {
    m_parts.push_back(part);
    return *this;
}

MessageBuilder& MessageBuilder::Part(PartFields&& part) {
    m_parts.push_back(std::move(part));
    return *this;
}

MessageBuilder& MessageBuilder::TextPart(const std::string& text) {
    PartFields part;
    part.text = text;
    return Part(part);
}

MessageBuilder& MessageBuilder::HtmlPart(const std::string& html) {
    PartFields part;
    part.kind = kBodyTextHtml;
    part.text = html;
    return Part(part);
}

MessageBuilder& MessageBuilder::TextPart(const std::string& text,
                                         const std::vector<std::string>& urls) {
    PartFields part;
    part.text = text;
    part.urls = urls;
    return Part(part);
}

MessageBuilder& MessageBuilder::HtmlPart(const std::string& html,
                                         const std::vector<std::string>& urls) {
    PartFields part;
    part.kind = kBodyTextHtml;
    part.text = html;
    part.urls = urls;
    return Part(part);
}

MessageBuilder& MessageBuilder::Raw(const std::string& bytes) {
    m_raw = bytes;
    return *this;
}

MessageBuilder& MessageBuilder::Size(uint64_t size) {
    m_size = size;
    m_hasSize = true;
    return *this;
}

MessageBuilder& MessageBuilder::Statistics(const std::string& json) {
    m_statistics = json;
    m_hasStatistics = true;
    return *this;
}

MessageBuilder& MessageBuilder::WithoutHeaders() {
    m_headersMap = false;
    return *this;
}

MessageBuilder& MessageBuilder::WithoutPartsTree() {
    m_partsTree = false;
    return *this;
}

MessageBuilder& MessageBuilder::WithoutSource() {
    m_source = false;
    return *this;
}

MessageBuilder& MessageBuilder::WithoutRoot() {
    m_rootPart = false;
    return *this;
}

namespace {

std::string Upper(const std::string& name) {
    std::string upper = name;
    for (char& c : upper) c = ascommon::AsciiToUpper(c);
    return upper;
}

bool IsDottedQuad(std::string_view host) {
    int numbers = 0;
    size_t i = 0;
    while (i <= host.size()) {
        size_t digits = 0;
        int value = 0;
        while (i < host.size() && host[i] >= '0' && host[i] <= '9' && digits < 4) {
            value = value * 10 + (host[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) return false;
        ++numbers;
        if (i == host.size()) return numbers == 4;
        if (host[i] != '.' || numbers == 4) return false;
        ++i;
    }
    return false;
}

// The position of the first "/" (when slash is set), "?" or "#" at or after from, npos for none.
size_t FindPathStart(const std::string& url, size_t from, bool slash) {
    for (size_t p = from; p < url.size(); ++p) {
        const char c = url[p];
        if ((slash && c == '/') || c == '?' || c == '#') return p;
    }
    return std::string::npos;
}

// The URL with its host [hostStart, hostEnd) in lower case (ASCII, and Unicode for UTF-8 that
// decodes); the rest keeps its case.
std::string LowerCaseHost(const std::string& url, size_t hostStart, size_t hostEnd) {
    std::string lowered(url);
    bool ascii = true;
    for (size_t p = hostStart; p < hostEnd; ++p) {
        lowered[p] = ascommon::AsciiToLower(url[p]);
        ascii &= static_cast<unsigned char>(url[p]) < 0x80;
    }
    if (ascii) return lowered;
    std::string host(2 * (hostEnd - hostStart) + 4, '\0');
    size_t length = 0;
    if (ascommon::UNICODETOLOWER::UTF8_tolower(lowered.data() + hostStart, hostEnd - hostStart,
                                               host.data(), host.size(),
                                               &length) == ascommon::UNICODETOLOWER::kOk)
        lowered.replace(hostStart, hostEnd - hostStart, host.data(), length);
    return lowered;
}

}  // namespace

void FillParsedURL(const std::string& text, ParsedURL* record) {
    size_t hostStart = 0;
    const size_t scheme = text.find("://");
    if (scheme != std::string::npos && scheme < FindPathStart(text, 0, true))
        hostStart = scheme + 3;
    size_t hostEnd = FindPathStart(text, hostStart, true);
    if (hostEnd == std::string::npos) hostEnd = text.size();
    const size_t at = text.rfind('@', hostEnd == 0 ? 0 : hostEnd - 1);
    if (at != std::string::npos && at >= hostStart && at < hostEnd) hostStart = at + 1;
    // Host names know no case: the URL keys are made from the lower-case form.
    const std::string url = LowerCaseHost(text, hostStart, hostEnd);
    hostEnd += url.size() - text.size();
    record->m_url.assign(url.data(), url.size());
    const std::string_view host(url.data() + hostStart, hostEnd - hostStart);
    record->m_hostOffset = hostStart;
    record->m_host.assign(host.data(), host.size());

    size_t pathEnd = FindPathStart(url, hostEnd, false);
    if (pathEnd == std::string::npos) pathEnd = url.size();
    size_t queryEnd = url.find('#', pathEnd);
    if (queryEnd == std::string::npos) queryEnd = url.size();
    record->m_pathLength = pathEnd - hostEnd;
    record->m_queryLength = queryEnd - pathEnd;
    record->m_fragmentLength = url.size() - queryEnd;

    if (!host.empty() && host[0] == '[') {
        record->m_hostKind = kHostIPv6;
    } else {
        const size_t colon = host.rfind(':');
        record->m_hostKind =
            IsDottedQuad(host.substr(0, colon == std::string_view::npos ? host.size() : colon))
                ? kHostIPv4
                : kHostName;
    }
}

std::unique_ptr<Message> MessageBuilder::Build() const& {
    return const_cast<MessageBuilder*>(this)->Make(false);  // Make(false) changes nothing
}

std::unique_ptr<Message> MessageBuilder::Build() && {
    return Make(true);
}

std::unique_ptr<Message> MessageBuilder::Make(bool moveTexts) {
    auto message = std::make_unique<Message>();
    Message* m = message.get();

    auto buildMap = [m](const HeaderFields& fields) {
        THeadersMap* map = m->m_maps.emplace_back(std::make_unique<THeadersMap>()).get();
        // The map never grows by itself: give it about one chain per header so that a message
        // with many distinct header names still inserts in constant time per header.
        const size_t headers =
            fields.addresses.size() + fields.others.size() + fields.nullHeaders.size() + 2;
        if (headers > map->bucket_count()) {
            const size_t buckets = headers < UINT32_MAX ? headers : UINT32_MAX;
            if (map->rehash(static_cast<uint32_t>(buckets)) != 0) throw std::bad_alloc();
        }
        auto put = [&](const std::string& name, std::unique_ptr<CHeader> header) {
            map->insert(ascommon::sstring(Upper(name).c_str()), header.get());
            if (header) m->m_headers.push_back(std::move(header));
        };
        if (fields.hasSubject) {
            auto subject = std::make_unique<CSubjectHeader>();
            subject->m_subject = fields.subject.c_str();
            subject->m_value = fields.subject.c_str();
            if (fields.subjectCharset) {
                subject->m_charsetName = fields.subjectCharset->c_str();
                subject->m_charset = subject->m_charsetName.c_str();
            }
            put("Subject", std::move(subject));
        }
        if (fields.hasContentType) {
            auto type = std::make_unique<CContentTypeHeader>();
            type->m_mediaType = fields.mediaType.c_str();
            if (fields.contentCharset) {
                type->m_charsetName = fields.contentCharset->c_str();
                type->m_charset = type->m_charsetName.c_str();
            }
            put("Content-Type", std::move(type));
        }
        for (const auto& item : fields.addresses) {
            auto header = std::make_unique<CAddressHeader>();
            for (const std::string& address : item.second) {
                auto record = std::make_unique<CAddressRecord>();
                record->m_address = address.c_str();
                // The header owns the records it lists.
                if (header->m_addresses.add(record.get()) == 0) record.release();
            }
            put(item.first, std::move(header));
        }
        for (const auto& item : fields.others) {
            auto header = std::make_unique<CHeader>(kHeaderOther);
            header->m_value = item.second.c_str();
            put(item.first, std::move(header));
        }
        for (const std::string& name : fields.nullHeaders) put(name, nullptr);
        return map;
    };

    m->m_rootHeaders = buildMap(m_root);
    if (m_headersMap)
        m->m_blackbox.PutObject(asbb::kHeaders, asbb::kObject, m->m_rootHeaders, false);

    m->m_allParts = std::make_unique<TPartsArray>();
    m->m_allParts->resize(m_parts.size() + 2, false);
    m->m_tree = std::make_unique<CPartsArray>();
    m->m_tree->m_allParts = m->m_allParts.get();
    if (m_rootPart) {
        CPart* root = m->m_parts.emplace_back(std::make_unique<CPart>()).get();
        root->m_headers = m->m_rootHeaders;
        root->m_body = m->m_bodies.emplace_back(std::make_unique<CPartBodyOther>(kBodyOther)).get();
        if (m_source) {
            m->m_source = std::make_unique<MemorySource>();
            m->m_source->Append(m_raw.data(), m_raw.size());
            if (m_hasSize) m->m_source->SetSize(m_size);
            root->m_source = m->m_source.get();
        }
        m->m_allParts->add(root);
        m->m_tree->m_root = root;
    }
    for (PartFields& fields : m_parts) {
        CPart* part = m->m_parts.emplace_back(std::make_unique<CPart>()).get();
        part->m_headers = buildMap(fields.headers);
        std::unique_ptr<CPartBody> body;
        // Every failure to store a URL record throws: a record left out would hide its URL.
        if (fields.kind == kBodyTextPlain) {
            auto plain = std::make_unique<CPartBodyTextPlain>();
            // The array grows by a fixed step and default-constructs its whole capacity: reserve
            // exactly what the list needs, and nothing for a body without URLs.
            if (!fields.urls.empty() && plain->m_URLs.resize(fields.urls.size(), false) != 0)
                throw std::bad_alloc();
            // Each record is filled where it is stored, not copied there.
            for (std::string& url : fields.urls) {
                if (plain->m_URLs.add(ParsedURL()) != 0) throw std::bad_alloc();
                FillParsedURL(url, &plain->m_URLs.at(plain->m_URLs.size() - 1));
                if (moveTexts) std::string().swap(url);  // in the record now
            }
            body = std::move(plain);
        } else if (fields.kind == kBodyTextHtml) {
            auto html = std::make_unique<CPartBodyTextHtml>();
            if (!fields.urls.empty() || fields.urlCollection) {
                html->m_urlCollection = new CURLCollection();
                auto& records = html->m_urlCollection->m_URLs;
                if (!fields.urls.empty() && records.resize(fields.urls.size(), false) != 0)
                    throw std::bad_alloc();
                for (std::string& url : fields.urls) {
                    auto record = std::make_unique<ParsedURL>();
                    FillParsedURL(url, record.get());
                    if (moveTexts) std::string().swap(url);
                    // The collection owns the records it lists.
                    if (records.add(record.get()) != 0) throw std::bad_alloc();
                    record.release();
                }
            }
            body = std::move(html);
        } else {
            body = std::make_unique<CPartBodyOther>(fields.kind);
        }
        // The URL texts are in the records now; a consumed builder lets them go one by one.
        if (moveTexts) std::vector<std::string>().swap(fields.urls);
        m->m_texts.push_back(moveTexts ? std::move(fields.text) : fields.text);
        body->m_text = m->m_texts.back().c_str();
        part->m_body = m->m_bodies.emplace_back(std::move(body)).get();
        m->m_allParts->add(part);
    }
    if (m_partsTree)
        m->m_blackbox.PutObject(asbb::kPartsTree, asbb::kObject, m->m_tree.get(), false);
    if (m_hasStatistics) m->m_blackbox.SetString(asbb::kCharStatistics, m_statistics.c_str());
    if (m_senderDomain) m->m_blackbox.SetString(asbb::kSenderDomain, m_senderDomain->c_str());
    return message;
}

}  // namespace host
