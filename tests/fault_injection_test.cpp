// Allocation fault injection. The module gets a hook table whose _as_new fails the k-th
// allocation the module makes (null for the non-throwing form, std::bad_alloc for the throwing
// one), and each filter runs a representative host scenario once for every k from 1 to the number
// of allocations the scenario makes without a failure. Every run must leave no hook block and no
// streamer temp file behind; the call that meets the failure must either report one of the codes
// the module gives for it, or lose nothing: a call that reports success must give what the run
// without failure gave, and so must every later call until one reports a failure.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "common/aserrno.h"
#include "host/host_hooks.h"
#include "host/message_builder.h"
#include "host/module_host.h"
#include "host/settings_store.h"
#include "temp_folder.h"
#include "url_data_files.h"

namespace {

// ---- The failing hook -------------------------------------------------------------------------

std::atomic<uint64_t> g_moduleAllocations{0};  // calls of _as_new in this run
std::atomic<uint64_t> g_failAt{0};             // the call that fails; 0: none

void* FailingNew(uint64_t size, bool throwOnFailure) {
    if (++g_moduleAllocations == g_failAt.load()) {
        if (throwOnFailure) throw std::bad_alloc();
        return nullptr;
    }
    return host::HostHooks()._as_new(size, throwOnFailure);
}

// ---- Scenarios ----------------------------------------------------------------------------------

constexpr int64_t kNull = -1000001;   // a call that returns a pointer gave null
constexpr int64_t kThrew = -1000002;  // std::bad_alloc reached the host
constexpr int64_t kSkip = -1000003;   // an earlier failure left nothing to call

// What one host call gave, in a form that runs can compare.
struct Result {
    int64_t code;
    std::string output;
    bool operator==(const Result& o) const { return code == o.code && output == o.output; }
};

struct Step {
    std::string name;
    std::function<Result()> call;
    std::set<int64_t> failureCodes;  // what the call may give when an allocation in it fails
};

std::string HostError() {
    return ascommon::DefaultGetErr()->GetText();
}

// The keys' values as the module wrote them ("-" for a key never written).
std::string Verdicts(host::BlackBoxStore& box, std::initializer_list<uint32_t> keys) {
    std::string out;
    for (uint32_t key : keys) {
        out += std::to_string(key) + "=";
        if (!box.Has(key)) {
            out += "- ";
        } else if (box.Get(key, asbb::kText, 1) != nullptr) {
            out += "'" + box.Text(key) + "' ";
        } else {
            out += std::to_string(box.IntValue(key, -1)) + " ";
        }
    }
    return out;
}

// A host driving one module type: factory, module, settings, sessions and the module's own steps.
class Scenario {
  public:
    Scenario(host::ModuleLibrary& library, uint64_t index) : m_library(library), m_index(index) {
        m_table = host::HostHooks();
        m_table._as_new = FailingNew;
    }
    virtual ~Scenario() = default;

    // The whole run: factory and module first, the module's own steps, release last.
    std::vector<Step> Steps() {
        std::vector<Step> steps = {
            {"GetClassFactory",
             [this] {
                 factory = m_library.GetClassFactory(&m_table);
                 return Result{factory ? 0 : kNull, ""};
             },
             {kNull}},
            {"CreateModule",
             [this]() -> Result {
                 if (factory == nullptr) return {kSkip, ""};
                 try {
                     filter = static_cast<CAFilter*>(factory->CreateModule(m_index));
                 } catch (const std::bad_alloc&) {
                     return {kThrew, ""};
                 }
                 filter->m_settings = &settings;
                 if (filter->m_sharedDataReady == 0) {
                     filter = nullptr;  // the factory releases it
                     return {static_cast<int32_t>(ascommon::DefaultGetErr()->GetNumber()), ""};
                 }
                 return {0, filter->m_name.c_str() ? filter->m_name.c_str() : "(no name)"};
             },
             {kThrew, -102}},
        };
        AddSteps(steps);
        steps.push_back({"ReleaseClassFactory",
                         [this] {
                             filter = nullptr;
                             factory = nullptr;
                             return Result{m_library.ReleaseClassFactory(), ""};
                         },
                         {}});
        return steps;
    }

  protected:
    virtual void AddSteps(std::vector<Step>& steps) = 0;

    // A step that needs the module; `call` gives the code and output.
    static Step On(Scenario* s, const std::string& name, std::function<Result(CAFilter*)> call,
                   std::set<int64_t> failureCodes = {-104}) {
        return {name,
                [s, call]() -> Result {
                    if (s->filter == nullptr) return {kSkip, ""};
                    try {
                        return call(s->filter);
                    } catch (const std::bad_alloc&) {
                        return {kThrew, ""};
                    }
                },
                failureCodes};
    }

