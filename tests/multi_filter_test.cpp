// The multipurpose filter through the factory-made module, on messages built like a host builds
// them. Each verb: hits, misses, switches off, thresholds at the boundary, every name of the
// declared-charset lists, failures.
#include <cctype>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using testing_support::HostError;
using testing_support::kSession;

const char kGtube[] = "XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34X";
const std::string kEntityFailed =
    "Module Eml Multipurpose Filter failed to process entity with message: ";

class MultiFilterTest : public testing_support::ModuleFixture {
  protected:
    void SetUp() override {
        ModuleFixture::SetUp();
        if (HasFatalFailure()) return;
        filter = CreateFilter(testing_support::kMultiFilter);
        ASSERT_EQ(host::OpenSession(filter, kSession), 0);
    }

    // Re-reads the session settings after a test changed them.
    void Configure(std::initializer_list<std::pair<const char*, int>> values) {
        for (const auto& v : values) m_settings.SetInt(v.first, v.second);
        ASSERT_EQ(filter->ApplySessionSettings(kSession), 0);
    }

    // Runs `verb` on the message; the value it wrote under `key` (-1: not written).
    int64_t Verdict(host::Message& message, uint32_t verb, uint32_t key) {
        EXPECT_EQ(Run(filter, message, verb), 0) << HostError();
        return message.blackbox().IntValue(key, -1);
    }

    CAFilter* filter = nullptr;
};

TEST_F(MultiFilterTest, Gtube) {
    struct Row {
        const char* text;  // text/plain part, or null for none
        const char* html;  // HTML part, or null for none
        int verdict;
        int where;  // the hit traced: 0 none, 1 on a text part, 2 in an HTML part
    } rows[] = {
        {kGtube, nullptr, 1, 1},
        {"before XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34X after",
         nullptr, 1, 1},
        {"plain", kGtube, 1, 2},
        {kGtube, kGtube, 1, 1},  // text parts come first
        {"xjs*c4jdbqadn1.nsbn3*2idnen*gtube-standard-anti-ube-test-email*c.34x", nullptr, 0,
         0},  // case matters
        {"XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34", nullptr, 0,
         0},  // cut one byte short
        {nullptr, nullptr, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text ? row.text : "(no text)");
        host::MessageBuilder builder;
        if (row.text) builder.TextPart(row.text);
        if (row.html) builder.HtmlPart(row.html);
        auto message = builder.Build();
        host::TakeTraces();
        EXPECT_EQ(Verdict(*message, asbb::kTestGtube, asbb::kGtube), row.verdict);
        EXPECT_EQ(message->blackbox().SetCalls(asbb::kGtube), 1u);
        EXPECT_TRUE(host::TraceContains("Running GTUBE test"));
        EXPECT_EQ(host::TraceContains("Hit the GTUBE on a text part!"), row.where == 1);
        EXPECT_EQ(host::TraceContains("Hit the GTUBE in a html part!"), row.where == 2);
    }
}

TEST_F(MultiFilterTest, SexuallyExplicitSubject) {
    struct Row {
        int on;
        const char* subject;  // null: no Subject header
        int verdict;          // -1: not written
    } rows[] = {
        {1, "SEXUALLY-EXPLICIT: offer", 1},
        {1, "Sexually Explicit content", 1},
        {1, "[sexually-explicit] offer", 1},  // offset 1 still counts
        {1, "Re: sexually-explicit", 0},      // offset 4 does not
        // the first phrase found is the one looked at, even if the second starts the subject
        {1, "sexually explicit, and later sexually-explicit", 0},
        {1, "nothing here", 0},
        {1, "", 0},
        {1, nullptr, 0},
        {0, "SEXUALLY-EXPLICIT", -1},  // switch off: not written at all
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.subject ? row.subject : "(none)");
        Configure({{"/eml/filter/multi/SexuallyExplicit", row.on}});
        host::MessageBuilder builder;
        if (row.subject) builder.Subject(row.subject);
        auto message = builder.Build();
        EXPECT_EQ(Verdict(*message, asbb::kTestSexuallyExplicit, asbb::kSexuallyExplicit),
                  row.verdict);
    }
}

