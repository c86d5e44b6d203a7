// The black/white list filter through the factory-made module: list commands, the verbs that
// judge, add and query addresses, statistics, shared settings and library loading, failures and
// the levels of their traces. Concurrent judging while lists reload is in stress_test.
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using testing_support::HostError;
using testing_support::kSession;

const std::string kEntityFailed =
    "Module Eml Blacklist/Whitelist Filter failed to process entity with message: ";
const std::string kCommandFailed =
    "Module Eml Blacklist/Whitelist Filter failed to process command with message: ";

class BWFilterTest : public testing_support::ModuleFixture {
  protected:
    void SetUp() override {
        ModuleFixture::SetUp();
        if (HasFatalFailure()) return;
        filter = CreateFilter(testing_support::kBWFilter);
        m_settings.Set("/eml/global/SharedLibsPathNew", testing_support::LibraryFolder());
        ASSERT_EQ(filter->ApplySharedSettings(), 0) << HostError();
        ASSERT_EQ(host::OpenSession(filter, kSession), 0) << HostError();
        host::TakeTraces();
    }

    // A verb with an extra blackbox (testing_support::FillExtra).
    int32_t WithExtra(host::Message& message, uint32_t verb, int32_t selector, const char* address,
                      const char* header = "") {
        host::BlackBoxStore extra;
        testing_support::FillExtra(extra, selector, address, header);
        return Run(filter, message, verb, &extra);
    }

    CAFilter* filter = nullptr;
};

std::vector<std::u16string> Texts(host::WideTextList* list) {
    std::vector<std::u16string> out;
    for (uint64_t i = 0; list && i < list->size(); ++i) {
        out.emplace_back(list->at(i).c_str(), list->at(i).length());
    }
    return out;
}

TEST_F(BWFilterTest, LoadListsCountAndWriteThemOut) {
    ASSERT_EQ(
        LoadLists(filter, {u"spam@bad.com", u"*@Evil.org", u"", u"spam@bad.com", u"a?c@x.com"},
                  {u"Friend@Good.com"}),
        0)
        << HostError();
    EXPECT_TRUE(host::TraceContains("element already present in the list"));
    EXPECT_TRUE(
        host::TraceContains("failed to compile a regular expression with the given string"));

    host::BlackBoxStore io, stats;
    ASSERT_EQ(filter->ProcessCommand(kSession, asbb::kReadListSizes, &io), 0);
    EXPECT_EQ(io.IntValue(asbb::kBlackListSize, -1), 3);
    EXPECT_EQ(io.IntValue(asbb::kWhiteListSize, -1), 1);
    ASSERT_EQ(filter->GetStatistics(kSession, &stats), 0);
    EXPECT_EQ(stats.IntValue(asbb::kStatBlackListSize, -1), 3);
    EXPECT_EQ(stats.IntValue(asbb::kStatWhiteListSize, -1), 1);

    // Exact expressions first, then wildcards in order; all folded to lower case.
    ASSERT_EQ(filter->ProcessCommand(kSession, asbb::kReadLists, &io), 0);
    EXPECT_EQ(Texts(io.List(asbb::kBlackListItems)),
              (std::vector<std::u16string>{u"spam@bad.com", u"*@evil.org", u"a?c@x.com"}));
    EXPECT_EQ(Texts(io.List(asbb::kWhiteListItems)),
              std::vector<std::u16string>{u"friend@good.com"});

    ASSERT_EQ(LoadLists(filter, {u"other@bad.com"}, {}), 0);  // a second load replaces both
    ASSERT_EQ(filter->ProcessCommand(kSession, asbb::kReadListSizes, &io), 0);
    EXPECT_EQ(io.IntValue(asbb::kBlackListSize, -1), 1);
    EXPECT_EQ(io.IntValue(asbb::kWhiteListSize, -1), 0);
}

TEST_F(BWFilterTest, JudgeByFromAddress) {
    ASSERT_EQ(LoadLists(filter, {u"spam@bad.com", u"*@evil.org", u"friend@good.com"},
                        {u"friend@good.com"}),
              0);
    struct Row {
        const char* from;  // null: no From header
        const char* to;
        int white, black, same;  // -1: not written
        const char* matched;     // null: not looked at
    } rows[] = {
        {"friend@good.com", "me@here.com", 1, 0, -1, "friend@good.com"},
        {"x@EVIL.org", "me@here.com", 0, 1, -1, "*@evil.org"},
        {"SPAM@bad.com", nullptr, 0, 1, -1, "spam@bad.com"},
        {"nobody@x.com", nullptr, 0, 0, -1, ""},
        // writing to itself: never whitelisted, the black list decides
        {"friend@good.com", "friend@good.com", 0, 1, 1, "friend@good.com"},
        // the same address but for case is another address: the lists match without case
        {"Friend@good.com", "friend@good.com", 1, 0, -1, "friend@good.com"},
        {nullptr, "me@here.com", -1, -1, -1, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.from ? row.from : "(no From)");
        host::MessageBuilder builder;
        if (row.from) builder.From({row.from});
        if (row.to) builder.To({row.to});
        auto message = builder.Build();
        ASSERT_EQ(Run(filter, *message, asbb::kJudge), 0) << HostError();
        EXPECT_EQ(message->blackbox().IntValue(asbb::kWhitelisted, -1), row.white);
        EXPECT_EQ(message->blackbox().IntValue(asbb::kBlacklisted, -1), row.black);
        EXPECT_EQ(message->blackbox().IntValue(asbb::kSameAddress, -1), row.same);
        if (row.matched) {
            EXPECT_EQ(message->blackbox().Text(asbb::kMatchedExpression), row.matched);
        }
    }
    EXPECT_TRUE(host::TraceContains("The addrFromess was  found in the WhiteList"));
    EXPECT_TRUE(host::TraceContains("The addrFromess was not found in the BlackList"));
    EXPECT_TRUE(host::TraceContains("could not obtain From Address"));
}

