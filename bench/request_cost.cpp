/*
 * request_cost.cpp - what the library adds to one device request: N calls of
 * USBMX_RawWriteByte against N bare DeviceIoControl calls to the same device,
 * measured side by side in alternating rounds (best round of each counts).
 *
 *   mxbench_request_cost            the in-process simulator: the library's
 *                                   imports patched, the bare calls made
 *                                   through the same patched function
 *   mxbench_request_cost --driver   the driver host (scripts/simdrv.sh up):
 *                                   the library as shipped, the bare calls
 *                                   through the real DeviceIoControl
 *
 * The in-process device answers in about a tenth of a microsecond, so there
 * the ratio shows the library's own fixed cost (the channel lock and the
 * flag stores) against a plain function call; through a device that the
 * system serves, that cost disappears in the request itself.
 */
#include <string.h>

#include "bench_common.h"
#include "mxusb_protocol.h"
#include "pe_image.h"

typedef int(WINAPI *RawWriteByteFn)(int);
typedef unsigned(WINAPI *ReadyCheckFn)(void);
typedef BOOL(WINAPI *DeviceIoControlFn)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
typedef HANDLE(WINAPI *CreateFileWFn)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
typedef HANDLE(WINAPI *CreateFileAFn)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);

/* Best time per request, in microseconds, of each side. */
static void MeasureSideBySide(RawWriteByteFn raw, DeviceIoControlFn ioctl, HANDLE device, int n, int rounds,
                              bool clear_sim_log, double *lib_us, double *bare_us)
{
    double best_lib = 1e9, best_bare = 1e9;
    for (int round = 0; round < rounds; ++round) {
        /* Alternate which side goes first, so neither gains from warm caches. */
        for (int side = 0; side < 2; ++side) {
            bool library = (side + round) % 2 == 0;
            if (clear_sim_log)
                inproc_clear_log();
            double t0 = BenchSeconds();
            if (library) {
                for (int i = 0; i < n; ++i)
                    raw('a');
            } else {
                for (int i = 0; i < n; ++i) {
                    TransferHeader header = {TRANSFER_DATA, 0};
                    unsigned char byte = 'a';
                    DWORD returned = 0;
                    ioctl(device, IOCTL_SYNTH_TRANSFER, &header, sizeof header, &byte, 1, &returned, NULL);
                }
            }
            double took = BenchSeconds() - t0;
            double &best = library ? best_lib : best_bare;
            if (took < best)
                best = took;
        }
    }
    *lib_us = best_lib / n * 1e6;
    *bare_us = best_bare / n * 1e6;
}

static int Report(const char *device_name, double lib_us, double bare_us, int n, int rounds)
{
    printf("request cost (%s): USBMX_RawWriteByte %.3f us, bare DeviceIoControl %.3f us (best of %d rounds of %d)\n",
           device_name, lib_us, bare_us, rounds, n);
    printf("ratio %.3f goal <= 1.10 (%s)\n", lib_us / bare_us, device_name);
    return 0;
}

static int InProcess(void)
{
    const int N = 20000, ROUNDS = 9;
    HMODULE module = BenchLoadLibrary();
    if (!module)
        return 1;
    RawWriteByteFn raw = BenchExport<RawWriteByteFn>(module, "USBMX_RawWriteByte");
    ReadyCheckFn ready = BenchExport<ReadyCheckFn>(module, "USBMX_ReadyCheck");
    void **ioctl_slot = MxFindImportSlot(module, "DeviceIoControl");
    void **open_w = MxFindImportSlot(module, "CreateFileW");
    void **open_a = MxFindImportSlot(module, "CreateFileA");
    if (!raw || !ready || !ioctl_slot || !(open_w || open_a))
        return 1;
    ready(); /* the library's channel opens through the simulator */
    DeviceIoControlFn ioctl = (DeviceIoControlFn)*ioctl_slot;
    HANDLE device = open_w ? ((CreateFileWFn)*open_w)(MXUSB_DEVICE_PATH_W, GENERIC_READ | GENERIC_WRITE,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL)
                           : ((CreateFileAFn)*open_a)(MXUSB_DEVICE_PATH_A, GENERIC_READ | GENERIC_WRITE,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (device == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "cannot open the simulated device\n");
        return 1;
    }
    double lib_us, bare_us;
    MeasureSideBySide(raw, ioctl, device, N, ROUNDS, true, &lib_us, &bare_us);
    FreeLibrary(module);
    return Report("in-process simulator", lib_us, bare_us, N, ROUNDS);
}

static int ThroughDriver(void)
{
    const int N = 1000, ROUNDS = 5;
    HMODULE module = BenchLoadLibrary(false);
    if (!module)
        return 1;
    RawWriteByteFn raw = BenchExport<RawWriteByteFn>(module, "USBMX_RawWriteByte");
    ReadyCheckFn ready = BenchExport<ReadyCheckFn>(module, "USBMX_ReadyCheck");
    HANDLE device = CreateFileW(MXUSB_DEVICE_PATH_W, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                NULL, OPEN_EXISTING, 0, NULL);
    if (!raw || !ready || device == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "the driver host does not answer (scripts/simdrv.sh up first)\n");
        return 1;
    }
    ready();
    double lib_us, bare_us;
    MeasureSideBySide(raw, DeviceIoControl, device, N, ROUNDS, false, &lib_us, &bare_us);
    CloseHandle(device);
    FreeLibrary(module);
    return Report("driver host", lib_us, bare_us, N, ROUNDS);
}

int main(int argc, char **argv)
{
    if (argc > 1 && strcmp(argv[1], "--driver") == 0)
        return ThroughDriver();
    return InProcess();
}
