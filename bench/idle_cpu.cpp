/*
 * idle_cpu.cpp - CPU time the library's threads use while the application
 * does nothing after USBMX_OpenSynth: once with collection halted (as open
 * leaves it) and once with the reader thread polling an idle device. The
 * main thread only sleeps, so the process's CPU time is the threads'.
 */
#include "bench_common.h"

typedef int(WINAPI *OpenSynthFn)(void);
typedef void(WINAPI *VoidFn)(void);
typedef void(WINAPI *ResumeIndexesFn)(int);

static double ProcessCpuMs(void)
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime, k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime, u.HighPart = user.dwHighDateTime;
    return (double)(k.QuadPart + u.QuadPart) / 10000.0;
}

static double MeasureMsPerSecond(DWORD ms)
{
    double cpu0 = ProcessCpuMs(), t0 = BenchSeconds();
    Sleep(ms);
    double cpu1 = ProcessCpuMs(), t1 = BenchSeconds();
    return (cpu1 - cpu0) / (t1 - t0);
}

/* For comparison: a bare thread that only waits 20 ms at a time, as the
 * reader thread does while collection is halted. */
static volatile LONG g_bare_quit;
static DWORD WINAPI BareWaiter(LPVOID event)
{
    while (!g_bare_quit)
        WaitForSingleObject((HANDLE)event, 20);
    return 0;
}

int main()
{
    HMODULE module = BenchLoadLibrary();
    if (!module)
        return 1;
    OpenSynthFn open = BenchExport<OpenSynthFn>(module, "USBMX_OpenSynth");
    VoidFn close = BenchExport<VoidFn>(module, "USBMX_CloseSynth");
    ResumeIndexesFn resume = BenchExport<ResumeIndexesFn>(module, "USBMX_ResumeIndexes");
    const DWORD PHASE_MS = 4000;
    double baseline = MeasureMsPerSecond(PHASE_MS); /* loaded, no library thread yet */
    if (!open || !close || !resume || !open()) {
        fprintf(stderr, "cannot open the simulated synthesizer\n");
        return 1;
    }
    Sleep(200);
    double halted = MeasureMsPerSecond(PHASE_MS);
    resume(0);
    Sleep(200);
    double polling = MeasureMsPerSecond(PHASE_MS);
    /* The process clock advances in ticks (10 ms under Wine), so a phase of
     * PHASE_MS resolves about 10 / (PHASE_MS / 1000) ms per second. */
    printf("idle CPU: %.2f ms per second before open (baseline), %.2f halted after USBMX_OpenSynth, "
           "%.2f polling an idle device; clock resolution about %.1f ms per second "
           "(goal under 1 ms per second)\n", baseline, halted, polling, 10000.0 / PHASE_MS);
    close();
    FreeLibrary(module);

    HANDLE event = CreateEventW(NULL, FALSE, FALSE, NULL);
    HANDLE bare = CreateThread(NULL, 0, BareWaiter, event, 0, NULL);
    Sleep(200);
    double bare_ms = MeasureMsPerSecond(PHASE_MS);
    g_bare_quit = 1;
    WaitForSingleObject(bare, INFINITE);
    printf("for comparison, a bare thread waiting 20 ms at a time: %.2f ms per second\n", bare_ms);
    return 0;
}
