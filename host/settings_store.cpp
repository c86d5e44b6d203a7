// SettingsStore.
#include "host/settings_store.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>

namespace host {

std::u16string WidenKey(const std::string& key) {
    std::u16string wide;
    wide.reserve(key.size());
    for (unsigned char c : key) wide.push_back(static_cast<char16_t>(c));
    return wide;
}

namespace {
bool ParseInt(const std::string& text, int32_t* out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < INT32_MIN || value > INT32_MAX) return false;
    *out = static_cast<int32_t>(value);
    return true;
}
}  // namespace

SettingsStore::~SettingsStore() {}

int32_t SettingsStore::SetString(const char16_t* key, const char* value) {
    if (key == nullptr || value == nullptr) return -1;
    std::unique_lock<std::shared_mutex> lock(m_mutex);
    Entry& entry = m_entries[key];
    entry.text.reset(new std::string(value));
    entry.hasInt = ParseInt(value, &entry.number);
    return 0;
}

int32_t SettingsStore::SetInt(const char16_t* key, int32_t value) {
    if (key == nullptr) return -1;
    std::unique_lock<std::shared_mutex> lock(m_mutex);
    Entry& entry = m_entries[key];
    entry.hasInt = true;
    entry.number = value;
    entry.text.reset(new std::string(std::to_string(value)));
    return 0;
}

int32_t SettingsStore::SetSessionInt(const char16_t* key, uint64_t session, int32_t value) {
    if (key == nullptr) return -1;
    std::unique_lock<std::shared_mutex> lock(m_mutex);
    m_entries[key].sessions[session] = value;
    return 0;
}

int32_t SettingsStore::Remove(const char16_t* key) {
    if (key == nullptr) return -1;
    std::unique_lock<std::shared_mutex> lock(m_mutex);
    return m_entries.erase(key) ? 0 : -1;
}

void SettingsStore::Clear() {
    std::unique_lock<std::shared_mutex> lock(m_mutex);
    m_entries.clear();
}

const char* SettingsStore::GetString(const char16_t* key, int) {
    if (key == nullptr) return nullptr;
    std::shared_lock<std::shared_mutex> lock(m_mutex);
    __atomic_add_fetch(&m_reads, 1, __ATOMIC_RELAXED);
    auto it = m_entries.find(key);
    if (it == m_entries.end() || !it->second.text) return nullptr;
    return it->second.text->c_str();
}

int32_t SettingsStore::GetInt(const char16_t* key, int32_t fallback, uint64_t session) {
    if (key == nullptr) return fallback;
    std::shared_lock<std::shared_mutex> lock(m_mutex);
    __atomic_add_fetch(&m_reads, 1, __ATOMIC_RELAXED);
    auto it = m_entries.find(key);
    if (it == m_entries.end()) return fallback;
    const Entry& entry = it->second;
    auto own = entry.sessions.find(session);
    if (own != entry.sessions.end()) return own->second;
    return entry.hasInt ? entry.number : fallback;
}

int32_t SettingsStore::Set(const std::string& key, const std::string& value) {
    return SetString(WidenKey(key).c_str(), value.c_str());
}

int32_t SettingsStore::SetInt(const std::string& key, int32_t value) {
    return SetInt(WidenKey(key).c_str(), value);
}

}  // namespace host
