/*
 * index_input.cpp - the index input path: the ReaderThread that polls the
 * device and fills the IndexRing, window notification, and the exports that
 * read, halt and resume collection.
 */
#include "library_state.h"
#include "mxusbd.h"

std::atomic<int32_t> g_read_requested{0};

/* IndexNotifyWindow and IndexNotifyMessage: one pair, set and read together
 * under g_notify_lock (a leaf lock), so a post never combines one
 * registration's window with another's message. */
static SRWLOCK g_notify_lock = SRWLOCK_INIT;
static HWND g_notify_window = NULL;
static UINT g_notify_message = 0;

#define READER_WAIT_MS        20 /* longest wait for the ReaderWakeEvent */
#define READER_CYCLE_SLEEP_MS 5
#define NOTIFY_PER_CYCLE      16

static void SetNotifyTarget(HWND window, UINT message)
{
    AcquireSRWLockExclusive(&g_notify_lock);
    g_notify_window = window;
    g_notify_message = message;
    ReleaseSRWLockExclusive(&g_notify_lock);
}

void DropNotifyWindow(void)
{
    SetNotifyTarget(NULL, 0);
}

/* The registered pair; false when no window is registered. */
static bool GetNotifyTarget(HWND *window, UINT *message)
{
    AcquireSRWLockShared(&g_notify_lock);
    *window = g_notify_window;
    *message = g_notify_message;
    ReleaseSRWLockShared(&g_notify_lock);
    return *window != NULL;
}

void PollDevice(void)
{
    if (g_connected.load() == 0) {
        ReconnectDevice();
        return;
    }
    TransferHeader header;
    header.mode = TRANSFER_POLL;
    header.busy = 0;
    unsigned char poll_byte = SYNTH_POLL_BYTE;
    DWORD pending = 0;
    if (!DeviceRequest(IOCTL_SYNTH_TRANSFER, &header, sizeof header, &poll_byte, 1, &pending)) {
        ReconnectDevice();
        return;
    }
    if (pending == 0)
        return;
    Sleep(1);

    /* A reset of the ring from here on makes what this READ fetches stale;
     * one before it does not. */
    uint32_t epoch = IndexEpoch();
    header.mode = TRANSFER_READ;
    header.busy = 0;
    unsigned char bytes[SYNTH_MAX_READ];
    DWORD returned = 0;
    if (!DeviceRequest(IOCTL_SYNTH_READ, &header, sizeof header, bytes, sizeof bytes, &returned)) {
        ReconnectDevice();
        return;
    }
    int count = (int)returned;
    if (count > SYNTH_MAX_READ)
        count = SYNTH_MAX_READ; /* never beyond the buffer, whatever the driver claims */
    for (int i = 0; i < count; ++i) {
        if (bytes[i] != SYNTH_NO_BYTE)
            PutIndexByte(bytes[i], epoch);
    }
}

/* With a window registered, takes 16 times a byte from the ring and posts
 * each one obtained, in order. The window is looked for once before the
 * batch and the pair read again for each post, so a window registered or
 * removed meanwhile takes effect with the next post; a byte taken after the
 * window was removed is lost like one whose post fails (it is not posted to
 * the thread's own queue, which nothing reads). */
static void NotifyWindow(void)
{
    HWND window;
    UINT message;
    if (!GetNotifyTarget(&window, &message))
        return;
    for (int i = 0; i < NOTIFY_PER_CYCLE; ++i) {
        int b = GetIndexByte();
        if (b == -1)
            continue; /* the 32-bit ring is shared: another process may add one */
        if (!GetNotifyTarget(&window, &message))
            continue;
#if defined(_WIN64)
        PostMessageW(window, message, (WPARAM)b, 0);
#else
        PostMessageA(window, message, (WPARAM)b, 0);
#endif
    }
}

DWORD WINAPI ReaderThread(LPVOID arg)
{
    ThreadRun *run = (ThreadRun *)arg;
    HANDLE wake = run->wake; /* set before the thread was started */
    run->started.store(1);
    while (run->quit.load() == 0) {
        WaitForSingleObject(wake, READER_WAIT_MS);
        if (g_shared.index_halted.load(std::memory_order_acquire) != 0)
            continue;
        PollDevice();
        NotifyWindow();
        Sleep(READER_CYCLE_SLEEP_MS);
    }
    RetireWakeEvent(run);
    run->stopped.store(1); /* the last thing: unload may now let the image go */
    return 0;
}

extern "C" int MXUSB_CALL USBMX_ReadByte(void)
{
    if (g_connected.load() == 0) {
        ReconnectDevice();
        return -1;
    }
    g_read_requested.store(1);
    WakeReader();
    return GetIndexByte();
}

extern "C" void MXUSB_CALL USBMX_DisableReadByte(void)
{
    g_read_requested.store(0);
}

extern "C" int MXUSB_CALL USBMX_ForceIndexRead(void)
{
    return WakeReader();
}

extern "C" void MXUSB_CALL USBMX_HaltIndexes(int clear)
{
    g_shared.index_halted.store(1, std::memory_order_release);
    if (clear)
        EmptyIndexRing();
}

extern "C" void MXUSB_CALL USBMX_ResumeIndexes(int clear)
{
    if (clear)
        EmptyIndexRingAndResume();
    else
        g_shared.index_halted.store(0, std::memory_order_release);
}

extern "C" int MXUSB_CALL USBMX_RegisterWindowIndexes(HWND window, UINT message)
{
    /* HWND_BROADCAST would reach every top-level window: it counts as none. */
    SetNotifyTarget(window == HWND_BROADCAST ? NULL : window, message);
    return 1;
}
