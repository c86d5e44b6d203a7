// Stress: eight host threads scan messages through all three filters while another thread
// reloads the URL filter's lists (its shared settings, alternating between two list files), the
// black/white lists of the shared session (command 5, alternating between two lists) and adds
// addresses to them (verb 11), a few milliseconds apart. Both alternatives of each list agree on
// every address and URL the messages use, so every verdict is known whatever list is in force: a
// lookup must see the old or the new list, never a half-filled one. The run is bounded by counts,
// not time; a deadlock runs into the test's timeout. Sessions are opened before the threads start
// and closed after they end, as the module's contract asks. Meant for ThreadSanitizer as much as
// for the regular build.
#include <atomic>
#include <chrono>
#include <iterator>
#include <mutex>
#include <thread>

#include "temp_folder.h"
#include "test_support.h"
#include "url_data_files.h"

namespace {

constexpr int kScanners = 8;
constexpr int kMessagesEach = 120;   // per scanner, at the least
constexpr int kReloadsAtLeast = 30;  // the scanners go on until this many reloads overlapped them
constexpr uint64_t kSharedSession = testing_support::kSession;

// One message and the verdicts the black/white list and URL filters must give it.
struct Mail {
    std::string from, url;
    const char* verdicts;  // kWhitelisted, kBlacklisted, kUrlListed, kUrlMatchedKeys
};

const Mail kMails[] = {
    {"good.friend@partner.example.net", "http://clean.example.org/page", "1 0 0 ''"},
    {"sender@bulk-spam.example.com", "http://www.listed-domain.com/a",
     "0 1 1 'listed-domain.com '"},
    {"nobody@unknown.example.com", "https://mail.listed-domain.com:8080/",
     "0 0 1 'listed-domain.com '"},
    {"Someone.Else@Wild.Example.org", "http://clean.example.org/other", "0 1 0 ''"},
};

// Runs one message through every filter; returns what went wrong, or "".
std::string Scan(CAFilter* bw, CAFilter* url, CAFilter* multi, uint64_t session, const Mail& mail,
                 int n) {
    auto message =
        host::MessageBuilder()
            .From({mail.from})
            .To({"me@here.example"})
            .Subject("Sexually-Explicit: message " + std::to_string(n))
            .TextPart("see " + mail.url, {mail.url})
            .HtmlPart(n % 2 ? testing_support::kGtube : "<p>hello</p>",
                      {"http://clean.example.org/x"})
            .SenderDomain("relay.example.net")
            .Statistics(
                R"({"Total": 10, "Groups": {"Other": 1, "EastAsian": 9}, "Scripts": {"Han": 9}})")
            .Size(2000)
            .Build();
    host::BlackBoxStore& box = message->blackbox();
    ASEntity entity = {nullptr, nullptr, &box, nullptr};
    if (bw->ProcessEntity(kSharedSession, &entity, asbb::kJudge) != 0 ||
        url->ProcessEntity(session, &entity, asbb::kCheckUrls) != 0) {
        return testing_support::HostError();
    }
    for (uint32_t verb = asbb::kTestGtube; verb <= asbb::kTestCyrillicShare; ++verb) {
        if (multi->ProcessEntity(session, &entity, verb) != 0) return testing_support::HostError();
    }
    // Every verdict is known: the multipurpose filter's are the same for every message but the
    // GTUBE one.
    const std::string verdicts = testing_support::Verdicts(
        box, {asbb::kWhitelisted, asbb::kBlacklisted, asbb::kUrlListed, asbb::kUrlMatchedKeys,
              asbb::kGtube, asbb::kOversized, asbb::kSexuallyExplicit, asbb::kAsianShare,
              asbb::kCyrillicShare, asbb::kCharsetHit, asbb::kAsianCharset});
    const std::string want = mail.verdicts + std::string(n % 2 ? " 1" : " 0") + " 1 1 1 0 0 0";
    return verdicts == want ? "" : mail.from + ": " + verdicts;
}

using StressTest = testing_support::ModuleFixture;

TEST_F(StressTest, ConcurrentScanningWhileListsReload) {
    testfiles::TempFolder folder;
    ASSERT_TRUE(folder.ok());
    host::CaptureTraces(0);
    // Two list files that agree on what the messages use and differ elsewhere.
    testfiles::WriteListFile(folder / "a.dat", {{}, {}, {"listed-domain.com", "only-a.com"}},
                             folder.path());
    testfiles::WriteListFile(folder / "b.dat", {{"x.example/y"}, {}, {"listed-domain.com"}},
                             folder.path());
    m_settings.Set("/eml/global/SharedLibsPathNew", testing_support::LibraryFolder());
    m_settings.Set("/eml/global/SharedDataPath", folder.path());
    m_settings.Set("/eml/global/GlobalTempPath", folder.path());
    m_settings.Set("/eml/filter/url/filesbl", "a.dat");
    testing_support::SwitchOnMultiTests(m_settings, 1000, 50);
    // Command 5 on the shared session with the alternative `which` of the lists.
    auto reload = [&](CAFilter* bw, int which) {
        return LoadLists(bw,
                         {u"sender@bulk-spam.example.com", u"*@wild.example.org",
                          which ? u"only-in-b@x.example" : u"only*in-a@x.example"},
                         {u"good.friend@partner.example.net"}, kSharedSession);
    };
    CAFilter* bw = CreateFilter(testing_support::kBWFilter);
    CAFilter* url = CreateFilter(testing_support::kURLFilter);
    CAFilter* multi = CreateFilter(testing_support::kMultiFilter);
    ASSERT_EQ(bw->ApplySharedSettings(), 0);
    ASSERT_EQ(url->ApplySharedSettings(), 0);
    ASSERT_EQ(host::OpenSession(bw, kSharedSession), 0);
    ASSERT_EQ(reload(bw, 0), 0);
    for (uint64_t session = 1; session <= kScanners; ++session) {
        ASSERT_EQ(host::OpenSession(url, session), 0);
        ASSERT_EQ(host::OpenSession(multi, session), 0);
    }

    std::atomic<int> reloads{0}, scannersLeft{kScanners};
    std::mutex failureMutex;
    std::vector<std::string> failures;
    auto fail = [&](const std::string& what) {
        std::lock_guard<std::mutex> lock(failureMutex);
        if (failures.size() < 10) failures.push_back(what);
    };
    std::thread reloader([&] {
        for (int i = 1; scannersLeft.load() > 0; ++i) {
            m_settings.Set("/eml/filter/url/filesbl", i % 2 ? "b.dat" : "a.dat");
            if (url->ApplySharedSettings() != 0) fail("URL reload failed");
            if (reload(bw, i % 2) != 0) fail("list reload failed");
            auto none = host::MessageBuilder().Build();
            host::BlackBoxStore extra;
            testing_support::FillExtra(extra, asbb::kWhiteList,
                                       "added" + std::to_string(i % 50) + "@y.example");
            if (Run(bw, *none, asbb::kAddAddress, &extra, kSharedSession) != 0) fail("verb 11");
            ++reloads;
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
            }
            --scannersLeft;
        });
    }
    for (std::thread& scanner : scanners) scanner.join();
    reloader.join();

    EXPECT_TRUE(failures.empty()) << failures.front();
    for (uint64_t session = 1; session <= kScanners; ++session) {
        EXPECT_TRUE(host::CloseSession(url, session));
        EXPECT_TRUE(host::CloseSession(multi, session));
    }
    EXPECT_TRUE(host::CloseSession(bw, kSharedSession));
    m_library.ReleaseClassFactory();
    m_factory = nullptr;
    EXPECT_TRUE(folder.Entries(testfiles::TempNameStart("qxas")).empty());
}

}  // namespace
