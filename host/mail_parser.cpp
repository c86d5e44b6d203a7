// MailParser: GMime 3 drives the MIME structure and the header decoding; this file walks the
// resulting object tree into a ParsedMail and converts the text bodies to UTF-8 itself (a fast
// path for UTF-8, ASCII and Latin-1/Windows-1252, iconv for the rest) so that invalid bytes are
// handled the same way everywhere. A body's charset is its label, an alias of it, an HTML
// <meta> charset, or what ICU's detector finds when the bytes do not fit (DecodeText). Every
// GMime object lives only inside one ParseMail call; iconv converters and the ICU detector are
// kept per thread.
#include "host/mail_parser.h"

#include <gmime/gmime.h>
#include <iconv.h>
#include <unicode/ucsdet.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <random>

#include "common/ascii.h"
#include "host/deep_parts.h"
#include "host/header_runs.h"
#include "host/plain_parts.h"

// GMime 3.2 declares no cleanup functions for g_autoptr; GObjects go with g_object_unref.
G_DEFINE_AUTOPTR_CLEANUP_FUNC(GMimeMessage, g_object_unref)
G_DEFINE_AUTOPTR_CLEANUP_FUNC(GMimeParser, g_object_unref)
G_DEFINE_AUTOPTR_CLEANUP_FUNC(GMimeStream, g_object_unref)
G_DEFINE_AUTOPTR_CLEANUP_FUNC(InternetAddressList, g_object_unref)
G_DEFINE_AUTOPTR_CLEANUP_FUNC(GMimeParserOptions, g_mime_parser_options_free)

namespace host {

namespace {

constexpr size_t kMaxParts = 10000;        // parts beyond this are not listed one by one
constexpr size_t kMaxOtherFields = 10000;  // per message; the filters read none of them
constexpr size_t kMaxDeeperParses = 1;     // parses past GMime's depth limit per message
constexpr size_t kMaxDefects = 64;         // defects beyond this are summarised in one line
constexpr size_t kMaxInput = 0xFFFFFFF0u;  // GMime's memory streams hold 32-bit lengths
constexpr size_t kMaxCharsetName = 64;
constexpr size_t kIconvCacheSize = 32;
constexpr int kMaxCheckedWords = 16;  // encoded words checked per header

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// Windows-1252 code points of the bytes 0x80 to 0x9F; the five unassigned bytes map to the C1
// code points of the same value. Bytes 0xA0 and above equal their Latin-1 code points.
const uint16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::once_flag g_initOnce;
bool g_initialised = false;
std::atomic<bool> g_bypass{true};  // see SetGMimeBypass

// ---- Per-call state ---------------------------------------------------------------------------

struct Context {
    ParsedMail* mail = nullptr;
    GMimeParserOptions* options = nullptr;
    bool boundaryReported = false;  // a truncated multipart usually leaves all outer ones open
    bool defectsFull = false;
    bool nestingOverflow = false;     // GMime stopped building the tree at its depth limit
    std::vector<std::string> pieces;  // a deeply nested message cut up (SplitDeepParts)
    std::vector<bool> pieceOpened;
    std::vector<TakenRun> headerRuns;  // header fields kept from GMime
    size_t headerRunFields = 0;        // fields of the top block's runs, until they are collected
    size_t otherFields = 0;            // listed so far (RoomForOtherField)
    std::vector<std::vector<PlainPart>> partRuns;  // plain parts kept from GMime
    std::string_view partText;                     // the text their contents lie in

    // Records one defect; repeated texts are kept once and the list is capped.
    void Defect(const std::string& text) {
        std::vector<std::string>& defects = mail->defects;
        for (const std::string& known : defects) {
            if (known == text) return;
        }
        if (defects.size() < kMaxDefects) {
            defects.push_back(text);
        } else if (!defectsFull) {
            defects.push_back("more defects not listed");
            defectsFull = true;
        }
    }
};

// A short, printable-ASCII form of a name or text taken from the message, for defect lines.
std::string Printable(const char* text) {
    std::string out;
    if (text == nullptr) return out;
    for (size_t i = 0; text[i] != '\0'; ++i) {
        if (i == 48) {
            out += "...";
            break;
        }
        const unsigned char c = static_cast<unsigned char>(text[i]);
        out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    return out;
}

std::string Named(const char* prefix, const char* item) {
    std::string text = prefix;
    if (item != nullptr && item[0] != '\0') text += " " + Printable(item);
    return text;
}

// GMime's parser warnings, turned into defect lines.
void OnParserWarning(gint64, GMimeParserWarning code, const gchar* item, gpointer data) {
    Context* context = static_cast<Context*>(data);
    switch (code) {
        case GMIME_WARN_DUPLICATED_HEADER:
            context->Defect(Named("repeated header", item));
            break;
        case GMIME_WARN_DUPLICATED_PARAMETER:
            context->Defect(Named("repeated parameter", item));
            break;
        case GMIME_WARN_UNENCODED_8BIT_HEADER:
            context->Defect(Named("unencoded 8-bit text in header", item));
            break;
        case GMIME_WARN_INVALID_CONTENT_TYPE:
            context->Defect(Named("invalid Content-Type", item));
            break;
        case GMIME_WARN_INVALID_RFC2047_HEADER_VALUE:
            context->Defect(Named("invalid encoded word in header", item));
            break;
        case GMIME_WARN_MALFORMED_MULTIPART:
            context->Defect(Named("multipart ended by an outer boundary:", item));
            break;
        case GMIME_WARN_TRUNCATED_MESSAGE:
            context->Defect("message truncated");
            break;
        case GMIME_WARN_MALFORMED_MESSAGE:
            context->Defect("malformed message");
            break;
        case GMIME_CRIT_INVALID_HEADER_NAME:
            context->Defect(Named("invalid header line", item));
            break;
        case GMIME_CRIT_CONFLICTING_HEADER:
            context->Defect(Named("conflicting repeated header", item));
            break;
        case GMIME_CRIT_CONFLICTING_PARAMETER:
            context->Defect(Named("conflicting repeated parameter", item));
            break;
        case GMIME_CRIT_MULTIPART_WITHOUT_BOUNDARY:
            context->Defect(Named("multipart without boundary:", item));
            break;
        case GMIME_WARN_INVALID_PARAMETER:
            context->Defect(Named("invalid parameter", item));
            break;
        case GMIME_WARN_INVALID_ADDRESS_LIST:
            context->Defect(Named("invalid address list", item));
            break;
        case GMIME_CRIT_NESTING_OVERFLOW:
            context->nestingOverflow = true;  // the walk parses what lies deeper (ParseDeeper)
            break;
        case GMIME_WARN_PART_WITHOUT_CONTENT:
            context->Defect("part without content");
            break;
        case GMIME_CRIT_PART_WITHOUT_HEADERS_OR_CONTENT:
            context->Defect("part without headers or content");
            break;
        default:
            context->Defect("parser warning " + std::to_string(static_cast<int>(code)));
            break;
    }
}

// ---- Text conversion --------------------------------------------------------------------------

void AppendCp1252Byte(unsigned char c, std::string* out) {
    if (c < 0x80) {
        out->push_back(c == 0 ? ' ' : static_cast<char>(c));
    } else {
        char utf8[U8_MAX_LENGTH];
        size_t length = 0;
        U8_APPEND_UNSAFE(utf8, length, c < 0xA0 ? kCp1252High[c - 0x80] : c);
        out->append(utf8, length);
    }
}

// Appends UTF-8 text, keeping well-formed sequences; each other byte becomes its Windows-1252
// character (fallback1252) or U+FFFD. NUL becomes a space. Runs of valid text are appended
// whole; only a byte that changes interrupts them. Returns the number of bytes that were not
// part of a well-formed sequence; *sequences (when given) gets the number of well-formed
// multi-byte sequences.
size_t AppendUtf8(const unsigned char* p, size_t size, bool fallback1252, std::string* out,
                  size_t* sequences = nullptr) {
    out->reserve(out->size() + size);
    size_t i = 0, kept = 0;  // p[kept, i) is valid text not yet appended
    size_t invalid = 0, valid = 0;
    while (i < size) {
        if (size - i >= 8) {  // eight bytes at a time while none is 0 or >= 0x80
            uint64_t word;
            std::memcpy(&word, p + i, 8);
            const uint64_t zero = (word - 0x0101010101010101ULL) & ~word;
            if (!((word | zero) & 0x8080808080808080ULL)) {
                i += 8;
                continue;
            }
        }
        const unsigned char c = p[i];
        if (c >= 0x80) {
            size_t next = i;
            UChar32 cp;
            U8_NEXT(p, next, size, cp);  // refuses overlong forms, surrogates, past U+10FFFF
            if (cp >= 0) {
                i = next;
                ++valid;
                continue;
            }
        } else if (c != 0) {
            ++i;
            continue;
        }
        out->append(reinterpret_cast<const char*>(p + kept), i - kept);
        if (c == 0) {
            out->push_back(' ');
        } else {
            ++invalid;
            if (fallback1252)
                AppendCp1252Byte(c, out);
            else
                out->append(kReplacement);
        }
        kept = ++i;
    }
    out->append(reinterpret_cast<const char*>(p + kept), i - kept);
    if (sequences != nullptr) *sequences = valid;
    return invalid;
}

// Appends Windows-1252 text as UTF-8 (NUL as a space), writing straight into the string: no
// byte takes more than three.
void AppendCp1252(const unsigned char* p, size_t size, std::string* out) {
    const size_t start = out->size();
    out->resize(start + size * 3);
    char* const write = &(*out)[start];
    size_t written = 0;
    for (size_t i = 0; i < size; ++i) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            write[written++] = c == 0 ? ' ' : static_cast<char>(c);
            continue;
        }
        const uint32_t cp = c < 0xA0 ? kCp1252High[c - 0x80] : c;
        U8_APPEND_UNSAFE(write, written, cp);
    }
    out->resize(start + written);
}

// Lower-case copy of a charset name, or false when it is empty, too long or holds characters
// no charset name has.
bool CharsetKey(const char* charset, std::string* key) {
    key->clear();
    for (size_t i = 0; charset[i] != '\0'; ++i) {
        const char c = ascommon::AsciiToLower(charset[i]);
        if (i == kMaxCharsetName) return false;
        const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                        c == '.' || c == ':' || c == '+' || c == '(' || c == ')';
        if (!ok) return false;
        key->push_back(c);
    }
    return !key->empty();
}

enum class CharsetClass { kUtf8, kCp1252, kOther };

CharsetClass Classify(const std::string& key) {
    static const char* const kUtf8Names[] = {"utf-8", "utf8", "us-ascii", "ascii",
                                             "ansi_x3.4-1968"};
    static const char* const kCp1252Names[] = {"iso-8859-1", "iso8859-1", "iso_8859-1",
                                               "latin1",     "l1",        "windows-1252",
                                               "cp1252",     "x-cp1252"};
    for (const char* name : kUtf8Names) {
        if (key == name) return CharsetClass::kUtf8;
    }
    for (const char* name : kCp1252Names) {
        if (key == name) return CharsetClass::kCp1252;
    }
    return CharsetClass::kOther;
}

// The calling thread's converters to UTF-8 by charset key; unknown names are remembered as
// invalid descriptors. Owned by the thread and closed when it ends.
class IconvCache {
  public:
    IconvCache() = default;
    IconvCache(const IconvCache&) = delete;
    IconvCache& operator=(const IconvCache&) = delete;
    ~IconvCache() { Clear(); }

