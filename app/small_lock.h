/*
 * small_lock.h - the lock that guards the utility's state shared by the main
 * thread and the IndexMonitorThread (the LocalIndexRing, the index display).
 *
 * A spin lock on one atomic flag. Every section it guards is a few
 * instructions with no call out, so a waiter spins for nanoseconds; nothing in
 * the utility is fast enough to notice it. Never take two at once.
 *
 * No Windows calls: built into the utility and into the native unit tests.
 */
#ifndef MXUAPP_SMALL_LOCK_H
#define MXUAPP_SMALL_LOCK_H

#include <atomic>

struct SmallLock {
    std::atomic_flag busy = ATOMIC_FLAG_INIT;
};

inline void SmallLockTake(SmallLock *lock)
{
    while (lock->busy.test_and_set(std::memory_order_acquire)) {
    }
}

inline void SmallLockGive(SmallLock *lock)
{
    lock->busy.clear(std::memory_order_release);
}

#endif /* MXUAPP_SMALL_LOCK_H */
