/*
 * monitor_pause.h - MonitorPaused as a handshake between the main thread and
 * the IndexMonitorThread.
 *
 * A flag alone does not hold the monitor: a pass already past its check can
 * still store a byte it took before the main thread reset the ring, and that
 * byte then passes for the first reply. So the main thread numbers each pause
 * and waits until the monitor, at the top of a pass, has seen that number:
 * from then on every pass finds the flag set and takes nothing until it is
 * cleared.
 *
 * No Windows calls: built into the utility and into the native unit tests.
 */
#ifndef MXUAPP_MONITOR_PAUSE_H
#define MXUAPP_MONITOR_PAUSE_H

#include <atomic>
#include <stdint.h>

#define MONITOR_PAUSE_POLL_MS 5

struct MonitorPause {
    std::atomic<int32_t> paused{0}; /* 0 clear, else the number of the pause (main thread) */
    std::atomic<int32_t> seen{0};   /* the pause the monitor last found (monitor thread) */
    int32_t count = 0;              /* pauses numbered so far (main thread only) */
};

/* Main thread: sets the flag without waiting (start-up, before the monitor
 * runs). */
void MonitorPauseSet(MonitorPause *pause);

/* Main thread: sets the flag and waits, polling every 5 ms for at most
 * bound_ms, until the monitor has seen it. Returns 1 once it has, 0 when the
 * bound ran out (the monitor is not running); the flag stays set either way. */
int MonitorPauseAndWait(MonitorPause *pause, void (*sleep_ms)(unsigned int ms), unsigned int bound_ms);

/* Main thread: clears the flag. */
void MonitorPauseClear(MonitorPause *pause);

/* Monitor thread, at the top of every pass: 1 when the pass may take a byte,
 * 0 (and the pause seen) while the flag is set. */
int MonitorPassMayRun(MonitorPause *pause);

#endif /* MXUAPP_MONITOR_PAUSE_H */