    // A reset converter from `key` to UTF-8, or (iconv_t)-1 when the charset is unknown.
    iconv_t Get(const std::string& key) {
        for (const Entry& entry : m_entries) {
            if (entry.key == key) {
                if (entry.cd != Invalid()) iconv(entry.cd, nullptr, nullptr, nullptr, nullptr);
                return entry.cd;
            }
        }
        iconv_t cd = iconv_open("UTF-8", key.c_str());
        if (cd == Invalid()) {
            // GMime knows the MIME aliases iconv lacks (ks_c_5601-1987, x-sjis, ...).
            const char* name = g_mime_charset_iconv_name(key.c_str());
            if (name != nullptr && key != name) cd = iconv_open("UTF-8", name);
        }
        if (m_entries.size() >= kIconvCacheSize) Clear();
        m_entries.push_back(Entry{key, cd});
        return cd;
    }

    static iconv_t Invalid() { return reinterpret_cast<iconv_t>(-1); }

  private:
    struct Entry {
        std::string key;
        iconv_t cd;
    };
    void Clear() {
        for (const Entry& entry : m_entries) {
            if (entry.cd != Invalid()) iconv_close(entry.cd);
        }
        m_entries.clear();
    }
    std::vector<Entry> m_entries;
};

IconvCache& ThreadIconvCache() {
    thread_local IconvCache cache;
    return cache;
}

// Makes sure `out` has room for `need` more bytes after `used`; returns the write position.
char* Reserve(std::string* out, size_t used, size_t need) {
    if (out->size() - used < need) out->resize(std::max(out->size() * 2, used + need));
    return &(*out)[used];
}

// The size in bytes of the code unit of a charset (by its key): 2 for UTF-16 and UCS-2, 4 for
// UTF-32 and UCS-4, 1 for the byte-oriented charsets.
size_t CodeUnitSize(const std::string& key) {
    const auto starts = [&key](const char* prefix) { return key.rfind(prefix, 0) == 0; };
    if (starts("utf-16") || starts("utf16") || starts("ucs-2") || starts("ucs2") ||
        key == "unicode" || key == "unicodelittle" || key == "unicodebig") {
        return 2;
    }
    if (starts("utf-32") || starts("utf32") || starts("ucs-4") || starts("ucs4")) return 4;
    return 1;
}

// Converts with iconv; an invalid code unit becomes U+FFFD and the conversion goes on after it,
// `unit` bytes further, so that the later units of a UTF-16 or UTF-32 text stay aligned.
// Returns the number of code units given up.
size_t AppendIconv(iconv_t cd, const unsigned char* p, size_t size, size_t unit, std::string* out) {
    const size_t start = out->size();
    size_t invalid = 0;
    size_t used = start;
    out->resize(start + size * 2 + 16);
    char* in = reinterpret_cast<char*>(const_cast<unsigned char*>(p));
    size_t inLeft = size;
    for (;;) {
        char* write = &(*out)[used];
        size_t outLeft = out->size() - used;
        const bool flushing = inLeft == 0;  // the last round writes any pending shift state
        const size_t result = flushing ? iconv(cd, nullptr, nullptr, &write, &outLeft)
                                       : iconv(cd, &in, &inLeft, &write, &outLeft);
        const int error = errno;
        used = write - out->data();
        if (result != static_cast<size_t>(-1)) {
            if (flushing) break;
        } else if (error == E2BIG) {
            out->resize(out->size() * 2 + 64);
        } else if (!flushing && (error == EILSEQ || error == EINVAL)) {
            // EINVAL: an incomplete sequence at the end; either way one code unit is given up.
            std::memcpy(Reserve(out, used, 3), kReplacement, 3);
            used += 3;
            ++invalid;
            const size_t skip = std::min(unit, inLeft);
            in += skip;
            inLeft -= skip;
        } else {
            break;
        }
    }
    out->resize(used);
    char* const end = &(*out)[0] + used;
    for (char* nul = &(*out)[0] + start;
         (nul = static_cast<char*>(std::memchr(nul, '\0', end - nul))) != nullptr;)
        *nul = ' ';
    return invalid;
}

// ---- Choosing a body's charset ----------------------------------------------------------------

// Labels that mail software writes but iconv does not know, or knows as a narrower charset than
// the one the senders mean (Windows font charset names, Microsoft and Java spellings), with
// the converter's name for each. Keys are lower-case.
const std::pair<const char*, const char*> kCharsetAliases[] = {
    {"ansi_charset", "windows-1252"},
    {"arabic_charset", "cp1256"},
    {"baltic_charset", "cp1257"},
    {"chinese", "gbk"},
    {"chinesebig5", "cp950"},
    {"chinesebig5_charset", "cp950"},
    {"cp936", "gbk"},
    {"csshiftjis", "cp932"},
    {"easteurope_charset", "cp1250"},
    {"euc-cn", "gbk"},
    {"gb2312_charset", "gbk"},
    {"gb_2312-80", "gbk"},
    {"greek_charset", "cp1253"},
    {"hangeul_charset", "cp949"},
    {"hangul_charset", "cp949"},
    {"hebrew_charset", "cp1255"},
    {"iso-8859-8-i", "iso-8859-8"},
    {"ks_c_5601", "cp949"},
    {"ks_c_5601-1987", "cp949"},
    {"ks_c_5601-1989", "cp949"},
    {"ksc5601", "cp949"},
    {"ksc_5601", "cp949"},
    {"ms_kanji", "cp932"},
    {"russian_charset", "cp1251"},
    {"shift-jis", "cp932"},
    {"shiftjis_charset", "cp932"},
    {"sjis", "cp932"},
    {"thai_charset", "cp874"},
    {"tis620", "cp874"},
    {"turkish_charset", "cp1254"},
    {"unicode-1-1-utf-8", "utf-8"},
    {"win-1251", "cp1251"},
    {"windows-31j", "cp932"},
    {"windows-874", "cp874"},
    {"x-cp1250", "cp1250"},
    {"x-cp1251", "cp1251"},
    {"x-euc-cn", "gbk"},
    {"x-euc-jp", "euc-jp"},
    {"x-euc-kr", "cp949"},
    {"x-gbk", "gbk"},
    {"x-sjis", "cp932"},
    {"x-windows-874", "cp874"},
    {"x-windows-949", "cp949"},
    {"x-x-big5", "cp950"},
};

// What ICU's detector names, when a wider converter reads the same text (what mail clients
// use for these names).
const std::pair<const char*, const char*> kDetectedWider[] = {
    {"big5", "cp950"}, {"shift_jis", "cp932"}, {"euc-kr", "cp949"}, {"iso-8859-1", "windows-1252"}};

constexpr int kMinConfidence = 50;     // ICU's guesses below this are too often wrong
constexpr size_t kMinDetectBytes = 8;  // fewer 8-bit bytes than this are not judged
constexpr size_t kMaxDetectInput = 64 << 10;
constexpr size_t kMetaScanBytes = 16 << 10;  // how far into an HTML text a <meta> is looked for

// Resolves a charset label to the name conversion uses: the lower-case label, or its alias
// target (*alias set). True when text in it can be converted.
bool ResolveCharset(const char* label, std::string* key, bool* alias) {
    *alias = false;
    if (label == nullptr || !CharsetKey(label, key)) return false;
    for (const auto& entry : kCharsetAliases) {
        if (*key == entry.first) {
            *key = entry.second;
            *alias = true;
            break;
        }
    }
    return Classify(*key) != CharsetClass::kOther ||
           ThreadIconvCache().Get(*key) != IconvCache::Invalid();
}

// True when bytes that were not UTF-8 are more than a stray few (in number and share of the
// text) and outnumber the well-formed multi-byte sequences: then the text is in another charset
// rather than UTF-8 with a few damaged characters (a character cut in two, say).
bool NotUtf8(size_t invalid, size_t sequences, size_t size) {
    return invalid >= kMinDetectBytes / 2 && invalid > sequences && invalid * 256 >= size;
}

// Appends the bytes converted from a resolved charset. Returns how many bytes or code units did
// not fit it (bytes that are not UTF-8 for the UTF-8 and ASCII names), or 0 when they are too
// few to doubt the charset: no more than the well-formed multi-byte sequences for UTF-8, no
// more than one byte in 16 for the others.
size_t Convert(const unsigned char* p, size_t size, const std::string& key, std::string* out) {
    size_t invalid = 0, sequences = 0;
    switch (Classify(key)) {
        case CharsetClass::kUtf8:
            invalid = AppendUtf8(p, size, true, out, &sequences);
            return NotUtf8(invalid, sequences, size) ? invalid : 0;
        case CharsetClass::kCp1252:
            AppendCp1252(p, size, out);
            return 0;
        case CharsetClass::kOther:
            break;
    }
    invalid = AppendIconv(ThreadIconvCache().Get(key), p, size, CodeUnitSize(key), out);
    return invalid * 16 > size ? invalid : 0;
}

bool IsCharsetNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.' || c == ':' || c == '+';
}

