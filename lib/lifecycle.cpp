/*
 * lifecycle.cpp - USBMX_OpenSynth, USBMX_CloseSynth and the library's entry
 * point (process attach and detach).
 *
 * Threads start and stop in one order: create the wake events, clear the
 * quit flag, start the thread. To stop: set the quit flag, wake the thread,
 * wait for it, close its handle. Each thread closes its own wake event as it
 * ends; nothing is closed under a running thread.
 */
#include "library_state.h"
#include "mxusbd.h"

SRWLOCK g_lifecycle_lock = SRWLOCK_INIT;
SRWLOCK g_event_lock = SRWLOCK_INIT;
HANDLE g_reader_thread = NULL;
std::atomic<int32_t> g_reader_quit{0};
std::atomic<int32_t> g_reader_started{0};
std::atomic<int32_t> g_reader_stopped{0};
HANDLE g_reader_wake = NULL;
#if MX_HAS_WRITE_QUEUE
HANDLE g_writer_thread = NULL;
std::atomic<int32_t> g_writer_quit{0};
std::atomic<int32_t> g_writer_started{0};
std::atomic<int32_t> g_writer_stopped{0};
HANDLE g_writer_wake = NULL;
#endif

#if MX_HAS_WRITE_QUEUE
#define THREAD_WAIT_MS 2000 /* per thread */
#else
#define THREAD_WAIT_MS 5000
#endif
#define UNLOAD_WAIT_MS 5000     /* per thread, for its "stopped" flag */
#define UNLOAD_LEAVE_MS 50      /* for the thread to leave the image after that */
#define START_WAIT_MS 5000      /* for a new thread to enter its routine */

static HANDLE CreateWakeEvent(void)
{
#if defined(_WIN64)
    return CreateEventW(NULL, FALSE, FALSE, NULL);
#else
    return CreateEventA(NULL, FALSE, FALSE, NULL);
#endif
}

static void PublishWakeEvent(HANDLE *slot, HANDLE event)
{
    AcquireSRWLockExclusive(&g_event_lock);
    *slot = event;
    ReleaseSRWLockExclusive(&g_event_lock);
}

/* Polls a thread's flag for up to timeout_ms; returns whether it was set. */
static bool WaitForFlag(const std::atomic<int32_t> *flag, DWORD timeout_ms)
{
    DWORD start = GetTickCount();
    while (flag->load() == 0) {
        if (GetTickCount() - start >= timeout_ms)
            return false;
        Sleep(1);
    }
    return true;
}

/* Starts one library thread and waits until it runs inside its routine, so
 * that an unload never unmaps code a thread has yet to enter. */
static HANDLE StartLibraryThread(LPTHREAD_START_ROUTINE routine, std::atomic<int32_t> *started,
                                 std::atomic<int32_t> *stopped)
{
    started->store(0);
    stopped->store(0);
    HANDLE thread = CreateThread(NULL, 0, routine, NULL, 0, NULL);
    if (thread != NULL)
        WaitForFlag(started, START_WAIT_MS);
    return thread;
}

/* Stops the ReaderThread (the caller holds g_lifecycle_lock): quit flag,
 * wake, bounded wait, close the handle. The thread closes its own event.
 * Returns whether there was a thread. */
static bool StopReader(DWORD wait_ms)
{
    g_reader_quit.store(1);
    WakeReader();
    if (g_reader_thread == NULL)
        return false;
    WaitForSingleObject(g_reader_thread, wait_ms);
    CloseHandle(g_reader_thread);
    g_reader_thread = NULL;
    return true;
}

#if MX_HAS_WRITE_QUEUE
static void StopWriter(DWORD wait_ms)
{
    g_writer_quit.store(1);
    WakeWriter();
    if (g_writer_thread == NULL)
        return;
    WaitForSingleObject(g_writer_thread, wait_ms);
    CloseHandle(g_writer_thread);
    g_writer_thread = NULL;
}
#endif

/* The first step of close and unload: the quit flags, which the threads read
 * once per cycle, and ReadRequested. */
static void AskThreadsToQuit(void)
{
    g_reader_quit.store(1);
#if MX_HAS_WRITE_QUEUE
    g_writer_quit.store(1);
#endif
    g_read_requested.store(0);
}

