// Allocation fault injection. The module gets a hook table whose _as_new fails the k-th
// allocation the module makes (null for the non-throwing form, std::bad_alloc for the throwing
// one), and each filter runs a representative host scenario once for every k from 1 to the number
// of allocations the scenario makes without a failure. The runs must leave no hook block (checked
// by the shared test main) and no streamer temp file behind; the call that meets the failure must
// either report one of the codes the module gives for it, or lose nothing: a call that reports
// success must give what the run without failure gave, and so must every later call until one
// reports a failure.
#include <atomic>
#include <functional>
#include <memory>
#include <new>
#include <set>

#include "temp_folder.h"
#include "test_support.h"
#include "url_data_files.h"

namespace {

using testing_support::HostError;
using testing_support::Verdicts;

std::atomic<uint64_t> g_moduleAllocations{0};  // calls of _as_new in this run
std::atomic<uint64_t> g_failAt{0};             // the call that fails; 0: none

void* FailingNew(uint64_t size, bool throwOnFailure) {
    if (++g_moduleAllocations == g_failAt.load()) {
        if (throwOnFailure) throw std::bad_alloc();
        return nullptr;
    }
    return host::HostHooks()._as_new(size, throwOnFailure);
}

constexpr int64_t kNull = -1000001;   // a call that returns a pointer gave null
constexpr int64_t kThrew = -1000002;  // std::bad_alloc reached the host
constexpr int64_t kSkip = -1000003;   // an earlier failure left no module to call
constexpr uint64_t kSession = 7;

// What one host call gave, in a form that runs can compare.
struct Result {
    int64_t code;
    std::string output;
    bool operator==(const Result& o) const { return code == o.code && output == o.output; }
};

// One host call on the module, and the codes it may give when an allocation in it fails.
struct Step {
    std::string name;
    std::function<Result(CAFilter*)> call;
    std::set<int64_t> failureCodes = {ascommon::kErrInternal};
};

// clang-format off
const Step kOpen = {"OpenSession", [](CAFilter* f) { return Result{host::OpenSession(f, kSession), ""}; },
                    {ascommon::kErrMemory, ascommon::kErrInternal}};
const Step kClose = {"CloseSession", [](CAFilter* f) { return Result{host::CloseSession(f, kSession), ""}; }, {}};
// clang-format on

// ProcessEntity of `verb` on the message; the output is the verdicts under `keys`, after the
// lines the extract verb wrote to its stream.
Step Entity(const std::string& name, const host::MessageBuilder& message, uint32_t verb,
            const std::vector<uint32_t>& keys, int32_t selector = 0,
            const std::string& address = "", const std::string& header = "") {
    return {name, [=](CAFilter* f) {
                auto m = message.Build();
                std::unique_ptr<FILE, int (*)(FILE*)> out(std::tmpfile(), std::fclose);
                host::BlackBoxStore extra;
                testing_support::FillExtra(extra, selector, address, header);
                extra.PutObject(asbb::kUrlKeyStream, asbb::kObject,
                                reinterpret_cast<ascommon::CBlackBoxObject*>(out.get()), false);
                ASEntity entity = {nullptr, nullptr, &m->blackbox(), &extra};
                const int32_t code = f->ProcessEntity(kSession, &entity, verb);
                return Result{code, (code != 0 ? HostError() + " " : "") +
                                        testing_support::ReadAll(out.get()) +
                                        Verdicts(m->blackbox(), keys)};
            }};
}

class FaultInjectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder.ok());
        ASSERT_TRUE(library.Open(host::DefaultModulePath())) << library.error();
        host::CaptureTraces(0);
        m_table = host::HostHooks();
        m_table._as_new = FailingNew;
    }
    void TearDown() override { g_failAt = 0; }

    // One run with the k-th allocation failing (0: none): the factory and the module, the
    // steps, the release. Gives each call's result; `after` gets the allocations made by then.
    std::vector<Result> Run(uint64_t k, std::vector<uint64_t>* after) {
        std::vector<Result> results;
        auto record = [&](const Result& result) {
            results.push_back(result);
            if (after) after->push_back(g_moduleAllocations.load());
        };
        g_moduleAllocations = 0;
        g_failAt = k;
        // A call that throws std::bad_alloc; a step without a module is skipped.
        auto attempt = [&](const std::function<Result()>& call) {
            try {
                record(call());
            } catch (const std::bad_alloc&) {
                record({kThrew, ""});
            }
        };
        CAClassFactory* factory = library.GetClassFactory(&m_table);
        record({factory ? 0 : kNull, ""});
        CAFilter* filter = nullptr;
        attempt([&] {
            if (factory == nullptr) return Result{kSkip, ""};
            filter = static_cast<CAFilter*>(factory->CreateModule(m_index));
            filter->m_settings = &settings;
            if (filter->m_sharedDataReady != 0) {
                return Result{0, filter->m_name.c_str() ? filter->m_name.c_str() : "-"};
            }
            filter = nullptr;  // the factory releases it
            return Result{static_cast<int32_t>(ascommon::DefaultGetErr()->GetNumber()), ""};
        });
        for (Step& step : steps) {
            attempt([&] { return filter ? step.call(filter) : Result{kSkip, ""}; });
        }
        record({library.ReleaseClassFactory(), ""});
        g_failAt = 0;
        return results;
    }

    // The run without failure, then one run for every allocation it made (ten runs past the
    // first that fails the test at most).
    void RunEveryFailure(const char* scenario, uint64_t minimum) {
        std::vector<Step> all = {{"GetClassFactory", nullptr, {kNull}},
                                 {"CreateModule", nullptr, {kThrew, ascommon::kErrMemory}}};
        all.insert(all.end(), steps.begin(), steps.end());
        all.push_back({"ReleaseClassFactory", nullptr, {}});
        std::vector<uint64_t> after;  // module allocations made once each call has returned
        const std::vector<Result> expected = Run(0, &after);
        for (size_t i = 0; i < all.size(); ++i) {
            EXPECT_TRUE(expected[i].code == 0 || expected[i].code == 1)
                << all[i].name << " fails without injection: " << expected[i].code << " "
                << expected[i].output;
        }
        const uint64_t total = after.back();
        EXPECT_GT(total, minimum) << scenario << ": too few allocations to inject";
        int runsAfterFailure = 0;
        for (uint64_t k = 1; k <= total && runsAfterFailure < 10; ++k) {
            const std::vector<Result> results = Run(k, nullptr);
            size_t failing = 0;  // the call that met the failure
            while (after[failing] < k) ++failing;
            size_t i = 0;
            while (i < all.size() && results[i] == expected[i]) ++i;
            if (i < all.size()) {
                // The first call that differs from the run without failure must be the one that
                // met the failure, and must say so with one of its codes.
                EXPECT_TRUE(i == failing && results[i].code != expected[i].code &&
                            all[i].failureCodes.count(results[i].code))
                    << "k=" << k << " (of " << total << ") " << all[i].name << ": gave "
                    << results[i].code << " '" << results[i].output << "', without failure "
                    << expected[i].code << " '" << expected[i].output << "'"
                    << (i == failing ? "" : " (the failure was in " + all[failing].name + ")");
                for (++i; i < all.size(); ++i) {
                    EXPECT_NE(results[i].code, kThrew) << "k=" << k << " " << all[i].name;
                }
            }
            if (HasFailure()) ++runsAfterFailure;
        }
        EXPECT_TRUE(folder.Entries(testfiles::TempNameStart("qxas")).empty())
            << "streamer temp files left";
    }

    testfiles::TempFolder folder;
    host::ModuleLibrary library;
    ASHookTable m_table;
    uint64_t m_index = 0;
    host::SettingsStore settings;
    std::vector<Step> steps;  // the scenario's calls once the module is made
};

