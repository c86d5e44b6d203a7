// The black/white list filter through the factory-made module: list commands, the verbs that
// judge, add and query addresses, statistics, shared settings and library loading, failures.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/aserrno.h"
#include "common/convert.h"
#include "host/host_hooks.h"
#include "host/message_builder.h"
#include "host/module_host.h"
#include "host/settings_store.h"

namespace {

constexpr uint64_t kSession = 1;

std::string LibraryFolder() {
    const std::string path = host::DefaultModulePath();
    return path.substr(0, path.find_last_of('/'));
}

std::u16string Widen(const std::string& text) {
    return host::WidenKey(text);
}

class BWFilterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(library.Open(host::DefaultModulePath())) << library.error();
        host::CaptureTraces(4);
        factory = library.GetClassFactory(&host::HostHooks());
        ASSERT_NE(factory, nullptr);
        filter = static_cast<CAFilter*>(factory->CreateModule(0));
        filter->m_settings = &settings;
        settings.Set("/eml/global/SharedLibsPathNew", LibraryFolder());
        ASSERT_EQ(filter->ApplySharedSettings(), 0) << HostError();
        ASSERT_EQ(host::OpenSession(filter, kSession), 0) << HostError();
        host::TakeTraces();
    }

    void TearDown() override {
        library.ReleaseClassFactory();
        host::CaptureTraces(0);
        host::TakeTraces();
        EXPECT_EQ(host::Counters().untaggedFrees, 0u);
    }

    static std::string HostError() { return ascommon::DefaultGetErr()->GetText(); }

    int32_t Load(const std::vector<std::u16string>& black, const std::vector<std::u16string>& white,
                 uint64_t session = kSession) {
        host::BlackBoxStore io;
        io.PutObject(1001, 15, host::NewWideTextList(black), true);
        io.PutObject(1002, 15, host::NewWideTextList(white), true);
        return filter->ProcessCommand(session, 5, &io);
    }

    int32_t Verb(host::Message& message, uint32_t verb, BlackBox* extra = nullptr) {
        ASEntity entity = {nullptr, nullptr, &message.blackbox(), extra};
        return filter->ProcessEntity(kSession, &entity, verb);
    }

    // Verb 12 on one address; returns the message blackbox's verdicts.
    std::unique_ptr<host::Message> Query(const std::string& address) {
        auto message = host::MessageBuilder().Build();
        host::BlackBoxStore extra;
        extra.SetWideText(2005, Widen(address));
        EXPECT_EQ(Verb(*message, 12, &extra), 0) << HostError();
        return message;
    }

    int32_t AddOne(const std::string& address, int32_t selector) {
        auto message = host::MessageBuilder().Build();
        host::BlackBoxStore extra;
        extra.SetInt(2001, selector);
        extra.SetWideText(2005, Widen(address));
        return Verb(*message, 11, &extra);
    }

    host::ModuleLibrary library;
    host::SettingsStore settings;
    CAClassFactory* factory = nullptr;
    CAFilter* filter = nullptr;
};

TEST_F(BWFilterTest, LoadListsCountAndWriteThemOut) {
    ASSERT_EQ(Load({u"spam@bad.com", u"*@Evil.org", u"", u"spam@bad.com", u"a?c@x.com"},
                   {u"Friend@Good.com"}),
              0)
        << HostError();
    EXPECT_TRUE(host::TraceContains("element already present in the list"));
    EXPECT_TRUE(
        host::TraceContains("failed to compile a regular expression with the given string"));

    host::BlackBoxStore io;
    ASSERT_EQ(filter->ProcessCommand(kSession, 9, &io), 0);
    EXPECT_EQ(io.IntValue(1003, -1), 3);
    EXPECT_EQ(io.IntValue(1004, -1), 1);
    host::BlackBoxStore stats;
    ASSERT_EQ(filter->GetStatistics(kSession, &stats), 0);
    EXPECT_EQ(stats.IntValue(25002, -1), 3);
    EXPECT_EQ(stats.IntValue(25001, -1), 1);

    ASSERT_EQ(filter->ProcessCommand(kSession, 8, &io), 0);
    auto texts = [](host::WideTextList* list) {
        std::vector<std::u16string> out;
        for (uint64_t i = 0; list && i < list->size(); ++i) {
            out.emplace_back(list->at(i).c_str(), list->at(i).length());
        }
        return out;
    };
    const auto black = texts(io.List(1001));
    ASSERT_EQ(black.size(), 3u);
    EXPECT_EQ(black[0], u"spam@bad.com");  // exact expressions first, then wildcards in order
    EXPECT_EQ(black[1], u"*@evil.org");
    EXPECT_EQ(black[2], u"a?c@x.com");
    EXPECT_EQ(texts(io.List(1002)), std::vector<std::u16string>{u"friend@good.com"});

    // A second load replaces both lists.
    ASSERT_EQ(Load({u"other@bad.com"}, {}), 0);
    ASSERT_EQ(filter->ProcessCommand(kSession, 9, &io), 0);
    EXPECT_EQ(io.IntValue(1003, -1), 1);
    EXPECT_EQ(io.IntValue(1004, -1), 0);
}

