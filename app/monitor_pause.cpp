#include "monitor_pause.h"

void MonitorPauseSet(MonitorPause *pause)
{
    if (++pause->count <= 0)
        pause->count = 1; /* 0 means clear */
    pause->paused.store(pause->count);
}

int MonitorPauseAndWait(MonitorPause *pause, void (*sleep_ms)(unsigned int ms), unsigned int bound_ms)
{
    MonitorPauseSet(pause);
    for (unsigned int waited = 0;; waited += MONITOR_PAUSE_POLL_MS) {
        if (pause->seen.load() == pause->count)
            return 1;
        if (waited >= bound_ms)
            return 0;
        sleep_ms(MONITOR_PAUSE_POLL_MS);
    }
}

void MonitorPauseClear(MonitorPause *pause)
{
    pause->paused.store(0);
}

int MonitorPassMayRun(MonitorPause *pause)
{
    int32_t paused = pause->paused.load();
    if (!paused)
        return 1;
    pause->seen.store(paused);
    return 0;
}