    Step OpenSession(uint64_t session) {
        return On(this, "OpenSession",
                  [session](CAFilter* f) {
                      return Result{host::OpenSession(f, session), ""};
                  },
                  {-102, -104});
    }
    Step CloseSession(uint64_t session) {
        return On(this, "CloseSession",
                  [session](CAFilter* f) {
                      return Result{host::CloseSession(f, session), ""};
                  },
                  {});
    }

    // ProcessEntity of `verb` on the message; the output is the verdicts under `keys`.
    Step Entity(const std::string& name, const host::MessageBuilder& message, uint32_t verb,
                std::initializer_list<uint32_t> keys,
                std::function<void(host::BlackBoxStore&)> extra = nullptr) {
        std::vector<uint32_t> keyList(keys);
        return On(this, name, [=](CAFilter* f) {
            auto m = message.Build();
            host::BlackBoxStore extraBox;
            if (extra) extra(extraBox);
            ASEntity entity = {nullptr, nullptr, &m->blackbox(), extra ? &extraBox : nullptr};
            const int32_t code = f->ProcessEntity(kSession, &entity, verb);
            std::string out = code != 0 ? HostError() + " " : "";
            for (uint32_t key : keyList) out += Verdicts(m->blackbox(), {key});
            return Result{code, out};
        });
    }

    static constexpr uint64_t kSession = 7;
    host::ModuleLibrary& m_library;
    ASHookTable m_table;
    uint64_t m_index;

  public:
    host::SettingsStore settings;
    CAClassFactory* factory = nullptr;
    CAFilter* filter = nullptr;
};

// The black/white list filter: libraries, a session, both lists loaded, every verb, the list
// commands and statistics. Addresses are long enough to live on the heap.
class BWScenario : public Scenario {
  public:
    explicit BWScenario(host::ModuleLibrary& library) : Scenario(library, 0) {
        const std::string path = host::DefaultModulePath();
        m_folder = path.substr(0, path.find_last_of('/'));
        while (m_folder.size() < 32) m_folder += "/.";  // long enough for the heap
    }

  private:
    static host::WideTextList* List(const std::vector<std::u16string>& items) {
        return host::NewWideTextList(items);
    }

    Step Command(const std::string& name, uint32_t command) {
        return On(this, name, [command](CAFilter* f) {
            host::BlackBoxStore io;
            if (command == 5) {
                io.PutObject(
                    1001, 15,
                    List({u"spammer.with.a.long.name@bulk-mailer.example.com",
                          u"*@wildcard-spam-domain.example.org", u"",
                          u"spammer.with.a.long.name@bulk-mailer.example.com", u"short@x.com"}),
                    true);
                io.PutObject(1002, 15,
                             List({u"Friend.With.Long.Name@trusted-partner.example.net",
                                   u"?ello.from.a.pattern@trusted.example"}),
                             true);
            }
            const int32_t code = f->ProcessCommand(kSession, command, &io);
            std::string out = Verdicts(io, {1003, 1004});
            for (uint32_t key : {1001u, 1002u}) {
                for (uint64_t i = 0; io.List(key) && i < io.List(key)->size(); ++i) {
                    const auto& wide = io.List(key)->at(i);
                    out += std::string(wide.c_str(), wide.c_str() + wide.length()) + ",";
                }
            }
            return Result{code, out};
        });
    }

    static host::MessageBuilder Mail(const std::string& from, const std::string& to = "") {
        host::MessageBuilder m;
        m.From({from});
        if (!to.empty()) m.To({to});
        return m;
    }

    static std::function<void(host::BlackBoxStore&)> Extra(int32_t selector,
                                                           const std::string& address,
                                                           const std::string& header = "") {
        return [=](host::BlackBoxStore& box) {
            if (selector) box.SetInt(2001, selector);
            if (!address.empty()) box.SetWideText(2005, host::WidenKey(address));
            if (!header.empty()) box.SetWideText(2004, host::WidenKey(header));
        };
    }