TEST_F(BWFilterTest, JudgeByFromAddress) {
    ASSERT_EQ(Load({u"spam@bad.com", u"*@evil.org", u"friend@good.com"}, {u"friend@good.com"}), 0);
    struct Row {
        const char* from;  // null: no From header
        const char* to;
        int white, black, same;  // -1: not written
        const char* matched;
    } rows[] = {
        {"friend@good.com", "me@here.com", 1, 0, -1, "friend@good.com"},
        {"x@EVIL.org", "me@here.com", 0, 1, -1, "*@evil.org"},
        {"SPAM@bad.com", nullptr, 0, 1, -1, "spam@bad.com"},
        {"nobody@x.com", nullptr, 0, 0, -1, ""},
        // writing to itself: never whitelisted, the black list decides
        {"friend@good.com", "friend@good.com", 0, 1, 1, "friend@good.com"},
        {nullptr, "me@here.com", -1, -1, -1, nullptr},
    };
    for (const Row& row : rows) {
        host::MessageBuilder builder;
        if (row.from) builder.From({row.from});
        if (row.to) builder.To({row.to});
        auto message = builder.Build();
        ASSERT_EQ(Verb(*message, 0), 0) << HostError();
        const std::string label = row.from ? row.from : "(no From)";
        EXPECT_EQ(message->blackbox().IntValue(21001, -1), row.white) << label;
        EXPECT_EQ(message->blackbox().IntValue(21002, -1), row.black) << label;
        EXPECT_EQ(message->blackbox().IntValue(21005, -1), row.same) << label;
        if (row.matched) {
            EXPECT_EQ(message->blackbox().Text(21004), row.matched) << label;
        }
    }
    EXPECT_TRUE(host::TraceContains("The addrFromess was  found in the WhiteList"));
    EXPECT_TRUE(host::TraceContains("The addrFromess was not found in the BlackList"));
    EXPECT_TRUE(host::TraceContains("could not obtain From Address"));
}

TEST_F(BWFilterTest, AddFromToEitherList) {
    auto message = host::MessageBuilder().From({"New@Sender.com"}).Build();
    ASSERT_EQ(Verb(*message, 6), 0) << HostError();
    EXPECT_EQ(message->blackbox().Text(21003), "New@Sender.com");
    EXPECT_TRUE(host::TraceContains("adding New@Sender.com to black list"));
    ASSERT_EQ(Verb(*message, 6), 0);  // already present: still fine
    auto judged = host::MessageBuilder().From({"new@sender.com"}).Build();
    ASSERT_EQ(Verb(*judged, 0), 0);
    EXPECT_EQ(judged->blackbox().IntValue(21002, -1), 1);

    ASSERT_EQ(Verb(*message, 7), 0);
    EXPECT_TRUE(host::TraceContains("adding New@Sender.com to white list"));
    ASSERT_EQ(Verb(*judged, 0), 0);
    EXPECT_EQ(judged->blackbox().IntValue(21001, -1), 1);

    auto noFrom = host::MessageBuilder().Build();
    ASSERT_EQ(Verb(*noFrom, 7), 0);
    EXPECT_FALSE(noFrom->blackbox().Has(21003));
}

