// The multipurpose filter through the factory-made module, on messages built like a host builds
// them. Each verb: hits, misses, switches off, thresholds at the boundary, failures.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/aserrno.h"
#include "host/host_hooks.h"
#include "host/message_builder.h"
#include "host/module_host.h"
#include "host/settings_store.h"

namespace {

const char kGtube[] = "XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34X";
constexpr uint64_t kSession = 1;

class MultiFilterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(library.Open(host::DefaultModulePath())) << library.error();
        host::CaptureTraces(4);
        host::TakeTraces();
        factory = library.GetClassFactory(&host::HostHooks());
        ASSERT_NE(factory, nullptr);
        filter = static_cast<CAFilter*>(factory->CreateModule(2));
        filter->m_settings = &settings;
        ASSERT_EQ(host::OpenSession(filter, kSession), 0);
    }

    void TearDown() override {
        library.ReleaseClassFactory();
        host::CaptureTraces(0);
        host::TakeTraces();
        messagesAlive.clear();
        const host::HookCounters c = host::Counters();
        EXPECT_EQ(c.untaggedFrees, 0u);  // every block freed came from the hooks
    }

    std::vector<std::unique_ptr<host::Message>> messagesAlive;

    // Re-reads the session settings after a test changed them.
    void Configure(std::initializer_list<std::pair<const char*, int>> values) {
        for (const auto& v : values) settings.SetInt(v.first, v.second);
        ASSERT_EQ(filter->ApplySessionSettings(kSession), 0);
    }

    int32_t Run(host::Message& message, uint32_t verb, uint64_t session = kSession) {
        ASEntity entity = {nullptr, nullptr, &message.blackbox(), nullptr};
        return filter->ProcessEntity(session, &entity, verb);
    }

    static std::string HostError() { return ascommon::DefaultGetErr()->GetText(); }

    host::ModuleLibrary library;
    host::SettingsStore settings;
    CAClassFactory* factory = nullptr;
    CAFilter* filter = nullptr;
};

TEST_F(MultiFilterTest, Gtube) {
    struct Row {
        const char* text;  // text/plain part, or null for none
        const char* html;  // HTML part, or null for none
        int verdict;
        const char* trace;
    } rows[] = {
        {kGtube, nullptr, 1, "Hit the GTUBE on a text part!"},
        {"before XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34X after",
         nullptr, 1, "Hit the GTUBE on a text part!"},
        {"plain", kGtube, 1, "Hit the GTUBE in a html part!"},
        {kGtube, kGtube, 1, "Hit the GTUBE on a text part!"},  // text parts come first
        {"xjs*c4jdbqadn1.nsbn3*2idnen*gtube-standard-anti-ube-test-email*c.34x", nullptr, 0,
         nullptr},  // case matters
        {"XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34", nullptr, 0,
         nullptr},  // cut one byte short
        {nullptr, nullptr, 0, nullptr},
    };
    for (const Row& row : rows) {
        host::MessageBuilder builder;
        if (row.text) builder.TextPart(row.text);
        if (row.html) builder.HtmlPart(row.html);
        auto message = builder.Build();
        host::TakeTraces();
        ASSERT_EQ(Run(*message, 1804), 0);
        EXPECT_EQ(message->blackbox().IntValue(21041, -1), row.verdict) << row.text;
        EXPECT_EQ(message->blackbox().SetCalls(21041), 1u);
        const auto lines = host::TakeTraces();
        const std::string all = [&] {
            std::string s;
            for (const auto& l : lines) s += l;
            return s;
        }();
        EXPECT_NE(all.find("Running GTUBE test"), std::string::npos);
        if (row.trace) {
            EXPECT_NE(all.find(row.trace), std::string::npos);
            EXPECT_EQ(all.find("in a html part") == std::string::npos ||
                          all.find("on a text part") == std::string::npos,
                      true);  // one hit line at most
        }
    }
}

