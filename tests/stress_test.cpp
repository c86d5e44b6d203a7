// Stress: eight host threads scan messages through all three filters while another thread
// reloads the URL filter's lists (its shared settings, alternating between two list files) and
// the black/white lists of the shared session (command 5, alternating between two lists), a
// few milliseconds apart. Both alternatives of each list agree on every address and URL the
// messages use, so every verdict is known whatever list is in force. The run is bounded by
// counts, not time; a watchdog aborts the process when nothing moves for 60 seconds. Sessions
// are opened before the threads start and closed after they end, as the module's contract asks.
// Meant for ThreadSanitizer as much as for the regular build.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/aserrno.h"
#include "host/host_hooks.h"
#include "host/message_builder.h"
#include "host/module_host.h"
#include "host/settings_store.h"
#include "temp_folder.h"
#include "url_data_files.h"

namespace {

constexpr int kScanners = 8;
constexpr int kMessagesEach = 120;   // per scanner, at the least
constexpr int kReloadsAtLeast = 30;  // the scanners go on until this many reloads overlapped them
constexpr uint64_t kSharedSession = 1;

const char kGtube[] = "XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34X";

host::WideTextList* WideList(const std::vector<std::string>& items) {
    std::vector<std::u16string> wide;
    for (const std::string& item : items) wide.push_back(host::WidenKey(item));
    return host::NewWideTextList(wide);
}

// One message and the verdicts the filters must give it.
struct Mail {
    std::string from;
    int white, black;  // keys 21001 and 21002
    std::string url;
    int listed;  // key 21030
};

const Mail kMails[] = {
    {"good.friend@partner.example.net", 1, 0, "http://clean.example.org/page", 0},
    {"sender@bulk-spam.example.com", 0, 1, "http://www.listed-domain.com/a", 1},
    {"nobody@unknown.example.com", 0, 0, "https://mail.listed-domain.com:8080/", 1},
    {"Someone.Else@Wild.Example.org", 0, 1, "http://clean.example.org/other", 0},
};

class StressTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder.ok());
        ASSERT_TRUE(library.Open(host::DefaultModulePath())) << library.error();
        host::CaptureTraces(0);
        // Two list files that agree on what the messages use and differ elsewhere.
        testfiles::WriteListFile(folder / "a.dat", {{}, {}, {"listed-domain.com", "only-a.com"}},
                                 folder.path());
        testfiles::WriteListFile(folder / "b.dat", {{"x.example/y"}, {}, {"listed-domain.com"}},
                                 folder.path());
        const std::string module = host::DefaultModulePath();
        settings.Set("/eml/global/SharedLibsPathNew", module.substr(0, module.find_last_of('/')));
        settings.Set("/eml/global/SharedDataPath", folder.path());
        settings.Set("/eml/global/GlobalTempPath", folder.path());
        settings.Set("/eml/filter/url/filesbl", "a.dat");
        for (const char* key :
             {"/eml/filter/multi/SexuallyExplicit", "/eml/filter/multi/AsianCharsets",
              "/eml/filter/multi/CyrilicCharsets"}) {
            settings.SetInt(key, 1);
        }
        settings.SetInt("/eml/filter/multi/MaxFileSize", 1000);
        settings.SetInt("/eml/filter/multi/PercentOfAllowedAsianChars", 50);
    }

    void TearDown() override {
        host::CaptureTraces(0);
        host::TakeTraces();
    }

    // Command 5 on the shared session with the alternative `which` of the lists.
    int32_t LoadLists(CAFilter* bw, int which) {
        host::BlackBoxStore io;
        std::vector<std::string> black = {"sender@bulk-spam.example.com", "*@wild.example.org"};
        black.push_back(which ? "only-in-b@x.example" : "only*in-a@x.example");
        io.PutObject(1001, 15, WideList(black), true);
        io.PutObject(1002, 15, WideList({"good.friend@partner.example.net"}), true);
        return bw->ProcessCommand(kSharedSession, 5, &io);
    }

    testfiles::TempFolder folder;
    host::ModuleLibrary library;
    host::SettingsStore settings;
};

