/*
 * request_cost.cpp - what the library adds to one device request: N calls of
 * USBMX_RawWriteByte against N bare DeviceIoControl calls made directly to
 * the simulated device through the same patched function the library calls,
 * measured side by side in alternating rounds (best round of each counts).
 */
#include "bench_common.h"
#include "mxusb_protocol.h"
#include "pe_image.h"

typedef int(WINAPI *RawWriteByteFn)(int);
typedef unsigned(WINAPI *ReadyCheckFn)(void);
typedef BOOL(WINAPI *DeviceIoControlFn)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
typedef HANDLE(WINAPI *CreateFileWFn)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
typedef HANDLE(WINAPI *CreateFileAFn)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);

int main()
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

    double best_lib = 1e9, best_bare = 1e9;
    for (int round = 0; round < ROUNDS; ++round) {
        /* Alternate which side goes first, so neither gains from warm caches. */
        for (int side = 0; side < 2; ++side) {
            bool library = (side + round) % 2 == 0;
            inproc_clear_log();
            double t0 = BenchSeconds();
            if (library) {
                for (int i = 0; i < N; ++i)
                    raw('a');
            } else {
                for (int i = 0; i < N; ++i) {
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
    double lib_us = best_lib / N * 1e6, bare_us = best_bare / N * 1e6;
    printf("request cost: USBMX_RawWriteByte %.3f us, bare DeviceIoControl %.3f us (best of %d rounds of %d)\n",
           lib_us, bare_us, ROUNDS, N);
    printf("ratio %.3f goal <= 1.10\n", lib_us / bare_us);
    FreeLibrary(module);
    return 0;
}
