// The multipurpose filter through the factory-made module, on messages built like a host builds
// them: each verb's hits, misses, switches off and thresholds at the boundary, every name of the
// declared-charset lists, messages without headers or parts tree, failures.
#include <algorithm>
#include <cctype>
#include <sstream>

#include "test_support.h"

namespace {

using testing_support::HostError;
using testing_support::kSession;
using testing_support::Verdicts;
using Settings = std::vector<std::pair<std::string, int>>;  // under /eml/filter/multi/
using M = host::MessageBuilder;

const std::string kGtube = testing_support::kGtube;
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
    void Configure(const Settings& values) {
        for (const auto& [key, value] : values)
            m_settings.SetInt(("/eml/filter/multi/" + key).c_str(), value);
        ASSERT_EQ(filter->ApplySessionSettings(kSession), 0);
    }
};

// Statistics with Total 100 and Groups.Other 20: 80 characters count.
M Stats(int eastAsian, int hiragana, int katakana, int cyrillic) {
    return std::move(M().TextPart("text").Statistics(
        "{\"Total\": 100, \"Groups\": {\"Other\": 20, \"EastAsian\": " + std::to_string(eastAsian) +
        "}, \"Scripts\": {\"Hiragana\": " + std::to_string(hiragana) + ", \"Katakana\": " +
        std::to_string(katakana) + ", \"Cyrillic\": " + std::to_string(cyrillic) + "}}"));
}

// A text part whose own Content-Type declares `charset`.
host::PartFields Part(const char* charset) {
    host::PartFields part;
    part.headers = {{}, {}, false, "text/plain", charset, true, {}, {}, {}};
    return part;
}

// "Euc-Kr" for "EUC-KR": the lists are matched without regard to case.
std::string MixedCase(std::string name) {
    for (size_t i = 1; i < name.size(); ++i) {
        if (name[i - 1] != '-') name[i] = static_cast<char>(std::tolower(name[i]));
    }
    return name;
}

