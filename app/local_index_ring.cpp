#include "local_index_ring.h"

void LocalRingReset(LocalRing *ring)
{
    SmallLockTake(&ring->lock);
    ring->read = ring->write;
    SmallLockGive(&ring->lock);
}

void LocalRingPut(LocalRing *ring, int32_t value)
{
    SmallLockTake(&ring->lock);
    int32_t next = (ring->write + 1) % LOCAL_RING_SLOTS;
    if (next == ring->read) /* full: drop every unread value */
        ring->read = ring->write;
    ring->slots[ring->write] = value;
    ring->write = next;
    SmallLockGive(&ring->lock);
}

int32_t LocalRingGet(LocalRing *ring)
{
    int32_t value = -1;
    SmallLockTake(&ring->lock);
    if (ring->read != ring->write) {
        value = ring->slots[ring->read];
        ring->read = (ring->read + 1) % LOCAL_RING_SLOTS;
    }
    SmallLockGive(&ring->lock);
    return value;
}

int32_t LocalRingCount(LocalRing *ring)
{
    SmallLockTake(&ring->lock);
    int32_t count = (ring->write - ring->read + LOCAL_RING_SLOTS) % LOCAL_RING_SLOTS;
    SmallLockGive(&ring->lock);
    return count;
}
