// CMap<K, V>: the chained hash map shared with the host (session maps, header maps). Separate
// arrays of chain heads and tails; nodes hold key, value and next, and come from the hook table's
// non-throwing allocation (only the constructor's bucket arrays use the throwing form). The map
// never rehashes by itself. No locking: the owner guards a shared map. Host-facing header.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>

#include "common/ashooks_access.h"
#include "common/bbobject.h"
#include "common/layout.h"
#include "common/sstring.h"
#include "common/status.h"

namespace ascommon {

// Default key hashes.
inline uint32_t DefaultHash(const sstring& key) {
    return hash_sstring(key);
}
// h = 5381, then h = h * 33 ^ (signed byte) over the key's eight bytes, low byte first.
inline uint32_t DefaultHash(const uint64_t& key) {
    uint32_t h = 5381;
    for (int i = 0; i < 8; ++i) {
        const signed char b = static_cast<signed char>((key >> (8 * i)) & 0xFF);
        h = (h * 33) ^ static_cast<uint32_t>(static_cast<int32_t>(b));
    }
    return h;
}

template <class K, class V>
struct CMapNode {
    K key;
    V value;
    CMapNode* next;
};

template <class K, class V>
class CMap : public CBlackBoxObject {
  public:
    typedef CMapNode<K, V> Node;
    typedef uint32_t (*HashFunction)(const K& key);

    static constexpr uint32_t kInitialBuckets = 32;

    explicit CMap(HashFunction hash = nullptr)
        : m_bucketCount(0),
          m_count(0),
          m_heads(nullptr),
          m_tails(nullptr),
          m_ordered(false),
          m_hash(hash) {
        m_heads = static_cast<Node**>(MemAllocOrThrow(kInitialBuckets * sizeof(Node*)));
        try {
            m_tails = static_cast<Node**>(MemAllocOrThrow(kInitialBuckets * sizeof(Node*)));
        } catch (...) {
            MemFree(m_heads);
            m_heads = nullptr;
            throw;
        }
        std::memset(m_heads, 0, kInitialBuckets * sizeof(Node*));
        std::memset(m_tails, 0, kInitialBuckets * sizeof(Node*));
        m_bucketCount = kInitialBuckets;
    }
    CMap(const CMap&) = delete;
    CMap& operator=(const CMap&) = delete;

    ~CMap() override {
        DestroyNodes();
        if (m_heads) MemFree(m_heads);
        if (m_tails) MemFree(m_tails);
        m_heads = m_tails = nullptr;
        m_bucketCount = 0;
    }

    V* lookup(const K& key) {
        if (m_heads == nullptr || m_bucketCount == 0) return nullptr;
        for (Node* n = m_heads[Bucket(key, m_bucketCount)]; n; n = n->next) {
            if (n->key == key) return &n->value;
        }
        return nullptr;
    }

    // 0; -2 without buckets, node, or a whole copy of the key; -451 when the key is present (its
    // value is kept).
    int32_t insert(const K& key, const V& value) {
        if (m_heads == nullptr || m_bucketCount == 0) return kNoBuffer;
        const uint32_t b = Bucket(key, m_bucketCount);
        Node* before = nullptr;  // the node the new one goes in front of
        Node* previous = nullptr;
        for (Node* n = m_heads[b]; n; previous = n, n = n->next) {
            if (n->key == key) return kKeyPresent;
            if (m_ordered && !(n->key < key)) {
                before = n;
                break;
            }
        }
        Node* node = NewNode(key, value);
        if (node == nullptr) return kNoBuffer;
        Link(b, node, before, before ? previous : m_tails[b]);
        ++m_count;
        return 0;
    }

    // Appends a node at the end of the key's chain without looking for an equal key, for an
    // owner that keeps its own index of the keys (unordered chains only). The new node, or null
    // without buckets, node or a whole copy of the key.
    Node* append(const K& key, const V& value) {
        if (m_heads == nullptr || m_bucketCount == 0) return nullptr;
        const uint32_t b = Bucket(key, m_bucketCount);
        Node* node = NewNode(key, value);
        if (node == nullptr) return nullptr;
        Link(b, node, nullptr, m_tails[b]);
        ++m_count;
        return node;
    }

    // 0; -2 without buckets; -450 when the key is absent.
    int32_t remove(const K& key) {
        if (m_heads == nullptr || m_bucketCount == 0) return kNoBuffer;
        const uint32_t b = Bucket(key, m_bucketCount);
        Node* previous = nullptr;
        for (Node* n = m_heads[b]; n; previous = n, n = n->next) {
            if (!(n->key == key)) continue;
            if (previous) {
                previous->next = n->next;
            } else {
                m_heads[b] = n->next;
            }
            if (m_tails[b] == n) m_tails[b] = previous;
            FreeNode(n);
            --m_count;
            return 0;
        }
        return kKeyAbsent;
    }

    int32_t clear() {
        if (m_heads == nullptr || m_bucketCount == 0) return kNoBuffer;
        DestroyNodes();
        return 0;
    }