// Every verb: the verdicts it writes under its own keys ("-": not written, see Verdicts); it
// writes each at most once and no other key.
TEST_F(MultiFilterTest, Verbs) {
    // clang-format off
    struct Verb { uint32_t verb; std::vector<uint32_t> keys; };
    const Verb gtube{asbb::kTestGtube, {asbb::kGtube}}, sexual{asbb::kTestSexuallyExplicit, {asbb::kSexuallyExplicit}},
        charsets{asbb::kTestCharsets, {asbb::kCharsetHit, asbb::kAsianCharset}}, oversized{asbb::kTestOversized, {asbb::kOversized}},
        asian{asbb::kTestAsianShare, {asbb::kAsianShare}}, cyrillic{asbb::kTestCyrillicShare, {asbb::kCyrillicShare}};
    auto on = [](int value) { return Settings{{"SexuallyExplicit", value}}; };
    auto max = [](int size) { return Settings{{"MaxFileSize", size}}; };
    // The Asian and the Cyrillic switch, and Japanese excluded from Asian.
    auto CS = [](int a, int c, int exclude) { return Settings{{"AsianCharsets", a}, {"CyrilicCharsets", c}, {"charset/AsianExcludeJapanese", exclude}}; };
    // The Asian share's switch, percent allowed, Japanese excluded and Japanese minimum.
    auto A = [](int on, int allowed, int exclude, int japanese) {
        return Settings{{"AsianCharsets", on}, {"PercentOfAllowedAsianChars", allowed},
                        {"charset/AsianExcludeJapanese", exclude}, {"charset/JapaneseMinPercent", japanese}};
    };
    auto C = [](int on, int allowed) { return Settings{{"CyrilicCharsets", on}, {"PercentOfAllowedCyrillicChars", allowed}}; };
    const std::string noScripts = R"({"Total": 100, "Groups": {"Other": 0}, "Scripts": {}})";
    const std::string explicitSubject = "SEXUALLY-EXPLICIT: offer";
    struct Row { Verb v; Settings settings; M message; std::string verdicts; };
    std::vector<Row> rows = {
        {gtube, {}, M().TextPart("before " + kGtube + " after"), "1"},
        {gtube, {}, M().TextPart("plain").HtmlPart(kGtube), "1"},
        {gtube, {}, M().HtmlPart(kGtube), "1"},  // no text part at all
        {gtube, {}, M().TextPart("xjs*c4jdbqadn1.nsbn3*2idnen*gtube-standard-anti-ube-test-email*c.34x"), "0"},  // case matters
        {gtube, {}, M().TextPart(kGtube.substr(0, kGtube.size() - 1)), "0"},
        {gtube, {}, M(), "0"},
        {gtube, {}, M().TextPart(kGtube).WithoutHeaders(), "1"},
        {gtube, {}, M().TextPart(kGtube).WithoutPartsTree(), "0"},  // no texts without a tree
        {sexual, on(1), M().Subject(explicitSubject), "1"},
        {sexual, on(1), M().Subject("Sexually Explicit content"), "1"},
        {sexual, on(1), M().Subject("[sexually-explicit] offer"), "1"},  // offset 1 still counts
        {sexual, on(1), M().Subject("> sexually-explicit"), "0"},        // offset 2 does not
        // the first phrase found is the one looked at, even if the second starts the subject
        {sexual, on(1), M().Subject("sexually explicit, and later sexually-explicit"), "0"},
        {sexual, on(1), M().Subject(""), "0"},
        {sexual, on(1), M(), "0"},
        {sexual, on(1), M().Subject(explicitSubject).WithoutHeaders(), "0"},
        {sexual, on(1), M().Subject(explicitSubject).WithoutPartsTree(), "1"},
        {sexual, on(0), M().Subject(explicitSubject), "-"},  // switch off: not written at all
        {charsets, CS(1, 1, 0), M().ContentType("text/plain", "KOI8-R").TextPart("t"), "1 0"},
        {charsets, CS(0, 1, 0), M().ContentType("text/plain", "big5").TextPart("t"), "0 0"},  // Asian off
        // Japanese excluded: the Content-Type does not hit; the Subject is tried next
        {charsets, CS(1, 0, 1), M().ContentType("text/plain", "Shift_JIS").Subject("s", "GB2312").TextPart("t"), "1 1"},
        // found in a part's own headers
        {charsets, CS(1, 0, 0), M().ContentType("text/plain", "utf-8").Subject("s", "utf-8").Part(Part("EUC-KR")), "1 1"},
        {charsets, CS(0, 1, 0), M().Part(Part("windows-1251")), "1 0"},
        {charsets, CS(1, 0, 0), M().ContentType("text/plain", "utf-8").Part(Part("utf-8")), "0 0"},
        {charsets, CS(0, 0, 0), M().ContentType("text/plain", "big5").TextPart("t"), "- -"},  // both off
        {charsets, CS(1, 0, 0), M().ContentType("text/plain", "utf-8").WithoutPartsTree(), "- -"},
        {oversized, max(1000), M().TextPart("body").Size(1000), "0"},
        {oversized, max(1000), M().TextPart("body").Size(1001), "1"},
        {oversized, max(0), M().TextPart("body").Size(5000), "-"},  // no limit configured
        {oversized, max(-5), M().TextPart("body").Size(5000), "-"},
        {oversized, max(1000), M().TextPart("body").Size(5000).WithoutRoot(), "-"},
        {oversized, max(1000), M().TextPart("body").Size(5000).WithoutSource(), "-"},
        {asian, A(1, 62, 0, 20), Stats(50, 0, 0, 0), "1"},  // 50 of 80 = 62.5 %
        {asian, A(1, 63, 0, 20), Stats(50, 0, 0, 0), "0"},
        {asian, A(1, 50, 0, 20), Stats(40, 0, 0, 0), "0"},  // 50 % is not above 50
        {asian, A(1, 60, 1, 20), Stats(50, 20, 10, 0), "0"},  // kana: 60 % of Asian
        {asian, A(1, 60, 1, 60), Stats(50, 20, 10, 0), "1"},  // not above 60
        {asian, A(1, 60, 0, 20), M().Statistics(R"({"Total": 20, "Groups": {"Other": 20, "EastAsian": 5}})"), "0"},
        {asian, A(1, -1, 0, 20), M().Statistics("this is not JSON"), "0"},
        {asian, A(1, 60, 0, 20), M().TextPart("text"), "0"},
        {asian, A(0, 10, 0, 20), Stats(50, 0, 0, 0), "0"},  // switch off writes 0
        {cyrillic, C(1, 51), Stats(0, 0, 0, 41), "1"},      // 41 of 80 = 51.25 %
        {cyrillic, C(1, 52), Stats(0, 0, 0, 41), "0"},
        {cyrillic, C(1, 0), M().Statistics(noScripts), "0"},  // absent counts as 0
        {cyrillic, C(1, -1), M().Statistics(noScripts), "1"},
        {cyrillic, C(0, 0), Stats(0, 0, 0, 80), "0"},
        // clang-format on
    };
    // Every name of each list hits its own test only (the Japanese ones are Asian too, and stop
    // counting when Japanese is excluded): a row with the test on, a row with it off.
    // clang-format off
    const struct { const char* names; Settings on, off; const char* hit; } lists[] = {
        {"BIG5 BIG5-HKSCS GB2312 GBK GB18030 HZ ISO-2022-CN EUC-TW EUC-KR JHC JOHAB ISO-2022-KR", CS(1, 0, 0), CS(0, 1, 0), "1 1"},
        {"EUC-JP ISO-2002-JP ISO-2022-JP SHIFT-JIS SHIFT_JIS", CS(1, 0, 0), CS(1, 1, 1), "1 1"},
        {"KOI-8 WINDOWS-1251 IBM-855 ISO-8859-5 ISO-IR-111 KOI8-R MACCYRILIC CP-866 KOI8-U MACUKRAINIAN", CS(0, 1, 0), CS(1, 0, 0), "1 0"},
    };
    // clang-format on
    for (const auto& list : lists) {
        std::istringstream names(list.names);
        for (std::string name; names >> name;) {
            const M message = std::move(M().ContentType("text/plain", MixedCase(name).c_str()));
            rows.push_back({charsets, list.on, message, list.hit});
            rows.push_back({charsets, list.off, message, "0 0"});
        }
    }
    // Every test on from the start (a row sets what its verb reads), so that a verb that runs into
    // another one writes that one's key too.
    testing_support::SwitchOnMultiTests(m_settings, 1000, 50);
    for (const Row& row : rows) {
        SCOPED_TRACE("row " + std::to_string(&row - rows.data()));
        Configure(row.settings);
        auto message = row.message.Build();
        EXPECT_EQ(Run(filter, *message, row.v.verb), 0) << HostError();
        EXPECT_EQ(Verdicts(message->blackbox(), row.v.keys), row.verdicts);
        for (uint32_t key = asbb::kCharsetHit; key <= asbb::kCyrillicShare; ++key) {
            const bool own = std::count(row.v.keys.begin(), row.v.keys.end(), key) != 0;
            EXPECT_EQ(message->blackbox().SetCalls(key), own && message->blackbox().Has(key))
                << key;
        }
    }
    EXPECT_TRUE(m_traces.Contains("Hit the GTUBE in a html part!"));
    EXPECT_TRUE(
        m_traces.Contains("AsianCharDetection: Total 80; Asian 50; Japanese 0; Percent 62"));
    EXPECT_TRUE(m_traces.Contains("Error: Cannot get character statistics"));
    EXPECT_TRUE(m_traces.Contains("CyrillicCharDetection: Total 80; Cyrilic 41; Percent 51"));
    // Text parts come first.
    m_traces.lines.clear();
    auto both = M().TextPart(kGtube).HtmlPart(kGtube).Build();
    ASSERT_EQ(Run(filter, *both, asbb::kTestGtube), 0);
    EXPECT_TRUE(m_traces.Contains("Hit the GTUBE on a text part!"));
    EXPECT_FALSE(m_traces.Contains("Hit the GTUBE in a html part!"));
}