// A list command on the session: both lists loaded (with a duplicate, an empty item and
// wildcards), or their sizes or items read back.
Result ListCommand(CAFilter* f, uint32_t command) {
    host::BlackBoxStore io;
    const std::u16string spammer = u"spammer.with.a.long.name@bulk-mailer.example.com";
    if (command == asbb::kLoadLists) {
        testing_support::PutLists(
            io, {spammer, u"*@wildcard-spam-domain.example.org", u"", spammer, u"short@x.com"},
            {u"Friend.With.Long.Name@trusted-partner.example.net",
             u"?ello.from.a.pattern@trusted.example"});
    }
    const int32_t code = f->ProcessCommand(kSession, command, &io);
    return Result{code, Verdicts(io, {asbb::kBlackListSize, asbb::kWhiteListSize,
                                      asbb::kBlackListItems, asbb::kWhiteListItems})};
}

// The black/white list filter: libraries, a session, both lists loaded, every verb, the list
// commands and statistics. Addresses are long enough to live on the heap.
TEST_F(FaultInjectionTest, BlackWhiteListFilter) {
    std::string folderPath = testing_support::LibraryFolder();
    while (folderPath.size() < 32) folderPath += "/.";  // long enough for the heap
    // The libraries from one folder, then from another: the first ones are released.
    for (const std::string& libraries : {folderPath, folderPath + "/"}) {
        steps.push_back({"ApplySharedSettings " + libraries, [this, libraries](CAFilter* f) {
                             settings.Set("/eml/global/SharedLibsPathNew", libraries);
                             return Result{f->ApplySharedSettings(), ""};
                         }});
    }
    auto command = [](uint32_t c) {
        return Step{"command " + std::to_string(c), [c](CAFilter* f) { return ListCommand(f, c); }};
    };
    using M = host::MessageBuilder;
    auto call = [](const char* name, const M& message, uint32_t verb, int32_t selector = 0,
                   const char* address = "", const char* header = "") {
        return Entity(name, message, verb,
                      {asbb::kWhitelisted, asbb::kBlacklisted, asbb::kAddedAddress,
                       asbb::kMatchedExpression, asbb::kSameAddress},
                      selector, address, header);
    };
    const std::string spammer = "spammer.with.a.long.name@bulk-mailer.example.com";
    // clang-format off
    steps.insert(steps.end(), {
        kOpen, command(asbb::kLoadLists),
        call("verb 0 white", M().From({"FRIEND.with.long.name@trusted-partner.example.net"}), asbb::kJudge),
        call("verb 0 wildcard", M().From({"anyone.at.all@wildcard-spam-domain.example.org"}), asbb::kJudge),
        call("verb 0 pattern", M().From({"hello.from.a.pattern@trusted.example"}), asbb::kJudge),
        call("verb 0 to itself", M().From({spammer}).To({spammer}), asbb::kJudge),
        call("verb 6", M().From({"new.blocked.sender@freshly-added.example.com"}), asbb::kAddFromToBlack),
        call("verb 7", M().From({"a.new.friend.of.ours@welcome.example.com"}), asbb::kAddFromToWhite),
        call("verb 10", M().Addresses("Reply-To", {"first.reply.address@replies.example.com",
                                                   "Second.Reply.Address@replies.example.com"}),
             asbb::kAddHeader, asbb::kWhiteList, "", "reply-to"),
        call("verb 11", M(), asbb::kAddAddress, asbb::kBlackList, "One.More.Blocked.Address@added-by-verb.example"),
        call("verb 12 listed", M(), asbb::kQueryAddress, 0, "second.reply.address@replies.example.com"),
        call("verb 12 unknown", M(), asbb::kQueryAddress, 0, "nobody.known.at.all@unlisted.example.com"),
        command(asbb::kReadListSizes), command(asbb::kReadLists),
        {"GetStatistics", [](CAFilter* f) {
             host::BlackBoxStore stats;
             const int32_t code = f->GetStatistics(kSession, &stats);
             return Result{code, Verdicts(stats, {asbb::kStatWhiteListSize, asbb::kStatBlackListSize})};
         }},
        kClose});
    // clang-format on
    m_index = testing_support::kBWFilter;
    RunEveryFailure("black/white list filter", 50);
}

