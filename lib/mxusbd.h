/*
 * mxusbd.h - the Morvox USB speech synthesizer access library.
 *
 * Link mxusbd64.dll in 64-bit programs and mxusbd.dll in 32-bit programs
 * (import libraries libmxusbd64.dll.a / libmxusbd.dll.a for MinGW, mxusbd64.lib /
 * mxusbd.lib for Visual C++; for other toolchains make one from mxusbd64.def /
 * mxusbd.def). Every function is
 * exported by its undecorated name; the 32-bit build uses __stdcall (WINAPI).
 *
 * Results: 1 for success and 0 for failure unless a function says otherwise.
 * The library shows no message, writes no log and keeps no error code: a
 * failed driver request closes and reopens the device at once, and the
 * result and USBMX_CheckWdmStatus are the only report.
 *
 * Calling order: load; USBMX_OpenSynth; optionally USBMX_RegisterWindowIndexes;
 * writes and reads in any order; USBMX_CloseSynth; unload. Unloading without
 * USBMX_CloseSynth stops the library's threads (FreeLibrary waits for them,
 * at most 5 s in all) and closes the device without sending anything.
 *
 * Thread safety: every function may be called from any thread of the process,
 * also while the library's own threads run (the reader thread, and in the
 * 32-bit build the writer thread). Requests on the device run side by side; a
 * reconnect or a close never waits for a request under way in another thread:
 * the handle stays open for that request and is closed when it returns, and
 * the channel goes on with a new one. So a device request that never returns
 * holds up only the thread that made it: USBMX_CloseSynth still returns within
 * 5 s (64-bit) or 4 s (32-bit) plus its own stop-byte request, the unload
 * within 5 s, USBMX_OpenSynth within those 5 s (4 s) plus its own open, and
 * every other function as if that request were not there. A library thread
 * that is held up that way is waited for again by the next USBMX_OpenSynth
 * and by the unload. The index ring (and in the 32-bit build the write queue)
 * is guarded by a lock of its own, so several threads may read or write bytes
 * at once. In the 32-bit build the index ring, the write queue and the index
 * halt flag are shared by every process that has mxusbd.dll loaded; a process
 * killed at any point never blocks the others (the rings are then emptied).
 */
#ifndef MXUSBD_H
#define MXUSBD_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Calling convention of every export: __stdcall in 32-bit code (a no-op in
 * 64-bit code, where there is one convention). */
#define MXUSB_CALL WINAPI

/* Set while building the library itself. The names are exported by the .def
 * files, so a program using the header needs no import attribute. */
#ifdef MXUSBD_BUILDING
#define MXUSB_API
#else
#define MXUSB_API __declspec(dllimport)
#endif

/* Opens the device if it is not open and starts the library's threads.
 * Returns 1 when running; 0 when the device is absent or a thread or event
 * cannot be created (the channel is then left closed). Index collection stays
 * halted until a data write or USBMX_ResumeIndexes. Empties the index ring
 * (32-bit: and the write queue). Called again without USBMX_CloseSynth, it
 * first stops the threads of the earlier call, so one set runs. */
MXUSB_API int MXUSB_CALL USBMX_OpenSynth(void);

/* Stops speech (USBMX_ShutUp), stops the library's threads and closes the
 * device. Safe to call twice. */
MXUSB_API void MXUSB_CALL USBMX_CloseSynth(void);

/* Returns 1 while the device channel is open, 0 while it is closed. Sends no
 * request. */
MXUSB_API int MXUSB_CALL USBMX_CheckWdmStatus(void);

/* Returns the firmware version word (0 to 65535) from the driver's info
 * block; -1 when the request fails (the channel is then reopened). */
MXUSB_API int MXUSB_CALL USBMX_GetFirmwareVersion(void);

/* Returns the driver's 32-bit ready word; 0 when the channel is closed or the
 * request fails (the channel is then reopened). */
MXUSB_API unsigned int MXUSB_CALL USBMX_ReadyCheck(void);