// The charset an HTML text names in a <meta> tag within its first kMetaScanBytes: <meta
// charset="..."> or the charset parameter of an http-equiv Content-Type's content. Empty when
// there is none.
std::string MetaCharset(const unsigned char* bytes, size_t size) {
    const char* text = reinterpret_cast<const char*>(bytes);
    const size_t end = std::min(size, kMetaScanBytes);
    const auto at = [&](size_t i, const char* word) {
        for (size_t k = 0; word[k] != '\0'; ++k) {
            if (i + k >= end || ascommon::AsciiToLower(text[i + k]) != word[k]) return false;
        }
        return true;
    };
    for (size_t i = 0; i < end; ++i) {
        const void* open = std::memchr(text + i, '<', end - i);
        if (open == nullptr) break;
        i = static_cast<const char*>(open) - text;
        if (!at(i + 1, "meta")) continue;
        const void* close = std::memchr(text + i, '>', end - i);
        const size_t tagEnd = close ? static_cast<const char*>(close) - text : end;
        for (size_t j = i + 5; j < tagEnd; ++j) {
            if (!at(j, "charset")) continue;
            size_t k = j + 7;
            while (k < tagEnd && text[k] == ' ') ++k;
            if (k >= tagEnd || text[k] != '=') continue;
            ++k;
            while (k < tagEnd && (text[k] == ' ' || text[k] == '"' || text[k] == '\'')) ++k;
            const size_t name = k;
            while (k < tagEnd && k - name < kMaxCharsetName && IsCharsetNameChar(text[k])) ++k;
            if (k > name) return std::string(text + name, k - name);
        }
        i = tagEnd;
    }
    return std::string();
}

// True when the 8-bit bytes all lie where Windows-874 puts Thai letters, marks, digits and
// punctuation, and mostly come in runs (Thai writes words without spaces between them). ICU's
// detector has no Thai.
bool LooksThai(const unsigned char* p, size_t size) {
    size_t high = 0, runs = 0;
    bool inRun = false;
    for (size_t i = 0; i < size; ++i) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            inRun = false;
            continue;
        }
        const bool thai = (c >= 0xA0 && c <= 0xDA) || (c >= 0xDF && c <= 0xFB) || c == 0x85 ||
                          (c >= 0x91 && c <= 0x97);
        if (!thai) return false;
        ++high;
        if (!inRun) ++runs;
        inRun = true;
    }
    return high >= kMinDetectBytes && high >= 3 * runs;
}

