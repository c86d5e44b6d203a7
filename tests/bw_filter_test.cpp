// The black/white list filter through the factory-made module: list commands, the verbs that
// judge, add and query addresses, statistics, shared settings and library loading, failures and
// the levels of their traces. Concurrent judging while lists reload is in stress_test.
#include "test_support.h"

namespace {

using namespace testing_support;  // the suites' shared helpers

const std::string kCommandFailed =
    "Module Eml Blacklist/Whitelist Filter failed to process command with message: ";

class BWFilterTest : public ModuleFixture {
  protected:
    void SetUp() override {
        ModuleFixture::SetUp();
        if (HasFatalFailure()) return;
        filter = CreateFilter(kBWFilter);
        m_settings.Set("/eml/global/SharedLibsPathNew", LibraryFolder());
        ASSERT_EQ(filter->ApplySharedSettings(), 0) << HostError();
        ASSERT_EQ(host::OpenSession(filter, kSession), 0) << HostError();
        m_traces.lines.clear();
    }
};

TEST_F(BWFilterTest, LoadListsCountAndWriteThemOut) {
    ASSERT_EQ(
        LoadLists(filter, {u"spam@bad.com", u"*@Evil.org", u"", u"spam@bad.com", u"a?c@x.com"},
                  {u"Friend@Good.com"}),
        0)
        << HostError();
    EXPECT_TRUE(m_traces.Contains("element already present in the list"));
    EXPECT_TRUE(m_traces.Contains("failed to compile a regular expression with the given string"));
    host::BlackBoxStore io, stats;
    ASSERT_EQ(filter->ProcessCommand(kSession, asbb::kReadListSizes, &io), 0);
    EXPECT_EQ(Verdicts(io, {asbb::kBlackListSize, asbb::kWhiteListSize}), "3 1");
    EXPECT_EQ(filter->GetStatistics(kSession, nullptr), ascommon::kErrInvalidInput);
    EXPECT_EQ(filter->GetStatistics(2, &stats), ascommon::kErrInvalidPointer);
    EXPECT_EQ(m_traces.Level("NULL pointer passed as argument"), 2);
    EXPECT_EQ(m_traces.Level("invalid reference to data structure"), 2);
    ASSERT_EQ(filter->GetStatistics(kSession, &stats), 0);
    EXPECT_EQ(Verdicts(stats, {asbb::kStatBlackListSize, asbb::kStatWhiteListSize}), "3 1");

    // Exact expressions first, then wildcards in order; all folded to lower case.
    ASSERT_EQ(filter->ProcessCommand(kSession, asbb::kReadLists, &io), 0);
    EXPECT_EQ(Verdicts(io, {asbb::kBlackListItems, asbb::kWhiteListItems}),
              "[spam@bad.com,*@evil.org,a?c@x.com] [friend@good.com]");

    ASSERT_EQ(LoadLists(filter, {u"other@bad.com"}, {}), 0);  // a second load replaces both
    ASSERT_EQ(filter->ProcessCommand(kSession, asbb::kReadListSizes, &io), 0);
    EXPECT_EQ(Verdicts(io, {asbb::kBlackListSize, asbb::kWhiteListSize}), "1 0");
    EXPECT_FALSE(m_traces.Contains("this command is not supported"));  // no command fell through
    EXPECT_TRUE(filter->m_sessions.lookup(kSession)->initialised);     // for the host to see
}

// Every verb in turn on one session: 0 judges the From address, 6 and 7 add it, 10 adds a
// header's addresses, 11 one address, 12 looks one up (those with their extra blackbox).
TEST_F(BWFilterTest, JudgeAddAndQueryAddresses) {
    ASSERT_EQ(LoadLists(filter, {u"spam@bad.com", u"*@evil.org", u"friend@good.com"},
                        {u"friend@good.com"}),
              0);
    const uint32_t judge = asbb::kJudge, black = asbb::kAddFromToBlack,
                   white = asbb::kAddFromToWhite, header = asbb::kAddHeader,
                   add = asbb::kAddAddress, query = asbb::kQueryAddress;
    // A failed verb: its code, nothing written, and its message for the host.
    auto E = [](const char* error) {
        return std::to_string(ascommon::kErrInternal) +
               " - - - - - Module Eml Blacklist/Whitelist Filter failed to process entity with "
               "message: ASException - MESSAGE: " +
               error;
    };
    // clang-format off
    // selector 0: none, -1: no extra blackbox at all; address: the From address for verbs 0, 6
    // and 7 (null: none); want: white, black, same address, matched, added (see Verdicts), and
    // after a failure the code and the host's error too
    struct { uint32_t verb; int32_t selector; const char *header, *address, *to; std::string want; } rows[] = {
        {judge, -1, "", "friend@good.com", "me@here.com", "1 0 - 'friend@good.com' -"},
        {judge, -1, "", "x@EVIL.org", "me@here.com", "0 1 - '*@evil.org' -"},
        {judge, -1, "", "SPAM@bad.com", nullptr, "0 1 - 'spam@bad.com' -"},
        {judge, -1, "", "nobody@x.com", nullptr, "0 0 - '' -"},
        // writing to itself: never whitelisted, the black list decides
        {judge, -1, "", "friend@good.com", "friend@good.com", "0 1 1 'friend@good.com' -"},
        // the same address but for case is another address: the lists match without case
        {judge, -1, "", "Friend@good.com", "friend@good.com", "1 0 - 'friend@good.com' -"},
        {judge, -1, "", nullptr, "me@here.com", "- - - - -"},
        {black, -1, "", "New@Sender.com", nullptr, "- - - - 'New@Sender.com'"},
        {black, -1, "", "New@Sender.com", nullptr, "- - - - 'New@Sender.com'"},  // already there
        {white, -1, "", "Other@Sender.com", nullptr, "- - - - 'Other@Sender.com'"},
        {white, -1, "", nullptr, nullptr, "- - - - -"},
        {header, asbb::kWhiteList, "reply-to", nullptr, nullptr, "- - - - -"},
        {header, 2004, "Reply-To", nullptr, nullptr, E("list to insert addresses incorrectly specified")},  // neither list
        {header, asbb::kWhiteList, "Cc", nullptr, nullptr, E("header with name CC does not exist or is not an address header[ code 0]")},
        {header, asbb::kWhiteList, "Subject", nullptr, nullptr, E("header with name SUBJECT does not exist or is not an address header[ code -401]")},
        {header, 0, "Reply-To", nullptr, nullptr, E("list to insert addrFromesses not specified")},
        {header, asbb::kWhiteList, "", nullptr, nullptr, E("addrFromess header not specified")},
        {header, -1, "", nullptr, nullptr, E("extra blackbox not present!")},
        {add, asbb::kBlackList, "", "Upper@Case.COM", nullptr, "- - - - -"},
        {add, asbb::kBlackList, "", "Upper@Case.COM", nullptr, "- - - - -"},  // again
        {add, 7, "", "x@y.com", nullptr, E("list to insert addrFromess incorrectly specified")},
        {add, 0, "", "x@y.com", nullptr, E("list to insert addrFromess not specified")},
        {add, asbb::kBlackList, "", nullptr, nullptr, E("addrFromess to insert not specified")},
        {query, 0, "", nullptr, nullptr, E("addrFromess to query not specified")},
        {query, 0, "", "", nullptr, "0 0 - - -"},  // an empty address is looked at no further
        {query, 0, "", "new@sender.com", nullptr, "0 1 - 'new@sender.com' -"},
        {query, 0, "", "other@sender.com", nullptr, "1 0 - 'other@sender.com' -"},
        {query, 0, "", "two@b.com", nullptr, "1 0 - 'two@b.com' -"},
        {query, 0, "", "upper@case.com", nullptr, "0 1 - 'upper@case.com' -"},
        {query, 0, "", "someone@else.com", nullptr, "0 0 - '' -"},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE("row " + std::to_string(&row - rows));
        const bool fromVerb = row.verb == judge || row.verb == black || row.verb == white;
        host::MessageBuilder builder;
        builder.Subject("s").Addresses("Reply-To", {"one@a.com", "Two@B.com"});
        if (fromVerb && row.address) builder.From({row.address});
        if (row.to) builder.To({row.to});
        auto message = builder.Build();
        host::BlackBoxStore extra;
        FillExtra(extra, row.selector, "", row.header);
        if (!fromVerb && row.address)
            extra.SetWideText(asbb::kAddress, host::WidenKey(row.address));
        const int32_t result = Run(filter, *message, row.verb, row.selector < 0 ? nullptr : &extra);
        std::string got = Verdicts(message->blackbox(),
                                   {asbb::kWhitelisted, asbb::kBlacklisted, asbb::kSameAddress,
                                    asbb::kMatchedExpression, asbb::kAddedAddress});
        if (result != 0) got = std::to_string(result) + " " + got + " " + HostError();
        EXPECT_EQ(got, row.want);
    }
    for (const char* text :
         {"The addrFromess was  found in the WhiteList",
          "The addrFromess was not found in the BlackList", "could not obtain From Address",
          "adding New@Sender.com to black list", "adding Other@Sender.com to white list",
          "adding Two@B.com from REPLY-TO header to White List",
          "successfully added addrFromess (Upper@Case.COM) to the Black List"}) {
        EXPECT_TRUE(m_traces.Contains(text)) << text;
    }
}

TEST_F(BWFilterTest, UnsupportedVerbsCommandsAndBadInput) {
    auto message = host::MessageBuilder().From({"a@b.com"}).Build();
    for (uint32_t verb : {3u, 13u}) {
        m_traces.lines.clear();
        EXPECT_EQ(Run(filter, *message, verb), 0);
        EXPECT_TRUE(m_traces.Contains("this command is not supported"));
    }
    host::BlackBoxStore empty, extra;
    FillExtra(extra, asbb::kWhiteList, "", "Reply-To");
    auto bare = host::MessageBuilder().WithoutHeaders().Build();  // no header map at all
    EXPECT_EQ(Run(filter, *bare, asbb::kAddHeader, &extra), ascommon::kErrInternal);
    EXPECT_NE(HostError().find("REPLY-TO does not exist or is not an address header[ code -400]"),
              std::string::npos);
    // clang-format off
    struct { uint64_t session; uint32_t command; bool io; int32_t result; const char* text; } rows[] = {
        // text: the host's error, or a trace line when the command succeeds
        {kSession, 42, true, 0, "this command is not supported"},
        {kSession, asbb::kReadLists, false, 0, "cannot output results because I/O blackbox pointer is NULL"},
        {kSession, asbb::kLoadLists, false, ascommon::kErrInternal, "ASBadPtrException - MESSAGE: I/O blackbox pointer is NULL"},
        {kSession, asbb::kLoadLists, true, ascommon::kErrInternal, "ASBadPtrException - MESSAGE: Invalid data obtained from blackbox"},
        {99, asbb::kReadListSizes, true, ascommon::kErrInternal, "ASBadPtrException - MESSAGE: Invalid data structure pointer received"},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        m_traces.lines.clear();
        EXPECT_EQ(filter->ProcessCommand(row.session, row.command, row.io ? &empty : nullptr),
                  row.result);
        EXPECT_TRUE(row.result == 0 ? m_traces.Contains(row.text)
                                    : HostError() == kCommandFailed + row.text)
            << HostError();
    }
}

// Libraries load again only when their folder changes; a session opened before they ever
// loaded cannot use its lists.
TEST_F(BWFilterTest, SharedSettingsAndLibraries) {
    ASSERT_EQ(filter->ApplySharedSettings(), 0);
    EXPECT_FALSE(m_traces.Contains("Trying to load the lib"));  // same folder: nothing again
    m_settings.Set("/eml/global/SharedLibsPathNew", "/no/such/folder");
    EXPECT_EQ(filter->ApplySharedSettings(), ascommon::kErrInternal);
    EXPECT_EQ(HostError(),
              "ASException - MESSAGE: Could not get a valid handle to Rexkit Library from "
              "path /no/such/folder");
    EXPECT_EQ(m_traces.Level("could not initialize shared data structure"), 1);
    EXPECT_EQ(m_traces.Level("Module Eml Blacklist/Whitelist Filter failed to apply shared "
                             "settings with message: ASException - MESSAGE: Could not get"),
              2);
    m_settings.Set("/eml/global/SharedLibsPathNew", LibraryFolder() + "/");
    EXPECT_EQ(filter->ApplySharedSettings(), 0) << HostError();
    EXPECT_TRUE(m_traces.Contains("Successfully loaded dynamic library"));

    CAFilter* fresh = CreateFilter(kBWFilter);
    EXPECT_EQ(host::OpenSession(fresh, 5), ascommon::kErrInternal);  // no regex library yet
    EXPECT_EQ(m_traces.Level("could not initialize matching list."), 1);
    EXPECT_FALSE(fresh->m_sessions.lookup(5)->initialised);
    EXPECT_EQ(LoadLists(fresh, {u"a@b.com"}, {}, 5), ascommon::kErrInternal);
    EXPECT_EQ(HostError(), kCommandFailed +
                               "ASException - MESSAGE: the matching list was not properly "
                               "initialized");
}

}  // namespace
