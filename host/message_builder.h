// MessageBuilder assembles the host's records of one message (root header map, parts with their
// headers and bodies, the parts tree, the message source) from a short description and stores
// them in a message blackbox under keys 20001 (headers) and 20002 (parts tree), with the
// character statistics document under 21234. The built Message owns every record. Build on one
// thread; a built message may then be read by the module from any one thread at a time.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engines/htmlparser/structs/breaker_structs.h"
#include "host/blackbox_store.h"

namespace host {

// The raw message in memory; slot 12 reports its size (an explicit size overrides the length).
class MemorySource : public nsEmlComponents::CAMessageSource {
  public:
    const char* Data() const override { return m_bytes.data(); }
    uint64_t Length() const override { return m_bytes.size(); }
    int32_t Read(void* buffer, uint64_t size, uint64_t* read) override;
    int32_t Seek(uint64_t offset) override;
    uint64_t Tell() const override { return m_position; }
    bool AtEnd() const override { return m_position >= m_bytes.size(); }
    int32_t Rewind() override;
    const char* Name() const override { return m_name.c_str(); }
    int32_t SetName(const char* name) override;
    int32_t Append(const char* bytes, uint64_t size) override;
    void Clear() override;
    int32_t GetSize(uint64_t* size) override;

    void SetSize(uint64_t size) {
        m_size = size;
        m_hasSize = true;
    }

  private:
    std::string m_bytes;
    std::string m_name;
    uint64_t m_position = 0;
    uint64_t m_size = 0;
    bool m_hasSize = false;
};

// Headers of the root or of one part.
struct HeaderFields {
    std::string subject;
    std::optional<std::string> subjectCharset;  // empty: no charset declared
    bool hasSubject = false;
    std::string mediaType;
    std::optional<std::string> contentCharset;
    bool hasContentType = false;
    std::vector<std::pair<std::string, std::vector<std::string>>> addresses;  // name, addresses
    // Any other header: name and decoded value, stored as a plain header object.
    std::vector<std::pair<std::string, std::string>> others;
    std::vector<std::string> nullHeaders;  // names stored with a null header object
};

struct PartFields {
    uint32_t kind = nsEmlComponents::kBodyTextPlain;
    std::string text;
    HeaderFields headers;
    // The URLs found in the text, in order, as FillParsedURL records them: the text/plain body's
    // list, or the HTML body's URL collection. Other kinds ignore them.
    std::vector<std::string> urls;
    // HTML: a URL collection even without URLs (otherwise such a body has none).
    bool urlCollection = false;
};

// Fills the host's fields of a URL record the way the host's URL finder does: the URL text with
// its host in lower case (host names know no case; the rest keeps its case), the host's offset
// (after "scheme://" and any "user@"), the host text with any port, the lengths of path ("/..."),
// query ("?...") and fragment ("#...") with their leading characters, and the host kind (IPv6 for a
// "[...]" host, IPv4 for four dotted decimal numbers up to 255, else a name). The computed fields
// are left as a new record has them.
void FillParsedURL(const std::string& url, nsEmlComponents::ParsedURL* record);

class Message {
  public:
    ~Message();
    BlackBoxStore& blackbox() { return m_blackbox; }
    nsEmlComponents::CPartsArray* tree() { return m_tree.get(); }
    nsEmlComponents::THeadersMap* headers() { return m_rootHeaders; }

  private:
    friend class MessageBuilder;
    BlackBoxStore m_blackbox;
    nsEmlComponents::THeadersMap* m_rootHeaders = nullptr;  // one of m_maps
    std::vector<std::unique_ptr<nsEmlComponents::THeadersMap>> m_maps;
    std::vector<std::unique_ptr<nsEmlComponents::CHeader>> m_headers;
    std::vector<std::unique_ptr<nsEmlComponents::CPart>> m_parts;
    std::vector<std::unique_ptr<nsEmlComponents::CPartBody>> m_bodies;
    std::deque<std::string> m_texts;  // storage for body texts (stable addresses)
    std::unique_ptr<nsEmlComponents::TPartsArray> m_allParts;
    std::unique_ptr<nsEmlComponents::CPartsArray> m_tree;
    std::unique_ptr<MemorySource> m_source;
};

class MessageBuilder {
  public:
    MessageBuilder& Subject(const std::string& text, const char* charset = nullptr);
    MessageBuilder& ContentType(const std::string& mediaType, const char* charset);
    MessageBuilder& From(const std::vector<std::string>& addresses);
    MessageBuilder& To(const std::vector<std::string>& addresses);
    MessageBuilder& Addresses(const std::string& name, const std::vector<std::string>& addresses);
    // A root header stored with a null object (for hosts that lost one).
    MessageBuilder& NullHeader(const std::string& name);
    // The root headers as a whole (replaces what was set so far).
    MessageBuilder& Root(const HeaderFields& headers);
    MessageBuilder& Root(HeaderFields&& headers);
    // The sender's domain (key 21218).
    MessageBuilder& SenderDomain(const std::string& domain);
    MessageBuilder& Part(const PartFields& part);
    MessageBuilder& Part(PartFields&& part);
    MessageBuilder& TextPart(const std::string& text);
    MessageBuilder& HtmlPart(const std::string& html);
    // The same with the URLs found in the text (see PartFields::urls).
    MessageBuilder& TextPart(const std::string& text, const std::vector<std::string>& urls);
    MessageBuilder& HtmlPart(const std::string& html, const std::vector<std::string>& urls);
    MessageBuilder& Raw(const std::string& bytes);  // the message source's bytes
    MessageBuilder& Size(uint64_t size);            // the size the source reports
    MessageBuilder& Statistics(const std::string& json);
    MessageBuilder& WithoutHeaders();    // no key 20001
    MessageBuilder& WithoutPartsTree();  // no key 20002
    MessageBuilder& WithoutSource();     // a root part without a source object
    MessageBuilder& WithoutRoot();       // a tree without a root part

    // Throws std::bad_alloc when a record cannot be stored (a record left out would hide what
    // it holds).
    std::unique_ptr<Message> Build() const&;
    // The same, moving the part texts into the message instead of copying them.
    std::unique_ptr<Message> Build() &&;

  private:
    std::unique_ptr<Message> Make(bool moveTexts);

    HeaderFields m_root;
    std::vector<PartFields> m_parts;
    std::string m_raw;
    uint64_t m_size = 0;
    bool m_hasSize = false;
    std::string m_statistics;
    bool m_hasStatistics = false;
    std::optional<std::string> m_senderDomain;
    bool m_headersMap = true;
    bool m_partsTree = true;
    bool m_source = true;
    bool m_rootPart = true;
};

}  // namespace host