TEST_F(BWFilterTest, AddFromToEitherList) {
    auto message = host::MessageBuilder().From({"New@Sender.com"}).Build();
    auto judged = host::MessageBuilder().From({"new@sender.com"}).Build();
    ASSERT_EQ(Run(filter, *message, asbb::kAddFromToBlack), 0) << HostError();
    EXPECT_EQ(message->blackbox().Text(asbb::kAddedAddress), "New@Sender.com");
    ASSERT_EQ(Run(filter, *message, asbb::kAddFromToBlack), 0);  // already present: still fine
    ASSERT_EQ(Run(filter, *judged, asbb::kJudge), 0);
    EXPECT_EQ(judged->blackbox().IntValue(asbb::kBlacklisted, -1), 1);

    ASSERT_EQ(Run(filter, *message, asbb::kAddFromToWhite), 0);
    ASSERT_EQ(Run(filter, *judged, asbb::kJudge), 0);
    EXPECT_EQ(judged->blackbox().IntValue(asbb::kWhitelisted, -1), 1);
    EXPECT_TRUE(host::TraceContains("adding New@Sender.com to black list"));
    EXPECT_TRUE(host::TraceContains("adding New@Sender.com to white list"));

    auto noFrom = host::MessageBuilder().Build();
    ASSERT_EQ(Run(filter, *noFrom, asbb::kAddFromToWhite), 0);
    EXPECT_FALSE(noFrom->blackbox().Has(asbb::kAddedAddress));
}

// Verbs 10 (a header's addresses), 11 (one address) and 12 (query) with their extra blackbox;
// then the addresses added are looked up.
TEST_F(BWFilterTest, AddAndQueryAddresses) {
    auto message = host::MessageBuilder()
                       .Subject("s")
                       .Addresses("Reply-To", {"one@a.com", "Two@B.com"})
                       .Build();
    struct Row {
        uint32_t verb;
        int32_t selector;              // 0: none; -1: no extra blackbox at all
        const char *header, *address;  // "": none
        const char* error;             // "": success
    } rows[] = {
        {asbb::kAddHeader, asbb::kWhiteList, "reply-to", "", ""},
        {asbb::kAddHeader, 2004, "Reply-To", "",  // neither list
         "list to insert addresses incorrectly specified"},
        {asbb::kAddHeader, asbb::kWhiteList, "Cc", "",
         "header with name CC does not exist or is not an address "
         "header[ code 0]"},
        {asbb::kAddHeader, asbb::kWhiteList, "Subject", "",
         "header with name SUBJECT does not exist or is not an address "
         "header[ code -401]"},
        {asbb::kAddHeader, 0, "Reply-To", "", "list to insert addrFromesses not specified"},
        {asbb::kAddHeader, asbb::kWhiteList, "", "", "addrFromess header not specified"},
        {asbb::kAddHeader, -1, "", "", "extra blackbox not present!"},
        {asbb::kAddAddress, asbb::kBlackList, "", "Upper@Case.COM", ""},
        {asbb::kAddAddress, asbb::kBlackList, "", "Upper@Case.COM", ""},  // again
        {asbb::kAddAddress, 7, "", "x@y.com", "list to insert addrFromess incorrectly specified"},
        {asbb::kAddAddress, 0, "", "x@y.com", "list to insert addrFromess not specified"},
        {asbb::kAddAddress, asbb::kBlackList, "", "", "addrFromess to insert not specified"},
        {asbb::kQueryAddress, 0, "", "", "addrFromess to query not specified"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.verb) + " " + row.error);
        const int32_t result =
            row.selector < 0 ? Run(filter, *message, row.verb)
                             : WithExtra(*message, row.verb, row.selector, row.address, row.header);
        if (*row.error == '\0') {
            EXPECT_EQ(result, 0) << HostError();
        } else {
            EXPECT_EQ(result, ascommon::kErrInternal);
            EXPECT_EQ(HostError(), kEntityFailed + "ASException - MESSAGE: " + row.error);
        }
    }
    EXPECT_TRUE(host::TraceContains("adding Two@B.com from REPLY-TO header to White List"));
    EXPECT_TRUE(
        host::TraceContains("successfully added addrFromess (Upper@Case.COM) to the Black List"));

    struct Query {
        const char* address;
        int white, black;
        const char* matched;  // null: not written
    } queries[] = {
        {"two@b.com", 1, 0, "two@b.com"},
        {"upper@case.com", 0, 1, "upper@case.com"},
        {"someone@else.com", 0, 0, ""},
        {"", 0, 0, nullptr},
    };
    for (const Query& query : queries) {
        SCOPED_TRACE(query.address);
        auto found = host::MessageBuilder().Build();
        host::BlackBoxStore extra;  // an empty address is still given
        extra.SetWideText(asbb::kAddress, host::WidenKey(query.address));
        ASSERT_EQ(Run(filter, *found, asbb::kQueryAddress, &extra), 0) << HostError();
        EXPECT_EQ(found->blackbox().IntValue(asbb::kWhitelisted, -1), query.white);
        EXPECT_EQ(found->blackbox().IntValue(asbb::kBlacklisted, -1), query.black);
        EXPECT_EQ(found->blackbox().Has(asbb::kMatchedExpression), query.matched != nullptr);
        if (query.matched) {
            EXPECT_EQ(found->blackbox().Text(asbb::kMatchedExpression), query.matched);
        }
    }
}