TEST_F(MultiFilterTest, SexuallyExplicitSubject) {
    struct Row {
        const char* subject;  // null: no Subject header
        int verdict;
    } rows[] = {
        {"SEXUALLY-EXPLICIT: offer", 1},
        {"Sexually Explicit content", 1},
        {"[sexually-explicit] offer", 1},  // offset 1 still counts
        {"Re: sexually-explicit", 0},      // offset 4 does not
        // the first phrase found is the one looked at, even if the second starts the subject
        {"sexually explicit, and later sexually-explicit", 0},
        {"nothing here", 0},
        {"", 0},
        {nullptr, 0},
    };
    Configure({{"/eml/filter/multi/SexuallyExplicit", 1}});
    for (const Row& row : rows) {
        host::MessageBuilder builder;
        if (row.subject) builder.Subject(row.subject);
        auto message = builder.Build();
        ASSERT_EQ(Run(*message, 1805), 0);
        EXPECT_EQ(message->blackbox().IntValue(21043, -1), row.verdict)
            << (row.subject ? row.subject : "(none)");
    }
    Configure({{"/eml/filter/multi/SexuallyExplicit", 0}});
    auto message = host::MessageBuilder().Subject("SEXUALLY-EXPLICIT").Build();
    ASSERT_EQ(Run(*message, 1805), 0);
    EXPECT_FALSE(message->blackbox().Has(21043));  // switch off: not written at all
}

TEST_F(MultiFilterTest, OversizedMessage) {
    struct Row {
        int maxSize;
        uint64_t size;
        bool root;
        bool source;
        int verdict;  // -1: not written
    } rows[] = {
        {1000, 1000, true, true, 0},   {1000, 1001, true, true, 1},
        {1000, 10, true, true, 0},     {0, 5000, true, true, -1},      // no limit configured
        {-5, 5000, true, true, -1},    {1000, 5000, false, true, -1},  // no root part
        {1000, 5000, true, false, -1},                                 // no source object
    };
    for (const Row& row : rows) {
        Configure({{"/eml/filter/multi/MaxFileSize", row.maxSize}});
        host::MessageBuilder builder;
        builder.TextPart("body").Size(row.size);
        if (!row.root) builder.WithoutRoot();
        if (!row.source) builder.WithoutSource();
        auto message = builder.Build();
        ASSERT_EQ(Run(*message, 1807), 0);
        EXPECT_EQ(message->blackbox().IntValue(21042, -1), row.verdict)
            << row.maxSize << " " << row.size;
    }
}

TEST_F(MultiFilterTest, DeclaredCharsets) {
    struct Row {
        int asian, cyrillic, excludeJapanese;
        const char* rootContentCharset;  // null: no Content-Type header
        const char* rootSubjectCharset;  // null: no Subject header
        const char* partCharset;         // Content-Type of a text part; null: none
        int hit, asianHit;               // -1: not written
    } rows[] = {
        {1, 0, 0, "big5", nullptr, nullptr, 1, 1},
        {1, 1, 0, "KOI8-R", nullptr, nullptr, 1, 0},
        {0, 1, 0, "KOI8-R", nullptr, nullptr, 1, 0},
        {0, 1, 0, "big5", nullptr, nullptr, 0, 0},  // Asian test off
        {1, 0, 0, "ISO-2002-JP", nullptr, nullptr, 1, 1},
        // Japanese excluded: the Content-Type does not hit; the Subject is tried next
        {1, 0, 1, "Shift_JIS", "GB2312", nullptr, 1, 1},
        {1, 0, 1, "Shift_JIS", nullptr, nullptr, 0, 0},
        {1, 0, 0, "utf-8", "utf-8", "EUC-KR", 1, 1},  // found in a part's own headers
        {0, 1, 0, nullptr, nullptr, "windows-1251", 1, 0},
        {1, 0, 0, "utf-8", nullptr, "utf-8", 0, 0},
        {0, 0, 0, "big5", nullptr, nullptr, -1, -1},  // both tests off: nothing written
    };
    for (const Row& row : rows) {
        Configure({{"/eml/filter/multi/AsianCharsets", row.asian},
                   {"/eml/filter/multi/CyrilicCharsets", row.cyrillic},
                   {"/eml/filter/multi/charset/AsianExcludeJapanese", row.excludeJapanese}});
        host::MessageBuilder builder;
        if (row.rootContentCharset) builder.ContentType("text/plain", row.rootContentCharset);
        if (row.rootSubjectCharset) builder.Subject("subject", row.rootSubjectCharset);
        host::PartFields part;
        part.text = "text";
        if (row.partCharset) {
            part.headers.hasContentType = true;
            part.headers.mediaType = "text/plain";
            part.headers.contentCharset = row.partCharset;
        }
        builder.Part(part);
        auto message = builder.Build();
        ASSERT_EQ(Run(*message, 1806), 0);
        const std::string label =
            std::string(row.rootContentCharset ? row.rootContentCharset : "-") + " / " +
            (row.partCharset ? row.partCharset : "-");
        EXPECT_EQ(message->blackbox().IntValue(21040, -1), row.hit) << label;
        EXPECT_EQ(message->blackbox().IntValue(21044, -1), row.asianHit) << label;
    }
}

