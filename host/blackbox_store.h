// BlackBoxStore: the host's blackbox. Values are kept per key with the type they were stored
// with: integers (types 0, 1, 3), UTF-8 texts (5), wide texts (6), wide-text lists (15) and
// objects by address (7). Get answers by the type asked for; every Set is counted so tests can
// tell "written as 0" from "not written". Thread-safe; a pointer returned by Get stays valid
// until that key is replaced or removed.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/carray.h"
#include "common/sstring.h"
#include "common/ustring.h"
#include "host_interfaces.h"

namespace host {

typedef ascommon::CArray<ascommon::usstring, 64> WideTextList;

// A new list of the texts, as a host hands one over under keys 1001 and 1002 (the caller owns
// it, or passes it on with PutObject).
WideTextList* NewWideTextList(const std::vector<std::u16string>& items);

class BlackBoxStore : public BlackBox {
  public:
    BlackBoxStore() = default;
    BlackBoxStore(const BlackBoxStore&) = delete;
    BlackBoxStore& operator=(const BlackBoxStore&) = delete;
    ~BlackBoxStore() override;

    int32_t Set(uint32_t key, uint32_t type, uint32_t zero, uint64_t value) override;
    void* Get(uint32_t key, uint32_t type, uint32_t flag) override;
    int32_t SetString(uint32_t key, const char* text) override;
    int32_t SetInt(uint32_t key, int32_t value) override;
    int32_t PutObject(uint32_t key, uint32_t type, ascommon::CBlackBoxObject* object,
                      bool owned) override;
    int32_t Remove(uint32_t key) override;
    void Clear() override;
    // Copies wide-text lists (the only objects a module hands over); other keys are refused.
    int32_t SetObject(uint32_t key, ascommon::CBlackBoxObject* object) override;

    // Host conveniences.
    int32_t SetWideText(uint32_t key, const std::u16string& text);
    bool Has(uint32_t key);
    int64_t IntValue(uint32_t key, int64_t fallback);
    std::string Text(uint32_t key);   // "" when absent
    uint32_t SetCalls(uint32_t key);  // how many times the module wrote the key
    WideTextList* List(uint32_t key);

    // Keys under which a module hands over lists of wide texts with SetObject.
    static bool IsListKey(uint32_t key) {
        return key == asbb::kBlackListItems || key == asbb::kWhiteListItems;
    }

  private:
    struct Entry {
        uint32_t type = 0;
        int32_t number = 0;
        ascommon::sstring text;
        ascommon::usstring wide;
        ascommon::CBlackBoxObject* object = nullptr;
        std::unique_ptr<ascommon::CBlackBoxObject> owned;  // object, when the store owns it
        uint32_t setCalls = 0;
    };
    Entry& Fresh(uint32_t key, uint32_t type);
    static void Drop(Entry& entry);

    std::recursive_mutex m_mutex;
    std::map<uint32_t, Entry> m_entries;
};

}  // namespace host
