/*
 * lifecycle.cpp - the library threads (their runs, wake events, start and
 * stop), USBMX_OpenSynth, USBMX_CloseSynth and the library's entry point
 * (process attach and detach).
 *
 * Threads start and stop in one order: create the wake event, start the
 * thread with a run of its own. To stop: set the run's quit flag, wake the
 * thread, wait for it (bounded), close its handle. Each thread closes its own
 * wake event as it ends; nothing is closed under a running thread. A thread
 * whose wait ran out stays tracked in its run: the next USBMX_OpenSynth and
 * the unload wait for it again (bounded) before anything new starts or the
 * image goes.
 */
#include "library_state.h"
#include "mxusbd.h"

/* Serialises USBMX_OpenSynth, USBMX_CloseSynth and process detach; guards
 * the runs' thread handles. */
static SRWLOCK g_lifecycle_lock = SRWLOCK_INIT;
/* Guards the runs' wake handles and the two current runs below, so that no
 * caller ever signals an event that was closed. */
static SRWLOCK g_event_lock = SRWLOCK_INIT;

#define RUN_SLOTS 6 /* one set of threads and runs whose threads are still held up */
static ThreadRun g_runs[RUN_SLOTS];
static ThreadRun *g_reader_run = NULL; /* the ReaderThread now running, NULL when none */
#if MX_HAS_WRITE_QUEUE
static ThreadRun *g_writer_run = NULL;
#define THREAD_WAIT_MS 4000 /* for both threads: 2000 ms each */
#else
#define THREAD_WAIT_MS 5000
#endif
#define UNLOAD_WAIT_MS 5000     /* for the threads' "stopped" flags */
#define UNLOAD_LEAVE_MS 50      /* for the threads to leave the image after that */
#define START_WAIT_MS 5000      /* for a new thread to enter its routine */

static BOOL WakeRun(ThreadRun *const *run)
{
    AcquireSRWLockShared(&g_event_lock);
    BOOL ok = *run != NULL && (*run)->wake != NULL ? SetEvent((*run)->wake) : FALSE;
    ReleaseSRWLockShared(&g_event_lock);
    return ok;
}

BOOL WakeReader(void) { return WakeRun(&g_reader_run); }
#if MX_HAS_WRITE_QUEUE
BOOL WakeWriter(void) { return WakeRun(&g_writer_run); }
#endif

void RetireWakeEvent(ThreadRun *run)
{
    AcquireSRWLockExclusive(&g_event_lock);
    HANDLE wake = run->wake;
    run->wake = NULL;
    ReleaseSRWLockExclusive(&g_event_lock);
    CloseHandle(wake);
}

static void SetCurrent(ThreadRun **current, ThreadRun *run)
{
    AcquireSRWLockExclusive(&g_event_lock);
    *current = run;
    ReleaseSRWLockExclusive(&g_event_lock);
}

/* The one bounded wait: polls `done` every millisecond for up to timeout_ms;
 * returns its last answer. */
template <typename Done> static bool WaitUntil(Done done, DWORD timeout_ms)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= timeout_ms)
            return done();
        Sleep(1);
    }
    return true;
}

/* Starts one library thread with a run of its own and waits until it runs
 * inside its routine, so that an unload never unmaps code a thread has yet
 * to enter. NULL when no slot is free or the event or thread cannot be made. */
static ThreadRun *StartRun(LPTHREAD_START_ROUTINE routine, ThreadRun **current)
{
    ThreadRun *run = NULL;
    for (ThreadRun &r : g_runs)
        if (r.thread == NULL && r.wake == NULL)
            run = &r;
    if (run == NULL)
        return NULL;
#if defined(_WIN64)
    HANDLE wake = CreateEventW(NULL, FALSE, FALSE, NULL);
#else
    HANDLE wake = CreateEventA(NULL, FALSE, FALSE, NULL);
#endif
    if (wake == NULL)
        return NULL;
    run->quit.store(0);
    run->started.store(0);
    run->stopped.store(0);
    run->wake = wake; /* the slot is not current yet: nobody else reads it */
    run->thread = CreateThread(NULL, 0, routine, run, 0, NULL);
    if (run->thread == NULL) {
        RetireWakeEvent(run);
        return NULL;
    }
    WaitUntil([run] { return run->started.load() != 0; }, START_WAIT_MS);
    SetCurrent(current, run);
    return run;
}

