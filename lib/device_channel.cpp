/*
 * device_channel.cpp - the DeviceChannel: the per-process handle of the
 * device, the reconnect rule that follows every failed request, and the
 * status queries.
 *
 * A handle lives in a slot with a count of its users: one for being the
 * current handle, one for each request under way on it. A request takes a
 * use of the current handle under g_channel_lock (shared) and gives it back
 * when the request returns; a reconnect or a close takes the handle out of
 * the current place under the lock (exclusive) and gives back its first use.
 * Whoever gives back the last use closes the handle. So no handle is closed
 * under a request, and a reconnect or close never waits for one: a request
 * that never returns keeps its own handle, and the channel goes on with a
 * new one.
 */
#include "library_state.h"
#include "mxusbd.h"

#define HANDLE_SLOTS 8 /* the current handle and those still held by requests */

struct HandleSlot {
    std::atomic<HANDLE> handle;   /* NULL = slot free */
    std::atomic<int32_t> users;
};

static SRWLOCK g_channel_lock = SRWLOCK_INIT; /* guards g_current and slot allocation */
static HandleSlot g_slots[HANDLE_SLOTS];
static HandleSlot *g_current = NULL; /* DeviceHandle; NULL when no handle is open */
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

static void GiveBack(HandleSlot *slot)
{
    if (slot != NULL && slot->users.fetch_sub(1) == 1) {
        CloseHandle(slot->handle.load());
        slot->handle.store(NULL); /* the slot is free again */
    }
}

/* Takes the current handle out of its place; Connected becomes 0. The caller
 * gives back the slot returned. */
static HandleSlot *TakeCurrent(void)
{
    AcquireSRWLockExclusive(&g_channel_lock);
    HandleSlot *old = g_current;
    g_current = NULL;
    g_connected.store(0);
    ReleaseSRWLockExclusive(&g_channel_lock);
    return old;
}

/* Makes a handle just opened the current one (when the open failed, or
 * every slot is held by a stuck request, the channel stays closed). */
static void Install(HANDLE handle)
{
    if (handle == INVALID_HANDLE_VALUE)
        return;
    HandleSlot *old = NULL;
    AcquireSRWLockExclusive(&g_channel_lock);
    for (HandleSlot &slot : g_slots) {
        if (slot.handle.load() == NULL) {
            slot.users.store(1);
            slot.handle.store(handle);
            old = g_current; /* another thread reconnected meanwhile */
            g_current = &slot;
            g_connected.store(1);
            handle = INVALID_HANDLE_VALUE;
            break;
        }
    }
    ReleaseSRWLockExclusive(&g_channel_lock);
    GiveBack(old);
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
}

void ReconnectDevice(void)
{
    GiveBack(TakeCurrent());
    Install(OpenDeviceHandle());
}

void CloseDeviceChannel(void)
{
    GiveBack(TakeCurrent());
}

int EnsureDeviceOpen(void)
{
    if (g_connected.load() == 0)
        Install(OpenDeviceHandle());
    return g_connected.load();
}

BOOL DeviceRequest(DWORD code, void *in, DWORD in_len, void *out, DWORD out_len, DWORD *returned)
{
    AcquireSRWLockShared(&g_channel_lock);
    HandleSlot *slot = g_current;
    if (slot != NULL)
        slot->users.fetch_add(1);
    ReleaseSRWLockShared(&g_channel_lock);
    if (slot == NULL) {
        SetLastError(ERROR_INVALID_HANDLE); /* as a request on a null handle fails */
        return FALSE;
    }
    BOOL ok = DeviceIoControl(slot->handle.load(), code, in, in_len, out, out_len, returned, NULL);
    GiveBack(slot);
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
