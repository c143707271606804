/*
 * inproc_host.h - the in-process host of the simulated synthesizer.
 *
 * A test loads the shipped mxusbd64.dll or mxusbd.dll with inproc_load_library;
 * the host then replaces the DLL's imports of CreateFileW, CreateFileA,
 * DeviceIoControl and CloseHandle in its import address table, so that the
 * library's device requests reach the one SimModel of this process. The
 * library's entry point has run before the patch, so a freshly loaded library
 * starts with its channel closed (or holding a real handle, which then fails
 * and is replaced at the first request): the first export that needs the
 * device reconnects through the simulator.
 *
 * Handles to the simulated device are fake values (0x4D580000 + 4*slot) that
 * the host tracks; CloseHandle of any other handle goes to the real
 * CloseHandle. DeviceIoControl:
 *   - on an open fake handle: the model's answer; a failed request gives
 *     FALSE with ERROR_GEN_FAILURE (also on a handle from before an unplug or
 *     an inproc_reset, whose generation the model no longer accepts);
 *   - on NULL, INVALID_HANDLE_VALUE or a closed fake handle: FALSE with
 *     ERROR_INVALID_HANDLE; likewise one of the product's four control codes
 *     on a real handle (in a patched process the simulator is the device);
 *   - any other code on a real handle: the real DeviceIoControl.
 * CreateFileW/A of "\\.\mxusb-0" (case-insensitive) opens a fake handle, or
 * fails with ERROR_FILE_NOT_FOUND while the model is unplugged; any other path
 * goes to the real function. Overlapped requests on fake handles fail with
 * ERROR_INVALID_PARAMETER (the device is used synchronously).
 *
 * Thread safety: every function here and every hooked call may be made from
 * any thread; one critical section (inproc_lock) guards the model and the
 * handle table, and it is recursive, so a thread holding it may call the
 * convenience functions or the library.
 */
#ifndef INPROC_HOST_H
#define INPROC_HOST_H

#include <windows.h>
#include <stdint.h>
#include "synth_model.h"

/* Loads the library and patches it. Returns NULL when it cannot be loaded or
 * patched. Call FreeLibrary as usual to unload it. */
HMODULE inproc_load_library(const wchar_t *path);

/* Patches a module that is already loaded (after a second load of a DLL that
 * had been unloaded, say). Returns true when the module imports CreateFileW or
 * CreateFileA, DeviceIoControl and CloseHandle and all of them were replaced. */
bool inproc_patch_module(HMODULE module);

/* The model behind every patched module of this process. Hold the lock while
 * reading or scripting it when library threads may be issuing requests. */
SimModel *inproc_model(void);
void inproc_lock(void);
void inproc_unlock(void);

/* A test's hook into the device: called by the hooked DeviceIoControl for
 * every product request on an open fake handle, before the model answers and
 * without the lock held, with the control code and the header's mode (0 when
 * there is no header). It may block (a request held in the driver for as long
 * as the test wants) or script the model or the library meanwhile. NULL
 * removes it. */
typedef void (*InprocRequestHook)(DWORD code, uint32_t mode, void *context);
void inproc_set_request_hook(InprocRequestHook hook, void *context);

/* Convenience calls that take the lock themselves. */
void inproc_reset(void);                          /* sim_init, no hook; open fake handles turn stale */
void inproc_unplug(void);
void inproc_replug(void);
void inproc_report(const uint8_t *bytes, uint32_t count);
void inproc_fail_next(uint32_t requests);
void inproc_busy_next(uint32_t transfers);
uint32_t inproc_log_copy(SimLogEntry *out, uint32_t max); /* returns entries copied */
void inproc_clear_log(void);
uint32_t inproc_open_handles(void);               /* fake handles now open */

#endif /* INPROC_HOST_H */
