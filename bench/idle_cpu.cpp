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

int main()
{
    HMODULE module = BenchLoadLibrary();
    if (!module)
        return 1;
    OpenSynthFn open = BenchExport<OpenSynthFn>(module, "USBMX_OpenSynth");
    VoidFn close = BenchExport<VoidFn>(module, "USBMX_CloseSynth");
    ResumeIndexesFn resume = BenchExport<ResumeIndexesFn>(module, "USBMX_ResumeIndexes");
    if (!open || !close || !resume || !open()) {
        fprintf(stderr, "cannot open the simulated synthesizer\n");
        return 1;
    }
    Sleep(200);
    double halted = MeasureMsPerSecond(2000);
    resume(0);
    Sleep(200);
    double polling = MeasureMsPerSecond(2000);
    printf("idle CPU after USBMX_OpenSynth: %.3f ms per second halted, %.3f ms per second polling "
           "(goal under 1 ms per second)\n", halted, polling);
    close();
    FreeLibrary(module);
    return 0;
}