extern "C" int MXUSB_CALL USBMX_OpenSynth(void)
{
    int result = 0;
    AcquireSRWLockExclusive(&g_lifecycle_lock);

    /* A second open without a close: stop the first set of threads (without
     * stopping speech) so that exactly one set runs. */
    StopReader(THREAD_WAIT_MS);
#if MX_HAS_WRITE_QUEUE
    StopWriter(THREAD_WAIT_MS);
#endif

    ResetRings(true, true, -1);
    g_last_byte.store(-1);
    g_read_requested.store(0);

    if (!EnsureDeviceOpen())
        goto done;

    {
        HANDLE reader_wake = CreateWakeEvent();
#if MX_HAS_WRITE_QUEUE
        HANDLE writer_wake = reader_wake != NULL ? CreateWakeEvent() : NULL;
        if (writer_wake == NULL) {
            if (reader_wake != NULL)
                CloseHandle(reader_wake);
            CloseDeviceChannel();
            goto done;
        }
        PublishWakeEvent(&g_writer_wake, writer_wake);
#else
        if (reader_wake == NULL) {
            CloseDeviceChannel();
            goto done;
        }
#endif
        PublishWakeEvent(&g_reader_wake, reader_wake);

        g_reader_quit.store(0);
        g_shared.index_halted.store(1, std::memory_order_release);

        g_reader_thread = StartLibraryThread(ReaderThread, &g_reader_started, &g_reader_stopped);
        if (g_reader_thread == NULL) {
            RetireWakeEvent(&g_reader_wake, reader_wake);
#if MX_HAS_WRITE_QUEUE
            RetireWakeEvent(&g_writer_wake, writer_wake);
#endif
            CloseDeviceChannel();
            g_notify_window.store(NULL);
            goto done;
        }

#if MX_HAS_WRITE_QUEUE
        g_writer_quit.store(0);
        g_writer_thread = StartLibraryThread(WriterThread, &g_writer_started, &g_writer_stopped);
        if (g_writer_thread == NULL) {
            /* The ReaderThread runs already: stop it before its event goes
             * (it closes that event itself). */
            StopReader(THREAD_WAIT_MS);
            RetireWakeEvent(&g_writer_wake, writer_wake);
            CloseDeviceChannel();
            goto done;
        }
#endif
        result = 1;
    }

done:
    ReleaseSRWLockExclusive(&g_lifecycle_lock);
    return result;
}

extern "C" void MXUSB_CALL USBMX_CloseSynth(void)
{
    AcquireSRWLockExclusive(&g_lifecycle_lock);
    AskThreadsToQuit();

    USBMX_ShutUp();

    if (StopReader(THREAD_WAIT_MS))
        g_notify_window.store(NULL);
#if MX_HAS_WRITE_QUEUE
    StopWriter(THREAD_WAIT_MS);
#endif
    CloseDeviceChannel();
    ReleaseSRWLockExclusive(&g_lifecycle_lock);
}

static void ProcessAttach(HINSTANCE module)
{
    DisableThreadLibraryCalls(module);
    g_last_byte.store(-1);
    ResetRings(true, true, -1); /* 32-bit: empties them for every process */
    g_notify_window.store(NULL);
    g_read_requested.store(0);

    AcquireSRWLockExclusive(&g_channel_lock);
    g_device_handle = OpenDeviceHandle();
    g_connected.store(g_device_handle != INVALID_HANDLE_VALUE ? 1 : 0);
    ReleaseSRWLockExclusive(&g_channel_lock);
}

/* Unload while the threads may still run. A thread's exit needs the loader
 * lock that this thread holds, so waiting on a thread handle here would wait
 * out its whole time: wait for the thread's "stopped" flag instead (set as
 * the last thing before it returns), then give it a moment to leave the image. */
static void StopThreadForUnload(HANDLE *thread, const std::atomic<int32_t> *stopped)
{
    if (*thread == NULL)
        return;
    WaitForFlag(stopped, UNLOAD_WAIT_MS);
    WaitForSingleObject(*thread, UNLOAD_LEAVE_MS);
    CloseHandle(*thread);
    *thread = NULL;
}

static void ProcessDetach(bool process_exit)
{
    if (process_exit)
        return; /* the process's other threads are gone already; the system closes handles */
    AcquireSRWLockExclusive(&g_lifecycle_lock);
    AskThreadsToQuit();
    WakeReader();
#if MX_HAS_WRITE_QUEUE
    WakeWriter();
#endif
    StopThreadForUnload(&g_reader_thread, &g_reader_stopped);
#if MX_HAS_WRITE_QUEUE
    StopThreadForUnload(&g_writer_thread, &g_writer_stopped);
#endif
    g_notify_window.store(NULL);
    CloseDeviceChannel();
    ReleaseSRWLockExclusive(&g_lifecycle_lock);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
        ProcessAttach(module);
    else if (reason == DLL_PROCESS_DETACH)
        ProcessDetach(reserved != NULL);
    return TRUE;
}