TEST_F(MultiFilterTest, OversizedMessage) {
    struct Row {
        int maxSize;
        uint64_t size;
        bool root, source;
        int verdict;  // -1: not written
    } rows[] = {
        {1000, 1000, true, true, 0},   {1000, 1001, true, true, 1},
        {1000, 10, true, true, 0},     {0, 5000, true, true, -1},      // no limit configured
        {-5, 5000, true, true, -1},    {1000, 5000, false, true, -1},  // no root part
        {1000, 5000, true, false, -1},                                 // no source object
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.maxSize) + " " + std::to_string(row.size));
        Configure({{"/eml/filter/multi/MaxFileSize", row.maxSize}});
        host::MessageBuilder builder;
        builder.TextPart("body").Size(row.size);
        if (!row.root) builder.WithoutRoot();
        if (!row.source) builder.WithoutSource();
        auto message = builder.Build();
        EXPECT_EQ(Verdict(*message, asbb::kTestOversized, asbb::kOversized), row.verdict);
    }
}

// The names each declared-charset list must hold, as a host may spell them; the Japanese ones
// are Asian too, and stop counting when Japanese is excluded.
const char* const kAsianNames[] = {"BIG5",    "BIG5-HKSCS", "GB2312",      "GBK",
                                   "GB18030", "HZ",         "ISO-2022-CN", "EUC-TW",
                                   "EUC-KR",  "JHC",        "JOHAB",       "ISO-2022-KR"};
const char* const kJapaneseNames[] = {"EUC-JP", "ISO-2002-JP", "ISO-2022-JP", "SHIFT-JIS",
                                      "SHIFT_JIS"};
const char* const kCyrillicNames[] = {"KOI-8",      "WINDOWS-1251", "IBM-855",    "ISO-8859-5",
                                      "ISO-IR-111", "KOI8-R",       "MACCYRILIC", "CP-866",
                                      "KOI8-U",     "MACUKRAINIAN"};

// "Euc-Kr" for "EUC-KR": the lists are matched without regard to case.
std::string MixedCase(std::string name) {
    for (size_t i = 1; i < name.size(); ++i) {
        if (name[i - 1] != '-') name[i] = static_cast<char>(std::tolower(name[i]));
    }
    return name;
}

TEST_F(MultiFilterTest, DeclaredCharsets) {
    struct Row {
        int asian, cyrillic, excludeJapanese;
        std::string rootContentCharset;  // empty: no Content-Type header
        const char* rootSubjectCharset;  // null: no Subject header
        const char* partCharset;         // Content-Type of a text part; null: none
        int hit, asianHit;               // -1: not written
    };
    std::vector<Row> rows = {
        {1, 1, 0, "KOI8-R", nullptr, nullptr, 1, 0},
        {0, 1, 0, "big5", nullptr, nullptr, 0, 0},  // Asian test off
        // Japanese excluded: the Content-Type does not hit; the Subject is tried next
        {1, 0, 1, "Shift_JIS", "GB2312", nullptr, 1, 1},
        {1, 0, 0, "utf-8", "utf-8", "EUC-KR", 1, 1},  // found in a part's own headers
        {0, 1, 0, "", nullptr, "windows-1251", 1, 0},
        {1, 0, 0, "utf-8", nullptr, "utf-8", 0, 0},
        {0, 0, 0, "big5", nullptr, nullptr, -1, -1},  // both tests off: nothing written
    };
    // Every listed name hits its own test only; a Japanese one not at all when excluded.
    for (const char* name : kAsianNames) {
        rows.push_back({1, 0, 0, MixedCase(name), nullptr, nullptr, 1, 1});
        rows.push_back({0, 1, 0, MixedCase(name), nullptr, nullptr, 0, 0});
    }
    for (const char* name : kJapaneseNames) {
        rows.push_back({1, 0, 0, MixedCase(name), nullptr, nullptr, 1, 1});
        rows.push_back({1, 1, 1, MixedCase(name), nullptr, nullptr, 0, 0});
    }
    for (const char* name : kCyrillicNames) {
        rows.push_back({0, 1, 0, MixedCase(name), nullptr, nullptr, 1, 0});
        rows.push_back({1, 0, 0, MixedCase(name), nullptr, nullptr, 0, 0});
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.rootContentCharset + " / " + (row.partCharset ? row.partCharset : "-") +
                     " " + std::to_string(row.asian) + std::to_string(row.cyrillic) +
                     std::to_string(row.excludeJapanese));
        Configure({{"/eml/filter/multi/AsianCharsets", row.asian},
                   {"/eml/filter/multi/CyrilicCharsets", row.cyrillic},
                   {"/eml/filter/multi/charset/AsianExcludeJapanese", row.excludeJapanese}});
        host::MessageBuilder builder;
        if (!row.rootContentCharset.empty()) {
            builder.ContentType("text/plain", row.rootContentCharset.c_str());
        }
        if (row.rootSubjectCharset) builder.Subject("subject", row.rootSubjectCharset);
        host::PartFields part;
        part.text = "text";
        if (row.partCharset) {
            part.headers.hasContentType = true;
            part.headers.mediaType = "text/plain";
            part.headers.contentCharset = row.partCharset;
        }
        auto message = builder.Part(part).Build();
        EXPECT_EQ(Verdict(*message, asbb::kTestCharsets, asbb::kCharsetHit), row.hit);
        EXPECT_EQ(message->blackbox().IntValue(asbb::kAsianCharset, -1), row.asianHit);
    }
}