    void AddSteps(std::vector<Step>& steps) override {
        const std::initializer_list<uint32_t> verdicts = {21001, 21002, 21003, 21004, 21005};
        const std::string blocked = "new.blocked.sender@freshly-added.example.com";
        // The libraries from one folder, then from another: the first ones are released.
        for (const std::string& folder : {m_folder, m_folder + "/"}) {
            steps.push_back(On(this, "ApplySharedSettings " + folder, [this, folder](CAFilter* f) {
                settings.Set("/eml/global/SharedLibsPathNew", folder);
                return Result{f->ApplySharedSettings(), ""};
            }));
        }
        steps.push_back(OpenSession(kSession));
        steps.push_back(Command("command 5", 5));
        steps.push_back(Entity("verb 0 white",
                               Mail("FRIEND.with.long.name@trusted-partner.example.net"), 0,
                               verdicts));
        steps.push_back(Entity("verb 0 wildcard",
                               Mail("anyone.at.all@wildcard-spam-domain.example.org"), 0,
                               verdicts));
        steps.push_back(
            Entity("verb 0 pattern", Mail("hello.from.a.pattern@trusted.example"), 0, verdicts));
        steps.push_back(Entity("verb 0 to itself",
                               Mail("spammer.with.a.long.name@bulk-mailer.example.com",
                                    "spammer.with.a.long.name@bulk-mailer.example.com"),
                               0, verdicts));
        steps.push_back(Entity("verb 6", Mail(blocked), 6, verdicts));
        steps.push_back(Entity("verb 0 added", Mail(blocked), 0, verdicts));
        steps.push_back(
            Entity("verb 7", Mail("a.new.friend.of.ours@welcome.example.com"), 7, verdicts));
        host::MessageBuilder replyTo;
        replyTo.Addresses("Reply-To", {"first.reply.address@replies.example.com",
                                       "Second.Reply.Address@replies.example.com"});
        steps.push_back(Entity("verb 10", replyTo, 10, verdicts, Extra(2003, "", "reply-to")));
        steps.push_back(Entity("verb 11", host::MessageBuilder(), 11, verdicts,
                               Extra(2002, "One.More.Blocked.Address@added-by-verb.example")));
        for (const char* query : {"second.reply.address@replies.example.com",
                                  "one.more.blocked.address@added-by-verb.example",
                                  "nobody.known.at.all@unlisted.example.com"}) {
            steps.push_back(Entity(std::string("verb 12 ") + query, host::MessageBuilder(), 12,
                                   verdicts, Extra(0, query)));
        }
        steps.push_back(Command("command 9", 9));
        steps.push_back(Command("command 8", 8));
        steps.push_back(On(this, "GetStatistics", [](CAFilter* f) {
            host::BlackBoxStore stats;
            const int32_t code = f->GetStatistics(kSession, &stats);
            return Result{code, Verdicts(stats, {25001, 25002})};
        }));
        steps.push_back(CloseSession(kSession));
    }

    std::string m_folder;  // where the companion libraries are
};

// The URL filter: two black-list files and a white list, loaded and reloaded; URLs of text and
// HTML parts, the sender's domain, and key extraction.
class URLScenario : public Scenario {
  public:
    URLScenario(host::ModuleLibrary& library, const testfiles::TempFolder& folder)
        : Scenario(library, 1) {
        testfiles::WriteListFile(folder / "black-list-one.dat",
                                 {{"listed.example.com/a/very/long/path/to/one/page"},
                                  {"mail.sub-domain-of-a-list.example.org"},
                                  {"bad-domain-with-a-long-name.com"}},
                                 folder.path());
        testfiles::WriteListFile(
            folder / "black-list-two.dat",
            {{}, {}, {"second-file-domain.example", "spam.co.uk", "sender-parent.example"}},
            folder.path());
        testfiles::WriteListFile(folder / "white-list.dat", {{}, {}, {"spam.co.uk"}},
                                 folder.path());
        settings.Set("/eml/global/SharedDataPath", folder.path());
        settings.Set("/eml/global/GlobalTempPath", folder.path());
        settings.Set("/eml/filter/url/filesbl", "black-list-one.dat black-list-two.dat");
        settings.Set("/eml/filter/url/filewl", "white-list.dat");
    }

