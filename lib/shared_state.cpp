/*
 * shared_state.cpp - the `.shared` data section and the ring operations.
 *
 * The section holds the IndexRing, IndexHalted and (32-bit build) the
 * WriteQueue. The 32-bit build marks it shared, so every process that loads
 * mxusbd.dll sees one copy; the 64-bit build keeps it per process.
 */
#include "library_state.h"

/* Only the magic word is given; everything else starts at zero. */
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#endif

#if defined(_MSC_VER)
#pragma data_seg(".shared")
MxSharedSection g_shared = {MX_SHARED_MAGIC};
#pragma data_seg()
#if MX_HAS_WRITE_QUEUE
#pragma comment(linker, "/SECTION:.shared,RWS")
#endif
#elif MX_HAS_WRITE_QUEUE
MxSharedSection g_shared __attribute__((section(".shared"), shared)) = {MX_SHARED_MAGIC};
#else
MxSharedSection g_shared __attribute__((section(".shared"))) = {MX_SHARED_MAGIC};
#endif

void RingLock(void)
{
    for (unsigned spins = 0; InterlockedCompareExchange(&g_shared.lock, 1, 0) != 0; ++spins) {
        if (spins < 64)
            YieldProcessor();
        else if (spins < 4096)
            Sleep(0);
        else
            Sleep(1); /* the holder may be a lower-priority thread */
    }
}

void RingUnlock(void)
{
    InterlockedExchange(&g_shared.lock, 0);
}

static void EmptyRingLocked(MxRing *ring)
{
    ring->read.store(0, std::memory_order_release);
    ring->write.store(0, std::memory_order_release);
}

void EmptyIndexRingLocked(void)
{
    EmptyRingLocked(&g_shared.index_ring);
    g_shared.index_epoch.fetch_add(1, std::memory_order_acq_rel);
}

void ResetRings(bool empty_index, bool empty_queue, int halt)
{
    RingLock();
    if (empty_index)
        EmptyIndexRingLocked();
#if MX_HAS_WRITE_QUEUE
    if (empty_queue)
        EmptyRingLocked(&g_shared.write_queue);
#else
    (void)empty_queue;
#endif
    if (halt >= 0)
        g_shared.index_halted.store(halt, std::memory_order_release);
    RingUnlock();
}

void PutIndexByte(int b, uint32_t epoch)
{
    MxRing *ring = &g_shared.index_ring;
    RingLock();
    if (g_shared.index_epoch.load(std::memory_order_acquire) == epoch) {
        int32_t write = ring->write.load(std::memory_order_acquire);
        int32_t next = (write + 1) % MX_RING_SLOTS;
        if (next == ring->read.load(std::memory_order_acquire)) {
            /* Full: empty it, and the new byte becomes the only entry. */
            EmptyRingLocked(ring);
            write = 0;
            next = 1;
        }
        ring->slots[write] = b;
        ring->write.store(next, std::memory_order_release);
    }
    RingUnlock();
}

static int GetRingByte(MxRing *ring)
{
    int value = -1;
    RingLock();
    int32_t read = ring->read.load(std::memory_order_acquire);
    if (read != ring->write.load(std::memory_order_acquire)) {
        value = ring->slots[read];
        ring->read.store((read + 1) % MX_RING_SLOTS, std::memory_order_release);
    }
    RingUnlock();
    return value;
}

int GetIndexByte(void)
{
    return GetRingByte(&g_shared.index_ring);
}

#if MX_HAS_WRITE_QUEUE
int PutQueuedByte(int b)
{
    MxRing *queue = &g_shared.write_queue;
    RingLock();
    int32_t write = queue->write.load(std::memory_order_acquire);
    int32_t next = (write + 1) % MX_RING_SLOTS;
    if (next == queue->read.load(std::memory_order_acquire)) {
        RingUnlock();
        Sleep(100); /* full: the caller pauses, the byte is dropped */
        return 0;
    }
    queue->slots[write] = b & 0xFF;
    queue->write.store(next, std::memory_order_release);
    RingUnlock();
    return 1;
}

int GetQueuedByte(void)
{
    return GetRingByte(&g_shared.write_queue);
}
#endif
