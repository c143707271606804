/*
 * index_monitor.h - the IndexMonitorThread and the index display, for the
 * main window (main_window.cpp). The dialogs use app_state.h.
 */
#ifndef MXUAPP_INDEX_MONITOR_H
#define MXUAPP_INDEX_MONITOR_H

#include <windows.h>

/* The rectangle of the main window's client area that shows the index line. */
extern const RECT IndexTextRect;

/* Creates MonitorWakeEvent (auto-reset, unsignalled, unnamed). Returns
 * FALSE when it cannot be created. */
BOOL CreateMonitorWakeEvent(void);

/* Closes MonitorWakeEvent (start-up failure after it was created). */
void CloseMonitorWakeEvent(void);

/* The thread procedure: sets the text to "Indexes:", then passes until
 * QuitFlag is set (30 ms wait, take one byte unless paused, store and show
 * it, 5 ms sleep); closes MonitorWakeEvent and ends with 0. */
DWORD WINAPI IndexMonitorThread(LPVOID unused);

/* The line of the index text being filled, for painting. */
const char *IndexDisplayLine(void);

#endif /* MXUAPP_INDEX_MONITOR_H */
