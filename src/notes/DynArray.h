#pragma once
// Growable array of plain fixed-size records, copied as bytes. Every list of notes,
// raw pitch frames and pitch candidates is one of these. Appending grows the storage by
// 11 records, inserting by 5; clear() keeps the storage so a list reused frame after
// frame never allocates again.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

template <typename E>
class DynArray {
    static_assert(std::is_trivially_copyable_v<E>, "DynArray holds plain records only");

public:
    bool error = false;
    int32_t count = 0;
    E* data = nullptr;
    E* end = nullptr;
    int32_t capacity = 0;

    DynArray() = default;
    explicit DynArray(int32_t initialCapacity) { init(initialCapacity); }
    ~DynArray() { release(); }
    DynArray(const DynArray&) = delete;
    DynArray& operator=(const DynArray&) = delete;

    // Drops any storage and obtains zero-filled room for `initialCapacity` records.
    void init(int32_t initialCapacity)
    {
        release();
        count = 0;
        error = false;
        capacity = initialCapacity > 0 ? initialCapacity : 0;
        if (capacity > 0) {
            data = static_cast<E*>(std::calloc(static_cast<size_t>(capacity), sizeof(E)));
            if (data == nullptr)
                error = true;
        }
        end = data;
    }

    void clear()
    {
        count = 0;
        end = data;
        error = false;
    }

    bool append(const E& element)
    {
        if (count + 1 > capacity && !grow(11))
            return false;
        std::memcpy(static_cast<void*>(data + count), &element, sizeof(E));
        ++count;
        end = data + count;
        return !error;
    }

    bool insertAt(const E& element, int32_t pos)
    {
        if (count >= capacity && !grow(5))
            return false;
        if (pos > count)
            pos = count;
        if (pos < 0)
            pos = 0;
        for (int32_t i = count; i > pos; --i)
            std::memcpy(static_cast<void*>(data + i), data + i - 1, sizeof(E));
        std::memcpy(static_cast<void*>(data + pos), &element, sizeof(E));
        ++count;
        end = data + count;
        return !error;
    }

    void removeAt(int32_t pos)
    {
        if (pos < 0 || pos >= count)
            return;
        for (int32_t i = pos + 1; i < count; ++i)
            std::memcpy(static_cast<void*>(data + i - 1), data + i, sizeof(E));
        --count;
        end = data + count;
    }

    E* at(int32_t i) const { return (i < 0 || i >= count) ? nullptr : data + i; }
    E& operator[](int32_t i) const { return data[i]; }
    E* last() const { return at(count - 1); }

    // Room for `extra` more records; on failure the array is left exactly as it was.
    bool grow(int32_t extra)
    {
        const int32_t newCapacity = capacity + extra;
        // realloc extends a large block in place (or remaps its pages), so a list that
        // grows record by record does not copy itself over and over.
        E* bigger = static_cast<E*>(std::realloc(static_cast<void*>(data), sizeof(E) * static_cast<size_t>(newCapacity)));
        if (bigger == nullptr) {
            error = true;
            return false;
        }
        std::memset(static_cast<void*>(bigger + capacity), 0, sizeof(E) * static_cast<size_t>(extra));
        data = bigger;
        capacity = newCapacity;
        end = data + count;
        return true;
    }

private:
    void release()
    {
        std::free(data);
        data = nullptr;
        end = nullptr;
        capacity = 0;
        count = 0;
    }
};