// The calling thread's ICU charset detector, closed when the thread ends.
class CharsetDetector {
  public:
    CharsetDetector() {
        UErrorCode status = U_ZERO_ERROR;
        m_detector = ucsdet_open(&status);
        if (U_FAILURE(status)) m_detector = nullptr;
    }
    CharsetDetector(const CharsetDetector&) = delete;
    CharsetDetector& operator=(const CharsetDetector&) = delete;
    ~CharsetDetector() {
        if (m_detector != nullptr) ucsdet_close(m_detector);
    }

    // ICU's best guess for the bytes (tags skipped for HTML) with its confidence, or false.
    bool Detect(const unsigned char* p, size_t size, bool html, std::string* name,
                int* confidence) {
        if (m_detector == nullptr) return false;
        UErrorCode status = U_ZERO_ERROR;
        ucsdet_enableInputFilter(m_detector, html);
        ucsdet_setText(m_detector, reinterpret_cast<const char*>(p),
                       static_cast<int32_t>(std::min(size, kMaxDetectInput)), &status);
        const UCharsetMatch* match = ucsdet_detect(m_detector, &status);
        if (U_FAILURE(status) || match == nullptr) return false;
        const char* found = ucsdet_getName(match, &status);
        *confidence = ucsdet_getConfidence(match, &status);
        if (U_FAILURE(status) || found == nullptr) return false;
        *name = found;
        return true;
    }

  private:
    UCharsetDetector* m_detector = nullptr;
};

// Picks the charset of bytes whose label is missing or does not fit them: ICU's detector when
// it is confident enough, else Thai by its byte ranges. False when neither is; too few 8-bit
// bytes are not judged (*key, *why: the name to convert with and how it was found).
bool DetectCharset(const unsigned char* p, size_t size, bool html, std::string* key,
                   std::string* why) {
    size_t high = 0;
    for (size_t i = 0; i < size && high < kMinDetectBytes; ++i) high += p[i] >= 0x80;
    if (high < kMinDetectBytes) return false;
    thread_local CharsetDetector detector;
    std::string name;
    int confidence = 0;
    bool alias = false;
    if (detector.Detect(p, size, html, &name, &confidence) && confidence >= kMinConfidence &&
        name.compare(0, 3, "IBM") != 0 && ResolveCharset(name.c_str(), key, &alias)) {
        for (const auto& wider : kDetectedWider) {
            if (*key == wider.first) *key = wider.second;
        }
        *why = "detected, " + std::to_string(confidence) + "%";
        return true;
    }
    if (LooksThai(p, size)) {
        *key = "cp874";
        *why = "detected by its Thai bytes";
        return true;
    }
    return false;
}

bool CharsetKnown(const std::string& charset) {
    std::string key;
    if (!CharsetKey(charset.c_str(), &key)) return false;
    if (Classify(key) != CharsetClass::kOther) return true;
    return ThreadIconvCache().Get(key) != IconvCache::Invalid();
}

// A string GMime decoded, made safe for C-string readers (valid UTF-8, no NUL).
std::string Clean(const char* text) {
    std::string out;
    if (text != nullptr)
        AppendUtf8(reinterpret_cast<const unsigned char*>(text), std::strlen(text), false, &out);
    return out;
}

// A header's decoded value. Plain ASCII values without encoded words are only unfolded here
// (line breaks dropped, outer blanks trimmed), which is what GMime would do at a higher cost.
std::string HeaderValue(GMimeHeader* header, const char* raw, bool encoded) {
    bool plain = !encoded;
    for (const char* p = raw; plain && *p != '\0'; ++p)
        plain = static_cast<unsigned char>(*p) < 0x80;
    if (!plain) return Clean(g_mime_header_get_value(header));
    return UnfoldPlainValue(raw);
}

// ---- Headers ----------------------------------------------------------------------------------

bool EqualsNoCase(const char* a, const char* b) {
    return g_ascii_strcasecmp(a, b) == 0;
}

// The conventional name of an address header, or null for other headers.
const char* AddressHeaderName(const char* name) {
    static const char* const kNames[] = {"From", "To", "Cc", "Bcc", "Reply-To", "Sender"};
    for (const char* known : kNames) {
        if (EqualsNoCase(name, known)) return known;
    }
    return nullptr;
}

bool IsBase64Text(const char* begin, const char* end) {
    for (const char* p = begin; p < end; ++p) {
        const char c = *p;
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '+' || c == '/' || c == '=';
        if (!ok) return false;
    }
    return true;
}

// Looks at the encoded words (=?charset?B|Q?text?=) of a raw header value: returns the charset
// of the first one in *first (without an RFC 2231 language suffix) and records unknown
// charsets and words that cannot be decoded. Only the first few words are looked at.
void ScanEncodedWords(const char* raw, const char* header, Context* context,
                      std::optional<std::string>* first) {
    const char* p = raw;
    for (int words = 0; words < kMaxCheckedWords && (p = std::strstr(p, "=?")) != nullptr;) {
        const char* charset = p + 2;
        const char* q = charset;
        while (*q != '\0' && *q != '?' && *q != ' ' && *q != '\t' && *q != '\r' && *q != '\n') ++q;
        if (*q != '?' || q == charset || q[1] == '\0' || q[2] != '?') {
            p += 2;
            continue;
        }
        const char encoding = q[1];
        const char* text = q + 3;
        const char* end = text;
        while (*end != '\0' && *end != ' ' && *end != '\t' && *end != '\r' && *end != '\n' &&
               !(end[0] == '?' && end[1] == '=')) {
            ++end;
        }
        ++words;
        std::string name(charset, q - charset);
        const size_t star = name.find('*');
        if (star != std::string::npos) name.resize(star);
        const bool wellFormed = end[0] == '?' && (encoding == 'B' || encoding == 'b' ||
                                                  encoding == 'Q' || encoding == 'q');
        if (wellFormed && first != nullptr && !first->has_value()) *first = name;
        if (end[0] != '?') {
            context->Defect(Named("unterminated encoded word in header", header));
        } else if (encoding != 'B' && encoding != 'b' && encoding != 'Q' && encoding != 'q') {
            context->Defect(Named("invalid encoded word in header", header));
        } else if ((encoding == 'B' || encoding == 'b') && !IsBase64Text(text, end)) {
            context->Defect(Named("undecodable encoded word in header", header));
        }
        if (!CharsetKnown(name)) {
            context->Defect("unknown charset " + Printable(name.c_str()) + " in header " +
                            Printable(header));
        }
        p = end[0] == '?' ? end + 2 : end;
    }
}

void AppendAddresses(InternetAddressList* list, std::vector<std::string>* out, int depth) {
    if (list == nullptr || depth > 4) return;
    const int count = internet_address_list_length(list);
    for (int i = 0; i < count; ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_MAILBOX(address)) {
            const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address));
            if (addr != nullptr && addr[0] != '\0') out->push_back(Clean(addr));
        } else if (INTERNET_ADDRESS_IS_GROUP(address)) {
            AppendAddresses(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)),
                            out, depth + 1);
        }
    }
}

// A header name ending in a token random per process, so that no message can forge it.
std::string SecretName(const char* prefix) {
    std::random_device random;
    char name[48];
    std::snprintf(name, sizeof name, "%s%08x%08x", prefix, random(), random());
    return name;
}

// The index a placeholder's text names (leading digits), when below `count`.
bool PlaceholderIndex(const char* text, size_t count, size_t* index) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (end == text || value >= count) return false;
    *index = value;
    return true;
}

// The header name of the placeholders that stand for pieces.
const std::string& PieceMarker() {
    static const std::string marker = SecretName("X-Molvex-Piece-");
    return marker;
}

// The header name of the placeholders that stand for runs of plain header fields.
const std::string& FieldRunMarker() {
    static const std::string marker = SecretName("X-Molvex-Fields-");
    return marker;
}

