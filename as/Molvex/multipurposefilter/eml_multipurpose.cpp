// CMultiFilter: one cheap test per verb; each writes its verdict into the message blackbox.
#include "as/Molvex/multipurposefilter/eml_multipurpose.h"

#include <strings.h>

#include <cstring>
#include <new>
#include <string_view>

#include "common/asexception.h"
#include "common/trace.h"
#include "glyphkit/unicodeutils.h"

namespace nsEmlModules {

using nsEmlComponents::CBBFacilitator;
using nsEmlComponents::CContentTypeHeader;
using nsEmlComponents::CHeader;
using nsEmlComponents::CSubjectHeader;
using nsEmlComponents::THeadersMap;
using nsEmlComponents::TPartsArray;

namespace {

const char kGtube[] = "XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34X";

const char* const kAsianCharsets[] = {
    "BIG5",        "BIG5-HKSCS", "GB2312", "GBK",         "GB18030",     "HZ",
    "ISO-2022-CN", "EUC-JP",     "EUC-TW", "ISO-2002-JP", "ISO-2022-JP", "SHIFT-JIS",
    "SHIFT_JIS",   "EUC-KR",     "JHC",    "JOHAB",       "ISO-2022-KR"};
const char* const kJapaneseCharsets[] = {"EUC-JP", "ISO-2002-JP", "ISO-2022-JP", "SHIFT-JIS",
                                         "SHIFT_JIS"};
const char* const kCyrillicCharsets[] = {"KOI-8",      "WINDOWS-1251", "IBM-855",    "ISO-8859-5",
                                         "ISO-IR-111", "KOI8-R",       "MACCYRILIC", "CP-866",
                                         "KOI8-U",     "MACUKRAINIAN"};

template <size_t N>
bool InList(const char* name, const char* const (&list)[N]) {
    for (const char* entry : list) {
        if (strcasecmp(name, entry) == 0) return true;
    }
    return false;
}

// The charset test of one name under the session's switches.
bool CharsetHits(const char* name, const MultiFilterSessionData& data, bool* asianHit) {
    if (name == nullptr) return false;
    if (data.excludeJapanese && InList(name, kJapaneseCharsets)) return false;
    if (data.asianCharsets && InList(name, kAsianCharsets)) {
        *asianHit = true;
        return true;
    }
    return data.cyrillicCharsets && InList(name, kCyrillicCharsets);
}

// Plain byte search; the string view's find skips ahead on the first byte (memchr), which keeps
// GTUBE fast on big parts.
bool Contains(const char* text, const char* needle, size_t needleLength) {
    return std::string_view(text).find(std::string_view(needle, needleLength)) !=
           std::string_view::npos;
}

}  // namespace

CMultiFilter::CMultiFilter(const ascommon::sstring& name) {
    SetName(name);
}

CMultiFilter::~CMultiFilter() {
    AS_TRACE(4, "Multipurpose Filter destructor");
}

bool CMultiFilter::IsEnabled(uint64_t session) {
    return IsEnabledByKey(session, u"/eml/filter/multi/Enabled");
}

// Nothing reads the shared data; it exists so that the module counts as ready.
void* CMultiFilter::CreateSharedData() {
    return new char(0);
}

void CMultiFilter::DestroySharedData(void* data) {
    delete static_cast<char*>(data);
}

int32_t CMultiFilter::ApplySharedSettings() {
    return 0;
}

void* CMultiFilter::CreateSessionData() {
    return new (std::nothrow) MultiFilterSessionData();
}

// The session data is plain; a null pointer goes to the free hook as it is.
void CMultiFilter::DestroySessionData(void* data) {
    ::operator delete(data);
}

int32_t CMultiFilter::ApplySessionSettings(uint64_t session) {
    return GuardSessionSettings(AS_HERE, [&] {
        auto* data = static_cast<MultiFilterSessionData*>(GetSessionData(session));
        if (data == nullptr) AS_THROW(ASInternalException, "No session data struct!");
        Settings* s = m_settings;
        data->sexuallyExplicit = s->GetInt(u"/eml/filter/multi/SexuallyExplicit", 0, session) != 0;
        data->asianCharsets = s->GetInt(u"/eml/filter/multi/AsianCharsets", 0, session) != 0;
        data->cyrillicCharsets = s->GetInt(u"/eml/filter/multi/CyrilicCharsets", 0, session) != 0;
        data->excludeJapanese =
            s->GetInt(u"/eml/filter/multi/charset/AsianExcludeJapanese", 0, session) != 0;
        data->japaneseMinPercent =
            s->GetInt(u"/eml/filter/multi/charset/JapaneseMinPercent", 20, session);
        data->allowedAsianPercent =
            s->GetInt(u"/eml/filter/multi/PercentOfAllowedAsianChars", 100, session);
        data->allowedCyrillicPercent =
            s->GetInt(u"/eml/filter/multi/PercentOfAllowedCyrillicChars", 100, session);
        data->maxFileSize = s->GetInt(u"/eml/filter/multi/MaxFileSize", 0, session);
    });
}

int32_t CMultiFilter::GetStatistics(uint64_t, BlackBox*) {
    return 0;
}

int32_t CMultiFilter::ReservedOperation() {
    return 0;
}

uint8_t CMultiFilter::GetVerbMode(uint32_t) {
    return 1;
}

int32_t CMultiFilter::ProcessCommand(uint64_t, uint32_t, BlackBox*) {
    return 0;
}

int32_t CMultiFilter::ProcessEntity(uint64_t session, ASEntity* entity, uint32_t verb) {
    return GuardEntity([&] {
        AS_TRACE(4, "EML MultiPurpose Filter processing item...");
        AS_TRACE(4, "EML Muiltipurpose: creating the bb facilitator...");
        if (entity == nullptr || entity->message == nullptr) {
            AS_THROW(ASException, "Problems creating the facilitator");
        }
        BlackBox* out = entity->message;
        CBBFacilitator message(out);
        if (message.Initialize() != 0) AS_THROW(ASException, "Problems creating the facilitator");
        auto* data = static_cast<MultiFilterSessionData*>(GetSessionData(session));
        if (data == nullptr) AS_THROW(ASInternalException, "No data struct for current session");
        switch (verb) {
            case asbb::kTestGtube:
                AS_TRACE(4, "Running GTUBE test");
                RunGtube(message, out);
                break;
            case asbb::kTestSexuallyExplicit:
                AS_TRACE(4, "Runnig sexually explicit test");
                RunSexuallyExplicit(message, *data, out);
                break;
            case asbb::kTestCharsets:
                AS_TRACE(4, "Runnnig charset detection");
                RunCharsets(message, *data, out);
                break;
            case asbb::kTestOversized:
                AS_TRACE(4, "Running the detection of huge files");
                RunOversized(message, *data, out);
                break;
            case asbb::kTestAsianShare:
                AS_TRACE(4, "Running asian character detection");
                RunAsianShare(*data, out);
                break;
            case asbb::kTestCyrillicShare:
                AS_TRACE(4, "Running cyrillic character detection");
                RunCyrillicShare(*data, out);
                break;
            default:
                AS_TRACE(1, "MultiFilter invalid verb");
                break;
        }
    });
}

void CMultiFilter::RunGtube(CBBFacilitator& message, BlackBox* out) {
    const size_t length = sizeof(kGtube) - 1;
    const nsEmlComponents::TTextArray* texts = message.GetTextPlainTexts();
    for (uint64_t i = 0; i < texts->size(); ++i) {
        const char* text = texts->data()[i];
        if (text != nullptr && Contains(text, kGtube, length)) {
            out->Set(asbb::kGtube, asbb::kVerdict, 0, 1);
            AS_TRACE(4, "Hit the GTUBE on a text part!");
            return;
        }
    }
    texts = message.GetHtmlTexts();
    for (uint64_t i = 0; i < texts->size(); ++i) {
        const char* text = texts->data()[i];
        if (text != nullptr && Contains(text, kGtube, length)) {
            out->Set(asbb::kGtube, asbb::kVerdict, 0, 1);
            AS_TRACE(4, "Hit the GTUBE in a html part!");
            return;
        }
    }
    out->Set(asbb::kGtube, asbb::kVerdict, 0, 0);
}

// The marker counts only at the very start of the subject (offset 0 or 1); only the first
// match of the first phrase found is looked at.
void CMultiFilter::RunSexuallyExplicit(CBBFacilitator& message, const MultiFilterSessionData& data,
                                       BlackBox* out) {
    if (!data.sexuallyExplicit) return;
    uint64_t value = 0;
    const ascommon::sstring* subject = message.GetSubject();
    if (subject != nullptr && subject->c_str() != nullptr) {
        const char* text = subject->c_str();
        const char* match = ascommon::stristr(text, "sexually-explicit");
        if (match == nullptr) match = ascommon::stristr(text, "sexually explicit");
        if (match != nullptr && match - text <= 1) value = 1;
    }
    if (out->Set(asbb::kSexuallyExplicit, asbb::kVerdict, 0, value) != 0) {
        AS_THROW(ASMemException, "Allocation error!");
    }
}

void CMultiFilter::RunOversized(CBBFacilitator& message, const MultiFilterSessionData& data,
                                BlackBox* out) {
    if (data.maxFileSize < 1) return;
    nsEmlComponents::CPartsArray* tree = message.GetPartsTree();
    if (tree == nullptr) return;
    const nsEmlComponents::CPart* root = tree->GetRoot();
    if (root == nullptr || root->m_source == nullptr) return;
    uint64_t size = 0;
    root->m_source->GetSize(&size);
    const uint64_t verdict = size > static_cast<uint64_t>(data.maxFileSize) ? 1 : 0;
    if (out->Set(asbb::kOversized, asbb::kVerdict, 0, verdict) != 0) {
        AS_THROW(ASMemException, "Memory problems when inseting into bbext");
    }
}

bool CMultiFilter::HeadersDeclareCharset(THeadersMap* headers, const MultiFilterSessionData& data,
                                         bool* asianHit) {
    if (headers == nullptr) return false;
    if (CHeader** found = headers->lookup("CONTENT-TYPE")) {
        AS_TRACE(4, "checking Content-Type header");
        if (*found == nullptr) AS_THROW(ASInternalException, "Dynamic conversion failed");
        const char* charset = static_cast<CContentTypeHeader*>(*found)->m_charset;
        AS_TRACE(4, "Content-Type: charset: %s", charset ? charset : "(null)");
        if (CharsetHits(charset, data, asianHit)) {
            AS_TRACE(4, "Content-Type: hit %s charset", *asianHit ? "asian" : "cyrilic");
            return true;
        }
    }
    if (CHeader** found = headers->lookup("SUBJECT")) {
        AS_TRACE(4, "checking Subject header");
        if (*found == nullptr) AS_THROW(ASInternalException, "Dynamic conversion failed");
        const char* charset = static_cast<CSubjectHeader*>(*found)->m_charset;
        AS_TRACE(4, "Subject: charset: %s", charset ? charset : "(null)");
        if (CharsetHits(charset, data, asianHit)) {
            AS_TRACE(4, "Subject: hit %s charset", *asianHit ? "asian" : "cyrilic");
            return true;
        }
    }
    return false;
}

void CMultiFilter::RunCharsets(CBBFacilitator& message, const MultiFilterSessionData& data,
                               BlackBox* out) {
    AS_TRACE(4, "running charset detection");
    if (!data.asianCharsets && !data.cyrillicCharsets) return;
    bool asianHit = false;
    AS_TRACE(4, "checking root part headers");
    bool hit = HeadersDeclareCharset(message.GetHeadersMap(), data, &asianHit);
    if (!hit) {
        nsEmlComponents::CPartsArray* tree = message.GetPartsTree();
        if (tree == nullptr) return;
        TPartsArray* parts = tree->GetHtmlParts();
        if (parts == nullptr) AS_THROW(ASMemException, "Memory problems");
        for (uint64_t i = 0; !hit && i < parts->size(); ++i) {
            AS_TRACE(4, "checking headers for HTML part %d of %d", static_cast<int>(i + 1),
                     static_cast<int>(parts->size()));
            hit = HeadersDeclareCharset(parts->at(i)->m_headers, data, &asianHit);
        }
        if (!hit) {
            parts = tree->GetTextPlainParts();
            if (parts == nullptr) AS_THROW(ASMemException, "Memory problems");
            for (uint64_t i = 0; !hit && i < parts->size(); ++i) {
                AS_TRACE(4, "checking headers for text part %d of %d", static_cast<int>(i + 1),
                         static_cast<int>(parts->size()));
                hit = HeadersDeclareCharset(parts->at(i)->m_headers, data, &asianHit);
            }
        }
    }
    out->Set(asbb::kCharsetHit, asbb::kVerdict, 0, hit ? 1 : 0);
    out->Set(asbb::kAsianCharset, asbb::kVerdict, 0, asianHit ? 1 : 0);
}

namespace {
// The statistics document of the message, or null (traced) when the host gave none.
const ascommon::sstring* Statistics(BlackBox* out) {
    auto* document = static_cast<const ascommon::sstring*>(
        out->Get(asbb::kCharStatistics, asbb::kText, asbb::kValue));
    if (document == nullptr) AS_TRACE(4, "Error: Cannot get character statistics");
    return document;
}
}  // namespace

void CMultiFilter::RunAsianShare(const MultiFilterSessionData& data, BlackBox* out) {
    uint64_t verdict = 0;
    const ascommon::sstring* document = data.asianCharsets ? Statistics(out) : nullptr;
    if (document != nullptr) {
        ascommon::StringInfoParser parser;
        parser.initialize(*document);
        const int32_t total = parser.GetTotalWithoutOther();
        int64_t asian = 0;
        bool valid = total > 0;
        for (const char* group : {"CentralAsian", "SouthAsian", "SoutheastAsian", "EastAsian"}) {
            const int32_t count = valid ? parser.GetGroupCount(group) : 0;
            if (count < 0) valid = false;
            asian += count;
        }
        int64_t japanese = 0;
        if (valid && data.excludeJapanese) {
            for (const char* script : {"Hiragana", "Katakana"}) {
                const int32_t count = valid ? parser.GetScriptCount(script) : 0;
                if (count < 0) valid = false;
                japanese += count;
            }
        }
        if (valid) {
            const double percent = static_cast<double>(asian) / total * 100.0;
            AS_TRACE(4, "AsianCharDetection: Total %d; Asian %d; Japanese %d; Percent %d", total,
                     static_cast<int>(asian), static_cast<int>(japanese),
                     static_cast<int>(percent));
            verdict = percent > data.allowedAsianPercent ? 1 : 0;
            if (data.excludeJapanese && verdict == 1 &&
                static_cast<double>(japanese) / static_cast<double>(asian) * 100.0 >
                    data.japaneseMinPercent) {
                verdict = 0;
            }
        }
    }
    out->Set(asbb::kAsianShare, asbb::kVerdict, 0, verdict);
}

void CMultiFilter::RunCyrillicShare(const MultiFilterSessionData& data, BlackBox* out) {
    uint64_t verdict = 0;
    const ascommon::sstring* document = data.cyrillicCharsets ? Statistics(out) : nullptr;
    if (document != nullptr) {
        ascommon::StringInfoParser parser;
        parser.initialize(*document);
        const int32_t total = parser.GetTotalWithoutOther();
        const int32_t cyrillic = total > 0 ? parser.GetScriptCount("Cyrillic") : -1;
        if (cyrillic >= 0) {
            const double percent = static_cast<double>(cyrillic) / total * 100.0;
            AS_TRACE(4, "CyrillicCharDetection: Total %d; Cyrilic %d; Percent %d", total, cyrillic,
                     static_cast<int>(percent));
            verdict = percent > data.allowedCyrillicPercent ? 1 : 0;
        }
    }
    out->Set(asbb::kCyrillicShare, asbb::kVerdict, 0, verdict);
}

}  // namespace nsEmlModules
