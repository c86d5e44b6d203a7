// CBWFilter.
#include "as/Molvex/bwfilter/bwfilter.h"

#include <cstring>
#include <new>

#include "common/asexception.h"
#include "common/carray.h"
#include "common/platform.h"
#include "common/trace.h"
#include "common/ustring.h"
#include "engines/htmlparser/structs/bbfacilitator.h"

namespace nsEmlModules {

using ascommon::auto_locker;
using ascommon::CMatchingList;
using ascommon::sstring;
using ascommon::usstring;
using nsEmlComponents::CBBFacilitator;

namespace {

const char* ListName(bool black) {
    return black ? "Black List" : "White List";
}

bool HasText(const sstring& text) {
    return text.c_str() != nullptr && text.length() > 0;
}

// The UTF-8 form of a wide text (what could be converted, on a conversion problem). Throws
// ASMemException with `failure` when the text's buffer cannot be had: an address is never
// silently taken for an empty one.
sstring Narrow(const usstring& wide, const char* failure) {
    sstring narrow;
    if (ascommon::UsstringToSstring(wide, narrow) == ascommon::kNoBuffer)
        AS_THROW(ASMemException, "%s", failure);
    return narrow;
}

// Converts an expression to UTF-16 and appends it to `out`; throws ASMemException when memory
// runs out, so that a list is never written out short.
void AppendWide(const sstring& expression, ascommon::CArray<usstring, 64>* out) {
    usstring wide;
    if (ascommon::SstringToUsstring(expression, wide) == ascommon::kNoBuffer ||
        out->add(wide) != 0) {
        AS_THROW(ASMemException, "could not output the list expressions");
    }
}

// Appends every expression to `out` as UTF-16: exact ones first (map walk order), then wildcard
// ones.
void ListExpressions(const CMatchingList& list, ascommon::CArray<usstring, 64>* out) {
    const auto& exact = list.Exact();
    for (uint32_t b = 0; b < exact.bucket_count(); ++b) {
        for (auto* node = exact.head(b); node != nullptr; node = node->next) {
            AppendWide(node->key, out);
        }
    }
    const auto& wildcards = list.Wildcards();
    for (uint64_t i = 0; i < wildcards.size(); ++i) AppendWide(wildcards.data()[i], out);
}

}  // namespace

CBWFilter::CBWFilter(const sstring& name) {
    SetName(name);
}

CBWFilter::~CBWFilter() {
    AS_TRACE(4, "Destructing the Black/White List filter with name %s", DisplayName());
}

bool CBWFilter::IsEnabled(uint64_t session) {
    return IsEnabledByKey(session, u"/eml/filter/bwfilter/Enabled");
}

void* CBWFilter::CreateSharedData() {
    return new (std::nothrow) BWFilterSharedData();
}

void CBWFilter::DestroySharedData(void* data) {
    auto* shared = static_cast<BWFilterSharedData*>(data);
    if (shared == nullptr) return;
    if (shared->regexLibrary != nullptr) ascommon::ReleaseRexkitLib(shared->regexLibrary);
    delete shared;
}

// Null when the data or the bucket arrays of its lists cannot be allocated.
void* CBWFilter::CreateSessionData() {
    try {
        return new (std::nothrow) BWFilterSessionData();
    } catch (const std::exception&) {
        return nullptr;
    }
}

void CBWFilter::DestroySessionData(void* data) {
    delete static_cast<BWFilterSessionData*>(data);
}

int32_t CBWFilter::ReservedOperation() {
    return 0;
}

uint8_t CBWFilter::GetVerbMode(uint32_t verb) {
    return (verb == asbb::kAddAddress || verb == asbb::kQueryAddress) ? 0 : 2;
}

int32_t CBWFilter::ApplySharedSettings() {
    return GuardSharedSettings(AS_HERE, [&] {
        auto_locker lock(&m_locker, auto_locker::kExclusive);
        auto* shared = static_cast<BWFilterSharedData*>(m_sharedData);
        if (shared == nullptr) AS_THROW(ASException, "invalid pointer to shared data");
        try {
            LoadLibraries(shared);
        } catch (const ascommon::ASException& e) {
            AS_TRACE(1, "could not initialize shared data structure");
            AS_TRACE(1, "%s", e.what());
            throw;
        }
    });
}

// Stores the folder a library was loaded from. When the copy cannot get its buffer the folder
// is forgotten (so the next call loads again) and ASMemException is thrown.
static void KeepDirectory(sstring& kept, const sstring& directory) {
    kept = directory;
    if (!kept.initialised()) {
        kept = "";  // inline: cannot fail
        AS_THROW(ASMemException, "could not keep the shared libraries path %s", directory.c_str());
    }
}

// Loads each library again only when its folder setting changed. A failed load keeps the old
// folder, so the next call tries again.
void CBWFilter::LoadLibraries(BWFilterSharedData* shared) {
    const char* regexFolder = m_settings->GetString(u"/eml/global/SharedLibsPathNew", 0);
    const sstring regexDirectory(regexFolder ? regexFolder : ".");
    const char* unicodeFolder = m_settings->GetString(u"/eml/global/SharedLibsPathNew", 0);
    const sstring unicodeDirectory(unicodeFolder ? unicodeFolder : ".");
    if (!regexDirectory.initialised() || !unicodeDirectory.initialised()) {
        AS_THROW(ASMemException, "could not copy the shared libraries path");
    }

    if (std::strcmp(regexDirectory.c_str(), shared->regexDirectory.c_str()) != 0) {
        if (shared->regexLibrary != nullptr) ascommon::ReleaseRexkitLib(shared->regexLibrary);
        shared->regexLibrary = ascommon::LoadRexkitLib(regexDirectory);
        if (shared->regexLibrary == nullptr) {
            AS_THROW(ASException, "Could not get a valid handle to Rexkit Library from path %s",
                     regexDirectory.c_str());
        }
        KeepDirectory(shared->regexDirectory, regexDirectory);
    }
    if (std::strcmp(unicodeDirectory.c_str(), shared->unicodeDirectory.c_str()) != 0) {
        // Whether the library loads is not looked at; a path that could not even be built is.
        if (shared->conversion.LoadUnicodeLibrary(unicodeDirectory) == ascommon::kNoBuffer) {
            AS_THROW(ASMemException, "could not build the Unicode library path in %s",
                     unicodeDirectory.c_str());
        }
        KeepDirectory(shared->unicodeDirectory, unicodeDirectory);
    }
}

int32_t CBWFilter::ApplySessionSettings(uint64_t session) {
    return GuardSessionSettings(AS_HERE, [&] {
        auto_locker lock(&m_locker, auto_locker::kReadOnly);
        auto* data = static_cast<BWFilterSessionData*>(GetSessionData(session));
        if (data == nullptr) AS_THROW(ASBadPtrException, "invalid data structure pointer received");
        auto* shared = static_cast<BWFilterSharedData*>(m_sharedData);
        if (shared == nullptr) {
            AS_THROW(ASBadPtrException, "invalid shared data structure pointer received");
        }
        try {
            data->whiteList.Init(shared->conversion.Binding(), shared->regexLibrary);
            data->blackList.Init(shared->conversion.Binding(), shared->regexLibrary);
            SetSessionInitialised(session, true);
        } catch (const ascommon::ASException&) {
            AS_TRACE(1, "could not initialize matching list.");
            SetSessionInitialised(session, false);
            throw;
        }
    });
}

int32_t CBWFilter::GetStatistics(uint64_t session, BlackBox* out) {
    if (out == nullptr) {
        AS_TRACE(2, "NULL pointer passed as argument");
        return ascommon::kErrInvalidInput;
    }
    auto_locker lock(&m_locker, auto_locker::kReadOnly);
    auto* data = static_cast<BWFilterSessionData*>(GetSessionData(session));
    if (data == nullptr) {
        AS_TRACE(2, "invalid reference to data structure");
        return ascommon::kErrInvalidPointer;
    }
    auto_locker lists(&data->listLocker, auto_locker::kReadOnly);
    out->Set(asbb::kStatBlackListSize, asbb::kStatistic, 0, data->blackList.Size());
    out->Set(asbb::kStatWhiteListSize, asbb::kStatistic, 0, data->whiteList.Size());
    return 0;
}

int32_t CBWFilter::ProcessEntity(uint64_t session, ASEntity* entity, uint32_t verb) {
    return GuardEntity([&] {
        if (entity == nullptr) AS_THROW(ASBadPtrException, "invalid pointer to the item");
        auto* data = static_cast<BWFilterSessionData*>(GetSessionData(session));
        if (data == nullptr) {
            AS_THROW(ASBadPtrException, "CBWFilter - Invalid data structure pointer");
        }
        const bool needsMessage = verb == asbb::kJudge || verb == asbb::kAddFromToBlack ||
                                  verb == asbb::kAddFromToWhite || verb == asbb::kAddHeader;
        if (!needsMessage && verb != asbb::kAddAddress && verb != asbb::kQueryAddress) {
            AS_TRACE(4, "this command is not supported");
            return;
        }
        if (verb == asbb::kAddAddress) return AddOneAddress(data, entity->extra);
        BlackBox* out = entity->message;
        if (out == nullptr) AS_THROW(ASBadPtrException, "invalid pointer to the item");
        if (verb == asbb::kQueryAddress) return Query(data, out, entity->extra);
        CBBFacilitator message(out);
        message.Initialize();
        switch (verb) {
            case asbb::kJudge:
                Judge(message, data, out);
                break;
            case asbb::kAddFromToBlack:
            case asbb::kAddFromToWhite:
                AddFrom(message, data, out, verb == asbb::kAddFromToBlack);
                break;
            default:
                AddHeaderAddresses(message, data, entity->extra);
                break;
        }
    });
}

// Verb 0. White list first; a sender writing to itself is never whitelisted.
void CBWFilter::Judge(CBBFacilitator& message, BWFilterSessionData* data, BlackBox* out) {
    const nsEmlComponents::TAddressArray* from = message.GetFrom();
    if (from == nullptr || from->size() == 0) {
        AS_TRACE(4, "could not obtain From Address");
        return;
    }
    const sstring& address = from->at(0)->m_address;
    bool sameAddress = false;
    const nsEmlComponents::TAddressArray* to = message.GetTo();
    if (to != nullptr && to->size() > 0 && to->at(0)->m_address == address) {
        sameAddress = true;
        out->Set(asbb::kSameAddress, asbb::kVerdict, 0, 1);
    }
    out->Set(asbb::kWhitelisted, asbb::kVerdict, 0, 0);
    out->Set(asbb::kBlacklisted, asbb::kVerdict, 0, 0);
    if (!HasText(address)) return;

    LookUp(data, address, sameAddress, out);
}

// Asks the white list and, when that does not clear the address, the black list; writes both
// verdicts and the last matched expression. `neverWhite` keeps a white-list hit from counting.
void CBWFilter::LookUp(BWFilterSessionData* data, const sstring& address, bool neverWhite,
                       BlackBox* out) {
    sstring matched("");
    // The expression that matched must reach the blackbox whole.
    auto matchedText = [&matched]() {
        if (matched.last_error() == ascommon::kNoBuffer) {
            AS_THROW(ASMemException, "could not copy the matched expression");
        }
        return matched.c_str();
    };
    auto_locker lock(&data->listLocker, auto_locker::kReadOnly);
    const bool whitelisted = data->whiteList.Match(address, matched) && !neverWhite;
    out->Set(asbb::kWhitelisted, asbb::kVerdict, 0, whitelisted ? 1 : 0);
    out->SetString(asbb::kMatchedExpression, matchedText());
    AS_TRACE(4, "The addrFromess was %s found in the WhiteList", whitelisted ? "" : "not ");
    if (!whitelisted) {
        const bool black = data->blackList.Match(address, matched);
        AS_TRACE(4, "The addrFromess was %sfound in the BlackList", black ? "" : "not ");
        out->Set(asbb::kBlacklisted, asbb::kVerdict, 0, black ? 1 : 0);
        out->SetString(asbb::kMatchedExpression, matchedText());
    }
}

// Verbs 6 and 7: the first From address joins the black or the white list.
void CBWFilter::AddFrom(CBBFacilitator& message, BWFilterSessionData* data, BlackBox* out,
                        bool black) {
    const nsEmlComponents::TAddressArray* from = message.GetFrom();
    if (from == nullptr || from->size() == 0) {
        AS_TRACE(4, "could not obtain From Address");
        return;
    }
    auto_locker lock(&data->listLocker, auto_locker::kExclusive);
    const sstring& address = from->at(0)->m_address;
    if (!HasText(address)) return;
    CMatchingList& list = black ? data->blackList : data->whiteList;
    if (black) {
        AS_TRACE(4, "adding %s to black list", address.c_str());
    } else {
        AS_TRACE(4, "adding %s to white list", address.c_str());
    }
    const int32_t result = list.Add(address, ascommon::kExact);
    if (result != 0 && result != CMatchingList::kDuplicate) {
        if (black) AS_THROW(ASMemException, "Problems adding an element to the blacklist");
        AS_THROW(ASMemException, "Problems adding an element to the whitelist");
    }
    out->SetString(asbb::kAddedAddress, address.c_str());
}

// Verb 10: every address of a named header joins the selected list.
void CBWFilter::AddHeaderAddresses(CBBFacilitator& message, BWFilterSessionData* data,
                                   BlackBox* extra) {
    if (extra == nullptr) AS_THROW(ASException, "extra blackbox not present!");
    auto* selector =
        static_cast<int32_t*>(extra->Get(asbb::kListSelector, asbb::kInt, asbb::kPlain));
    auto* headerName =
        static_cast<usstring*>(extra->Get(asbb::kHeaderName, asbb::kWideText, asbb::kValue));
    if (selector == nullptr) AS_THROW(ASException, "list to insert addrFromesses not specified");
    if (headerName == nullptr) AS_THROW(ASException, "addrFromess header not specified");

    auto_locker lock(&data->listLocker, auto_locker::kExclusive);
    sstring name = headerName->to_sstring();
    if (name.c_str() != nullptr) ascommon::_strupr(name.data());
    int32_t error = 0;
    nsEmlComponents::CAddressHeader* header =
        message.GetAddressHeader(name.c_str() ? name.c_str() : "", &error);
    if (header == nullptr) {
        AS_THROW(ASException,
                 "header with name %s does not exist or is not an address header[ code %d]",
                 name.c_str() ? name.c_str() : "", error);
    }
    if (*selector != asbb::kWhiteList && *selector != asbb::kBlackList) {
        AS_THROW(ASException, "list to insert addresses incorrectly specified");
    }
    const bool black = *selector == asbb::kBlackList;
    CMatchingList& list = black ? data->blackList : data->whiteList;
    for (uint64_t i = 0; i < header->m_addresses.size(); ++i) {
        const sstring& address = header->m_addresses.at(i)->m_address;
        AS_TRACE(4, "adding %s from %s header to %s", address.c_str() ? address.c_str() : "",
                 name.c_str(), ListName(black));
        const int32_t result = list.Add(address, ascommon::kExact);
        if (result != 0 && result != CMatchingList::kDuplicate) {
            AS_THROW(ASException, "Problems adding an element to the %s", ListName(black));
        }
    }
}

// Verb 11: one address (wide text) joins the selected list.
void CBWFilter::AddOneAddress(BWFilterSessionData* data, BlackBox* extra) {
    if (extra == nullptr) AS_THROW(ASException, "extra blackbox not present!");
    auto* selector =
        static_cast<int32_t*>(extra->Get(asbb::kListSelector, asbb::kInt, asbb::kPlain));
    auto* wide = static_cast<usstring*>(extra->Get(asbb::kAddress, asbb::kWideText, asbb::kValue));
    if (selector == nullptr) AS_THROW(ASException, "list to insert addrFromess not specified");
    if (wide == nullptr) AS_THROW(ASException, "addrFromess to insert not specified");
    const sstring address = Narrow(*wide, "could not convert the address to insert");
    if (*selector != asbb::kBlackList && *selector != asbb::kWhiteList) {
        AS_THROW(ASException, "list to insert addrFromess incorrectly specified");
    }
    const bool black = *selector == asbb::kBlackList;
    auto_locker lock(&data->listLocker, auto_locker::kExclusive);
    const int32_t result =
        (black ? data->blackList : data->whiteList).Add(address, ascommon::kExact);
    const platform::WideFormatArg text = platform::WideForFormat(wide->c_str(), address.c_str());
    if (result != 0 && result != CMatchingList::kDuplicate) {
        AS_THROW(ASException, "problems adding addrFromess (" PLATFORM_WIDE_FORMAT ") to the %s",
                 text, ListName(black));
    }
    AS_TRACE(4, "successfully added addrFromess (" PLATFORM_WIDE_FORMAT ") to the %s", text,
             ListName(black));
}

// Verb 12: looks one address up, white list first.
void CBWFilter::Query(BWFilterSessionData* data, BlackBox* out, BlackBox* extra) {
    if (extra == nullptr) AS_THROW(ASException, "extra blackbox not present!");
    auto* wide = static_cast<usstring*>(extra->Get(asbb::kAddress, asbb::kWideText, asbb::kValue));
    if (wide == nullptr) AS_THROW(ASException, "addrFromess to query not specified");
    out->Set(asbb::kWhitelisted, asbb::kVerdict, 0, 0);
    out->Set(asbb::kBlacklisted, asbb::kVerdict, 0, 0);
    if (wide->c_str() == nullptr || wide->length() == 0) return;
    LookUp(data, Narrow(*wide, "could not convert the address to query"), false, out);
}

int32_t CBWFilter::ProcessCommand(uint64_t session, uint32_t command, BlackBox* io) {
    return GuardCommand([&] {
        auto* data = static_cast<BWFilterSessionData*>(GetSessionData(session));
        if (data == nullptr) {
            AS_THROW(ASBadPtrException, "Invalid data structure pointer received");
        }
        switch (command) {
            case asbb::kLoadLists: {
                if (io == nullptr) AS_THROW(ASBadPtrException, "I/O blackbox pointer is NULL");
                auto_locker lock(&data->listLocker, auto_locker::kExclusive);
                data->blackList.ClearExact();
                data->whiteList.ClearExact();
                data->blackList.ClearWildcard();
                data->whiteList.ClearWildcard();
                LoadList(data->blackList, io, asbb::kBlackListItems);
                LoadList(data->whiteList, io, asbb::kWhiteListItems);
                break;
            }
            case asbb::kReadLists: {
                if (io == nullptr) {
                    AS_TRACE(4, "cannot output results because I/O blackbox pointer is NULL");
                    break;
                }
                auto_locker lock(&data->listLocker, auto_locker::kReadOnly);
                ascommon::CArray<usstring, 64> black;
                ascommon::CArray<usstring, 64> white;
                ListExpressions(data->blackList, &black);
                ListExpressions(data->whiteList, &white);
                io->SetObject(asbb::kBlackListItems, &black);
                io->SetObject(asbb::kWhiteListItems, &white);
                break;
            }
            case asbb::kReadListSizes: {
                if (io == nullptr) {
                    AS_TRACE(4, "cannot output results because I/O blackbox pointer is NULL");
                    break;
                }
                auto_locker lock(&data->listLocker, auto_locker::kReadOnly);
                io->Set(asbb::kBlackListSize, asbb::kInt, 0, data->blackList.Size());
                io->Set(asbb::kWhiteListSize, asbb::kInt, 0, data->whiteList.Size());
                break;
            }
            default:
                AS_TRACE(4, "this command is not supported");
                break;
        }
    });
}

// Adds every element of the list under `key`: wildcard when it holds "*" or "?", else exact.
void CBWFilter::LoadList(CMatchingList& list, BlackBox* io, uint32_t key) {
    auto* items = static_cast<ascommon::CArray<usstring, 64>*>(
        io->Get(key, asbb::kWideTextList, asbb::kValue));
    if (items == nullptr) AS_THROW(ASBadPtrException, "Invalid data obtained from blackbox");
    for (uint64_t i = 0; i < items->size(); ++i) {
        const usstring& wide = items->at(i);
        const bool wildcard = wide.find(u'*', nullptr) || wide.find(u'?', nullptr);
        const sstring expression = Narrow(wide, "Could not add element to the blacklist");
        const int32_t result =
            list.Add(expression, wildcard ? ascommon::kWildcard : ascommon::kExact);
        switch (result) {
            case -50:
                AS_TRACE(4, "element already present in the list");
                break;
            case -12:
                AS_TRACE(4, "failed to compile a regular expression with the given string");
                break;
            case -22:
                AS_THROW(ASException, "the matching list was not properly initialized");
            case -10:
                AS_THROW(ASMemException, "Could not add element to the blacklist");
            default:
                break;
        }
    }
}

}  // namespace nsEmlModules
