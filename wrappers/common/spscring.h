// A single-writer, single-reader ring of small records between two
// threads (the user-interface thread and the audio thread): lock-free,
// never allocating. A full ring refuses the newest record; the writer
// decides what that means (a parameter's next change brings it up to date).
#pragma once

#include <atomic>
#include <cstdint>

template <class Item, uint32_t Capacity>
class SpscRing {
public:
    static constexpr uint32_t kCapacity = Capacity;

    bool push(const Item& item) {
        const uint32_t head = head_.load(std::memory_order_relaxed);
        const uint32_t next = (head + 1) % Capacity;
        if (next == tail_.load(std::memory_order_acquire)) return false;
        items_[head] = item;
        head_.store(next, std::memory_order_release);
        return true;
    }

    bool pop(Item& item) {
        const uint32_t tail = tail_.load(std::memory_order_relaxed);
        if (tail == head_.load(std::memory_order_acquire)) return false;
        item = items_[tail];
        tail_.store((tail + 1) % Capacity, std::memory_order_release);
        return true;
    }

    // Whether nothing waits; exact for the reader, a moment's view for the writer.
    bool empty() const {
        return tail_.load(std::memory_order_acquire) == head_.load(std::memory_order_acquire);
    }

private:
    Item items_[Capacity]{};
    std::atomic<uint32_t> head_{0}, tail_{0};
};