  private:
    void AddSteps(std::vector<Step>& steps) override {
        steps.push_back(On(this, "ApplySharedSettings", [](CAFilter* f) {
            return Result{f->ApplySharedSettings(), ""};
        }));
        steps.push_back(OpenSession(kSession));
        struct Mail {
            std::vector<std::string> text, html;
            const char* sender;
        } mails[] = {
            {{"http://clean-and-unlisted.example.net/",
              "http://www.bad-domain-with-a-long-name.com/x"},
             {},
             nullptr},
            {{}, {"https://listed.example.com/a/very/long/path/to/one/page"}, nullptr},
            {{"http://mail.sub-domain-of-a-list.example.org:8080/"}, {}, nullptr},
            {{}, {"http://www.second-file-domain.example/?q=1"}, nullptr},
            {{"http://www.spam.co.uk/whitelisted"}, {}, nullptr},
            {{}, {}, "mx.relay.sender-parent.example"},
            {{"http://first.clean.example.com/%41", "http://second.clean.example.com/b"},
             {"http://third.clean.example.com/c"},
             "clean.sender.example.com"},
        };
        // Every mail after the first load, and again after the lists were loaded once more.
        for (int round = 0; round < 2; ++round) {
            int n = 0;
            for (const Mail& mail : mails) {
                host::MessageBuilder m;
                if (!mail.text.empty()) m.TextPart("text", mail.text);
                if (!mail.html.empty()) m.HtmlPart("<a>", mail.html);
                if (mail.sender) m.SenderDomain(mail.sender);
                steps.push_back(Entity("verb 0 #" + std::to_string(++n), m, 0, {21030, 21031}));
            }
            if (round == 0) {
                steps.push_back(On(this, "ApplySharedSettings again", [](CAFilter* f) {
                    return Result{f->ApplySharedSettings(), ""};
                }));
            }
        }
        steps.push_back(On(this, "verb 21", [](CAFilter* f) {
            auto m = host::MessageBuilder()
                         .TextPart("t", {"http://www.bad-domain-with-a-long-name.com/a/b?c=d"})
                         .HtmlPart("<a>", {"http://mail.example-with-a-long-name.co.uk:81/"})
                         .Build();
            std::unique_ptr<FILE, int (*)(FILE*)> out(std::tmpfile(), std::fclose);
            host::BlackBoxStore extra;
            extra.PutObject(1030, 7, reinterpret_cast<ascommon::CBlackBoxObject*>(out.get()),
                            false);
            ASEntity entity = {nullptr, nullptr, &m->blackbox(), &extra};
            const int32_t code = f->ProcessEntity(kSession, &entity, 21);
            std::rewind(out.get());
            std::string written;
            char buffer[256];
            while (std::fgets(buffer, sizeof buffer, out.get())) written += buffer;
            return Result{code, written + Verdicts(m->blackbox(), {21030, 21031})};
        }));
        steps.push_back(On(this, "ProcessCommand", [](CAFilter* f) {
            host::BlackBoxStore io;
            return Result{f->ProcessCommand(kSession, 3, &io), ""};
        }));
        steps.push_back(CloseSession(kSession));
    }
};

// The multipurpose filter: session switches, then each verb on a message that hits.
class MultiScenario : public Scenario {
  public:
    explicit MultiScenario(host::ModuleLibrary& library) : Scenario(library, 2) {
        for (const char* key :
             {"/eml/filter/multi/SexuallyExplicit", "/eml/filter/multi/AsianCharsets",
              "/eml/filter/multi/CyrilicCharsets"}) {
            settings.SetInt(key, 1);
        }
        settings.SetInt("/eml/filter/multi/MaxFileSize", 100);
        settings.SetInt("/eml/filter/multi/PercentOfAllowedAsianChars", 30);
        settings.SetInt("/eml/filter/multi/PercentOfAllowedCyrillicChars", 30);
    }