TEST_F(MultiFilterTest, DeclaredCharsetsWithoutPartsTreeOrWithBrokenHeaders) {
    Configure({{"/eml/filter/multi/AsianCharsets", 1}});
    auto bare =
        host::MessageBuilder().ContentType("text/plain", "utf-8").WithoutPartsTree().Build();
    EXPECT_EQ(Verdict(*bare, asbb::kTestCharsets, asbb::kCharsetHit), -1);  // no tree: nothing

    auto broken = host::MessageBuilder().NullHeader("Content-Type").TextPart("x").Build();
    EXPECT_EQ(Run(filter, *broken, asbb::kTestCharsets), ascommon::kErrInternal);
    EXPECT_EQ(HostError(),
              kEntityFailed + "ASInternalException - MESSAGE: Dynamic conversion failed");
    EXPECT_FALSE(broken->blackbox().Has(asbb::kCharsetHit));
}

// Statistics with Total 100 and Groups.Other 20: 80 characters count.
std::string Stats(int eastAsian, int hiragana, int katakana, int cyrillic) {
    return "{\"Total\": 100, \"Groups\": {\"Other\": 20, \"EastAsian\": " +
           std::to_string(eastAsian) +
           "}, \"Scripts\": {\"Hiragana\": " + std::to_string(hiragana) +
           ", \"Katakana\": " + std::to_string(katakana) +
           ", \"Cyrillic\": " + std::to_string(cyrillic) + "}}";
}

TEST_F(MultiFilterTest, CharacterShares) {
    const std::string noScripts = R"({"Total": 100, "Groups": {"Other": 0}, "Scripts": {}})";
    struct Row {
        uint32_t verb;
        int on, allowed, excludeJapanese, japaneseMin;
        std::string stats;  // empty: no document
        int verdict;
    } rows[] = {
        {asbb::kTestAsianShare, 1, 60, 0, 20, Stats(50, 0, 0, 0), 1},  // 50 of 80 = 62.5 %
        {asbb::kTestAsianShare, 1, 63, 0, 20, Stats(50, 0, 0, 0), 0},
        {asbb::kTestAsianShare, 1, 62, 0, 20, Stats(50, 0, 0, 0), 1},
        {asbb::kTestAsianShare, 1, 60, 1, 20, Stats(50, 20, 10, 0), 0},  // kana: 60 % of Asian
        {asbb::kTestAsianShare, 1, 60, 1, 60, Stats(50, 20, 10, 0), 1},  // not above 60
        {asbb::kTestAsianShare, 1, 60, 0, 20,
         R"({"Total": 20, "Groups": {"Other": 20, "EastAsian": 5}})", 0},
        {asbb::kTestAsianShare, 1, -1, 0, 20, "this is not JSON", 0},
        {asbb::kTestAsianShare, 1, 60, 0, 20, "", 0},
        {asbb::kTestAsianShare, 0, 10, 0, 20, Stats(50, 0, 0, 0), 0},    // switch off writes 0
        {asbb::kTestCyrillicShare, 1, 50, 0, 0, Stats(0, 0, 0, 41), 1},  // 41 of 80 = 51.25 %
        {asbb::kTestCyrillicShare, 1, 51, 0, 0, Stats(0, 0, 0, 41), 1},
        {asbb::kTestCyrillicShare, 1, 52, 0, 0, Stats(0, 0, 0, 41), 0},
        {asbb::kTestCyrillicShare, 1, 0, 0, 0, noScripts, 0},  // absent counts as 0
        {asbb::kTestCyrillicShare, 1, -1, 0, 0, noScripts, 1},
        {asbb::kTestCyrillicShare, 0, 0, 0, 0, Stats(0, 0, 0, 80), 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.verb) + " " + row.stats);
        const bool asian = row.verb == asbb::kTestAsianShare;
        Configure({{asian ? "/eml/filter/multi/AsianCharsets" : "/eml/filter/multi/CyrilicCharsets",
                    row.on},
                   {asian ? "/eml/filter/multi/PercentOfAllowedAsianChars"
                          : "/eml/filter/multi/PercentOfAllowedCyrillicChars",
                    row.allowed},
                   {"/eml/filter/multi/charset/AsianExcludeJapanese", row.excludeJapanese},
                   {"/eml/filter/multi/charset/JapaneseMinPercent", row.japaneseMin}});
        host::MessageBuilder builder;
        builder.TextPart("text");
        if (!row.stats.empty()) builder.Statistics(row.stats);
        auto message = builder.Build();
        EXPECT_EQ(Verdict(*message, row.verb, asian ? asbb::kAsianShare : asbb::kCyrillicShare),
                  row.verdict);
    }
    EXPECT_TRUE(
        host::TraceContains("AsianCharDetection: Total 80; Asian 50; Japanese 0; Percent 62"));
    EXPECT_TRUE(host::TraceContains("Error: Cannot get character statistics"));
    EXPECT_TRUE(host::TraceContains("CyrillicCharDetection: Total 80; Cyrilic 41; Percent 51"));
}

