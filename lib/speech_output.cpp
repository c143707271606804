/*
 * speech_output.cpp - everything the library sends: the speech byte filter,
 * one-byte and block transfers, raw and out-of-band bytes, stop, pause,
 * resume and language selection; in the 32-bit build the WriteQueue's writer
 * side and the WriterThread that drains it.
 */
#include <string.h>

#include "library_state.h"
#include "mxusbd.h"

std::atomic<int32_t> g_last_byte{-1};

/* The 32-bit WriterThread gives up on a byte still busy after this many
 * repeats (11 requests in all); everything else repeats without limit. */
#define FILTERED_BUSY_REPEATS_32 10
#define NO_REPEAT_LIMIT -1

/* How a data transfer ended. */
enum SendOutcome { SEND_FAILED = 0, SEND_TAKEN = 1, SEND_ABANDONED = 2 };

/* One data transfer of `length` bytes: repeats while the device is busy,
 * sleeping `busy_sleep_ms` between attempts, at most `max_repeats` times
 * (NO_REPEAT_LIMIT = until taken). `check_connected` makes every attempt
 * first look at Connected (the block transfer does). A failed request runs
 * ReconnectDevice. */
static SendOutcome TransferData(const unsigned char *bytes, DWORD length, int max_repeats,
                                DWORD busy_sleep_ms, bool check_connected)
{
    TransferHeader header;
    header.mode = TRANSFER_DATA;
    header.busy = 0;
    unsigned char data[SYNTH_MAX_TRANSFER];
    memcpy(data, bytes, length);
    DWORD returned = 0;
    for (int repeats = 0;; ++repeats) {
        if (check_connected && g_connected.load() == 0) {
            ReconnectDevice();
            return SEND_FAILED;
        }
        /* Repeats reuse the header as the driver left it. */
        if (!DeviceRequest(IOCTL_SYNTH_TRANSFER, &header, sizeof header, data, length, &returned)) {
            ReconnectDevice();
            return SEND_FAILED;
        }
        if (header.busy == 0)
            return SEND_TAKEN;
        if (max_repeats != NO_REPEAT_LIMIT && repeats >= max_repeats)
            return SEND_ABANDONED;
        Sleep(busy_sleep_ms); /* no request is under way here */
    }
}

/* One out-of-band byte; no busy check, no repeat. Returns the request's success. */
static BOOL TransferImmediate(unsigned char b)
{
    TransferHeader header;
    header.mode = TRANSFER_IMMEDIATE;
    header.busy = 0;
    DWORD returned = 0;
    return DeviceRequest(IOCTL_SYNTH_TRANSFER, &header, sizeof header, &b, 1, &returned);
}

int SendFilteredByte(int b)
{
    b &= 0xFF;
    if (b == SYNTH_STOP_TEXT) {
        EmptyRingsAndHalt();
        g_last_byte.store(-1);
    } else {
        g_shared.index_halted.store(0, std::memory_order_release);
    }
    if (b > 126)
        return 1;
    int last = g_last_byte.load();
    if (b == last && (b == 0x0A || b == 0x20 || b == 0x2E))
        return 1; /* a run of line feeds, spaces or full stops reaches the device as one */
    g_last_byte.store(b);
    if (g_connected.load() == 0) {
        ReconnectDevice();
        return 0;
    }
    unsigned char byte = (unsigned char)b;
#if MX_HAS_WRITE_QUEUE
    /* The WriterThread abandons a byte that stays busy, without reconnecting. */
    return TransferData(&byte, 1, FILTERED_BUSY_REPEATS_32, 1, false) == SEND_TAKEN;
#else
    return TransferData(&byte, 1, NO_REPEAT_LIMIT, 1, false) == SEND_TAKEN;
#endif
}

#if MX_HAS_WRITE_QUEUE
/* Drains the WriteQueue each time it wakes. The quit flag is looked at
 * before every byte, so a close is never held up by a queue that another
 * producer keeps filling (close empties the queue anyway). */
DWORD WINAPI WriterThread(LPVOID arg)
{
    ThreadRun *run = (ThreadRun *)arg;
    HANDLE wake = run->wake; /* set before the thread was started */
    run->started.store(1);
    while (run->quit.load() == 0) {
        WaitForSingleObject(wake, 100);
        int b;
        while (run->quit.load() == 0 && (b = GetQueuedByte()) != -1)
            SendFilteredByte(b);
    }
    RetireWakeEvent(run);
    run->stopped.store(1); /* the last thing: unload may now let the image go */
    return 0;
}
#endif

extern "C" int MXUSB_CALL USBMX_WriteByte(int byte)
{
#if MX_HAS_WRITE_QUEUE
    int queued = PutQueuedByte(byte & 0xFF);
    WakeWriter();
    return queued;
#else
    return SendFilteredByte(byte);
#endif
}

extern "C" int MXUSB_CALL USBMX_WriteString(const unsigned char *bytes, int count)
{
    g_last_byte.store(-1);
    g_shared.index_halted.store(0, std::memory_order_release);
    if (count <= 0)
        return 1;
    if (bytes == NULL)
        return 0; /* nothing to read from: send nothing */
    int remaining = count;
    while (remaining > 0) {
        DWORD length = remaining < SYNTH_MAX_TRANSFER ? (DWORD)remaining : SYNTH_MAX_TRANSFER;
        if (TransferData(bytes, length, NO_REPEAT_LIMIT, 5, true) != SEND_TAKEN)
            return 0; /* earlier chunks stay sent */
        bytes += length;
        remaining -= (int)length;
    }
    return 1;
}

extern "C" int MXUSB_CALL USBMX_RawWriteByte(int byte)
{
    g_shared.index_halted.store(0, std::memory_order_release);
    if (g_connected.load() == 0) {
        ReconnectDevice();
        return 0;
    }
    unsigned char b = (unsigned char)byte;
    return TransferData(&b, 1, NO_REPEAT_LIMIT, 1, false) == SEND_TAKEN;
}

extern "C" void MXUSB_CALL USBMX_RawWriteByteImmediate(int byte)
{
    if (g_connected.load() == 0) {
        ReconnectDevice();
        return;
    }
    if (!TransferImmediate((unsigned char)byte)) {
        ReconnectDevice();
        Sleep(10);
    }
}

extern "C" int MXUSB_CALL USBMX_ShutUp(void)
{
    EmptyRingsAndHalt();
    g_last_byte.store(-1);
    if (g_connected.load() == 0) {
        ReconnectDevice();
        return 0;
    }
    if (!TransferImmediate(SYNTH_OOB_STOP)) {
        ReconnectDevice();
        return 0;
    }
    return 1;
}

extern "C" int MXUSB_CALL USBMX_PauseSpeech(void)
{
    return USBMX_RawWriteByte(SYNTH_PAUSE);
}

extern "C" int MXUSB_CALL USBMX_ResumeSpeech(void)
{
    return USBMX_RawWriteByte(SYNTH_RESUME);
}

extern "C" void MXUSB_CALL USBMX_SelectLanguage(int language)
{
    if (language < 0 || language >= SYNTH_LANGUAGE_COUNT)
        return;
    USBMX_WriteByte(SYNTH_STOP_TEXT);
    Sleep(5);
    USBMX_WriteByte(SYNTH_CMD_LEAD);
    USBMX_WriteByte(SYNTH_CMD_LANGUAGE);
    USBMX_WriteByte('0' + language);
}
