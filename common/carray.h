// CArray<T, step>: the growable array shared with the host (the parts tree holds them, list
// transfers use them). Storage comes from the hook table's non-throwing allocation and grows to
// the next multiple of the step above count + 1; growth failures return -2 and leave the array
// as it was. Elements of class type are default-constructed over the whole capacity, copied in by
// assignment and destroyed one by one; an element whose copy cannot get its memory (see
// CopyComplete) fails the operation like storage that cannot be grown. No locking: the owner
// guards a shared array.
// Host-facing header.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

#include "common/ashooks_access.h"
#include "common/asexception.h"
#include "common/bbobject.h"
#include "common/layout.h"
#include "common/status.h"

namespace ascommon {

template <class T, uint64_t Step>
class CArray : public CBlackBoxObject {
    static_assert(Step > 0, "growth step must be positive");
    static constexpr bool kPlain = std::is_trivially_copyable<T>::value;

  public:
    CArray() : m_data(nullptr), m_count(0), m_capacity(0), m_step(Step) {}
    CArray(const CArray&) = delete;
    CArray& operator=(const CArray&) = delete;
    ~CArray() override { clear(); }

    // Appends a copy; 0, or -2 when storage could not be grown or the copy could not be made
    // (the elements are then as they were).
    int32_t add(const T& element) {
        if (m_count + 1 >= m_capacity) {
            if (Grow(m_count + 1) != 0) return kNoBuffer;
        }
        m_data[m_count] = element;  // a fresh slot: a failed copy leaves it as it was
        if (!CopyComplete(m_data[m_count], element)) return kNoBuffer;
        ++m_count;
        return 0;
    }

    // Grows storage to hold n; with setCount and n above the count, the count becomes n.
    int32_t resize(uint64_t n, bool setCount) {
        if (n >= m_capacity) {
            if (Grow(n) != 0) return kNoBuffer;
        }
        if (setCount && n > m_count) m_count = n;
        return 0;
    }

    T& at(uint64_t index) {
        if (index >= m_count) throw InvalidIndexException();
        return m_data[index];
    }
    const T& at(uint64_t index) const {
        if (index >= m_count) throw InvalidIndexException();
        return m_data[index];
    }

    uint64_t size() const { return m_count; }
    uint64_t capacity() const { return m_capacity; }
    uint64_t step() const { return m_step; }
    T* data() { return m_data; }
    const T* data() const { return m_data; }

    void clear() {
        Release(m_data, m_capacity);
        m_data = nullptr;
        m_count = 0;
        m_capacity = 0;
    }

  private:
    friend struct ArrayLayout;

    // New capacity: the next multiple of the step above m.
    int32_t Grow(uint64_t m) {
        const uint64_t capacity = m + m_step - (m % m_step);
        if (capacity < m) return kNoBuffer;  // wrapped around
        T* storage = Allocate(capacity);
        if (storage == nullptr) return kNoBuffer;
        const uint64_t keep = m_count < m ? m_count : m;
        if (kPlain) {
            if (keep) std::memcpy(static_cast<void*>(storage), m_data, keep * sizeof(T));
        } else {
            for (uint64_t i = 0; i < keep; ++i) {
                storage[i] = m_data[i];
                if (!CopyComplete(storage[i], m_data[i])) {
                    Release(storage, capacity);
                    return kNoBuffer;
                }
            }
        }
        Release(m_data, m_capacity);
        m_data = storage;
        m_capacity = capacity;
        return 0;
    }

    // Plain elements: zeroed storage. Class elements: a block with the capacity ahead of the
    // elements, every element default-constructed.
    static T* Allocate(uint64_t capacity) {
        const uint64_t header = kPlain ? 0 : kHeader;
        if (capacity > (UINT64_MAX - header) / sizeof(T)) return nullptr;
        void* block = MemAlloc(header + capacity * sizeof(T));
        if (block == nullptr) return nullptr;
        if (kPlain) {
            std::memset(block, 0, capacity * sizeof(T));
            return static_cast<T*>(block);
        }
        *static_cast<uint64_t*>(block) = capacity;
        T* elements = reinterpret_cast<T*>(static_cast<char*>(block) + kHeader);
        for (uint64_t i = 0; i < capacity; ++i) new (elements + i) T();
        return elements;
    }

    static void Release(T* elements, uint64_t capacity) {
        if (elements == nullptr) return;
        if (kPlain) {
            MemFree(elements);
            return;
        }
        for (uint64_t i = 0; i < capacity; ++i) elements[i].~T();
        MemFree(reinterpret_cast<char*>(elements) - kHeader);
    }

    static constexpr uint64_t kHeader = alignof(T) > 8 ? alignof(T) : 8;

    T* m_data;
    uint64_t m_count;
    uint64_t m_capacity;
    uint64_t m_step;
};

// The layout shared with the host: vtable, data, count, capacity, step.
struct ArrayLayout {
    typedef CArray<void*, 64> Array;
    AS_LAYOUT_BEGIN
    AS_PIN(Array, m_data, 8);
    AS_PIN(Array, m_count, 16);
    AS_PIN(Array, m_capacity, 24);
    AS_PIN(Array, m_step, 32);
    AS_PIN_SIZE(Array, 40);
    AS_LAYOUT_END
};

}  // namespace ascommon
