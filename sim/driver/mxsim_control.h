/*
 * mxsim_control.h - the control device of the driver host (mxusb.sys): the
 * codes and structures that the control tool (mxsimctl.exe), the end-to-end
 * tests and the utility's GUI tests use to script the simulated synthesizer
 * served by the driver. Shared by the driver and all its clients.
 *
 * The driver creates two devices:
 *   \Device\mxusb0   with the link \DosDevices\mxusb-0       -> \\.\mxusb-0
 *       the product device; the four control codes of mxusb_protocol.h.
 *   \Device\mxsimctl with the link \DosDevices\mxsim-control -> \\.\mxsim-control
 *       this control device; the MXSIM_IOCTL_ codes below.
 * The control device can always be opened, also while the unit is
 * "unplugged" (when opening \\.\mxusb-0 fails with ERROR_FILE_NOT_FOUND or
 * similar). All control codes use METHOD_BUFFERED, any access; a request with
 * a short input or output buffer fails with ERROR_INVALID_PARAMETER (or
 * ERROR_INSUFFICIENT_BUFFER) and changes nothing.
 *
 * Every operation on the model, from either device, runs under one kernel
 * lock, so a control request never sees a half-done product request.
 *
 * What the driver host cannot simulate: `busy`. The library learns that the
 * device did not take a TRANSFER_DATA request from the `busy` word that the
 * driver writes into the caller's TransferHeader, i.e. into the request's
 * input buffer. A driver serving another process cannot write that buffer:
 * neither Windows nor Wine copies the input of a direct-I/O request back to
 * the caller. The driver therefore never answers busy (there is no "busy
 * next N" code here); busy handling is covered by the in-process tests
 * (sim/inproc), where the model writes the caller's header directly.
 *
 * Plain declarations with fixed-size types; client code includes <windows.h>
 * itself before calling DeviceIoControl. The structures need synth_model.h
 * (a C++ header); code that wants only the names and codes defines
 * MXSIM_CONTROL_NAMES_ONLY before including this file.
 */
#ifndef MXSIM_CONTROL_H
#define MXSIM_CONTROL_H

#include <stdint.h>
#ifndef MXSIM_CONTROL_NAMES_ONLY
#include "synth_model.h" /* struct SimLogEntry, enum SimReplyMode */
#endif

/* The control device, as user mode opens it. */
#define MXSIM_CONTROL_PATH_A  "\\\\.\\mxsim-control"
#define MXSIM_CONTROL_PATH_W L"\\\\.\\mxsim-control"

/* Kernel names (used by the driver only). */
#define MXSIM_PRODUCT_DEVICE_NAME  L"\\Device\\mxusb0"
#define MXSIM_PRODUCT_LINK_NAME    L"\\DosDevices\\mxusb-0"
#define MXSIM_CONTROL_DEVICE_NAME  L"\\Device\\mxsimctl"
#define MXSIM_CONTROL_LINK_NAME    L"\\DosDevices\\mxsim-control"

/* Service name under which mxsimctl installs the driver (not "mxusb", so
 * that installing the stand-in never rewrites a real driver's service). */
#define MXSIM_SERVICE_NAME_A  "mxusbsim"
#define MXSIM_SERVICE_NAME_W L"mxusbsim"

/* CTL_CODE(FILE_DEVICE_UNKNOWN, function, METHOD_BUFFERED, FILE_ANY_ACCESS),
 * with functions 0x900.. (apart from the product device's 0x801..0x81C). */
#define MXSIM_CTL(function) (0x00220000u | ((uint32_t)(function) << 2))

/* --- Scripting. "in" is the input buffer, "out" the output buffer. --- */

/* Reset the whole model as at driver start: plugged in, defaults (firmware
 * 0x0104, ready word 1, replies on, version bytes 10 32 54 76 05 01, boot
 * version 07 02), empty log, transcript and images, counters zero. Open
 * handles of the product device stay open but belong to the old generation,
 * so their requests fail. in: none. out: none. */
#define MXSIM_IOCTL_RESET        MXSIM_CTL(0x900)

/* Unplug: opening \\.\mxusb-0 fails and every request on an existing handle
 * fails (also after a replug: the handle is stale). in/out: none. */
#define MXSIM_IOCTL_UNPLUG       MXSIM_CTL(0x901)

/* Replug: opening \\.\mxusb-0 works again. in/out: none. */
#define MXSIM_IOCTL_REPLUG       MXSIM_CTL(0x902)

/* Bytes for the unit to report (returned by TRANSFER_POLL / READ).
 * in: 1..MXSIM_MAX_REPORT bytes. out: none. */
#define MXSIM_IOCTL_REPORT       MXSIM_CTL(0x903)
#define MXSIM_MAX_REPORT 4096

/* The firmware word (u16 at byte 12 of the info block). in: uint32_t. */
#define MXSIM_IOCTL_SET_FIRMWARE MXSIM_CTL(0x904)

/* The IOCTL_SYNTH_READY word. in: uint32_t. */
#define MXSIM_IOCTL_SET_READY    MXSIM_CTL(0x905)

/* The reply to 0x01 0x02 '?' (6 bytes) and, if 8 bytes are given, the reply
 * to 0x01 0x02 'Q' (bytes 6 and 7). in: 6 or 8 bytes. */
#define MXSIM_IOCTL_SET_VERSION  MXSIM_CTL(0x906)

/* How the firmware answers service commands. in: uint32_t SimReplyMode
 * (SIM_REPLIES_ON, SIM_REPLIES_OFF, SIM_REPLIES_WRONG). */
#define MXSIM_IOCTL_SET_REPLIES  MXSIM_CTL(0x907)

/* The next N requests on the product device (any code) fail.
 * in: uint32_t N (0 cancels). */