// The URL filter: two black-list files and a white list, loaded, used, reloaded and used again;
// URLs of text and HTML parts, the sender's domain, and key extraction.
TEST_F(FaultInjectionTest, URLFilter) {
    testfiles::WriteListFile(folder / "black-list-one.dat",
                             {{"listed.example.com/a/very/long/path/to/one/page"},
                              {"mail.sub-domain-of-a-list.example.org"},
                              {"bad-domain-with-a-long-name.com"}},
                             folder.path());
    testfiles::WriteListFile(
        folder / "black-list-two.dat",
        {{}, {}, {"second-file-domain.example", "spam.co.uk", "sender-parent.example"}},
        folder.path());
    testfiles::WriteListFile(folder / "white-list.dat", {{}, {}, {"spam.co.uk"}}, folder.path());
    settings.Set("/eml/global/SharedDataPath", folder.path());
    settings.Set("/eml/global/GlobalTempPath", folder.path());
    settings.Set("/eml/filter/url/filesbl", "black-list-one.dat black-list-two.dat");
    settings.Set("/eml/filter/url/filewl", "white-list.dat");
    const Step load = {"ApplySharedSettings", [](CAFilter* f) {
                           return Result{f->ApplySharedSettings(), ""};
                       }};
    using M = host::MessageBuilder;
    auto check = [](const char* name, const M& message, uint32_t verb = asbb::kCheckUrls) {
        return Entity(name, message, verb, {asbb::kUrlListed, asbb::kUrlMatchedKeys});
    };
    // clang-format off
    steps = {
        load, kOpen,
        check("clean and listed", M().TextPart("text", {"http://clean-and-unlisted.example.net/", "http://www.bad-domain-with-a-long-name.com/x"})),
        check("URL key", M().HtmlPart("<a>", {"https://listed.example.com/a/very/long/path/to/one/page"})),
        check("sub-domain", M().TextPart("text", {"http://mail.sub-domain-of-a-list.example.org:8080/"})),
        check("second file", M().HtmlPart("<a>", {"http://www.second-file-domain.example/?q=1"})),
        load,  // the lists once more, then used again
        check("white", M().TextPart("text", {"http://www.spam.co.uk/whitelisted"})),
        check("sender", M().SenderDomain("mx.relay.sender-parent.example")),
        check("clean", M().TextPart("text", {"http://first.clean.example.com/%41", "http://second.clean.example.com/b"})
                           .HtmlPart("<a>", {"http://third.clean.example.com/c"}).SenderDomain("clean.sender.example.com")),
        check("extract", M().TextPart("t", {"http://www.bad-domain-with-a-long-name.com/a/b?c=d"})
                             .HtmlPart("<a>", {"http://mail.example-with-a-long-name.co.uk:81/"}), asbb::kExtractUrlKeys),
        kClose,
    };
    // clang-format on
    m_index = testing_support::kURLFilter;
    RunEveryFailure("URL filter", 50);
}

