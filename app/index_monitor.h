/*
 * index_monitor.h - the IndexMonitorThread, for the main window
 * (main_window.cpp). The state it fills is in app_state.h.
 */
#ifndef MXUAPP_INDEX_MONITOR_H
#define MXUAPP_INDEX_MONITOR_H

#include <windows.h>

/* Creates MonitorWakeEvent (auto-reset, unsignalled, unnamed). Returns
 * FALSE when it cannot be created. */
BOOL CreateMonitorWakeEvent(void);

/* Closes MonitorWakeEvent (start-up failure after it was created). */
void CloseMonitorWakeEvent(void);

/* The thread procedure: sets the text to "Indexes:", then passes until
 * QuitFlag is set (30 ms wait, take one byte unless paused, store and show
 * it, 5 ms sleep); closes MonitorWakeEvent and ends with 0. */
DWORD WINAPI IndexMonitorThread(LPVOID unused);

#endif /* MXUAPP_INDEX_MONITOR_H */