#define MXSIM_IOCTL_FAIL_NEXT    MXSIM_CTL(0x908)

/* Bytes for the unit to report later, each at a time the driver records:
 * entry i becomes pending (as if given to MXSIM_IOCTL_REPORT) delay_us
 * microseconds after this request arrived, on the driver's clock. The bytes
 * are released when the next request of either device arrives at or after
 * their time, so a poll finds a byte exactly when a unit that sent it at
 * that moment would have it waiting. A benchmark measures from these times
 * how late each byte reaches an application.
 * in: 1..MXSIM_MAX_TIMED MxsimTimedByte entries, delays not decreasing, each
 * byte 0..255; they are kept after the bytes already scheduled, so the first
 * may not be due before the last one kept. out: none, or a uint64_t that
 * receives the driver's clock (microseconds) when the request arrived.
 * A schedule that would exceed MXSIM_MAX_TIMED entries is refused whole.
 * RESET drops the schedule. */
#define MXSIM_IOCTL_REPORT_TIMED MXSIM_CTL(0x915)
#define MXSIM_MAX_TIMED 1024

/* Clear the request log and/or the transcript. in: none (both) or a
 * uint32_t mask of MXSIM_CLEAR_LOG | MXSIM_CLEAR_TRANSCRIPT. */
#define MXSIM_IOCTL_CLEAR        MXSIM_CTL(0x909)
#define MXSIM_CLEAR_LOG        1u
#define MXSIM_CLEAR_TRANSCRIPT 2u

/* --- Reading. --- */

/* The state counters. in: none. out: MxsimState (at least its size). */
#define MXSIM_IOCTL_GET_STATE    MXSIM_CTL(0x910)

/* The request log, from an index, in chunks. in: uint32_t first index.
 * out: MxsimLogChunk header followed by as many entries as fit (at most
 * MXSIM_LOG_CHUNK); bytes-returned covers the header and `count` entries. */
#define MXSIM_IOCTL_GET_LOG      MXSIM_CTL(0x911)
#define MXSIM_LOG_CHUNK 64

/* Byte images, from an offset, in chunks: in: uint32_t offset. out:
 * MxsimBlob header followed by `count` bytes (as many as fit the output
 * buffer). The transcript is the spoken text, texts separated by '\n'. */
#define MXSIM_IOCTL_GET_TRANSCRIPT MXSIM_CTL(0x912)
#define MXSIM_IOCTL_GET_DICT       MXSIM_CTL(0x913) /* the last user dictionary */
#define MXSIM_IOCTL_GET_BOOT       MXSIM_CTL(0x914) /* the boot image */

#ifndef MXSIM_CONTROL_NAMES_ONLY

/* Output of MXSIM_IOCTL_GET_STATE. `size` is sizeof(MxsimState) as the
 * driver knows it; a client checks it against its own. */
typedef struct MxsimState {
    uint32_t size;
    uint32_t present;            /* 1 = plugged in */
    uint32_t generation;         /* bumped by every unplug */
    uint32_t open_count;         /* successful opens of \\.\mxusb-0 since reset */
    uint32_t open_handles;       /* product handles open now (any generation) */
    uint32_t language;           /* 0..5 */
    uint32_t boot_monitor;
    uint32_t boot_strap;
    uint32_t paused;
    uint32_t baud;               /* 19200 or 57600 */
    uint32_t resets;             /* out-of-band 7 count */
    uint32_t next_index;
    uint32_t dict_length;
    uint32_t dict_committed;
    uint32_t boot_length;
    uint32_t boot_downloads;
    uint32_t read_requests;      /* 0x01 0x02 'R' requests seen */
    uint8_t read_request[8];     /* the 8 digit values of the last one */
    uint32_t pending;            /* bytes waiting to be reported */
    uint32_t firmware;
    uint32_t ready_word;
    uint32_t reply_mode;         /* SimReplyMode */
    uint32_t fail_next;          /* failures still to come */
    uint8_t version_reply[6];
    uint8_t boot_version_reply[2];
    uint32_t log_count;          /* entries in the log */
    uint32_t log_dropped;        /* requests not logged because it was full */
    uint32_t transcript_length;
    uint32_t requests;           /* product-device requests since driver start (never reset) */
    uint32_t text_length;        /* bytes of the text being collected (not yet closed by 0x0B) */
} MxsimState;

/* One entry of MXSIM_IOCTL_REPORT_TIMED. */
typedef struct MxsimTimedByte {
    uint32_t delay_us; /* after the request's arrival */
    uint32_t byte;     /* 0..255 */
} MxsimTimedByte;

/* Output header of MXSIM_IOCTL_GET_LOG. */
typedef struct MxsimLogChunk {
    uint32_t total;     /* log_count at the time of the request */
    uint32_t dropped;   /* log_dropped */
    uint32_t first;     /* index of entries[0] (the requested index) */
    uint32_t count;     /* entries returned */
    struct SimLogEntry entries[1]; /* really `count` entries */
} MxsimLogChunk;
#define MXSIM_LOG_CHUNK_HEADER 16u
#define MXSIM_LOG_CHUNK_SIZE(n) (MXSIM_LOG_CHUNK_HEADER + (uint32_t)(n) * (uint32_t)sizeof(struct SimLogEntry))

/* Output header of the byte image requests. */
typedef struct MxsimBlob {
    uint32_t total;     /* length of the whole image */
    uint32_t offset;    /* the requested offset */
    uint32_t count;     /* bytes returned after the header */
    uint8_t data[1];    /* really `count` bytes */
} MxsimBlob;
#define MXSIM_BLOB_HEADER 12u

#endif /* MXSIM_CONTROL_NAMES_ONLY */

#endif /* MXSIM_CONTROL_H */