// Runs one message through every filter; returns what went wrong, or "".
std::string Scan(CAFilter* bw, CAFilter* url, CAFilter* multi, uint64_t session, const Mail& mail,
                 int n) {
    auto message = host::MessageBuilder()
                       .From({mail.from})
                       .To({"me@here.example"})
                       .Subject("Sexually-Explicit: message " + std::to_string(n))
                       .TextPart("see " + mail.url, {mail.url})
                       .HtmlPart(n % 2 ? kGtube : "<p>hello</p>", {"http://clean.example.org/x"})
                       .SenderDomain("relay.example.net")
                       .Statistics(R"({"Total": 10, "Groups": {"Other": 1, "EastAsian": 9},)"
                                   R"( "Scripts": {"Han": 9}})")
                       .Size(2000)
                       .Build();
    host::BlackBoxStore& box = message->blackbox();
    ASEntity entity = {nullptr, nullptr, &box, nullptr};
    struct Call {
        CAFilter* filter;
        uint64_t session;
        uint32_t verb;
    } calls[] = {{bw, kSharedSession, 0}, {url, session, 0},      {multi, session, 1804},
                 {multi, session, 1805},  {multi, session, 1806}, {multi, session, 1807},
                 {multi, session, 1808},  {multi, session, 1809}};
    for (const Call& call : calls) {
        if (call.filter->ProcessEntity(call.session, &entity, call.verb) != 0) {
            return "verb " + std::to_string(call.verb) + ": " +
                   ascommon::DefaultGetErr()->GetText();
        }
    }
    for (uint32_t key :
         {21001, 21002, 21030, 21031, 21040, 21041, 21042, 21043, 21044, 21045, 21046}) {
        if (!box.Has(key)) return "key " + std::to_string(key) + " not written";
    }
    const std::pair<uint32_t, int64_t> verdicts[] = {
        {21001, mail.white}, {21002, mail.black}, {21030, mail.listed}, {21041, n % 2},
        {21042, 1},          {21043, 1},          {21045, 1},           {21046, 0}};
    for (const auto& [key, value] : verdicts) {
        if (box.IntValue(key, -1) != value) {
            return mail.from + ": key " + std::to_string(key) + " is " +
                   std::to_string(box.IntValue(key, -1));
        }
    }
    return "";
}

TEST_F(StressTest, ConcurrentScanningWhileListsReload) {
    const host::HookCounters start = host::Counters();
    CAClassFactory* factory = library.GetClassFactory(&host::HostHooks());
    ASSERT_NE(factory, nullptr);
    auto filter = [&](uint64_t index) {
        auto* f = static_cast<CAFilter*>(factory->CreateModule(index));
        f->m_settings = &settings;
        return f;
    };
    CAFilter* bw = filter(0);
    CAFilter* url = filter(1);
    CAFilter* multi = filter(2);
    ASSERT_EQ(bw->ApplySharedSettings(), 0);
    ASSERT_EQ(url->ApplySharedSettings(), 0);
    ASSERT_EQ(host::OpenSession(bw, kSharedSession), 0);
    ASSERT_EQ(LoadLists(bw, 0), 0);
    for (uint64_t session = 1; session <= kScanners; ++session) {
        ASSERT_EQ(host::OpenSession(url, session), 0);
        ASSERT_EQ(host::OpenSession(multi, session), 0);
    }

    std::atomic<uint64_t> progress{0};
    std::atomic<int> reloads{0}, scannersLeft{kScanners};
    std::atomic<bool> done{false};
    std::mutex failureMutex;
    std::vector<std::string> failures;
    auto fail = [&](const std::string& what) {
        std::lock_guard<std::mutex> lock(failureMutex);
        if (failures.size() < 10) failures.push_back(what);
    };

    std::thread watchdog([&] {
        uint64_t seen = progress.load();
        auto still = std::chrono::steady_clock::now();
        while (!done.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const uint64_t now = progress.load();
            if (now != seen) {
                seen = now;
                still = std::chrono::steady_clock::now();
            } else if (std::chrono::steady_clock::now() - still > std::chrono::seconds(60)) {
                std::fprintf(stderr,
                             "stress test: no progress for 60 seconds (%llu steps done); "
                             "deadlock?\n",
                             static_cast<unsigned long long>(now));
                std::abort();
            }
        }
    });
    std::thread reloader([&] {
        for (int i = 1; scannersLeft.load() > 0; ++i) {
            settings.Set("/eml/filter/url/filesbl", i % 2 ? "b.dat" : "a.dat");
            if (url->ApplySharedSettings() != 0) fail("URL reload failed");
            if (LoadLists(bw, i % 2) != 0) fail("list reload failed");
            ++reloads;
            ++progress;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    std::vector<std::thread> scanners;
    for (int t = 0; t < kScanners; ++t) {
        scanners.emplace_back([&, t] {
            const uint64_t session = static_cast<uint64_t>(t) + 1;
            for (int n = 0; n < kMessagesEach || reloads.load() < kReloadsAtLeast; ++n) {
                const std::string problem =
                    Scan(bw, url, multi, session, kMails[(n + t) % std::size(kMails)], n);
                if (!problem.empty()) fail(problem);
                ++progress;
            }
            --scannersLeft;
        });
    }
    for (std::thread& scanner : scanners) scanner.join();
    reloader.join();
    done = true;
    watchdog.join();

    EXPECT_TRUE(failures.empty()) << failures.front();
    EXPECT_GE(reloads.load(), kReloadsAtLeast);
    for (uint64_t session = 1; session <= kScanners; ++session) {
        EXPECT_TRUE(host::CloseSession(url, session));
        EXPECT_TRUE(host::CloseSession(multi, session));
    }
    EXPECT_TRUE(host::CloseSession(bw, kSharedSession));
    library.ReleaseClassFactory();
    EXPECT_EQ(host::Counters().liveBytes, start.liveBytes);  // nothing left of the module
    EXPECT_TRUE(folder.Entries(testfiles::TempNameStart("qxas")).empty());
}

}  // namespace