  private:
    void AddSteps(std::vector<Step>& steps) override {
        const char kGtube[] =
            "XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34X";
        steps.push_back(OpenSession(kSession));
        steps.push_back(Entity("1804", host::MessageBuilder().TextPart("plain").HtmlPart(kGtube),
                               1804, {21041}));
        steps.push_back(Entity(
            "1805",
            host::MessageBuilder().Subject("SEXUALLY-EXPLICIT: a subject long enough for the heap"),
            1805, {21043}));
        host::PartFields html;
        html.kind = nsEmlComponents::kBodyTextHtml;
        html.headers.hasContentType = true;
        html.headers.mediaType = "text/html";
        html.headers.contentCharset = "koi8-r";
        steps.push_back(Entity("1806", host::MessageBuilder().TextPart("plain").Part(html), 1806,
                               {21040, 21044}));
        steps.push_back(Entity("1807", host::MessageBuilder().Size(200), 1807, {21042}));
        steps.push_back(Entity("1808",
                               host::MessageBuilder().Statistics(
                                   R"({"Total": 100, "Groups": {"Other": 20, "EastAsian": 50,)"
                                   R"( "European": 30}, "Scripts": {"Han": 50, "Latin": 30}})"),
                               1808, {21045}));
        steps.push_back(Entity(
            "1809",
            host::MessageBuilder().Statistics(R"({"Total": "10", "Groups": {"European": 10},)"
                                              R"( "Scripts": {"Cyrillic": 9.5, "Latin": 1}})"),
            1809, {21046}));
        steps.push_back(CloseSession(kSession));
    }
};

// ---- The runs -----------------------------------------------------------------------------------

class FaultInjectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder.ok());
        ASSERT_TRUE(library.Open(host::DefaultModulePath())) << library.error();
        host::CaptureTraces(0);
    }
    void TearDown() override { g_failAt = 0; }

    // One run with the k-th allocation failing (0: none); the results of every step.
    std::vector<Result> Run(Scenario& scenario, uint64_t k, std::vector<uint64_t>* allocations) {
        std::vector<Result> results;
        std::vector<Step> steps = scenario.Steps();
        g_moduleAllocations = 0;
        g_failAt = k;
        for (Step& step : steps) {
            try {
                results.push_back(step.call());
            } catch (const std::bad_alloc&) {
                results.push_back({kThrew, ""});
            }
            if (allocations) allocations->push_back(g_moduleAllocations.load());
        }
        g_failAt = 0;
        return results;
    }

    // The run without failure, then one run for every allocation it made (ten runs past the first
    // that fails the test at most). Returns that count.
    uint64_t RunEveryFailure(Scenario& scenario) {
        const std::vector<Step> steps = scenario.Steps();
        std::vector<uint64_t> after;  // module allocations made once each step has returned
        const host::HookCounters start = host::Counters();
        const std::vector<Result> expected = Run(scenario, 0, &after);
        for (size_t i = 0; i < steps.size(); ++i) {
            EXPECT_TRUE(expected[i].code == 0 || expected[i].code == 1)
                << steps[i].name << " fails without injection: " << expected[i].code << " "
                << expected[i].output;
        }
        CheckNothingLeft(start, 0);
        const uint64_t total = after.back();
        int runsAfterFailure = 0;
        for (uint64_t k = 1; k <= total && runsAfterFailure < 10; ++k) {
            const host::HookCounters before = host::Counters();
            const std::vector<Result> results = Run(scenario, k, nullptr);
            size_t failing = 0;  // the step that met the failure
            while (after[failing] < k) ++failing;
            size_t i = 0;
            while (i < steps.size() && results[i] == expected[i]) ++i;
            if (i < steps.size()) {
                // The first call that differs from the run without failure must be the one that
                // met the failure, and must say so with one of its codes.
                EXPECT_TRUE(i == failing && results[i].code != expected[i].code &&
                            steps[i].failureCodes.count(results[i].code))
                    << "k=" << k << " (of " << total << ") " << steps[i].name << ": gave "
                    << results[i].code << " '" << results[i].output << "', without failure "
                    << expected[i].code << " '" << expected[i].output << "'"
                    << (i == failing ? "" : " (the failure was in " + steps[failing].name + ")");
                for (++i; i < steps.size(); ++i) {
                    EXPECT_NE(results[i].code, kThrew) << "k=" << k << " " << steps[i].name;
                }
            }
            CheckNothingLeft(before, k);
            if (HasFailure()) ++runsAfterFailure;
        }
        return total;
    }

    void CheckNothingLeft(const host::HookCounters& before, uint64_t k) {
        const host::HookCounters now = host::Counters();
        EXPECT_EQ(now.liveBytes, before.liveBytes) << "k=" << k << ": blocks left behind";
        EXPECT_EQ(now.allocations - before.allocations, now.frees - before.frees) << "k=" << k;
        EXPECT_EQ(now.untaggedFrees, before.untaggedFrees) << "k=" << k;
        EXPECT_TRUE(folder.Entries(testfiles::TempNameStart("qxas")).empty())
            << "k=" << k << ": streamer temp files left";
    }

    // Runs every failure of the scenario, which must make more than `minimum` allocations.
    void Check(Scenario& scenario, const char* name, uint64_t minimum) {
        const uint64_t n = RunEveryFailure(scenario);
        EXPECT_GT(n, minimum);
        std::printf("[          ] %s: %llu allocations injected\n", name,
                    static_cast<unsigned long long>(n));
    }

    testfiles::TempFolder folder;
    host::ModuleLibrary library;
};

TEST_F(FaultInjectionTest, BlackWhiteListFilter) {
    BWScenario scenario(library);
    Check(scenario, "black/white list filter", 50);
}

TEST_F(FaultInjectionTest, URLFilter) {
    URLScenario scenario(library, folder);
    Check(scenario, "URL filter", 50);
}

TEST_F(FaultInjectionTest, MultipurposeFilter) {
    MultiScenario scenario(library);
    Check(scenario, "multipurpose filter", 20);
}

}  // namespace
