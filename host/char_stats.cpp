// CharStats: script counting over UTF-8 with a per-code-point table for the BMP, built once from
// ICU, and the grouping of ICU's script codes into the filter's twelve script groups.
#include "host/char_stats.h"

#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/utf8.h>

#include <array>
#include <cassert>
#include <cstddef>
#include <cstring>
#include <mutex>

namespace host {

namespace {

enum Group : uint8_t {
    kNull = 0,
    kEuropean,
    kPhoneticSymbols,
    kAfrican,
    kMiddleEastern,
    kCentralAsian,
    kSouthAsian,
    kSoutheastAsian,
    kPhilippine,
    kEastAsian,
    kAmerican,
    kOther,
};

const char* const kGroupNames[kScriptGroupCount] = {
    "NULL",       "European",       "PhoneticSymbols", "African",   "MiddleEastern", "CentralAsian",
    "SouthAsian", "SoutheastAsian", "Philippine",      "EastAsian", "American",      "Other"};

// ---- Script groups --------------------------------------------------------------------------
// Every script code of ICU 72 is listed in exactly one group (checked at compile time below).
// The groups are regions, as in the regional index of the Unicode code charts; a script goes to
// the region where its languages are (or were) written, historic scripts included.

// Europe and the Caucasus: the Latin (IPA and fullwidth Latin included), Greek and Cyrillic
// families with their variants, Armenian, Georgian, Caucasian Albanian, the old alphabets of
// Europe and the Greek-derived alphabets of Anatolia, and the Aegean scripts.
constexpr UScriptCode kEuropeanScripts[] = {
    USCRIPT_LATIN,      USCRIPT_LATIN_FRAKTUR, USCRIPT_LATIN_GAELIC,
    USCRIPT_GREEK,      USCRIPT_CYRILLIC,      USCRIPT_OLD_CHURCH_SLAVONIC_CYRILLIC,
    USCRIPT_GLAGOLITIC, USCRIPT_OLD_PERMIC,    USCRIPT_ARMENIAN,
    USCRIPT_GEORGIAN,   USCRIPT_KHUTSURI,      USCRIPT_CAUCASIAN_ALBANIAN,
    USCRIPT_GOTHIC,     USCRIPT_RUNIC,         USCRIPT_OGHAM,
    USCRIPT_OLD_ITALIC, USCRIPT_OLD_HUNGARIAN, USCRIPT_ELBASAN,
    USCRIPT_VITHKUQI,   USCRIPT_CARIAN,        USCRIPT_LYCIAN,
    USCRIPT_LYDIAN,     USCRIPT_LINEAR_A,      USCRIPT_LINEAR_B,
    USCRIPT_CYPRIOT,    USCRIPT_CYPRO_MINOAN,
};

// Notations of speech rather than the writing of one region: the constructed phonemic
// alphabets for English, phonetic and shorthand notations, and the notation of signed
// languages. (The IPA itself is script Latin.)
constexpr UScriptCode kPhoneticScripts[] = {
    USCRIPT_SHAVIAN,  USCRIPT_DESERET,      USCRIPT_VISIBLE_SPEECH,
    USCRIPT_DUPLOYAN, USCRIPT_SIGN_WRITING,
};

// Africa: Ethiopic, Tifinagh, the West African scripts (N'Ko, Vai, Bamum, Adlam, ...), Somali
// Osmanya, and Egypt and Nubia from the hieroglyphs to Coptic and Meroitic.
constexpr UScriptCode kAfricanScripts[] = {
    USCRIPT_ETHIOPIC,
    USCRIPT_TIFINAGH,
    USCRIPT_NKO,
    USCRIPT_VAI,
    USCRIPT_BAMUM,
    USCRIPT_BASSA_VAH,
    USCRIPT_KPELLE,
    USCRIPT_LOMA,
    USCRIPT_MENDE,
    USCRIPT_ADLAM,
    USCRIPT_MEDEFAIDRIN,
    USCRIPT_OSMANYA,
    USCRIPT_EGYPTIAN_HIEROGLYPHS,
    USCRIPT_HIERATIC_EGYPTIAN,
    USCRIPT_DEMOTIC_EGYPTIAN,
    USCRIPT_COPTIC,
    USCRIPT_MEROITIC_HIEROGLYPHS,
    USCRIPT_MEROITIC_CURSIVE,
};

// The Middle East: Arabic, Hebrew, Syriac (all its variants) and the other Semitic scripts,
// Old and Middle Persian, cuneiform, Ugaritic and the Anatolian hieroglyphs.
constexpr UScriptCode kMiddleEasternScripts[] = {
    USCRIPT_ARABIC,
    USCRIPT_HEBREW,
    USCRIPT_SYRIAC,
    USCRIPT_ESTRANGELO_SYRIAC,
    USCRIPT_WESTERN_SYRIAC,
    USCRIPT_EASTERN_SYRIAC,
    USCRIPT_SAMARITAN,
    USCRIPT_MANDAIC,
    USCRIPT_PHOENICIAN,
    USCRIPT_IMPERIAL_ARAMAIC,
    USCRIPT_NABATAEAN,
    USCRIPT_PALMYRENE,
    USCRIPT_HATRAN,
    USCRIPT_ELYMAIC,
    USCRIPT_OLD_SOUTH_ARABIAN,
    USCRIPT_OLD_NORTH_ARABIAN,
    USCRIPT_UGARITIC,
    USCRIPT_CUNEIFORM,
    USCRIPT_OLD_PERSIAN,
    USCRIPT_AVESTAN,
    USCRIPT_INSCRIPTIONAL_PAHLAVI,
    USCRIPT_PSALTER_PAHLAVI,
    USCRIPT_BOOK_PAHLAVI,
    USCRIPT_INSCRIPTIONAL_PARTHIAN,
    USCRIPT_MANICHAEAN,
    USCRIPT_YEZIDI,
    USCRIPT_ANATOLIAN_HIEROGLYPHS,
};

// Central Asia, Tibet and Mongolia: Mongolian and its square scripts, Tibetan and Marchen,
// Phags-pa, Old Turkic, Old Uyghur, Sogdian and Chorasmian.
constexpr UScriptCode kCentralAsianScripts[] = {
    USCRIPT_MONGOLIAN, USCRIPT_SOYOMBO,     USCRIPT_ZANABAZAR_SQUARE, USCRIPT_TIBETAN,
    USCRIPT_MARCHEN,   USCRIPT_PHAGS_PA,    USCRIPT_ORKHON,           USCRIPT_OLD_UYGHUR,
    USCRIPT_SOGDIAN,   USCRIPT_OLD_SOGDIAN, USCRIPT_CHORASMIAN,
};

// South Asia: the Brahmic scripts of India, Nepal, Bangladesh and Sri Lanka (Devanagari,
// Bengali, Tamil, Sinhala, ...) with their historic forms, Kharoshthi, the Indus script, the
// Maldivian Thaana and Dives Akuru, and the modern scripts of India's minority languages
// (Ol Chiki, Wancho, Gondi, ...).
constexpr UScriptCode kSouthAsianScripts[] = {
    USCRIPT_DEVANAGARI,    USCRIPT_BENGALI,     USCRIPT_GURMUKHI,
    USCRIPT_GUJARATI,      USCRIPT_ORIYA,       USCRIPT_TAMIL,
    USCRIPT_TELUGU,        USCRIPT_KANNADA,     USCRIPT_MALAYALAM,
    USCRIPT_SINHALA,       USCRIPT_THAANA,      USCRIPT_DIVES_AKURU,
    USCRIPT_BRAHMI,        USCRIPT_KHAROSHTHI,  USCRIPT_HARAPPAN_INDUS,
    USCRIPT_GRANTHA,       USCRIPT_SIDDHAM,     USCRIPT_SHARADA,
    USCRIPT_TAKRI,         USCRIPT_DOGRA,       USCRIPT_KHOJKI,
    USCRIPT_KHUDAWADI,     USCRIPT_MAHAJANI,    USCRIPT_MULTANI,
    USCRIPT_MODI,          USCRIPT_KAITHI,      USCRIPT_TIRHUTA,
    USCRIPT_NANDINAGARI,   USCRIPT_BHAIKSUKI,   USCRIPT_NEWA,
    USCRIPT_LIMBU,         USCRIPT_LEPCHA,      USCRIPT_SYLOTI_NAGRI,
    USCRIPT_CHAKMA,        USCRIPT_MRO,         USCRIPT_MEITEI_MAYEK,
    USCRIPT_AHOM,          USCRIPT_SAURASHTRA,  USCRIPT_OL_CHIKI,
    USCRIPT_SORA_SOMPENG,  USCRIPT_WARANG_CITI, USCRIPT_MASARAM_GONDI,
    USCRIPT_GUNJALA_GONDI, USCRIPT_WANCHO,      USCRIPT_TANGSA,
    USCRIPT_TOTO,          USCRIPT_NAG_MUNDARI,
};

// Mainland and island Southeast Asia except the Philippines: Thai, Lao, Khmer, Myanmar and the
// Tai scripts, Cham, the Hmong scripts, and the scripts of Indonesia (Javanese, Balinese,
// Sundanese, Batak, Buginese, Makasar, Rejang, Kawi).
constexpr UScriptCode kSoutheastAsianScripts[] = {
    USCRIPT_THAI,
    USCRIPT_LAO,
    USCRIPT_KHMER,
    USCRIPT_MYANMAR,
    USCRIPT_TAI_LE,
    USCRIPT_NEW_TAI_LUE,
    USCRIPT_LANNA,
    USCRIPT_TAI_VIET,
    USCRIPT_KAYAH_LI,
    USCRIPT_PAU_CIN_HAU,
    USCRIPT_HANIFI_ROHINGYA,
    USCRIPT_CHAM,
    USCRIPT_PAHAWH_HMONG,
    USCRIPT_NYIAKENG_PUACHUE_HMONG,
    USCRIPT_JAVANESE,
    USCRIPT_BALINESE,
    USCRIPT_SUNDANESE,
    USCRIPT_BATAK,
    USCRIPT_BUGINESE,
    USCRIPT_MAKASAR,
    USCRIPT_REJANG,
    USCRIPT_KAWI,
};

// The Philippines: Baybayin (Tagalog) and its relatives.
constexpr UScriptCode kPhilippineScripts[] = {
    USCRIPT_TAGALOG,
    USCRIPT_HANUNOO,
    USCRIPT_BUHID,
    USCRIPT_TAGBANWA,
};

// East Asia: Han in all its ICU variants, Japanese kana, Korean Hangul, Bopomofo, and the
// other scripts of China's languages (Yi, Lisu, Miao, Naxi, Nushu, Tangut, Jurchen, Khitan).
constexpr UScriptCode kEastAsianScripts[] = {
    USCRIPT_HAN,
    USCRIPT_SIMPLIFIED_HAN,
    USCRIPT_TRADITIONAL_HAN,
    USCRIPT_HAN_WITH_BOPOMOFO,
    USCRIPT_BOPOMOFO,
    USCRIPT_HIRAGANA,
    USCRIPT_KATAKANA,
    USCRIPT_KATAKANA_OR_HIRAGANA,
    USCRIPT_JAPANESE,
    USCRIPT_HANGUL,
    USCRIPT_JAMO,
    USCRIPT_KOREAN,
    USCRIPT_YI,
    USCRIPT_LISU,
    USCRIPT_MIAO,
    USCRIPT_NAKHI_GEBA,
    USCRIPT_NUSHU,
    USCRIPT_TANGUT,
    USCRIPT_JURCHEN,
    USCRIPT_KHITAN_SMALL_SCRIPT,
};

// The Americas: Cherokee, the Canadian syllabics, Osage, the Mayan hieroglyphs and the Afaka
// syllabary of Suriname.
constexpr UScriptCode kAmericanScripts[] = {
    USCRIPT_CHEROKEE, USCRIPT_CANADIAN_ABORIGINAL, USCRIPT_OSAGE, USCRIPT_MAYAN_HIEROGLYPHS,
    USCRIPT_AFAKA,
};

// Everything that is no region's writing: Common (digits, punctuation, symbols, emoji),
// Inherited (most combining marks), Unknown (unassigned and private-use code points), the
// symbol and notation codes, Braille and Moon, Blissymbols, invented scripts of fiction
// (Tengwar, Cirth, Sarati), the undeciphered scripts of Oceania, and unwritten languages.
constexpr UScriptCode kOtherScripts[] = {
    USCRIPT_COMMON,     USCRIPT_INHERITED,     USCRIPT_UNKNOWN,
    USCRIPT_SYMBOLS,    USCRIPT_SYMBOLS_EMOJI, USCRIPT_MATHEMATICAL_NOTATION,
    USCRIPT_BRAILLE,    USCRIPT_MOON,          USCRIPT_BLISSYMBOLS,
    USCRIPT_TENGWAR,    USCRIPT_CIRTH,         USCRIPT_SARATI,
    USCRIPT_RONGORONGO, USCRIPT_WOLEAI,        USCRIPT_UNWRITTEN_LANGUAGES,
};

// The script codes the table covers: those of ICU 72. Codes of newer ICU versions go to
// "Other" until they are listed here.
constexpr int kListedCodes = 200;
static_assert(USCRIPT_CODE_LIMIT < 255, "script codes must fit the byte table with a sentinel");

using GroupTable = std::array<uint8_t, kListedCodes>;

template <size_t N>
constexpr void Assign(GroupTable& table, const UScriptCode (&scripts)[N], Group group) {
    for (size_t i = 0; i < N; ++i) {
        if (scripts[i] < 0 || scripts[i] >= kListedCodes) throw "script code out of the table";
        if (table[scripts[i]] != kNull) throw "script listed in two groups";
        table[scripts[i]] = group;
    }
}

constexpr GroupTable BuildGroupTable() {
    GroupTable table{};
    Assign(table, kEuropeanScripts, kEuropean);
    Assign(table, kPhoneticScripts, kPhoneticSymbols);
    Assign(table, kAfricanScripts, kAfrican);
    Assign(table, kMiddleEasternScripts, kMiddleEastern);
    Assign(table, kCentralAsianScripts, kCentralAsian);
    Assign(table, kSouthAsianScripts, kSouthAsian);
    Assign(table, kSoutheastAsianScripts, kSoutheastAsian);
    Assign(table, kPhilippineScripts, kPhilippine);
    Assign(table, kEastAsianScripts, kEastAsian);
    Assign(table, kAmericanScripts, kAmerican);
    Assign(table, kOtherScripts, kOther);
    for (uint8_t group : table) {
        if (group == kNull) throw "script code in no group";
    }
    return table;
}

constexpr GroupTable kGroupOfScript = BuildGroupTable();

// ---- Per-code-point table -------------------------------------------------------------------

constexpr uint8_t kNotCounted = 255;

// Whether a code point is counted at all: not white space, control or format character.
bool IsCounted(UChar32 c) {
    if (u_isUWhiteSpace(c)) return false;
    const int8_t type = u_charType(c);
    return type != U_CONTROL_CHAR && type != U_FORMAT_CHAR;
}

// The script code counted for a code point, or kNotCounted. Asks ICU.
uint8_t ScriptOf(UChar32 c) {
    if (!IsCounted(c)) return kNotCounted;
    UErrorCode status = U_ZERO_ERROR;
    const UScriptCode script = uscript_getScript(c, &status);
    if (U_FAILURE(status) || script < 0 || script >= kNotCounted) return USCRIPT_UNKNOWN;
    return static_cast<uint8_t>(script);
}

// The script of every BMP code point (surrogates not counted), and for ASCII the same answer as
// two bits: 1 Latin, 2 Common, 0 not counted.
struct BmpTable {
    uint8_t script[0x10000];
    uint8_t ascii[0x80];
};

BmpTable g_bmp;
std::once_flag g_bmpOnce;

void BuildBmpTable() {
    for (UChar32 c = 0; c < 0x10000; ++c) {
        g_bmp.script[c] = U_IS_SURROGATE(c) ? kNotCounted : ScriptOf(c);
    }
    for (UChar32 c = 0; c < 0x80; ++c) {
        const uint8_t script = g_bmp.script[c];
        assert(script == USCRIPT_LATIN || script == USCRIPT_COMMON || script == kNotCounted);
        g_bmp.ascii[c] = script == USCRIPT_LATIN ? 1 : script == USCRIPT_COMMON ? 2 : 0;
        // AsciiLanes relies on ICU's answer for ASCII: letters Latin, the other visible
        // characters Common, space, controls and DEL not counted.
        [[maybe_unused]] const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        assert(g_bmp.ascii[c] == (letter ? 1 : c > 0x20 && c < 0x7F ? 2 : 0));
    }
}

const BmpTable& Bmp() {
    std::call_once(g_bmpOnce, BuildBmpTable);
    return g_bmp;
}

constexpr uint64_t kOnes = 0x0101010101010101;
constexpr uint64_t kHighBits = 0x8080808080808080;

// Counts of ASCII characters kept per byte lane: each block of eight bytes adds 0 or 1 to every
// lane, so a lane holds at most kMaxBlocks before the lanes are summed.
class AsciiLanes {
  public:
    static constexpr int kMaxBlocks = 255;