TEST_F(BWFilterTest, AddHeaderAddresses) {
    auto message = host::MessageBuilder()
                       .Subject("s")
                       .Addresses("Reply-To", {"one@a.com", "Two@B.com"})
                       .Build();
    struct Row {
        int selector;        // 0: none
        const char* header;  // null: none
        const char* error;   // null: success
    } rows[] = {
        {2003, "reply-to", nullptr},
        {2004, "Reply-To", "ASException - MESSAGE: list to insert addresses incorrectly specified"},
        {2003, "Cc",
         "ASException - MESSAGE: header with name CC does not exist or is not an address header[ "
         "code 0]"},
        {2003, "Subject",
         "ASException - MESSAGE: header with name SUBJECT does not exist or is not an address "
         "header[ code -401]"},
        {0, "Reply-To", "ASException - MESSAGE: list to insert addrFromesses not specified"},
        {2003, nullptr, "ASException - MESSAGE: addrFromess header not specified"},
    };
    for (const Row& row : rows) {
        host::BlackBoxStore extra;
        if (row.selector) extra.SetInt(2001, row.selector);
        if (row.header) extra.SetWideText(2004, Widen(row.header));
        const int32_t result = Verb(*message, 10, &extra);
        if (row.error == nullptr) {
            EXPECT_EQ(result, 0) << HostError();
        } else {
            EXPECT_EQ(result, -104);
            EXPECT_EQ(HostError(), std::string("Module Eml Blacklist/Whitelist Filter failed to "
                                               "process entity with message: ") +
                                       row.error);
        }
    }
    EXPECT_TRUE(host::TraceContains("adding Two@B.com from REPLY-TO header to White List"));
    EXPECT_EQ(Query("two@b.com")->blackbox().IntValue(21001, -1), 1);
    EXPECT_EQ(Verb(*message, 10), -104);
    EXPECT_EQ(HostError(),
              "Module Eml Blacklist/Whitelist Filter failed to process entity with "
              "message: ASException - MESSAGE: extra blackbox not present!");
}

TEST_F(BWFilterTest, AddOneAddressAndQueryIt) {
    ASSERT_EQ(AddOne("Upper@Case.COM", 2002), 0) << HostError();
    EXPECT_TRUE(
        host::TraceContains("successfully added addrFromess (Upper@Case.COM) to the Black List"));
    ASSERT_EQ(AddOne("Upper@Case.COM", 2002), 0);  // already there: still a success

    auto found = Query("upper@case.com");
    EXPECT_EQ(found->blackbox().IntValue(21001, -1), 0);
    EXPECT_EQ(found->blackbox().IntValue(21002, -1), 1);
    EXPECT_EQ(found->blackbox().Text(21004), "upper@case.com");

    auto missing = Query("someone@else.com");
    EXPECT_EQ(missing->blackbox().IntValue(21002, -1), 0);
    EXPECT_EQ(missing->blackbox().Text(21004), "");

    auto empty = Query("");
    EXPECT_EQ(empty->blackbox().IntValue(21001, -1), 0);
    EXPECT_FALSE(empty->blackbox().Has(21004));

    EXPECT_EQ(AddOne("x@y.com", 7), -104);
    EXPECT_EQ(HostError(),
              "Module Eml Blacklist/Whitelist Filter failed to process entity with "
              "message: ASException - MESSAGE: list to insert addrFromess incorrectly "
              "specified");
    auto message = host::MessageBuilder().Build();
    host::BlackBoxStore extra;
    EXPECT_EQ(Verb(*message, 12, &extra), -104);
    EXPECT_EQ(HostError(),
              "Module Eml Blacklist/Whitelist Filter failed to process entity with "
              "message: ASException - MESSAGE: addrFromess to query not specified");
}

TEST_F(BWFilterTest, UnsupportedVerbsCommandsAndBadInput) {
    auto message = host::MessageBuilder().From({"a@b.com"}).Build();
    for (uint32_t verb : {3u, 13u}) {
        host::TakeTraces();
        EXPECT_EQ(Verb(*message, verb), 0);
        EXPECT_TRUE(host::TraceContains("this command is not supported"));
    }
    host::BlackBoxStore io;
    EXPECT_EQ(filter->ProcessCommand(kSession, 42, &io), 0);
    EXPECT_EQ(filter->ProcessCommand(kSession, 8, nullptr), 0);
    EXPECT_TRUE(host::TraceContains("cannot output results because I/O blackbox pointer is NULL"));
    EXPECT_EQ(filter->ProcessCommand(kSession, 5, nullptr), -104);
    EXPECT_EQ(HostError(),
              "Module Eml Blacklist/Whitelist Filter failed to process command with "
              "message: ASBadPtrException - MESSAGE: I/O blackbox pointer is NULL");
    EXPECT_EQ(filter->ProcessCommand(kSession, 5, &io), -104);
    EXPECT_EQ(HostError(),
              "Module Eml Blacklist/Whitelist Filter failed to process command with "
              "message: ASBadPtrException - MESSAGE: Invalid data obtained from "
              "blackbox");
    EXPECT_EQ(filter->ProcessCommand(99, 9, &io), -104);
    EXPECT_EQ(HostError(),
              "Module Eml Blacklist/Whitelist Filter failed to process command with "
              "message: ASBadPtrException - MESSAGE: Invalid data structure pointer "
              "received");
}

