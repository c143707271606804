/*
 * library_state.h - the access library's per-process state and the internal
 * operations its source files share.
 *
 * Where things happen:
 *   - the speech byte filter: SendFilteredByte in speech_output.cpp (with the
 *     32-bit WriterThread that runs it for queued bytes);
 *   - the reconnect after a failed request: ReconnectDevice in
 *     device_channel.cpp, which also holds the handle's reference count that
 *     lets a reconnect or close go ahead while a request is stuck;
 *   - the reader's cycle (poll, read, store, post): ReaderThread, PollDevice
 *     and NotifyWindow in index_input.cpp;
 *   - the ring lock and the ring operations: shared_state.cpp (layout in
 *     rings.h);
 *   - starting, waking and stopping the library threads, open, close and the
 *     unload: lifecycle.cpp;
 *   - the 32-bit/64-bit switch: build_config.h.
 *
 * Lock order (take them in this order, release in reverse, never the other
 * way round):
 *
 *   g_lifecycle_lock  ->  g_event_lock  ->  g_channel_lock  ->  ring lock
 *
 * In practice nothing nests except the lifecycle lock around the others:
 * g_event_lock, g_channel_lock, g_notify_lock and the ring lock are leaf
 * locks held for a few instructions, never across a device request or a
 * sleep.
 */
#ifndef MXUSBD_LIBRARY_STATE_H
#define MXUSBD_LIBRARY_STATE_H

#include <windows.h>
#include <atomic>
#include <stdint.h>

#include "build_config.h"
#include "mxusb_protocol.h"
#include "rings.h"

/* ---- DeviceChannel (device_channel.cpp) ---- */

/* Connected: 1 while there is an open device handle. Written under the
 * channel lock; read without it (a single word; a stale 1 only means the
 * request that follows fails and reconnects). */
extern std::atomic<int32_t> g_connected;

/* Opens the device as the library always does; INVALID_HANDLE_VALUE on failure. */
HANDLE OpenDeviceHandle(void);
/* Puts the open handle aside and opens the device again; sets Connected.
 * Never waits for a request: the handle it replaces is closed by the last
 * request still using it. */
void ReconnectDevice(void);
/* Puts the open handle aside (if Connected); Connected becomes 0. */
void CloseDeviceChannel(void);
/* Opens the device if Connected is 0. Returns Connected. */
int EnsureDeviceOpen(void);
/* One device I/O control request on the current handle (which it keeps open
 * for the request). Returns the platform call's result (FALSE when there is
 * no open handle); the caller runs ReconnectDevice after a failure. */
BOOL DeviceRequest(DWORD code, void *in, DWORD in_len, void *out, DWORD out_len,
                   DWORD *returned);

/* ---- Library threads (lifecycle.cpp) ---- */

/* One start of a library thread: its own quit, started and stopped flags and
 * wake event, passed to the thread as its argument. A later start gets a run
 * of its own, so an old thread can never be revived by a later open nor mark
 * a later thread stopped; a run stays tracked until its thread has ended. */
struct ThreadRun {
    HANDLE thread;                /* NULL = slot free; guarded by g_lifecycle_lock */
    HANDLE wake;                  /* auto-reset event; guarded by g_event_lock; NULL once retired */
    std::atomic<int32_t> quit;    /* set by whoever stops the run */
    std::atomic<int32_t> started; /* set by the thread as it enters */
    std::atomic<int32_t> stopped; /* set by the thread as the last thing it does */
};

/* Wake the current ReaderThread (WriterThread); the platform call's result,
 * 0 when there is none or it has retired its event. */
BOOL WakeReader(void);
#if MX_HAS_WRITE_QUEUE
BOOL WakeWriter(void);
#endif
/* A thread ends: take its wake event out of circulation and close it. */
void RetireWakeEvent(ThreadRun *run);

/* ---- Index input (index_input.cpp) ---- */

/* ReadRequested: single word, no lock; nothing consults it. */
extern std::atomic<int32_t> g_read_requested;
/* Drops the IndexNotifyWindow registration. */
void DropNotifyWindow(void);
void PollDevice(void);
DWORD WINAPI ReaderThread(LPVOID run);

/* ---- Speech output (speech_output.cpp) ---- */

/* LastByte: the memory of the speech byte filter, -1 = none. Single word, no
 * lock; written by whichever thread runs SendFilteredByte and by resets. */
extern std::atomic<int32_t> g_last_byte;
int SendFilteredByte(int b);
#if MX_HAS_WRITE_QUEUE
DWORD WINAPI WriterThread(LPVOID run);
#endif

/* ---- The `.shared` section (shared_state.cpp) ---- */
extern MxSharedSection g_shared;

void RingLock(void);
void RingUnlock(void);
/* The resets, each under one hold of the ring lock. */
void EmptyIndexRing(void);          /* USBMX_HaltIndexes(1) */
void EmptyIndexRingAndResume(void); /* USBMX_ResumeIndexes(1) */
void EmptyRings(void);              /* attach, USBMX_OpenSynth (32-bit: the WriteQueue too) */
void EmptyRingsAndHalt(void);       /* USBMX_ShutUp, a 0x03 through the filter */

/* IndexRing: PutIndexByte stores b unless the ring was emptied since
 * IndexEpoch returned `epoch` (the byte is then stale and dropped).
 * GetIndexByte returns the oldest byte or -1. */
uint32_t IndexEpoch(void);
void PutIndexByte(int b, uint32_t epoch);
int GetIndexByte(void);
#if MX_HAS_WRITE_QUEUE
int PutQueuedByte(int b);
int GetQueuedByte(void);
#endif

#endif /* MXUSBD_LIBRARY_STATE_H */
