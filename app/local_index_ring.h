/*
 * local_index_ring.h - the utility's ring of received bytes (LocalIndexRing).
 *
 * 4096 slots of 32-bit values, a read and a write position (0 to 4095),
 * advancing modulo 4096. Empty when the positions are equal; holds at most
 * 4095 values. Overflow rule: a value arriving at a full ring empties it
 * first, so the ring then holds the new value only and every unread value is
 * lost (a reply the utility waits for is always among the newest bytes).
 *
 * Threads: one producer and one consumer at a time (the monitor and the main
 * thread, in either role), and resets from the main thread whatever its role.
 * Every operation runs under the ring's lock, so a reset never races a get or
 * a put half done: after a reset, a get returns only values put after it.
 * A reset empties the ring by moving the read position to the write position;
 * the writer's position is never moved back under it.
 *
 * No Windows calls: built into the utility and into the native unit tests.
 */
#ifndef MXUAPP_LOCAL_INDEX_RING_H
#define MXUAPP_LOCAL_INDEX_RING_H

#include <stdint.h>

#include "small_lock.h"

#define LOCAL_RING_SLOTS 4096

struct LocalRing {
    SmallLock lock;                      /* guards everything below */
    int32_t slots[LOCAL_RING_SLOTS] = {};
    int32_t read = 0;
    int32_t write = 0;
};

/* Empties the ring: every value put so far is dropped. */
void LocalRingReset(LocalRing *ring);

/* Stores value; restarts a full ring first (see above). */
void LocalRingPut(LocalRing *ring, int32_t value);

/* Removes and returns the oldest value; -1 when the ring is empty. */
int32_t LocalRingGet(LocalRing *ring);

/* Number of values waiting (for tests and diagnostics). */
int32_t LocalRingCount(LocalRing *ring);

#endif /* MXUAPP_LOCAL_INDEX_RING_H */
