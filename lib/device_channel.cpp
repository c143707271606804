/*
 * device_channel.cpp - the DeviceChannel: the per-process handle of the
 * device, the reconnect rule that follows every failed request, and the
 * status queries.
 *
 * Every request holds g_channel_lock shared for the request only; a
 * reconnect or a close holds it exclusive, so no thread closes a handle that
 * another thread is using. Busy repeats release the lock between attempts.
 */
#include "library_state.h"
#include "mxusbd.h"

SRWLOCK g_channel_lock = SRWLOCK_INIT;
HANDLE g_device_handle = NULL;
std::atomic<int32_t> g_connected{0};

HANDLE OpenDeviceHandle(void)
{
#if defined(_WIN64)
    return CreateFileW(MXUSB_DEVICE_PATH_W, GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
#else
    return CreateFileA(MXUSB_DEVICE_PATH_A, GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
#endif
}

void ReconnectDevice(void)
{
    AcquireSRWLockExclusive(&g_channel_lock);
    g_connected.store(0);
    /* Whatever it holds: an open handle, NULL or INVALID_HANDLE_VALUE (closing
     * the last two fails harmlessly). */
    CloseHandle(g_device_handle);
    g_device_handle = OpenDeviceHandle();
    if (g_device_handle != INVALID_HANDLE_VALUE)
        g_connected.store(1);
    ReleaseSRWLockExclusive(&g_channel_lock);
}

void CloseDeviceChannel(void)
{
    AcquireSRWLockExclusive(&g_channel_lock);
    if (g_connected.load() == 1) {
        CloseHandle(g_device_handle);
        g_device_handle = NULL;
        g_connected.store(0);
    }
    ReleaseSRWLockExclusive(&g_channel_lock);
}

int EnsureDeviceOpen(void)
{
    AcquireSRWLockExclusive(&g_channel_lock);
    if (g_connected.load() == 0) {
        /* With Connected at 0 the handle is NULL or INVALID_HANDLE_VALUE. */
        g_device_handle = OpenDeviceHandle();
        if (g_device_handle != INVALID_HANDLE_VALUE)
            g_connected.store(1);
    }
    int connected = g_connected.load();
    ReleaseSRWLockExclusive(&g_channel_lock);
    return connected;
}

BOOL DeviceRequest(DWORD code, void *in, DWORD in_len, void *out, DWORD out_len, DWORD *returned)
{
    AcquireSRWLockShared(&g_channel_lock);
    BOOL ok = DeviceIoControl(g_device_handle, code, in, in_len, out, out_len, returned, NULL);
    ReleaseSRWLockShared(&g_channel_lock);
    return ok;
}

extern "C" int MXUSB_CALL USBMX_CheckWdmStatus(void)
{
    return g_connected.load();
}

extern "C" int MXUSB_CALL USBMX_GetFirmwareVersion(void)
{
    /* Deliberately does not look at Connected: a closed channel fails the
     * request, which reopens it. */
    unsigned char info[SYNTH_INFO_SIZE] = {0};
    DWORD returned = 0;
    if (!DeviceRequest(IOCTL_SYNTH_GET_INFO, NULL, 0, info, sizeof info, &returned)) {
        ReconnectDevice();
        return -1;
    }
    return info[SYNTH_INFO_FIRMWARE_OFFSET] | (info[SYNTH_INFO_FIRMWARE_OFFSET + 1] << 8);
}

extern "C" unsigned int MXUSB_CALL USBMX_ReadyCheck(void)
{
    if (g_connected.load() == 0) {
        ReconnectDevice();
        return 0;
    }
    uint32_t word = 0;
    DWORD returned = 0;
    if (!DeviceRequest(IOCTL_SYNTH_READY, NULL, 0, &word, sizeof word, &returned)) {
        ReconnectDevice();
        return 0;
    }
    return word;
}