    // Counts eight ASCII bytes (none with the high bit set). Adding 0x80 - k to a byte below
    // 0x80 sets its high bit exactly when the byte is k or more, and carries into no other byte.
    void Add(uint64_t eight, uint64_t* latin, uint64_t* common) {
        const uint64_t counted = (eight + 0x5F * kOnes) & ~(eight + 0x01 * kOnes) & kHighBits;
        const uint64_t lower = eight | 0x20 * kOnes;  // letters of either case as lower case
        const uint64_t letters = (lower + 0x1F * kOnes) & ~(lower + 0x05 * kOnes) & kHighBits;
        m_counted += counted >> 7;  // visible characters, 0x21 to 0x7E: Latin or Common
        m_letters += letters >> 7;  // A-Z and a-z: Latin (the other visible ones are Common)
        if (++m_blocks == kMaxBlocks) Flush(latin, common);
    }

    // Adds the lanes' sums to the counters and empties the lanes.
    void Flush(uint64_t* latin, uint64_t* common) {
        const uint64_t letters = Sum(m_letters);
        *latin += letters;
        *common += Sum(m_counted) - letters;
        m_counted = m_letters = 0;
        m_blocks = 0;
    }

  private:
    // The sum of the eight byte lanes (each at most 255).
    static uint64_t Sum(uint64_t lanes) {
        constexpr uint64_t kEvenBytes = 0x00FF00FF00FF00FF;
        const uint64_t pairs = (lanes & kEvenBytes) + ((lanes >> 8) & kEvenBytes);
        return (pairs * 0x0001000100010001) >> 48;
    }

