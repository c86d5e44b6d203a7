// The vocabulary shared by the module and its hosts: blackbox keys, the type codes and flags of
// BlackBox::Get/Set, the filters' verbs and commands, and the list selectors. Host-facing header;
// constants only, usable from any thread.
#pragma once

#include <cstdint>

namespace asbb {

// Blackbox keys, by the box that carries them and the side that writes them.
enum Key : uint32_t {
    // Message blackbox, written by the host.
    kHeaders = 20001,         // the root part's header map (type kObject)
    kPartsTree = 20002,       // the parts tree, a CPartsArray (type kObject)
    kSenderDomain = 21218,    // the sender's domain (type kText)
    kCharStatistics = 21234,  // the character-statistics JSON document (type kText)

    // Extra blackbox, written by the host.
    kUrlKeyStream = 1030,  // the FILE* that the URL filter's extract verb writes to
    kListSelector = 2001,  // which list an add verb fills: kBlackList or kWhiteList
    kHeaderName = 2004,    // the header whose addresses the add-header verb takes
    kAddress = 2005,       // the address of the add-one and query verbs

    // I/O blackbox of the list commands: lists in and out, their sizes.
    kBlackListItems = 1001,
    kWhiteListItems = 1002,
    kBlackListSize = 1003,
    kWhiteListSize = 1004,

    // Verdicts and texts written into the message blackbox by the filters.
    kWhitelisted = 21001,
    kBlacklisted = 21002,
    kAddedAddress = 21003,
    kMatchedExpression = 21004,
    kSameAddress = 21005,
    kUrlListed = 21030,
    kUrlMatchedKeys = 21031,
    kCharsetHit = 21040,
    kGtube = 21041,
    kOversized = 21042,
    kSexuallyExplicit = 21043,
    kAsianCharset = 21044,
    kAsianShare = 21045,
    kCyrillicShare = 21046,

    // Statistics of the black/white list filter.
    kStatWhiteListSize = 25001,
    kStatBlackListSize = 25002,
};

// Type codes of BlackBox::Get and Set.
enum Type : uint32_t {
    kVerdict = 0,        // Set: a verdict
    kInt = 1,            // Get: int32_t*; Set: a count
    kStatistic = 3,      // Set: a statistic
    kText = 5,           // Get: sstring*; Set: const char* UTF-8, copied
    kWideText = 6,       // Get: usstring*
    kObject = 7,         // Get: the stored object's address
    kWideTextList = 15,  // Get: CArray<usstring,64>*
};

// The flag of BlackBox::Get: objects are read plain, texts and lists as values.
enum GetFlag : uint32_t { kPlain = 0, kValue = 1 };

// Values of kListSelector.
enum ListSelector : int32_t { kBlackList = 2002, kWhiteList = 2003 };

// Verbs of the black/white list filter (ProcessEntity) and its commands (ProcessCommand).
enum BWVerb : uint32_t {
    kJudge = 0,  // the message by its From address
    kAddFromToBlack = 6,
    kAddFromToWhite = 7,
    kAddHeader = 10,     // every address of kHeaderName to the selected list
    kAddAddress = 11,    // kAddress to the selected list
    kQueryAddress = 12,  // look kAddress up
};
enum BWCommand : uint32_t { kLoadLists = 5, kReadLists = 8, kReadListSizes = 9 };

// Verbs of the URL filter.
enum URLVerb : uint32_t { kCheckUrls = 0, kExtractUrlKeys = 21 };

// Verbs of the multipurpose filter, one test each.
enum MultiVerb : uint32_t {
    kTestGtube = 1804,
    kTestSexuallyExplicit = 1805,
    kTestCharsets = 1806,
    kTestOversized = 1807,
    kTestAsianShare = 1808,
    kTestCyrillicShare = 1809,
};

}  // namespace asbb
