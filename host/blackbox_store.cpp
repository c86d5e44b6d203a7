// BlackBoxStore.
#include "host/blackbox_store.h"

namespace host {

BlackBoxStore::~BlackBoxStore() {
    Clear();
}

void BlackBoxStore::Drop(Entry& entry) {
    entry.owned.reset();
    entry.object = nullptr;
}

BlackBoxStore::Entry& BlackBoxStore::Fresh(uint32_t key, uint32_t type) {
    Entry& entry = m_entries[key];
    Drop(entry);
    entry.type = type;
    entry.text = ascommon::sstring();
    entry.wide = ascommon::usstring();
    return entry;
}

int32_t BlackBoxStore::Set(uint32_t key, uint32_t type, uint32_t, uint64_t value) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    switch (type) {
        case asbb::kVerdict:
        case asbb::kInt:
        case asbb::kStatistic: {
            Entry& entry = Fresh(key, type);
            entry.number = static_cast<int32_t>(value);
            ++entry.setCalls;
            return 0;
        }
        case asbb::kText: {
            const char* text = reinterpret_cast<const char*>(static_cast<uintptr_t>(value));
            Entry& entry = Fresh(key, type);
            entry.text = text != nullptr ? text : "";
            ++entry.setCalls;
            return entry.text.last_error();
        }
        default:
            return -1;
    }
}

void* BlackBoxStore::Get(uint32_t key, uint32_t type, uint32_t) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto it = m_entries.find(key);
    if (it == m_entries.end()) return nullptr;
    Entry& entry = it->second;
    switch (type) {
        case asbb::kVerdict:
        case asbb::kInt:
        case asbb::kStatistic:
            return (entry.type <= asbb::kStatistic) ? &entry.number : nullptr;
        case asbb::kText:
            return entry.text.initialised() ? &entry.text : nullptr;
        case asbb::kWideText:
            return entry.wide.initialised() ? &entry.wide : nullptr;
        case asbb::kObject:
        case asbb::kWideTextList:
            return entry.type == type ? entry.object : nullptr;
        default:
            return nullptr;
    }
}

int32_t BlackBoxStore::SetString(uint32_t key, const char* text) {
    return Set(key, asbb::kText, 0, reinterpret_cast<uintptr_t>(text));
}

int32_t BlackBoxStore::SetInt(uint32_t key, int32_t value) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Entry& entry = Fresh(key, asbb::kInt);
    entry.number = value;
    return 0;
}

int32_t BlackBoxStore::PutObject(uint32_t key, uint32_t type, ascommon::CBlackBoxObject* object,
                                 bool owned) {
    if (type != asbb::kObject && type != asbb::kWideTextList) return -1;
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Entry& entry = Fresh(key, type);
    entry.object = object;
    if (owned) entry.owned.reset(object);
    return 0;
}

int32_t BlackBoxStore::SetWideText(uint32_t key, const std::u16string& text) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Entry& entry = Fresh(key, asbb::kWideText);
    return entry.wide.assign(text.data(), text.size());
}

int32_t BlackBoxStore::Remove(uint32_t key) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto it = m_entries.find(key);
    if (it == m_entries.end()) return -1;
    Drop(it->second);
    m_entries.erase(it);
    return 0;
}

void BlackBoxStore::Clear() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    for (auto& item : m_entries) Drop(item.second);
    m_entries.clear();
}

int32_t BlackBoxStore::SetObject(uint32_t key, ascommon::CBlackBoxObject* object) {
    if (object == nullptr || !IsListKey(key)) return -1;
    const auto* source = static_cast<const WideTextList*>(object);
    auto copy = std::make_unique<WideTextList>();
    for (uint64_t i = 0; i < source->size(); ++i) {
        if (copy->add(source->data()[i]) != 0) return ascommon::kNoBuffer;
    }
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Entry& entry = Fresh(key, asbb::kWideTextList);
    entry.object = copy.get();
    entry.owned = std::move(copy);
    ++entry.setCalls;
    return 0;
}

bool BlackBoxStore::Has(uint32_t key) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_entries.count(key) != 0;
}

int64_t BlackBoxStore::IntValue(uint32_t key, int64_t fallback) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto it = m_entries.find(key);
    if (it == m_entries.end() || it->second.type > asbb::kStatistic) return fallback;
    return it->second.number;
}

std::string BlackBoxStore::Text(uint32_t key) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto it = m_entries.find(key);
    if (it == m_entries.end() || !it->second.text.initialised()) return std::string();
    return std::string(it->second.text.c_str(), it->second.text.length());
}

uint32_t BlackBoxStore::SetCalls(uint32_t key) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto it = m_entries.find(key);
    return it == m_entries.end() ? 0 : it->second.setCalls;
}

WideTextList* BlackBoxStore::List(uint32_t key) {
    return static_cast<WideTextList*>(Get(key, asbb::kWideTextList, 1));
}

WideTextList* NewWideTextList(const std::vector<std::u16string>& items) {
    auto* list = new WideTextList();
    for (const auto& item : items) {
        ascommon::usstring wide;
        wide.assign(item.data(), item.size());
        list->add(wide);
    }
    return list;
}

}  // namespace host