// True when one more field other than Subject, Content-Type and the address fields may be listed;
// counts it. Past the cap, notes the cut once.
bool RoomForOtherField(Context* context) {
    if (context->otherFields < kMaxOtherFields) {
        ++context->otherFields;
        return true;
    }
    context->Defect("more than " + std::to_string(kMaxOtherFields) +
                    " other header fields: the rest are not listed");
    return false;
}

// Puts the run of fields a placeholder stands for in its place, once (as far as the cap on
// other fields leaves room).
void SpliceFieldRun(const char* name, HeaderFields* fields, Context* context) {
    size_t index = 0;
    if (!PlaceholderIndex(name + FieldRunMarker().size() + 1, context->headerRuns.size(), &index))
        return;
    TakenRun& run = context->headerRuns[index];
    for (const auto& [conflicting, repeated] : run.repeats) {
        context->Defect(Named(conflicting ? "conflicting repeated header" : "repeated header",
                              repeated.c_str()));
    }
    for (TakenField& field : run.fields) {
        if (!RoomForOtherField(context)) break;
        if (!field.raw) {
            fields->others.emplace_back(std::move(field.name), std::move(field.value));
            continue;
        }
        // What GMime says and makes of a value that is not plain.
        const char* text = field.value.c_str();
        if (!g_utf8_validate(text, -1, nullptr))
            context->Defect(Named("unencoded 8-bit text in header", field.name.c_str()));
        if (std::strstr(text, "=?") != nullptr)
            ScanEncodedWords(text, field.name.c_str(), context, nullptr);
        g_autofree char* unfolded = g_mime_utils_header_unfold(text);
        g_autofree char* decoded = g_mime_utils_header_decode_text(context->options, unfolded);
        fields->others.emplace_back(std::move(field.name), Clean(decoded));
    }
    run = TakenRun();  // spliced once: its memory goes now
}

// Adds the headers of one GMime header list to `fields`. The first Subject and Content-Type
// count (later ones are dropped); address headers of one name are merged into one entry.
void CollectHeaders(GMimeObject* object, HeaderFields* fields, Context* context) {
    GMimeHeaderList* list = g_mime_object_get_header_list(object);
    if (list == nullptr) return;
    const int count = g_mime_header_list_get_count(list);
    // The message's own list holds every placeholder: room for the fields they stand for.
    if (count > 0) {
        fields->others.reserve(fields->others.size() + static_cast<size_t>(count) +
                               context->headerRunFields);
    }
    context->headerRunFields = 0;
    for (int i = 0; i < count; ++i) {
        GMimeHeader* header = g_mime_header_list_get_header_at(list, i);
        const char* name = g_mime_header_get_name(header);
        const char* raw = g_mime_header_get_raw_value(header);
        if (name == nullptr) continue;
        if (raw == nullptr) raw = "";
        const bool encoded = std::strstr(raw, "=?") != nullptr;
        if (EqualsNoCase(name, "Subject")) {
            if (fields->hasSubject) continue;
            fields->hasSubject = true;
            fields->subject = HeaderValue(header, raw, encoded);
            if (encoded) ScanEncodedWords(raw, "Subject", context, &fields->subjectCharset);
        } else if (EqualsNoCase(name, "Content-Type")) {
            fields->hasContentType = true;  // the type itself comes from the parsed object
        } else if (const char* canonical = AddressHeaderName(name)) {
            std::vector<std::string>* addresses = nullptr;
            for (auto& entry : fields->addresses) {
                if (entry.first == canonical) addresses = &entry.second;
            }
            if (addresses == nullptr) {
                fields->addresses.emplace_back(canonical, std::vector<std::string>());
                addresses = &fields->addresses.back().second;
            }
            g_autoptr(InternetAddressList) parsed =
                internet_address_list_parse(context->options, raw);
            if (parsed != nullptr) AppendAddresses(parsed, addresses, 0);
        } else if (!context->headerRuns.empty() &&
                   std::strncmp(name, FieldRunMarker().c_str(), FieldRunMarker().size()) == 0 &&
                   name[FieldRunMarker().size()] == '-') {
            SpliceFieldRun(name, fields, context);
        } else {
            if (encoded) ScanEncodedWords(raw, name, context, nullptr);
            if (RoomForOtherField(context))
                fields->others.emplace_back(Clean(name), HeaderValue(header, raw, encoded));
        }
    }
}

bool InvalidContentType(GMimeObject* object, GMimeContentType* type);

// Sets the media type and charset parameter of `fields` from the object's parsed Content-Type
// (GMime's default, text/plain, when the header is absent; text/plain in US-ASCII when it is
// invalid).
void SetMediaType(GMimeObject* object, HeaderFields* fields) {
    GMimeContentType* type = g_mime_object_get_content_type(object);
    if (type == nullptr) return;
    if (InvalidContentType(object, type)) {
        fields->mediaType = "text/plain";
        fields->contentCharset = "us-ascii";
        return;
    }
    const char* media = g_mime_content_type_get_media_type(type);
    const char* sub = g_mime_content_type_get_media_subtype(type);
    std::string text = Clean(media ? media : "") + "/" + Clean(sub ? sub : "");
    ascommon::AsciiLowerInPlace(text);
    fields->mediaType = std::move(text);
    const char* charset = g_mime_content_type_get_parameter(type, "charset");
    if (fields->hasContentType && charset != nullptr) fields->contentCharset = Clean(charset);
}

// ---- Parts ------------------------------------------------------------------------------------

bool IsTokenChar(char c) {
    return c > ' ' && c < 0x7F && std::strchr("()<>@,;:\\\"/[]?=", c) == nullptr;
}

// True when the object has a Content-Type header that is not "type/subtype": GMime reads such
// a header as application/octet-stream, while RFC 2045 (5.2) makes the part text/plain in
// US-ASCII.
bool InvalidContentType(GMimeObject* object, GMimeContentType* type) {
    if (!g_mime_content_type_is_type(type, "application", "octet-stream")) return false;
    const char* raw = g_mime_object_get_header(object, "Content-Type");
    if (raw == nullptr) return false;
    const char* p = raw;
    const auto blanks = [&p] {
        while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
    };
    const auto token = [&p] {
        const char* begin = p;
        while (IsTokenChar(*p)) ++p;
        return p > begin;
    };
    blanks();
    if (!token()) return true;
    blanks();
    if (*p++ != '/') return true;
    blanks();
    return !token();
}

// The part's kind; *invalidType tells a Content-Type read as text/plain because it was invalid.
uint32_t LeafKind(GMimeObject* object, bool* invalidType) {
    *invalidType = false;
    GMimeContentType* type = g_mime_object_get_content_type(object);
    if (type == nullptr) return kBodyAttachment;
    if (g_mime_content_type_is_type(type, "text", "plain")) return nsEmlComponents::kBodyTextPlain;
    if (g_mime_content_type_is_type(type, "text", "html")) return nsEmlComponents::kBodyTextHtml;
    if (g_mime_content_type_is_type(type, "text", "*")) return kBodyOtherText;
    *invalidType = InvalidContentType(object, type);
    if (*invalidType) return nsEmlComponents::kBodyTextPlain;
    return kBodyAttachment;
}

// Decodes a leaf's content (transfer encoding, then charset) into part->text and, for a part
// with a number, notes the charset used and why in mail->charsets. The declared charset (or
// its alias) is used when the bytes fit it; otherwise an HTML part's <meta> charset, then
// detection; when that fails too, the declared charset if usable, else UTF-8 with
// Windows-1252 for the bytes that are not UTF-8 (U+FFFD when an unknown charset was named).
// DecodeText for content already decoded from its transfer encoding: `size` bytes at p, in the
// declared charset (null: none).
void DecodeBytes(const unsigned char* p, size_t size, const char* charset, bool html,
                 PartFields* part, size_t number, Context* context);