// Failures reach the host as the filter's message and write no verdict; an unknown verb is
// only traced.
TEST_F(MultiFilterTest, FailuresAndUnknownVerb) {
    Configure({{"AsianCharsets", 1}});
    // clang-format off
    struct { M message; uint32_t verb; uint64_t session, failAllocation; const char* error; } rows[] = {
        {M().TextPart("x"), asbb::kTestGtube, 99, 0, "ASInternalException - MESSAGE: No data struct for current session"},
        {M().NullHeader("Content-Type").TextPart("x"), asbb::kTestCharsets, kSession, 0,
         "ASInternalException - MESSAGE: Dynamic conversion failed"},
        // The text/plain parts array of the tree (1) or its storage for the part (2) cannot be
        // had: the array is not kept, and a later call builds it.
        {M().TextPart(kGtube), asbb::kTestGtube, kSession, 1, "ASException - MESSAGE: Problems creating the facilitator"},
        {M().TextPart(kGtube), asbb::kTestGtube, kSession, 2, "ASException - MESSAGE: Problems creating the facilitator"},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.error);
        auto message = row.message.Build();
        host::FailAllocationNumber(row.failAllocation);
        EXPECT_EQ(Run(filter, *message, row.verb, nullptr, row.session), ascommon::kErrInternal);
        host::FailAllocationNumber(0);
        EXPECT_EQ(HostError(), kEntityFailed + row.error);
        EXPECT_EQ(Verdicts(message->blackbox(), {asbb::kGtube, asbb::kCharsetHit}), "- -");
        if (row.failAllocation == 0) continue;
        ASSERT_EQ(Run(filter, *message, row.verb), 0);
        EXPECT_EQ(Verdicts(message->blackbox(), {asbb::kGtube}), "1");
    }
    EXPECT_TRUE(
        m_traces.Contains("[CPartsArray] Memory allocation error while trying to create "
                          "text plain parts array"));
    EXPECT_EQ(filter->ProcessEntity(kSession, nullptr, asbb::kTestGtube), ascommon::kErrInternal);

    struct Refusing : host::BlackBoxStore {  // refuses the explicit-subject verdict
        int32_t Set(uint32_t key, uint32_t type, uint32_t zero, uint64_t value) override {
            return key == asbb::kSexuallyExplicit ? -1 : BlackBoxStore::Set(key, type, zero, value);
        }
    };
    Configure({{"SexuallyExplicit", 1}});
    auto message = M().Subject("SEXUALLY-EXPLICIT").TextPart(kGtube).Build();
    Refusing box;
    box.PutObject(asbb::kHeaders, asbb::kObject, message->headers(), false);
    ASEntity entity = {nullptr, nullptr, &box, nullptr};
    EXPECT_EQ(filter->ProcessEntity(kSession, &entity, asbb::kTestSexuallyExplicit),
              ascommon::kErrInternal);
    EXPECT_EQ(HostError(), kEntityFailed + "ASMemException - MESSAGE: Allocation error!");

    ASSERT_EQ(Run(filter, *message, asbb::kTestCyrillicShare + 1), 0);
    EXPECT_EQ(m_traces.Level("MultiFilter invalid verb"), 1);
    for (uint32_t key = asbb::kCharsetHit; key <= asbb::kCyrillicShare; ++key) {
        EXPECT_FALSE(message->blackbox().Has(key));
    }
}

}  // namespace
