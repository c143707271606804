/*
 * rings.h - layout of the library's `.shared` data section: the IndexRing,
 * the WriteQueue (32-bit build only), IndexHalted and the lock that guards
 * the rings.
 *
 * In the 32-bit build (mxusbd.dll) the section is marked shared, so one copy
 * serves every process that has the library loaded; in the 64-bit build
 * (mxusbd64.dll) it is ordinary per-process data. The tests include this
 * header to find the rings inside a loaded library image (the section starts
 * with MX_SHARED_MAGIC).
 *
 * Everything here may have been written by another process: the library
 * takes every position modulo MX_RING_SLOTS before it indexes a ring, and a
 * lock word left held by a process that died is taken over (shared_state.cpp).
 */
#ifndef MXUSBD_RINGS_H
#define MXUSBD_RINGS_H

#include <atomic>
#include <stdint.h>

#include "build_config.h"

#define MX_RING_SLOTS   65536       /* slots per ring; a ring holds at most 65535 */
#define MX_RING_MASK    (MX_RING_SLOTS - 1)
#define MX_SHARED_MAGIC 0x4853584Du /* "MXSH": first word of the section */

/* A ring of byte values in 32-bit slots. Empty when read == write; full when
 * (write + 1) % MX_RING_SLOTS == read. Every operation on a ring, resets
 * included, runs under MxSharedSection.lock, which orders the slot and
 * position writes for the next holder.
 *
 * IndexRing overflow: a byte that arrives at a full ring empties it first, so
 * the new byte is the only entry; the ring never grows and never blocks the
 * reader thread. WriteQueue overflow: the byte is refused and the writer
 * told so. */
struct MxRing {
    std::atomic<int32_t> read;  /* oldest stored slot */
    std::atomic<int32_t> write; /* next slot to fill */
    int32_t slots[MX_RING_SLOTS];
};

struct MxSharedSection {
    uint32_t magic; /* MX_SHARED_MAGIC; nonzero so the section is initialised data */
    /* Spin lock guarding both rings and index_epoch: 0 free, else the process
     * id of the holder. Taken with InterlockedCompareExchange, so it works
     * across processes in the 32-bit build; held for a few instructions only,
     * never across a device request or a sleep. A leaf lock: nothing else is
     * taken under it. A waiter that finds the holder's process ended takes
     * the lock over and empties both rings, which the dead holder may have
     * left half-updated. */
    volatile long lock;
    /* IndexHalted: nonzero = the ReaderThread neither polls nor notifies.
     * Single word; written without the lock except when a reset sets it
     * together with emptying the ring. */
    std::atomic<int32_t> index_halted;
    /* Bumped (under the lock) each time the IndexRing is emptied. The
     * ReaderThread stores the bytes of a READ only when no reset happened
     * since just before that request, so bytes read before a reset never
     * appear after it. */
    std::atomic<uint32_t> index_epoch;
    MxRing index_ring; /* IndexRing: received bytes 0..254 */
#if MX_HAS_WRITE_QUEUE
    MxRing write_queue; /* WriteQueue: bytes USBMX_WriteByte queued */
#endif
};

#endif /* MXUSBD_RINGS_H */
