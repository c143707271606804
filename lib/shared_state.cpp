/*
 * shared_state.cpp - the `.shared` data section, its lock and the ring
 * operations.
 *
 * The section holds the IndexRing, IndexHalted and (32-bit build) the
 * WriteQueue. The 32-bit build marks it shared, so every process that loads
 * mxusbd.dll sees one copy, and any of them may have written any value into
 * it: positions are taken modulo MX_RING_SLOTS on every read, and the lock
 * survives a holder that was killed.
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

/* A position as stored, brought into the ring whatever was stored. The lock
 * orders the accesses, so the loads and stores need no ordering of their own. */
static int32_t Position(const std::atomic<int32_t> &position)
{
    return position.load(std::memory_order_relaxed) & MX_RING_MASK;
}

static void EmptyRingLocked(MxRing *ring)
{
    ring->read.store(0, std::memory_order_relaxed);
    ring->write.store(0, std::memory_order_relaxed);
}

static void EmptyIndexRingLocked(void)
{
    EmptyRingLocked(&g_shared.index_ring);
    g_shared.index_epoch.fetch_add(1, std::memory_order_relaxed);
}

/* True when the process whose id the lock word holds has ended. */
static bool HolderIsGone(long holder)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, (DWORD)holder);
    if (process == NULL)
        return GetLastError() == ERROR_INVALID_PARAMETER; /* no such process */
    bool gone = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return gone;
}

void RingLock(void)
{
    const long self = (long)GetCurrentProcessId();
    for (unsigned spins = 0;; ++spins) {
        long holder = InterlockedCompareExchange(&g_shared.lock, self, 0);
        if (holder == 0)
            return;
        if (spins < 64) {
            YieldProcessor();
        } else if (spins < 4096) {
            Sleep(0);
        } else {
            Sleep(1); /* the holder may be a lower-priority thread */
            /* Held this long by another process: it may have been killed
             * inside a ring operation. Take the lock over from a dead holder
             * and empty the rings it may have left half-updated. */
            if (holder != self && spins % 16 == 0 && HolderIsGone(holder) &&
                InterlockedCompareExchange(&g_shared.lock, self, holder) == holder) {
                EmptyIndexRingLocked();
#if MX_HAS_WRITE_QUEUE
                EmptyRingLocked(&g_shared.write_queue);
#endif
                return;
            }
        }
    }
}

void RingUnlock(void)
{
    InterlockedExchange(&g_shared.lock, 0);
}

/* Empties the IndexRing (and the WriteQueue when asked) and sets IndexHalted
 * to `halt` (unless it is negative) under one hold of the lock. */
static void ResetRings(bool empty_queue, int halt)
{
    RingLock();
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

void EmptyIndexRing(void) { ResetRings(false, -1); }
void EmptyIndexRingAndResume(void) { ResetRings(false, 0); }
void EmptyRings(void) { ResetRings(true, -1); }
void EmptyRingsAndHalt(void) { ResetRings(true, 1); }

void PutIndexByte(int b, uint32_t epoch)
{
    MxRing *ring = &g_shared.index_ring;
    RingLock();
    if (g_shared.index_epoch.load(std::memory_order_relaxed) == epoch) {
        int32_t write = Position(ring->write);
        int32_t next = (write + 1) & MX_RING_MASK;
        if (next == Position(ring->read)) {
            /* Full: empty it, and the new byte becomes the only entry. */
            EmptyRingLocked(ring);
            write = 0;
            next = 1;
        }
        ring->slots[write] = b;
        ring->write.store(next, std::memory_order_relaxed);
    }
    RingUnlock();
}

static int GetRingByte(MxRing *ring)
{
    int value = -1;
    RingLock();
    int32_t read = Position(ring->read);
    if (read != Position(ring->write)) {
        value = ring->slots[read] & 0xFF; /* slots hold bytes, whoever wrote them */
        ring->read.store((read + 1) & MX_RING_MASK, std::memory_order_relaxed);
    }
    RingUnlock();
    return value;
}

int GetIndexByte(void)
{
    return GetRingByte(&g_shared.index_ring);
}

uint32_t IndexEpoch(void)
{
    return g_shared.index_epoch.load(std::memory_order_acquire);
}

#if MX_HAS_WRITE_QUEUE
int PutQueuedByte(int b)
{
    MxRing *queue = &g_shared.write_queue;
    RingLock();
    int32_t write = Position(queue->write);
    int32_t next = (write + 1) & MX_RING_MASK;
    if (next == Position(queue->read)) {
        RingUnlock();
        Sleep(100); /* full: the caller pauses, the byte is dropped */
        return 0;
    }
    queue->slots[write] = b & 0xFF;
    queue->write.store(next, std::memory_order_relaxed);
    RingUnlock();
    return 1;
}

int GetQueuedByte(void)
{
    return GetRingByte(&g_shared.write_queue);
}
#endif