// The multipurpose filter: session switches, then each verb on a message that hits.
TEST_F(FaultInjectionTest, MultipurposeFilter) {
    testing_support::SwitchOnMultiTests(settings, 100, 30);
    host::PartFields html;  // a charset declared in an HTML part's own headers
    html.kind = nsEmlComponents::kBodyTextHtml;
    html.headers = {{}, {}, false, "text/html", "koi8-r", true, {}, {}, {}};
    // clang-format off
    steps = {
        kOpen,
        Entity("GTUBE", host::MessageBuilder().TextPart("plain").HtmlPart(testing_support::kGtube), asbb::kTestGtube, {asbb::kGtube}),
        Entity("explicit", host::MessageBuilder().Subject("SEXUALLY-EXPLICIT: a subject long enough for the heap"),
               asbb::kTestSexuallyExplicit, {asbb::kSexuallyExplicit}),
        Entity("charsets", host::MessageBuilder().TextPart("plain").Part(html), asbb::kTestCharsets,
               {asbb::kCharsetHit, asbb::kAsianCharset}),
        Entity("oversized", host::MessageBuilder().Size(200), asbb::kTestOversized, {asbb::kOversized}),
        Entity("Asian share", host::MessageBuilder().Statistics(R"({"Total": 100, "Groups": {"Other": 20, "EastAsian": 50,)"
                                                                R"( "European": 30}, "Scripts": {"Han": 50, "Latin": 30}})"),
               asbb::kTestAsianShare, {asbb::kAsianShare}),
        Entity("Cyrillic share", host::MessageBuilder().Statistics(R"({"Total": "10", "Groups": {"European": 10},)"
                                                                   R"( "Scripts": {"Cyrillic": 9.5, "Latin": 1}})"),
               asbb::kTestCyrillicShare, {asbb::kCyrillicShare}),
        kClose,
    };
    // clang-format on
    m_index = testing_support::kMultiFilter;
    RunEveryFailure("multipurpose filter", 20);
}

}  // namespace