    // Moves every node onto n fresh chains (bucket 0 first, each chain from its head).
    int32_t rehash(uint32_t n) {
        if (n == 0) return 0;
        Node** heads = static_cast<Node**>(MemAlloc(n * sizeof(Node*)));
        Node** tails = static_cast<Node**>(MemAlloc(n * sizeof(Node*)));
        if (heads == nullptr || tails == nullptr) {
            if (heads) MemFree(heads);
            if (tails) MemFree(tails);
            return kNoBuffer;
        }
        std::memset(heads, 0, n * sizeof(Node*));
        std::memset(tails, 0, n * sizeof(Node*));
        if (m_heads != nullptr) {
            for (uint32_t b = 0; b < m_bucketCount; ++b) {
                Node* node = m_heads[b];
                while (node) {
                    Node* next = node->next;
                    node->next = nullptr;
                    Place(heads, tails, Bucket(node->key, n), node);
                    node = next;
                }
            }
            MemFree(m_heads);
        }
        if (m_tails) MemFree(m_tails);
        m_heads = heads;
        m_tails = tails;
        m_bucketCount = n;
        return 0;
    }

    uint32_t bucket_count() const { return m_bucketCount; }
    uint32_t size() const { return m_count; }
    bool ordered() const { return m_ordered; }
    void set_ordered(bool ordered) { m_ordered = ordered; }
    // Head of chain b (null when empty or out of range); walk with node->next.
    Node* head(uint32_t b) const { return (m_heads && b < m_bucketCount) ? m_heads[b] : nullptr; }
    Node* tail(uint32_t b) const { return (m_tails && b < m_bucketCount) ? m_tails[b] : nullptr; }
    // The first node in iteration order (buckets upward, chains from their heads), or null.
    Node* first() const {
        for (uint32_t b = 0; m_heads && b < m_bucketCount; ++b) {
            if (m_heads[b]) return m_heads[b];
        }
        return nullptr;
    }

  private:
    friend struct MapLayout;

    uint32_t Bucket(const K& key, uint32_t buckets) const {
        return (m_hash ? m_hash(key) : DefaultHash(key)) % buckets;
    }

    // Links node into chain b in front of `before` (after `previous`), or at the end.
    void Link(uint32_t b, Node* node, Node* before, Node* previous) {
        node->next = before;
        if (previous) {
            previous->next = node;
        } else {
            m_heads[b] = node;
        }
        if (before == nullptr) m_tails[b] = node;
    }

    void Place(Node** heads, Node** tails, uint32_t b, Node* node) {
        if (heads[b] == nullptr) {
            heads[b] = tails[b] = node;
            return;
        }
        if (!m_ordered) {
            tails[b]->next = node;
            tails[b] = node;
            return;
        }
        Node* previous = nullptr;
        Node* n = heads[b];
        while (n && n->key < node->key) {
            previous = n;
            n = n->next;
        }
        node->next = n;
        if (previous) {
            previous->next = node;
        } else {
            heads[b] = node;
        }
        if (n == nullptr) tails[b] = node;
    }

    // A node holding whole copies of key and value, or null.
    Node* NewNode(const K& key, const V& value) {
        void* block = MemAlloc(sizeof(Node));
        if (block == nullptr) return nullptr;
        Node* node = new (block) Node{key, value, nullptr};
        if (!CopyComplete(node->key, key) || !CopyComplete(node->value, value)) {
            FreeNode(node);
            return nullptr;
        }
        return node;
    }

    void FreeNode(Node* node) {
        node->~Node();
        MemFree(node);
    }

    void DestroyNodes() {
        if (m_heads == nullptr) return;
        for (uint32_t b = 0; b < m_bucketCount; ++b) {
            Node* node = m_heads[b];
            while (node) {
                Node* next = node->next;
                FreeNode(node);
                node = next;
            }
            m_heads[b] = nullptr;
            if (m_tails) m_tails[b] = nullptr;
        }
        m_count = 0;
    }

    uint32_t m_bucketCount;
    uint32_t m_count;
    Node** m_heads;
    Node** m_tails;
    bool m_ordered;
    HashFunction m_hash;
};

// The layout shared with the host: vtable, bucket count, element count, heads, tails, ordered
// flag, hash function; nodes hold key, value, next.
struct MapLayout {
    typedef CMap<uint64_t, uint32_t> Map;
    typedef CMapNode<uint64_t, uint32_t> Node;
    AS_LAYOUT_BEGIN
    AS_PIN(Map, m_bucketCount, 8);
    AS_PIN(Map, m_count, 12);
    AS_PIN(Map, m_heads, 16);
    AS_PIN(Map, m_tails, 24);
    AS_PIN(Map, m_ordered, 32);
    AS_PIN(Map, m_hash, 40);
    AS_PIN_SIZE(Map, 48);
    AS_PIN(Node, next, 16);
    AS_LAYOUT_END
};

}  // namespace ascommon
