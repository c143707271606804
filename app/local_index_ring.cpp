#include "local_index_ring.h"

void LocalRingReset(LocalRing *ring)
{
    ring->write.store(0, std::memory_order_release);
    ring->read.store(0, std::memory_order_release);
}

void LocalRingPut(LocalRing *ring, int32_t value)
{
    int32_t w = ring->write.load(std::memory_order_relaxed);
    int32_t next = (w + 1) % LOCAL_RING_SLOTS;
    if (next == ring->read.load(std::memory_order_acquire)) {
        /* Full: empty the ring (write position first, so a reader in between
         * sees at worst an old value, then an empty ring) and start again. */
        ring->write.store(0, std::memory_order_release);
        ring->read.store(0, std::memory_order_release);
        w = 0;
        next = 1;
    }
    ring->slots[w] = value;                              /* the slot first, */
    ring->write.store(next, std::memory_order_release);  /* then publish it */
}

int32_t LocalRingGet(LocalRing *ring)
{
    int32_t r = ring->read.load(std::memory_order_relaxed);
    if (r == ring->write.load(std::memory_order_acquire))
        return -1;
    int32_t value = ring->slots[r];
    ring->read.store((r + 1) % LOCAL_RING_SLOTS, std::memory_order_release);
    return value;
}

int32_t LocalRingCount(const LocalRing *ring)
{
    int32_t r = ring->read.load(std::memory_order_acquire);
    int32_t w = ring->write.load(std::memory_order_acquire);
    return (w - r + LOCAL_RING_SLOTS) % LOCAL_RING_SLOTS;
}