    uint64_t m_counted = 0, m_letters = 0;
    int m_blocks = 0;
};

// Script names go into the document unescaped: ICU's are ASCII letters, digits and '_'.
[[maybe_unused]] bool IsPlainName(const char* name) {
    for (; *name != '\0'; ++name) {
        const char ch = *name;
        const bool plain = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') ||
                           (ch >= '0' && ch <= '9') || ch == '_';
        if (!plain) return false;
    }
    return true;
}

// Appends `"name": count` (with a comma before all but the first) and clamps the count.
void AppendMember(std::string* out, bool* first, const char* name, uint64_t count) {
    assert(IsPlainName(name));
    if (!*first) out->append(", ");
    *first = false;
    out->push_back('"');
    out->append(name);
    out->append("\": ");
    out->append(std::to_string(count > INT32_MAX ? uint64_t{INT32_MAX} : count));
}

}  // namespace

int ScriptGroup(int scriptCode) {
    if (scriptCode < 0 || scriptCode >= kListedCodes) return kOther;
    return kGroupOfScript[scriptCode];
}

const char* ScriptGroupName(int group) {
    if (group < 0 || group >= kScriptGroupCount) return nullptr;
    return kGroupNames[group];
}

CharStats::CharStats() = default;

void CharStats::Add(std::string_view utf8) {
    const BmpTable& bmp = Bmp();
    const uint8_t* p = reinterpret_cast<const uint8_t*>(utf8.data());
    const uint8_t* const end = p + utf8.size();
    uint64_t latin = 0;   // ASCII letters
    uint64_t common = 0;  // ASCII digits and punctuation
    uint64_t other = 0;   // everything else counted
    AsciiLanes lanes;     // ASCII counted eight bytes at a time, not yet in latin and common
    while (p < end) {
        if (*p < 0x80) {
            // An ASCII run: register counters only, eight bytes at a time while no byte is
            // non-ASCII (see AsciiLanes), the rest one by one.
            while (end - p >= 8) {
                uint64_t eight;
                std::memcpy(&eight, p, 8);
                if (eight & kHighBits) break;
                lanes.Add(eight, &latin, &common);
                p += 8;
            }
            while (p < end && *p < 0x80) {
                const uint8_t bits = bmp.ascii[*p++];
                latin += bits & 1;
                common += bits >> 1;
            }
            continue;
        }

        // A well-formed sequence (ICU refuses overlong forms, surrogates and code points past
        // U+10FFFF); the bytes of an ill-formed one are skipped uncounted.
        size_t length = 0;
        UChar32 c;
        U8_NEXT(p, length, static_cast<size_t>(end - p), c);
        p += length;
        if (c < 0) continue;
        // BMP from the table, the rest (rare outside emoji) from ICU directly.
        const uint8_t script = c < 0x10000 ? bmp.script[c] : ScriptOf(c);
        if (script != kNotCounted) {
            ++m_scripts[script];
            ++other;
        }
    }
    lanes.Flush(&latin, &common);
    m_scripts[USCRIPT_LATIN] += latin;
    m_scripts[USCRIPT_COMMON] += common;
    m_total += latin + common + other;
}

uint64_t CharStats::ScriptCount(int scriptCode) const {
    if (scriptCode < 0 || scriptCode >= 256) return 0;
    return m_scripts[scriptCode];
}

namespace {

constexpr int kOtherGroup = kScriptGroupCount - 1;

// The four groups the filter adds up as Asian: "CentralAsian" to "EastAsian".
bool IsAsianGroup(int group) {
    static const auto asian = [] {
        std::array<bool, kScriptGroupCount> table{};
        for (int g = 0; g < kScriptGroupCount; ++g)
            table[g] = std::strstr(kGroupNames[g], "Asian") != nullptr;
        return table;
    }();
    return asian[group];
}

}  // namespace

double CharStats::AsianPercent() const {
    uint64_t counted = 0, asian = 0;
    for (int code = 0; code < 256; ++code) {
        const int group = ScriptGroup(code);
        if (group == kOtherGroup) continue;
        counted += m_scripts[code];
        if (IsAsianGroup(group)) asian += m_scripts[code];
    }
    return counted == 0 ? 0 : 100.0 * asian / counted;
}

double CharStats::CyrillicPercent() const {
    uint64_t counted = 0;
    for (int code = 0; code < 256; ++code) {
        if (ScriptGroup(code) != kOtherGroup) counted += m_scripts[code];
    }
    return counted == 0 ? 0 : 100.0 * m_scripts[USCRIPT_CYRILLIC] / counted;
}

std::string CharStats::Json() const {
    uint64_t groups[kScriptGroupCount] = {};
    for (int code = 0; code < 256; ++code) groups[ScriptGroup(code)] += m_scripts[code];

    std::string out = "{\"Total\": ";
    out.append(std::to_string(m_total > INT32_MAX ? uint64_t{INT32_MAX} : m_total));
    out.append(", \"Groups\": {");
    bool first = true;
    for (int group = 1; group < kScriptGroupCount; ++group) {
        if (groups[group] != 0) AppendMember(&out, &first, kGroupNames[group], groups[group]);
    }
    out.append("}, \"Scripts\": {");
    first = true;
    for (int code = 0; code < 256; ++code) {
        if (m_scripts[code] == 0) continue;
        // Every counted code came from ICU, which names all of its codes.
        const char* name = uscript_getName(static_cast<UScriptCode>(code));
        AppendMember(&out, &first, name != nullptr ? name : "Unknown", m_scripts[code]);
    }
    out.append("}}");
    return out;
}

}  // namespace host