void DecodeText(GMimePart* leaf, bool html, bool invalidType, PartFields* part, size_t number,
                Context* context) {
    GMimeDataWrapper* content = g_mime_part_get_content(leaf);
    if (content == nullptr) return;
    g_autoptr(GMimeStream) decoded = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(content, decoded);
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(decoded));
    const char* charset = invalidType ? "us-ascii" : nullptr;
    GMimeContentType* type = g_mime_object_get_content_type(GMIME_OBJECT(leaf));
    if (charset == nullptr && type != nullptr)
        charset = g_mime_content_type_get_parameter(type, "charset");
    DecodeBytes(bytes->data, bytes->len, charset, html, part, number, context);
}

void DecodeBytes(const unsigned char* p, size_t size, const char* charset, bool html,
                 PartFields* part, size_t number, Context* context) {
    const bool labelled = charset != nullptr && charset[0] != '\0';

    std::string& text = part->text;
    const size_t start = text.size();
    std::string key, fallbackKey, why, fallbackWhy;
    std::string holds;  // the charset the text was last converted from
    bool alias = false;
    size_t misfit = 0;
    const auto note = [&](const std::string& used, const std::string& reason) {
        if (number != 0) {
            context->mail->charsets.push_back("part " + std::to_string(number) + ": " + used +
                                              " (" + reason + ")");
        }
    };
    if (labelled) {
        if (ResolveCharset(charset, &key, &alias)) {
            misfit = Convert(p, size, key, &text);
            holds = key;
            why = alias ? "alias of " + Printable(charset) : "declared";
            if (misfit == 0) return note(key, why);
            fallbackKey = key;
            fallbackWhy = why + "; " + std::to_string(misfit) + " bytes do not fit";
        } else {
            context->Defect("unknown charset " + Printable(charset) + " in part " +
                            std::to_string(number));
        }
    }
    if (html) {
        const std::string meta = MetaCharset(p, size);
        std::string metaKey;
        if (!meta.empty() && ResolveCharset(meta.c_str(), &metaKey, &alias) &&
            metaKey != fallbackKey) {
            text.resize(start);
            misfit = Convert(p, size, metaKey, &text);
            holds = metaKey;
            why = alias ? "meta, alias of " + Printable(meta.c_str()) : "meta";
            if (misfit == 0) return note(metaKey, why);
            if (fallbackKey.empty()) {
                fallbackKey = metaKey;
                fallbackWhy = why + "; " + std::to_string(misfit) + " bytes do not fit";
            }
        }
    }
    if (fallbackKey.empty()) {
        // Nothing usable named: the bytes as UTF-8, which is all that plain ASCII needs.
        text.resize(start);
        size_t sequences = 0;
        const size_t invalid = AppendUtf8(p, size, !labelled, &text, &sequences);
        if (!NotUtf8(invalid, sequences, size)) {
            return note(invalid == 0 || labelled ? "utf-8" : "utf-8/windows-1252",
                        labelled ? "unknown charset " + Printable(charset) : "default");
        }
    }
    if (DetectCharset(p, size, html, &key, &why)) {
        text.resize(start);
        Convert(p, size, key, &text);
        return note(key, why);
    }
    if (!fallbackKey.empty()) {
        if (holds != fallbackKey) {
            text.resize(start);
            Convert(p, size, fallbackKey, &text);
        }
        return note(fallbackKey, fallbackWhy);
    }
    // The text still holds the bytes read as UTF-8 above.
    note(labelled ? "utf-8" : "utf-8/windows-1252", "fallback");
}

// The caller's bytes as a read-only GMime stream, without copying them.
class InputStream {
  public:
    InputStream(const char* data, size_t size) {
        m_array = g_byte_array_new_take(reinterpret_cast<guint8*>(const_cast<char*>(data)), size);
        m_stream = g_mime_stream_mem_new_with_byte_array(m_array);
        g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(m_stream), FALSE);
    }
    InputStream(const InputStream&) = delete;
    InputStream& operator=(const InputStream&) = delete;
    // Every object that read from the stream must be gone by now.
    ~InputStream() {
        g_object_unref(m_stream);
        g_byte_array_free(m_array, FALSE);  // leaves the caller's bytes alone
    }
    GMimeStream* stream() const { return m_stream; }

  private:
    GByteArray* m_array;
    GMimeStream* m_stream;
};

// GMime stops building the tree at its nesting limit and leaves the text of the deeper parts in
// the prologue of the deepest multipart. Parses that text as the multipart's body with a fresh
// parser (which starts again at depth 0) and returns the new multipart (the caller unrefs it),
// or null. The prologue is dropped: the new tree holds its text.
GMimeObject* ParseDeeper(GMimeObject* object, Context* context) {
    GMimeMultipart* multipart = GMIME_MULTIPART(object);
    const char* prologue = g_mime_multipart_get_prologue(multipart);
    const char* boundary = g_mime_object_get_content_type_parameter(object, "boundary");
    if (prologue == nullptr || prologue[0] == '\0' || boundary == nullptr ||
        std::strpbrk(boundary, "\"\r\n") != nullptr) {
        return nullptr;
    }
    std::string text = "Content-Type: multipart/mixed; boundary=\"";
    text += boundary;
    text += "\"\r\n\r\n";
    text += prologue;
    g_mime_multipart_set_prologue(multipart, nullptr);
    g_autoptr(GMimeStream) stream = g_mime_stream_mem_new_with_buffer(text.data(), text.size());
    g_autoptr(GMimeParser) parser = g_mime_parser_new_with_stream(stream);
    return g_mime_parser_construct_part(parser, context->options);
}

// For a placeholder part, parses the piece it stands for into *tree (null when that fails; the
// caller unrefs it and keeps *input until then) and returns true; false for any other object.
bool OpenPiece(GMimeObject* object, Context* context, std::unique_ptr<InputStream>* input,
               GMimeObject** tree) {
    *tree = nullptr;
    if (context->pieces.empty() || !GMIME_IS_PART(object)) return false;
    const char* value = g_mime_object_get_header(object, PieceMarker().c_str());
    if (value == nullptr) return false;
    size_t index = 0;
    if (!PlaceholderIndex(value, context->pieces.size(), &index) || index == 0 ||
        context->pieceOpened[index] || context->pieces[index].empty()) {
        return true;
    }
    context->pieceOpened[index] = true;
    const std::string& text = context->pieces[index];
    *input = std::make_unique<InputStream>(text.data(), text.size());
    g_autoptr(GMimeParser) parser = g_mime_parser_new_with_stream((*input)->stream());
    *tree = g_mime_parser_construct_part(parser, context->options);
    return true;
}

// The header name of the placeholder parts that stand for runs of plain parts.
const std::string& PartRunMarker() {
    static const std::string marker = SecretName("X-Molvex-Parts-");
    return marker;
}

// The run of plain parts a placeholder part stands for (null for any other object).
std::vector<PlainPart>* PlainRun(GMimeObject* object, Context* context) {
    if (context->partRuns.empty() || !GMIME_IS_PART(object)) return nullptr;
    const char* value = g_mime_object_get_header(object, PartRunMarker().c_str());
    if (value == nullptr) return nullptr;
    size_t index = 0;
    return PlaceholderIndex(value, context->partRuns.size(), &index) ? &context->partRuns[index]
                                                                     : nullptr;
}

