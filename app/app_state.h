/*
 * app_state.h - the state that the utility's main window, its index monitor
 * thread and its dialogs share (defined in app_state.cpp). One instance per
 * process.
 *
 * Threads: the main thread runs the window procedure, every dialog and every
 * service operation (which sleep on that thread and dispatch no messages
 * meanwhile); the IndexMonitorThread (index_monitor.cpp) moves received bytes
 * into the LocalIndexRing and the index display. What guards what:
 *   - each flag is one atomic 32-bit word with single stores;
 *   - the LocalIndexRing and the index display each have their own lock
 *     (local_index_ring.h, index_text.h), so a reset from the main thread
 *     never races the monitor;
 *   - MonitorPaused is a handshake (monitor_pause.h): once HoldMonitor has
 *     returned, the monitor takes no byte until ReleaseMonitor.
 */
#ifndef MXUAPP_APP_STATE_H
#define MXUAPP_APP_STATE_H

#include <windows.h>
#include <atomic>
#include <stddef.h>
#include <stdint.h>

#include "monitor_pause.h"

/* The program's instance: icon, dialogs, progress bar. Set once at start-up. */
extern HINSTANCE AppInstance;

/* The main window; owner of the dialogs, target of index notification.
 * Set once at start-up, before the monitor thread exists. */
extern HWND MainWindow;

/* Flags, 0 clear and 1 set.
 *   QuitFlag          the message loop has ended; the monitor thread stops.
 *   NotifyRegistered  bytes arrive as message 1280 into the LocalIndexRing;
 *                     the monitor reads the ring instead of USBMX_ReadByte.
 *   DisplaySuppressed bytes are still taken and stored but not shown.
 *   BootMonitorMode   the unit has been put into boot monitor mode. */
extern std::atomic<int32_t> QuitFlag;
extern std::atomic<int32_t> NotifyRegistered;
extern std::atomic<int32_t> DisplaySuppressed;
extern std::atomic<int32_t> BootMonitorMode;

/* The monitor takes no bytes at all while this is set. */
extern MonitorPause MonitorPaused;

/* Sets MonitorPaused and waits (at most 500 ms) until the monitor has seen
 * it: no byte taken before the call is stored after it. */
void HoldMonitor(void);

/* Clears MonitorPaused. */
void ReleaseMonitor(void);

/* Stores one value in the LocalIndexRing; a value arriving at a full ring
 * (4095 values) restarts it with the new value only. */
void PutLocalIndex(int32_t value);

/* Takes the oldest value of the LocalIndexRing; -1 when it is empty. */
int32_t GetLocalIndex(void);

/* Empties the LocalIndexRing and the index display text and sets the line
 * counter to 1. Touches no flag. */
void ClearIndexDisplay(void);

/* Sets the index display text to "Indexes:" and the line counter to 1. */
void SetIndexDisplayLabel(void);

/* Appends one byte's entry to the index display and has it repainted. */
void ShowIndexByte(unsigned int byte);

/* Copies the line of the index display to paint into out (size bytes; a
 * line is about 80 characters, INDEX_LINE_COPY_SIZE holds it). */
#define INDEX_LINE_COPY_SIZE 256
void CopyIndexDisplayLine(char *out, size_t size);

/* The rectangle of the main window's client area that shows the index line. */
extern const RECT IndexTextRect;

#endif /* MXUAPP_APP_STATE_H */