/* Speaks one text byte (low 8 bits) through the speech byte filter: bytes
 * above 126 and repeats of line feed, space and full stop are dropped; 0x03
 * halts index collection and empties the index ring.
 * 64-bit: returns 1 when the device took the byte or the filter dropped it,
 * 0 when the channel is closed or the transfer failed; waits while busy.
 * 32-bit: queues the byte for the writer thread; returns 1 when queued, 0 when
 * the write queue is full (after a 100 ms pause; the byte is dropped). When
 * the writer thread takes a 0x03 it empties the queue, so bytes queued behind
 * it and not yet taken are discarded. */
MXUSB_API int MXUSB_CALL USBMX_WriteByte(int byte);

/* Sends count bytes unfiltered, in transfers of up to 64 bytes, waiting while
 * the device is busy. Returns 1 when all were sent (also for count <= 0);
 * 0 when the channel is closed, a transfer failed (earlier chunks stay sent)
 * or bytes is NULL with a positive count (nothing is sent). */
MXUSB_API int MXUSB_CALL USBMX_WriteString(const unsigned char *bytes, int count);

/* Sends one byte (low 8 bits) into the input stream, unfiltered, waiting
 * while the device is busy; resumes index collection. Returns 1 when the
 * device took it, 0 when the channel is closed or the transfer failed. */
MXUSB_API int MXUSB_CALL USBMX_RawWriteByte(int byte);

/* Sends one out-of-band control byte (low 8 bits). No result; a failed
 * request reopens the channel. */
MXUSB_API void MXUSB_CALL USBMX_RawWriteByteImmediate(int byte);

/* Stops speech: empties the index ring (32-bit: and the write queue), halts
 * index collection and sends the out-of-band stop byte 6. Returns 1 when the
 * device took the stop byte, 0 when the channel is closed or the request
 * failed (the rings are emptied in every case). */
MXUSB_API int MXUSB_CALL USBMX_ShutUp(void);

/* Pauses speech (in-band 0x0E). Result as USBMX_RawWriteByte. */
MXUSB_API int MXUSB_CALL USBMX_PauseSpeech(void);

/* Resumes speech (in-band 0x0F). Result as USBMX_RawWriteByte. */
MXUSB_API int MXUSB_CALL USBMX_ResumeSpeech(void);

/* Selects language 0 to 5 (0x03, a 5 ms pause, then 0x01 'l' '0'+n through
 * USBMX_WriteByte). Any other number does nothing. No result. */
MXUSB_API void MXUSB_CALL USBMX_SelectLanguage(int language);

/* Returns the oldest received byte (0 to 254) and wakes the reader thread;
 * -1 when none is waiting or the channel is closed (a reopen is then tried).
 * Never waits. */
MXUSB_API int MXUSB_CALL USBMX_ReadByte(void);

/* Clears the read-requested flag. Changes nothing else. */
MXUSB_API void MXUSB_CALL USBMX_DisableReadByte(void);

/* Wakes the reader thread at once. Returns nonzero when it was woken; 0 when
 * there is no reader thread (before USBMX_OpenSynth, after USBMX_CloseSynth). */
MXUSB_API int MXUSB_CALL USBMX_ForceIndexRead(void);

/* Halts index collection and notification; a nonzero clear also empties the
 * index ring. No result. */
MXUSB_API void MXUSB_CALL USBMX_HaltIndexes(int clear);

/* Resumes index collection; a nonzero clear first empties the index ring.
 * No result. */
MXUSB_API void MXUSB_CALL USBMX_ResumeIndexes(int clear);

/* Has the reader thread post each received byte to window as message
 * (wParam = byte, lParam = 0), at most 16 per cycle, in order; each post uses
 * the window and message of one call. A NULL window (and HWND_BROADCAST,
 * which would reach every top-level window) ends notification and leaves the
 * bytes for USBMX_ReadByte (a byte the reader thread took in the batch under
 * way is lost). A byte goes
 * either to the window or to USBMX_ReadByte, never both. Nothing is posted
 * while collection is halted. The window stays the caller's. Always
 * returns 1. */
MXUSB_API int MXUSB_CALL USBMX_RegisterWindowIndexes(HWND window, UINT message);

#ifdef __cplusplus
}
#endif

#endif /* MXUSBD_H */