TEST_F(MultiFilterTest, DeclaredCharsetsWithoutPartsTreeOrWithBrokenHeaders) {
    Configure({{"/eml/filter/multi/AsianCharsets", 1}});
    auto bare =
        host::MessageBuilder().ContentType("text/plain", "utf-8").WithoutPartsTree().Build();
    ASSERT_EQ(Run(*bare, 1806), 0);
    EXPECT_FALSE(bare->blackbox().Has(21040));  // no hit at the root and no tree: nothing

    auto broken = host::MessageBuilder().NullHeader("Content-Type").TextPart("x").Build();
    EXPECT_EQ(Run(*broken, 1806), -104);
    EXPECT_EQ(HostError(),
              "Module Eml Multipurpose Filter failed to process entity with message: "
              "ASInternalException - MESSAGE: Dynamic conversion failed");
    EXPECT_FALSE(broken->blackbox().Has(21040));
}

// Statistics with Total 100 and Groups.Other 20: 80 characters count.
std::string Stats(int eastAsian, int hiragana, int katakana, int cyrillic) {
    return "{\"Total\": 100, \"Groups\": {\"Other\": 20, \"EastAsian\": " +
           std::to_string(eastAsian) +
           "}, \"Scripts\": {\"Hiragana\": " + std::to_string(hiragana) +
           ", \"Katakana\": " + std::to_string(katakana) +
           ", \"Cyrillic\": " + std::to_string(cyrillic) + "}}";
}

TEST_F(MultiFilterTest, AsianCharacterShare) {
    struct Row {
        int asianOn, allowed, excludeJapanese, japaneseMin;
        std::string stats;  // empty: no document
        int verdict;
    } rows[] = {
        {1, 60, 0, 20, Stats(50, 0, 0, 0), 1},  // 50 of 80 = 62.5 %
        {1, 63, 0, 20, Stats(50, 0, 0, 0), 0},
        {1, 62, 0, 20, Stats(50, 0, 0, 0), 1},
        {1, 60, 1, 20, Stats(50, 20, 10, 0), 0},  // kana 60 % of the Asian characters
        {1, 60, 1, 60, Stats(50, 20, 10, 0), 1},  // not strictly above 60
        {1, 60, 0, 20, "{\"Total\": 20, \"Groups\": {\"Other\": 20, \"EastAsian\": 5}}", 0},
        {1, -1, 0, 20, "this is not JSON", 0},
        {1, 60, 0, 20, "", 0},
        {0, 10, 0, 20, Stats(50, 0, 0, 0), 0},  // switch off still writes 0
    };
    for (const Row& row : rows) {
        Configure({{"/eml/filter/multi/AsianCharsets", row.asianOn},
                   {"/eml/filter/multi/PercentOfAllowedAsianChars", row.allowed},
                   {"/eml/filter/multi/charset/AsianExcludeJapanese", row.excludeJapanese},
                   {"/eml/filter/multi/charset/JapaneseMinPercent", row.japaneseMin}});
        host::MessageBuilder builder;
        builder.TextPart("text");
        if (!row.stats.empty()) builder.Statistics(row.stats);
        auto message = builder.Build();
        ASSERT_EQ(Run(*message, 1808), 0);
        EXPECT_EQ(message->blackbox().IntValue(21045, -1), row.verdict) << row.stats;
    }
    EXPECT_TRUE(
        host::TraceContains("AsianCharDetection: Total 80; Asian 50; Japanese 0; Percent 62"));
    EXPECT_TRUE(host::TraceContains("Error: Cannot get character statistics"));
}