TEST_F(BWFilterTest, UnsupportedVerbsCommandsAndBadInput) {
    auto message = host::MessageBuilder().From({"a@b.com"}).Build();
    for (uint32_t verb : {3u, 13u}) {
        host::TakeTraces();
        EXPECT_EQ(Run(filter, *message, verb), 0);
        EXPECT_TRUE(host::TraceContains("this command is not supported"));
    }
    host::BlackBoxStore empty;
    struct Row {
        uint64_t session;
        uint32_t command;
        bool io;
        int32_t result;
        const char* text;  // the host's error, or a trace line when the command succeeds
    } rows[] = {
        {kSession, 42, true, 0, "this command is not supported"},
        {kSession, asbb::kReadLists, false, 0,
         "cannot output results because I/O blackbox pointer is NULL"},
        {kSession, asbb::kLoadLists, false, ascommon::kErrInternal,
         "ASBadPtrException - MESSAGE: I/O blackbox pointer is NULL"},
        {kSession, asbb::kLoadLists, true, ascommon::kErrInternal,
         "ASBadPtrException - MESSAGE: Invalid data obtained from blackbox"},
        {99, asbb::kReadListSizes, true, ascommon::kErrInternal,
         "ASBadPtrException - MESSAGE: Invalid data structure pointer received"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        host::TakeTraces();
        EXPECT_EQ(filter->ProcessCommand(row.session, row.command, row.io ? &empty : nullptr),
                  row.result);
        if (row.result == 0) {
            EXPECT_TRUE(host::TraceContains(row.text));
        } else {
            EXPECT_EQ(HostError(), kCommandFailed + row.text);
        }
    }
}

TEST_F(BWFilterTest, SharedSettingsLoadLibrariesOnlyWhenTheFolderChanges) {
    ASSERT_EQ(filter->ApplySharedSettings(), 0);
    EXPECT_FALSE(host::TraceContains("Trying to load the lib"));  // same folder: nothing again

    {
        testing_support::LeveledTraces traces;
        m_settings.Set("/eml/global/SharedLibsPathNew", "/no/such/folder");
        EXPECT_EQ(filter->ApplySharedSettings(), ascommon::kErrInternal);
        EXPECT_EQ(HostError(),
                  "ASException - MESSAGE: Could not get a valid handle to Rexkit Library from "
                  "path /no/such/folder");
        EXPECT_EQ(traces.Level("could not initialize shared data structure"), 1);
        EXPECT_EQ(traces.Level("Module Eml Blacklist/Whitelist Filter failed to apply shared "
                               "settings with message: ASException - MESSAGE: Could not get"),
                  2);
    }
    m_settings.Set("/eml/global/SharedLibsPathNew", testing_support::LibraryFolder() + "/");
    EXPECT_EQ(filter->ApplySharedSettings(), 0) << HostError();
    EXPECT_TRUE(host::TraceContains("Successfully loaded dynamic library"));
}

TEST_F(BWFilterTest, SessionBeforeSharedSettingsCannotUseItsLists) {
    CAFilter* fresh = CreateFilter(testing_support::kBWFilter);
    {
        testing_support::LeveledTraces traces;
        EXPECT_EQ(host::OpenSession(fresh, 5), ascommon::kErrInternal);  // no regex library yet
        EXPECT_EQ(traces.Level("could not initialize matching list."), 1);
    }
    EXPECT_FALSE(fresh->m_sessions.lookup(5)->initialised);
    EXPECT_EQ(LoadLists(fresh, {u"a@b.com"}, {}, 5), ascommon::kErrInternal);
    EXPECT_EQ(HostError(), kCommandFailed +
                               "ASException - MESSAGE: the matching list was not properly "
                               "initialized");
}

}  // namespace