// Appends `root` and everything below it to mail->parts in document (depth-first) order. The
// walk keeps its own stack, puts the tree of each piece of a split message in its placeholder's
// place, and parses again what lies below GMime's depth limit, so no part is too deep to be
// seen. Past kMaxParts parts no more are listed, but the texts of the others
// still go into two closing parts, one text/plain and one HTML, so that their URLs are seen.
void WalkParts(GMimeObject* root, Context* context) {
    std::vector<PartFields>& parts = context->mail->parts;
    std::vector<GMimeObject*> pending{root};
    std::vector<GMimeObject*> deeper;  // owned: trees parsed from prologues
    // Trees parsed from pieces, with their inputs and the depth of `pending` under them: a tree
    // is released as soon as the walk is done with it, so that a message of many pieces never
    // holds all of their trees at once.
    struct OpenedPiece {
        GMimeObject* tree;
        std::unique_ptr<InputStream> input;
        size_t below;
    };
    std::vector<OpenedPiece> opened;
    auto release = [&opened](size_t depth) {
        while (!opened.empty() && opened.back().below >= depth) {
            g_object_unref(opened.back().tree);
            opened.pop_back();
        }
    };
    size_t overflow = 0;  // index of the closing text/plain part, then the HTML one
    // A new part record and its number; null (and 0) past the cap.
    const auto open = [&](size_t* number) -> PartFields* {
        if (parts.size() < kMaxParts) {
            parts.emplace_back();
            *number = parts.size();
            return &parts.back();
        }
        if (overflow == 0) {
            context->Defect("more than " + std::to_string(kMaxParts) +
                            " parts: the texts of the others are read as two parts");
            overflow = parts.size();
            parts.resize(overflow + 2);
            parts[overflow + 1].kind = nsEmlComponents::kBodyTextHtml;
        }
        return nullptr;
    };
    while (!pending.empty()) {
        release(pending.size());
        GMimeObject* object = pending.back();
        pending.pop_back();
        std::unique_ptr<InputStream> input;
        GMimeObject* piece = nullptr;
        if (OpenPiece(object, context, &input, &piece)) {
            // The piece's tree takes the placeholder's place; the tree the placeholder came from
            // goes first when the placeholder was all that was left of it.
            if (piece != nullptr) {
                release(pending.size());
                opened.push_back({piece, std::move(input), pending.size()});
                pending.push_back(piece);
            }
            continue;
        }
        if (std::vector<PlainPart>* run = PlainRun(object, context)) {
            for (PlainPart& plain : *run) {
                size_t number = 0;
                PartFields* part = open(&number);
                if (part != nullptr) {
                    part->kind = plain.html ? nsEmlComponents::kBodyTextHtml
                                            : nsEmlComponents::kBodyTextPlain;
                    part->headers.others = std::move(plain.fields);
                    part->headers.hasContentType = true;
                    part->headers.mediaType = plain.html ? "text/html" : "text/plain";
                    if (plain.hasCharset) part->headers.contentCharset = plain.charset;
                } else {
                    part = &parts[overflow + (plain.html ? 1 : 0)];
                    part->text.push_back('\n');
                }
                const auto* content = reinterpret_cast<const unsigned char*>(
                    context->partText.data() + plain.contentBegin);
                DecodeBytes(content, plain.contentSize,
                            plain.hasCharset ? plain.charset.c_str() : nullptr, plain.html, part,
                            number, context);
            }
            continue;
        }
        size_t number = 0;  // parts count from 1 in defect lines
        PartFields* part = open(&number);
        if (part != nullptr) {
            CollectHeaders(object, &part->headers, context);
            SetMediaType(object, &part->headers);
        }

        if (GMIME_IS_MULTIPART(object)) {
            GMimeMultipart* multipart = GMIME_MULTIPART(object);
            if (part != nullptr) part->kind = kBodyMultipart;
            // The parser clears write_end_boundary when the closing boundary never came.
            if (!multipart->write_end_boundary && !context->boundaryReported &&
                g_mime_object_get_content_type_parameter(object, "boundary") != nullptr) {
                context->Defect("no closing boundary in part " + std::to_string(number));
                context->boundaryReported = true;
            }
            int count = g_mime_multipart_get_count(multipart);
            const char* prologue = g_mime_multipart_get_prologue(multipart);
            if (count == 0 && context->nestingOverflow && prologue != nullptr) {
                // Each parse costs GMime time in proportion to its depth limit times the lines
                // left: after a few, and past the cap, the rest is read as plain text.
                GMimeObject* below = nullptr;
                if (part != nullptr && deeper.size() < kMaxDeeperParses)
                    below = ParseDeeper(object, context);
                if (below != nullptr) {
                    deeper.push_back(below);
                    multipart = GMIME_MULTIPART(below);
                    count = g_mime_multipart_get_count(multipart);
                } else {
                    if (part == nullptr) {
                        part = &parts[overflow];
                        part->text.push_back('\n');
                    } else {
                        part->kind = nsEmlComponents::kBodyTextPlain;
                        context->Defect("parts nested too deep in part " + std::to_string(number) +
                                        ", read as plain text");
                    }
                    AppendUtf8(reinterpret_cast<const unsigned char*>(prologue),
                               std::strlen(prologue), true, &part->text);
                }
            }
            // Children go on the stack last first, so that the first comes off next.
            while (count-- > 0) pending.push_back(g_mime_multipart_get_part(multipart, count));
        } else if (GMIME_IS_MESSAGE_PART(object)) {
            if (part != nullptr) part->kind = kBodyMessage;
            GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
            if (inner != nullptr) {
                if (part != nullptr) CollectHeaders(GMIME_OBJECT(inner), &part->headers, context);
                if (GMimeObject* body = g_mime_message_get_mime_part(inner))
                    pending.push_back(body);
            }
        } else if (GMIME_IS_PART(object)) {
            bool invalidType = false;
            const uint32_t kind = LeafKind(object, &invalidType);
            if (part != nullptr) part->kind = kind;
            if (invalidType) {
                context->Defect("invalid Content-Type in part " + std::to_string(number) +
                                ": read as text/plain in US-ASCII");
            }
            const bool html = kind == nsEmlComponents::kBodyTextHtml;
            if (kind == nsEmlComponents::kBodyTextPlain || html || kind == kBodyOtherText) {
                if (part == nullptr) {
                    part = &parts[overflow + (html ? 1 : 0)];
                    part->text.push_back('\n');
                }
                DecodeText(GMIME_PART(object), html, invalidType, part, number, context);
            }
        } else if (part != nullptr) {
            part->kind = kBodyAttachment;
        }
    }
    release(0);
    for (GMimeObject* tree : deeper) g_object_unref(tree);
}

// ---- Input ------------------------------------------------------------------------------------

bool IsNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

// True for a header name as real messages write them: two or more letters, digits, '-', '_'.
// Random bytes rarely form one, so binary garbage is not taken for a header.
bool IsPlainName(const char* name) {
    size_t i = 0;
    while (name[i] != '\0' && IsNameChar(name[i])) ++i;
    return i >= 2 && name[i] == '\0';
}

// True when the line at p starts like a header field: a plain name, optional blanks, ':'.
bool LooksLikeHeader(const char* p, size_t left) {
    size_t i = 0;
    while (i < left && i < 256 && IsNameChar(p[i])) ++i;
    if (i < 2) return false;
    while (i < left && (p[i] == ' ' || p[i] == '\t')) ++i;
    return i < left && p[i] == ':';
}

// True when GMime found a header block worth the name: no header at all (the message began
// with a blank line) or at least one header with a plain name.
bool HasHeaderBlock(GMimeMessage* message) {
    GMimeObject* objects[2] = {GMIME_OBJECT(message), g_mime_message_get_mime_part(message)};
    int headers = 0;
    for (GMimeObject* object : objects) {
        GMimeHeaderList* list = object ? g_mime_object_get_header_list(object) : nullptr;
        const int count = list ? g_mime_header_list_get_count(list) : 0;
        for (int i = 0; i < count; ++i) {
            const char* name = g_mime_header_get_name(g_mime_header_list_get_header_at(list, i));
            if (name != nullptr && IsPlainName(name)) return true;
        }
        headers += count;
    }
    return headers == 0;
}

