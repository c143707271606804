/*
 * app_state.h - the state that the utility's main window, its index monitor
 * thread and its dialogs share. One instance per process; all of it is
 * zero at load.
 *
 * Threads: the main thread runs the window procedure, every dialog and every
 * service operation (which sleep on that thread and dispatch no messages
 * meanwhile); the IndexMonitorThread (index_monitor.cpp) moves received bytes
 * into the LocalIndexRing and the index display. There are no locks. Each
 * flag is one 32-bit word read by the monitor and written with single stores;
 * the ring has one producer and one consumer at a time (see
 * local_index_ring.h).
 */
#ifndef MXUAPP_APP_STATE_H
#define MXUAPP_APP_STATE_H

#include <windows.h>
#include <atomic>
#include <stdint.h>

/* The program's instance: icon, dialogs, progress bar. Set once at start-up. */
extern HINSTANCE AppInstance;

/* The main window; owner of the dialogs, target of index notification.
 * Set once at start-up, before the monitor thread exists. */
extern HWND MainWindow;

/* Flags, 0 clear and 1 set.
 *   QuitFlag          the message loop has ended; the monitor thread stops.
 *   MonitorPaused     the monitor takes no bytes at all.
 *   NotifyRegistered  bytes arrive as message 1280 into the LocalIndexRing;
 *                     the monitor reads the ring instead of USBMX_ReadByte.
 *   DisplaySuppressed bytes are still taken and stored but not shown.
 *   BootMonitorMode   the unit has been put into boot monitor mode. */
extern std::atomic<int32_t> QuitFlag;
extern std::atomic<int32_t> MonitorPaused;
extern std::atomic<int32_t> NotifyRegistered;
extern std::atomic<int32_t> DisplaySuppressed;
extern std::atomic<int32_t> BootMonitorMode;

/* Stores one value in the LocalIndexRing; a value arriving at a full ring
 * (4095 values) restarts it with the new value only. */
void PutLocalIndex(int32_t value);

/* Takes the oldest value of the LocalIndexRing; -1 when it is empty. */
int32_t GetLocalIndex(void);

/* Empties the LocalIndexRing and the index display text and sets the line
 * counter to 1. Touches no flag. */
void ClearIndexDisplay(void);

/* Sets the index display text to "Indexes:" (line counter unchanged). */
void SetIndexDisplayLabel(void);

#endif /* MXUAPP_APP_STATE_H */