TEST_F(MultiFilterTest, UnknownVerbWritesNothing) {
    auto message = host::MessageBuilder().TextPart(kGtube).Build();
    testing_support::LeveledTraces traces;
    ASSERT_EQ(Run(filter, *message, asbb::kTestCyrillicShare + 1), 0);
    EXPECT_EQ(traces.Level("MultiFilter invalid verb"), 1);
    for (uint32_t key = asbb::kCharsetHit; key <= asbb::kCyrillicShare; ++key) {
        EXPECT_FALSE(message->blackbox().Has(key));
    }
}

TEST_F(MultiFilterTest, FailuresBecomeErrInternal) {
    auto message = host::MessageBuilder().Subject("SEXUALLY-EXPLICIT").TextPart("x").Build();
    EXPECT_EQ(Run(filter, *message, asbb::kTestGtube, nullptr, 99), ascommon::kErrInternal);
    EXPECT_EQ(HostError(),
              kEntityFailed + "ASInternalException - MESSAGE: No data struct for current session");

    // The first allocation of the call is the text/plain parts array of the tree.
    auto fresh = host::MessageBuilder().TextPart(kGtube).Build();
    host::FailAllocationNumber(1);
    EXPECT_EQ(Run(filter, *fresh, asbb::kTestGtube), ascommon::kErrInternal);
    host::FailAllocationNumber(0);
    EXPECT_EQ(HostError(),
              kEntityFailed + "ASException - MESSAGE: Problems creating the facilitator");
    EXPECT_FALSE(fresh->blackbox().Has(asbb::kGtube));

    // A blackbox that refuses the verdict.
    struct Refusing : host::BlackBoxStore {
        int32_t Set(uint32_t key, uint32_t type, uint32_t zero, uint64_t value) override {
            return key == asbb::kSexuallyExplicit
                       ? -1
                       : host::BlackBoxStore::Set(key, type, zero, value);
        }
    };
    Configure({{"/eml/filter/multi/SexuallyExplicit", 1}});
    Refusing box;
    box.PutObject(asbb::kHeaders, asbb::kObject, message->headers(), false);
    ASEntity entity = {nullptr, nullptr, &box, nullptr};
    EXPECT_EQ(filter->ProcessEntity(kSession, &entity, asbb::kTestSexuallyExplicit),
              ascommon::kErrInternal);
    EXPECT_EQ(HostError(), kEntityFailed + "ASMemException - MESSAGE: Allocation error!");
    EXPECT_EQ(filter->ProcessEntity(kSession, nullptr, asbb::kTestGtube), ascommon::kErrInternal);
}

}  // namespace