TEST_F(MultiFilterTest, CyrillicCharacterShare) {
    struct Row {
        int cyrillicOn, allowed;
        std::string stats;
        int verdict;
    } rows[] = {
        {1, 50, Stats(0, 0, 0, 41), 1},  // 41 of 80 = 51.25 %
        {1, 51, Stats(0, 0, 0, 41), 1},
        {1, 52, Stats(0, 0, 0, 41), 0},
        {1, 0, "{\"Total\": 100, \"Groups\": {\"Other\": 0}, \"Scripts\": {}}", 0},  // absent: 0
        {1, -1, "{\"Total\": 100, \"Groups\": {\"Other\": 0}, \"Scripts\": {}}", 1},
        {0, 0, Stats(0, 0, 0, 80), 0},
    };
    for (const Row& row : rows) {
        Configure({{"/eml/filter/multi/CyrilicCharsets", row.cyrillicOn},
                   {"/eml/filter/multi/PercentOfAllowedCyrillicChars", row.allowed}});
        auto message = host::MessageBuilder().TextPart("text").Statistics(row.stats).Build();
        ASSERT_EQ(Run(*message, 1809), 0);
        EXPECT_EQ(message->blackbox().IntValue(21046, -1), row.verdict) << row.stats;
    }
    EXPECT_TRUE(host::TraceContains("CyrillicCharDetection: Total 80; Cyrilic 41; Percent 51"));
}

TEST_F(MultiFilterTest, UnknownVerbWritesNothing) {
    auto message = host::MessageBuilder().TextPart(kGtube).Build();
    ASSERT_EQ(Run(*message, 1810), 0);
    EXPECT_TRUE(host::TraceContains("MultiFilter invalid verb"));
    for (uint32_t key = 21040; key <= 21046; ++key) EXPECT_FALSE(message->blackbox().Has(key));
}

TEST_F(MultiFilterTest, FailuresBecomeMinus104) {
    auto message = host::MessageBuilder().Subject("SEXUALLY-EXPLICIT").TextPart("x").Build();
    EXPECT_EQ(Run(*message, 1804, 99), -104);
    EXPECT_EQ(HostError(),
              "Module Eml Multipurpose Filter failed to process entity with message: "
              "ASInternalException - MESSAGE: No data struct for current session");

    // The first allocation of the call is the text/plain parts array of the tree.
    auto fresh = host::MessageBuilder().TextPart(kGtube).Build();
    host::FailAllocationNumber(1);
    EXPECT_EQ(Run(*fresh, 1804), -104);
    host::FailAllocationNumber(0);
    EXPECT_EQ(HostError(),
              "Module Eml Multipurpose Filter failed to process entity with message: "
              "ASException - MESSAGE: Problems creating the facilitator");
    EXPECT_FALSE(fresh->blackbox().Has(21041));

    // A blackbox that refuses the verdict.
    struct Refusing : host::BlackBoxStore {
        int32_t Set(uint32_t key, uint32_t type, uint32_t zero, uint64_t value) override {
            return key == 21043 ? -1 : host::BlackBoxStore::Set(key, type, zero, value);
        }
    };
    Configure({{"/eml/filter/multi/SexuallyExplicit", 1}});
    Refusing box;
    box.PutObject(20001, 7, message->headers(), false);
    ASEntity entity = {nullptr, nullptr, &box, nullptr};
    EXPECT_EQ(filter->ProcessEntity(kSession, &entity, 1805), -104);
    EXPECT_EQ(HostError(),
              "Module Eml Multipurpose Filter failed to process entity with message: "
              "ASMemException - MESSAGE: Allocation error!");
    EXPECT_EQ(filter->ProcessEntity(kSession, nullptr, 1804), -104);
}

}  // namespace