// Offset of the first line after the first one that looks like a header field, or `size`.
size_t FindHeaderLine(const char* data, size_t size) {
    size_t position = 0;
    for (;;) {
        const void* newline = std::memchr(data + position, '\n', size - position);
        if (newline == nullptr) return size;
        position = static_cast<const char*>(newline) - data + 1;
        if (LooksLikeHeader(data + position, size - position)) return position;
    }
}

// Parses one message from the bytes; null when GMime finds none.
GMimeMessage* ParseBytes(const InputStream& input, GMimeParserOptions* options, bool* nulInHeaders,
                         const char* data) {
    g_autoptr(GMimeParser) parser = g_mime_parser_new_with_stream(input.stream());
    GMimeMessage* message = g_mime_parser_construct_message(parser, options);
    if (message != nullptr) {
        const gint64 end = g_mime_parser_get_headers_end(parser);
        *nulInHeaders = end > 0 && std::memchr(data, 0, static_cast<size_t>(end)) != nullptr;
    }
    return message;
}

bool Parse(const char* data, size_t size, ParsedMail* mail, std::string* error);

// One message with every kind of object the parser makes (multiparts, an enclosed message,
// encoded bodies, address groups, encoded words, a charset iconv converts).
const char kWarmUpMessage[] =
    "From: A <a@a.example>\r\nTo: g: b@b.example, c@c.example;\r\n"
    "Subject: =?utf-8?B?w6k=?= =?iso-8859-2?Q?=E9?=\r\nMIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"o\"\r\n\r\n"
    "--o\r\nContent-Type: multipart/alternative; boundary=\"i\"\r\n\r\n"
    "--i\r\nContent-Type: text/plain; charset=utf-16le\r\n"
    "Content-Transfer-Encoding: base64\r\n\r\naAB0AHQAcAA=\r\n"
    "--i\r\nContent-Type: text/html; charset=utf-8\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\n\r\n<p>=C3=A9</p>\r\n--i--\r\n"
    "--o\r\nContent-Type: message/rfc822\r\n\r\nFrom: d@d.example\r\nSubject: x\r\n\r\n"
    "text\r\n--o\r\nContent-Type: application/octet-stream\r\n"
    "Content-Disposition: attachment; filename=\"a.bin\"\r\n\r\nAA==\r\n--o--\r\n";

}  // namespace

void SetGMimeBypass(bool enabled) {
    g_bypass.store(enabled, std::memory_order_relaxed);
}

bool InitMailParser() {
    std::call_once(g_initOnce, [] {
        g_mime_init();
        // GObject sets a class up on its first use, and that set-up races with the type checks
        // of other threads: parse one message here so that every class is ready before any
        // scanning thread starts.
        ParsedMail mail;
        g_initialised = Parse(kWarmUpMessage, sizeof kWarmUpMessage - 1, &mail, nullptr);
    });
    return g_initialised;
}

bool ParseMail(const char* data, size_t size, ParsedMail* mail, std::string* error) {
    if (!InitMailParser()) {
        *mail = ParsedMail();
        if (error) *error = "GMime could not be initialised";
        return false;
    }
    return Parse(data, size, mail, error);
}

namespace {

// ParseMail without the set-up.
bool Parse(const char* data, size_t size, ParsedMail* mail, std::string* error) {
    *mail = ParsedMail();
    if (data == nullptr || size == 0) {
        if (error) *error = "empty input";
        return false;
    }
    Context context;
    context.mail = mail;
    if (size > kMaxInput) {
        size = kMaxInput;
        context.Defect("message cut to 4 GiB");
    }

    static const char* kFallbackCharsets[] = {"utf-8", "windows-1252", nullptr};
    // Released in reverse order: the message, then the input it was read from, then the options.
    g_autoptr(GMimeParserOptions) options = g_mime_parser_options_new();
    context.options = options;
    g_mime_parser_options_set_fallback_charsets(context.options, kFallbackCharsets);
    g_mime_parser_options_set_warning_callback(context.options, OnParserWarning, &context);

    // A deeply nested message is parsed in pieces (GMime's cost per line grows with the depth).
    // Both that and many parts take many lines that start with "--".
    const LineCounts lines = CountLines(std::string_view(data, size), 2 * kMinTakenFields);
    if (lines.dashLines >= kPieceDepth &&
        SplitDeepParts(std::string_view(data, size), PieceMarker(), &context.pieces)) {
        context.pieceOpened.assign(context.pieces.size(), false);
        data = context.pieces[0].data();
        size = context.pieces[0].size();
    }

    // Many plain parts and many plain header fields go round GMime (its cost per part and per
    // field is many times its cost per byte).
    std::string partsSlim;
    const bool bypass = g_bypass.load(std::memory_order_relaxed);
    if (bypass && context.pieces.empty() &&
        (lines.dashLines >= kMinPlainParts || lines.fieldLines >= 2 * kMinTakenFields) &&
        CollapsePlainParts(std::string_view(data, size), PartRunMarker(), FieldRunMarker(),
                           kMaxOtherFields, &partsSlim, &context.partRuns, &context.headerRuns)) {
        context.partText = std::string_view(data, size);
        data = partsSlim.data();
        size = partsSlim.size();
    }
    std::string slim;
    const size_t partFieldRuns = context.headerRuns.size();
    if (bypass && CollapseHeaderRuns(std::string_view(data, size), FieldRunMarker(),
                                     kMaxOtherFields, &slim, &context.headerRuns)) {
        for (size_t i = partFieldRuns; i < context.headerRuns.size(); ++i)
            context.headerRunFields += context.headerRuns[i].fields.size();
        data = slim.data();
        size = slim.size();
    }

    for (const std::vector<PlainPart>& run : context.partRuns) mail->partsRoundGMime += run.size();
    for (const TakenRun& run : context.headerRuns) mail->fieldsRoundGMime += run.fields.size();

    bool nulInHeaders = false;
    auto input = std::make_unique<InputStream>(data, size);
    g_autoptr(GMimeMessage) message = ParseBytes(*input, context.options, &nulInHeaders, data);
    if (message != nullptr && !HasHeaderBlock(message)) g_clear_object(&message);
    if (message == nullptr) {
        // Junk before the headers (a stray first line): start again at the first header line.
        const size_t skip = FindHeaderLine(data, size);
        if (skip < size) {
            context.Defect("skipped " + std::to_string(skip) + " bytes before the headers");
            input = std::make_unique<InputStream>(data + skip, size - skip);
            message = ParseBytes(*input, context.options, &nulInHeaders, data + skip);
        }
    }
    if (message == nullptr) {
        if (error) *error = "no header line found";
        return false;
    }

    GMimeObject* body = g_mime_message_get_mime_part(message);
    CollectHeaders(GMIME_OBJECT(message), &mail->root, &context);
    if (body != nullptr) {
        CollectHeaders(body, &mail->root, &context);
        SetMediaType(body, &mail->root);
    }
    if (!mail->root.hasSubject && !mail->root.hasContentType && mail->root.addresses.empty() &&
        mail->root.others.empty()) {
        context.Defect("no headers");
    }
    if (nulInHeaders) context.Defect("NUL byte in the headers");
    if (body != nullptr) WalkParts(body, &context);

    for (const auto& entry : mail->root.addresses) {
        if (entry.first != "From" || entry.second.empty()) continue;
        const std::string& address = entry.second.front();
        const size_t at = address.rfind('@');
        if (at != std::string::npos) {
            mail->senderDomain = address.substr(at + 1);
            ascommon::AsciiLowerInPlace(mail->senderDomain);
        }
        break;
    }
    return true;
}

}  // namespace

}  // namespace host
