/*
 * library_state.h - the access library's per-process state and the internal
 * operations the source files share.
 *
 * Lock order (take them in this order, release in reverse, never the other
 * way round):
 *
 *   g_lifecycle_lock  ->  g_event_lock  ->  g_channel_lock  ->  ring lock
 *
 * In practice nothing nests except the lifecycle lock around the others:
 * g_event_lock and the ring lock are leaf locks held for a few instructions,
 * and the channel lock is held only across one device request (shared) or
 * one close-and-reopen (exclusive), never across a sleep.
 */
#ifndef MXUSBD_LIBRARY_STATE_H
#define MXUSBD_LIBRARY_STATE_H

#include <windows.h>
#include <atomic>
#include <stdint.h>

#include "mxusb_protocol.h"
#include "rings.h"

/* ---- DeviceChannel (device_channel.cpp) ---- */

/* Guards DeviceHandle: requests hold it shared for one request, a reconnect
 * and an orderly close hold it exclusive. */
extern SRWLOCK g_channel_lock;
/* DeviceHandle: written under g_channel_lock exclusive; read under it shared.
 * INVALID_HANDLE_VALUE after a failed open, NULL after an orderly close. */
extern HANDLE g_device_handle;
/* Connected: 1 while DeviceHandle is open. Written under g_channel_lock
 * exclusive; read without a lock (a single word; a stale 1 only means the
 * request that follows fails and reconnects). */
extern std::atomic<int32_t> g_connected;

/* ---- Lifecycle (lifecycle.cpp) ---- */

/* Serialises USBMX_OpenSynth, USBMX_CloseSynth and process detach; guards
 * the thread handles below. */
extern SRWLOCK g_lifecycle_lock;
extern HANDLE g_reader_thread;                /* ReaderThread; guarded by g_lifecycle_lock */
extern std::atomic<int32_t> g_reader_quit;     /* ReaderQuit: set by close/detach, read by the thread */
extern std::atomic<int32_t> g_reader_started;  /* set by the ReaderThread as it enters */
extern std::atomic<int32_t> g_reader_stopped;  /* set by the ReaderThread as the last thing it does */
#if MX_HAS_WRITE_QUEUE
extern HANDLE g_writer_thread;                /* WriterThread; guarded by g_lifecycle_lock */
extern std::atomic<int32_t> g_writer_quit;     /* WriterQuit */
extern std::atomic<int32_t> g_writer_started;
extern std::atomic<int32_t> g_writer_stopped;
#endif

/* Guards the two wake event handle values: set and read under it shared,
 * and a thread sets its event to NULL under it exclusive before closing it,
 * so no caller ever signals a handle value that was closed. */
extern SRWLOCK g_event_lock;
extern HANDLE g_reader_wake; /* ReaderWakeEvent, NULL when none */
#if MX_HAS_WRITE_QUEUE
extern HANDLE g_writer_wake; /* WriterWakeEvent, NULL when none */
#endif

/* ---- Index input (index_input.cpp) ---- */

/* IndexNotifyWindow / IndexNotifyMessage: single words, written by
 * USBMX_RegisterWindowIndexes and the lifecycle calls, read by the
 * ReaderThread before each post. No lock. */
extern std::atomic<HWND> g_notify_window;
extern std::atomic<UINT> g_notify_message;
/* ReadRequested: single word, no lock; nothing consults it. */
extern std::atomic<int32_t> g_read_requested;

/* ---- Speech output (speech_output.cpp) ---- */

/* LastByte: the memory of the speech byte filter, -1 = none. Single word, no
 * lock; written by whichever thread runs SendFilteredByte and by resets. */
extern std::atomic<int32_t> g_last_byte;

/* ---- The `.shared` section (shared_state.cpp) ---- */
extern MxSharedSection g_shared;

void RingLock(void);
void RingUnlock(void);
/* Empty the IndexRing (and count a reset). Caller holds the ring lock. */
void EmptyIndexRingLocked(void);
/* Empty the rings and set IndexHalted under one hold of the ring lock.
 * empty_queue only matters in the 32-bit build; halt < 0 leaves IndexHalted. */
void ResetRings(bool empty_index, bool empty_queue, int halt);

/* IndexRing: PutIndexByte stores b unless a reset happened after the caller
 * read `epoch` (then the byte is stale and dropped). GetIndexByte returns the
 * oldest byte or -1. */
void PutIndexByte(int b, uint32_t epoch);
int GetIndexByte(void);
#if MX_HAS_WRITE_QUEUE
int PutQueuedByte(int b);
int GetQueuedByte(void);
#endif

/* ---- Channel operations (device_channel.cpp) ---- */

/* Opens the device as the library always does; INVALID_HANDLE_VALUE on failure. */
HANDLE OpenDeviceHandle(void);
/* Closes DeviceHandle and opens the device again; sets Connected. */
void ReconnectDevice(void);
/* Closes DeviceHandle (if Connected) and sets it to NULL, Connected to 0. */
void CloseDeviceChannel(void);
/* Opens the device into DeviceHandle if Connected is 0. Returns Connected. */
int EnsureDeviceOpen(void);
/* One device I/O control request on DeviceHandle, holding the channel lock
 * shared for that request only. Returns the platform call's result; the
 * caller runs ReconnectDevice after a failure. */
BOOL DeviceRequest(DWORD code, void *in, DWORD in_len, void *out, DWORD out_len,
                   DWORD *returned);

/* ---- Output and input internals ---- */
int SendFilteredByte(int b);
void PollDevice(void);
DWORD WINAPI ReaderThread(LPVOID);
#if MX_HAS_WRITE_QUEUE
DWORD WINAPI WriterThread(LPVOID);
#endif
/* SetEvent on the ReaderWakeEvent (WriterWakeEvent) if there is one;
 * returns the platform call's result, 0 when there is no event. */
BOOL WakeReader(void);
#if MX_HAS_WRITE_QUEUE
BOOL WakeWriter(void);
#endif
/* A thread ends: take its event out of circulation and close it. */
void RetireWakeEvent(HANDLE *slot, HANDLE event);

#endif /* MXUSBD_LIBRARY_STATE_H */