/* Asks every tracked run to quit and wakes its thread. */
static void AskRunsToQuit(void)
{
    AcquireSRWLockShared(&g_event_lock);
    for (ThreadRun &r : g_runs) {
        if (r.thread != NULL) {
            r.quit.store(1);
            if (r.wake != NULL)
                SetEvent(r.wake);
        }
    }
    ReleaseSRWLockShared(&g_event_lock);
}

/* Stops every tracked run: quit, wake, wait at most timeout_ms for all of
 * them, close the handles of those that ended. Under the loader lock (unload)
 * a thread's exit cannot complete, so there it waits for the "stopped" flags
 * instead and then gives the threads a moment to leave the image. Returns
 * true when no thread is left. */
static bool StopRuns(DWORD timeout_ms, bool loader_lock)
{
    bool had_threads = false;
    for (ThreadRun &r : g_runs)
        had_threads = had_threads || r.thread != NULL;
    AskRunsToQuit();
    SetCurrent(&g_reader_run, NULL);
#if MX_HAS_WRITE_QUEUE
    SetCurrent(&g_writer_run, NULL);
#endif
    auto ended = [loader_lock](ThreadRun &r) {
        return r.thread == NULL ||
               (loader_lock ? r.stopped.load() != 0 : WaitForSingleObject(r.thread, 0) == WAIT_OBJECT_0);
    };
    bool all = WaitUntil([&] {
        for (ThreadRun &r : g_runs)
            if (!ended(r))
                return false;
        return true;
    }, timeout_ms);
    if (loader_lock && had_threads)
        Sleep(UNLOAD_LEAVE_MS); /* an unload after USBMX_CloseSynth does not wait */
    for (ThreadRun &r : g_runs) {
        if (r.thread != NULL && ended(r)) {
            CloseHandle(r.thread);
            r.thread = NULL;
        }
    }
    return all;
}

static bool AnyRun(void)
{
    for (ThreadRun &r : g_runs)
        if (r.thread != NULL)
            return true;
    return false;
}

extern "C" int MXUSB_CALL USBMX_OpenSynth(void)
{
    int result = 0;
    AcquireSRWLockExclusive(&g_lifecycle_lock);

    /* A second open without a close, or threads a close gave up on: stop
     * them first (without stopping speech) so that exactly one set runs. */
    if (AnyRun())
        StopRuns(THREAD_WAIT_MS, false);

    EmptyRings();
    g_last_byte.store(-1);
    g_read_requested.store(0);

    if (EnsureDeviceOpen()) {
        g_shared.index_halted.store(1, std::memory_order_release);
        ThreadRun *reader = StartRun(ReaderThread, &g_reader_run);
        if (reader == NULL) {
            DropNotifyWindow();
            CloseDeviceChannel();
        } else {
#if MX_HAS_WRITE_QUEUE
            if (StartRun(WriterThread, &g_writer_run) == NULL) {
                /* The ReaderThread runs already: stop it (it closes its event). */
                StopRuns(THREAD_WAIT_MS, false);
                CloseDeviceChannel();
            } else
#endif
                result = 1;
        }
    }

    ReleaseSRWLockExclusive(&g_lifecycle_lock);
    return result;
}

extern "C" void MXUSB_CALL USBMX_CloseSynth(void)
{
    AcquireSRWLockExclusive(&g_lifecycle_lock);
    bool had_reader = g_reader_run != NULL;
    AskRunsToQuit();
    g_read_requested.store(0);

    USBMX_ShutUp();

    StopRuns(THREAD_WAIT_MS, false);
    if (had_reader)
        DropNotifyWindow();
    CloseDeviceChannel();
    ReleaseSRWLockExclusive(&g_lifecycle_lock);
}

static void ProcessAttach(HINSTANCE module)
{
    DisableThreadLibraryCalls(module);
    g_last_byte.store(-1);
    EmptyRings(); /* 32-bit: empties them for every process */
    DropNotifyWindow();
    g_read_requested.store(0);
    EnsureDeviceOpen();
}

/* Unload while threads may still run (no USBMX_CloseSynth, or threads a
 * close gave up on). A thread's exit needs the loader lock that this thread
 * holds, so StopRuns waits for the "stopped" flags here. */
static void ProcessDetach(bool process_exit)
{
    if (process_exit)
        return; /* the process's other threads are gone already; the system closes handles */
    AcquireSRWLockExclusive(&g_lifecycle_lock);
    g_read_requested.store(0);
    StopRuns(UNLOAD_WAIT_MS, true);
    DropNotifyWindow();
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
