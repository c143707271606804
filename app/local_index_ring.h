/*
 * local_index_ring.h - the utility's ring of received bytes (LocalIndexRing).
 *
 * 4096 slots of 32-bit values, a read and a write position (0 to 4095),
 * advancing modulo 4096. Empty when the positions are equal; holds at most
 * 4095 values. Overflow rule: a value arriving at a full ring empties it
 * first, so the ring then holds the new value only and every unread value is
 * lost (a reply the utility waits for is always among the newest bytes).
 *
 * One producer (LocalRingPut) and one consumer (LocalRingGet) at a time, on
 * different threads, without a lock: the producer writes the slot before it
 * publishes the write position (release), the consumer reads the write
 * position (acquire) before the slot. LocalRingReset and the overflow restart
 * are not coordinated with the other side; a value may be lost or read twice
 * when they overlap a get, never a slot that is half written.
 *
 * No Windows calls: built into the utility and into the native unit tests.
 */
#ifndef MXUAPP_LOCAL_INDEX_RING_H
#define MXUAPP_LOCAL_INDEX_RING_H

#include <atomic>
#include <stdint.h>

#define LOCAL_RING_SLOTS 4096

struct LocalRing {
    int32_t slots[LOCAL_RING_SLOTS];
    std::atomic<int32_t> read;  /* written by the consumer (and resets) */
    std::atomic<int32_t> write; /* written by the producer (and resets) */
};

/* Both positions to 0: the ring is empty. */
void LocalRingReset(LocalRing *ring);

/* Stores value; restarts a full ring first (see above). */
void LocalRingPut(LocalRing *ring, int32_t value);

/* Removes and returns the oldest value; -1 when the ring is empty. */
int32_t LocalRingGet(LocalRing *ring);

/* Number of values waiting (for tests and diagnostics). */
int32_t LocalRingCount(const LocalRing *ring);

#endif /* MXUAPP_LOCAL_INDEX_RING_H */