TEST_F(BWFilterTest, SharedSettingsLoadLibrariesOnlyWhenTheFolderChanges) {
    host::TakeTraces();
    ASSERT_EQ(filter->ApplySharedSettings(), 0);
    EXPECT_FALSE(host::TraceContains("Trying to load the lib"));  // same folder: nothing again

    settings.Set("/eml/global/SharedLibsPathNew", "/no/such/folder");
    EXPECT_EQ(filter->ApplySharedSettings(), -104);
    EXPECT_EQ(HostError(),
              "ASException - MESSAGE: Could not get a valid handle to Rexkit Library "
              "from path /no/such/folder");
    EXPECT_TRUE(host::TraceContains("could not initialize shared data structure"));
    EXPECT_TRUE(
        host::TraceContains("Module Eml Blacklist/Whitelist Filter failed to apply shared "
                            "settings with message: ASException - MESSAGE: Could not get"));

    settings.Set("/eml/global/SharedLibsPathNew", LibraryFolder() + "/");
    host::TakeTraces();
    EXPECT_EQ(filter->ApplySharedSettings(), 0) << HostError();
    EXPECT_TRUE(host::TraceContains("Successfully loaded dynamic library"));
}

TEST_F(BWFilterTest, SessionBeforeSharedSettingsCannotUseItsLists) {
    auto* fresh = static_cast<CAFilter*>(factory->CreateModule(0));
    fresh->m_settings = &settings;
    EXPECT_EQ(host::OpenSession(fresh, 5), -104);  // no regex library loaded yet
    EXPECT_TRUE(host::TraceContains("could not initialize matching list."));
    EXPECT_FALSE(fresh->m_sessions.lookup(5)->initialised);
    host::BlackBoxStore io;
    io.PutObject(1001, 15, host::NewWideTextList({u"a@b.com"}), true);
    io.PutObject(1002, 15, host::NewWideTextList({}), true);
    EXPECT_EQ(fresh->ProcessCommand(5, 5, &io), -104);
    EXPECT_EQ(HostError(),
              "Module Eml Blacklist/Whitelist Filter failed to process command with "
              "message: ASException - MESSAGE: the matching list was not properly "
              "initialized");
}

// Lookups while the lists are reloaded and extended: a lookup sees the old or the new list,
// never a half-filled one. Both lists end with the sentinel, so it must always be found.
TEST_F(BWFilterTest, ConcurrentJudgementsSeeWholeLists) {
    std::vector<std::u16string> listA, listB;
    for (int i = 0; i < 200; ++i) {
        listA.push_back(Widen("a" + std::to_string(i) + "@x.com"));
        listB.push_back(Widen("b" + std::to_string(i) + "@x.com"));
    }
    listA.push_back(u"sentinel@x.com");
    listB.push_back(u"sentinel@x.com");
    ASSERT_EQ(Load(listA, {}), 0);
    host::CaptureTraces(0);

    std::atomic<bool> stop{false};
    std::atomic<int> missed{0}, failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                auto message = host::MessageBuilder().From({"sentinel@x.com"}).Build();
                host::BlackBoxStore extra;
                extra.SetWideText(2005, u"sentinel@x.com");
                ASEntity entity = {nullptr, nullptr, &message->blackbox(), &extra};
                if (filter->ProcessEntity(kSession, &entity, (i + t) % 2 ? 12 : 0) != 0) ++failures;
                if (message->blackbox().IntValue(21002, 0) != 1) ++missed;
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; !stop; ++i) {
            if (Load(i % 2 ? listA : listB, {}) != 0) ++failures;
        }
    });
    threads.emplace_back([&] {
        for (int i = 0; !stop; ++i) {
            if (AddOne("added" + std::to_string(i % 50) + "@y.com", 2003) != 0) ++failures;
        }
    });
    for (int t = 0; t < 3; ++t) threads[t].join();
    stop = true;
    for (size_t t = 3; t < threads.size(); ++t) threads[t].join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(missed.load(), 0);
}

}  // namespace
