// SettingsStore: the host's settings object. Keys are UTF-16; values are UTF-8 texts and 32-bit
// integers, with optional per-session integers. GetInt answers a session's own value first, then
// the key's integer, then a text that is a whole decimal number. Reads and writes may come from
// any thread; a text returned by GetString stays valid until that key is changed or removed.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <shared_mutex>
#include <string>

#include "host_interfaces.h"

namespace host {

class SettingsStore : public Settings {
  public:
    ~SettingsStore() override;

    int32_t SetString(const char16_t* key, const char* value) override;
    int32_t SetInt(const char16_t* key, int32_t value) override;
    int32_t SetSessionInt(const char16_t* key, uint64_t session, int32_t value) override;
    int32_t Remove(const char16_t* key) override;
    void Clear() override;
    const char* GetString(const char16_t* key, int reserved) override;
    int32_t GetInt(const char16_t* key, int32_t fallback, uint64_t session) override;

    // UTF-8 conveniences for host programs: "key = value" style setting.
    int32_t Set(const std::string& key, const std::string& value);
    int32_t SetInt(const std::string& key, int32_t value);

    // Number of GetInt/GetString calls so far (tests check what a module reads).
    uint64_t reads() const { return m_reads; }

  private:
    struct Entry {
        std::unique_ptr<std::string> text;  // stable address for GetString
        bool hasInt = false;
        int32_t number = 0;
        std::map<uint64_t, int32_t> sessions;
    };

    std::shared_mutex m_mutex;
    std::map<std::u16string, Entry> m_entries;
    uint64_t m_reads = 0;
};

// UTF-8 to UTF-16 for keys (ASCII keys in practice; other bytes are widened as they are).
std::u16string WidenKey(const std::string& key);

}  // namespace host
