/*
 * mxusb_protocol.h - the wire contract between the access library and the
 * mxusb driver: device name, control codes, the transfer header and its modes,
 * and the command bytes the synthesizer firmware understands.
 *
 * Shared by the library (lib/), the simulated synthesizer (sim/) and the tools
 * and tests that talk to either. Plain C, no OS headers needed, so the kernel
 * driver host and native unit tests can include it too.
 */
#ifndef MXUSB_PROTOCOL_H
#define MXUSB_PROTOCOL_H

#include <stdint.h>

/* The product device, as user mode opens it. */
#define MXUSB_DEVICE_PATH_A  "\\\\.\\mxusb-0"
#define MXUSB_DEVICE_PATH_W L"\\\\.\\mxusb-0"

/* Device I/O control codes: device type 0x22 (FILE_DEVICE_UNKNOWN), any access.
 *   GET_INFO  function 0x801, buffered:   no input, 18-byte info block out
 *   TRANSFER  function 0x814, direct in:  TransferHeader in, 1..64 data bytes
 *   READ      function 0x813, direct out: TransferHeader in, up to 16 bytes out
 *   READY     function 0x81C, buffered:   no input, 4-byte status word out  */
#define IOCTL_SYNTH_GET_INFO 0x222004u
#define IOCTL_SYNTH_TRANSFER 0x222051u
#define IOCTL_SYNTH_READ     0x22204Eu
#define IOCTL_SYNTH_READY    0x222070u

/* Size of the info block; the firmware version is the little-endian u16 at
 * byte 12 (the block is laid out as a USB device descriptor, byte 12 being
 * its device release number). */
#define SYNTH_INFO_SIZE            18
#define SYNTH_INFO_FIRMWARE_OFFSET 12

#define SYNTH_MAX_TRANSFER 64 /* data bytes in one TRANSFER request */
#define SYNTH_MAX_READ     16 /* bytes one READ request delivers */

/* Input block of TRANSFER and READ requests. The caller sets mode; the
 * driver writes busy on a transfer (nonzero = the device did not take it). */
typedef struct TransferHeader {
    uint32_t mode;
    uint32_t busy;
} TransferHeader;

enum TransferMode {
    TRANSFER_DATA = 0,      /* bytes into the synthesizer's input stream */
    TRANSFER_IMMEDIATE = 1, /* one out-of-band control byte */
    TRANSFER_POLL = 2,      /* one byte of value 3; bytes-returned = bytes pending */
    TRANSFER_READ = 3       /* with IOCTL_SYNTH_READ: received bytes come back */
};

#define SYNTH_POLL_BYTE 3

/* A received 0xFF means "nothing" and is never passed on. */
#define SYNTH_NO_BYTE 0xFF

/* In-band bytes (TRANSFER_DATA). */
#define SYNTH_CMD_LEAD      0x01 /* 0x01 'l' n, 0x01 'u' lo hi data, 0x01 0x02 X */
#define SYNTH_CMD_SERVICE   0x02 /* second byte of 0x01 0x02 X */
#define SYNTH_STOP_TEXT     0x03 /* precedes a language switch; halts index collection */
#define SYNTH_END_OF_TEXT   0x0B /* closes a text */
#define SYNTH_PAUSE         0x0E
#define SYNTH_RESUME        0x0F
#define SYNTH_CMD_LANGUAGE  'l'  /* 0x01 'l' ('0' + n) */
#define SYNTH_CMD_USER_DICT 'u'  /* 0x01 'u' lo hi data; reply: sum low, sum high */
#define SYNTH_CMD_COMMIT    'p'  /* commit a loaded dictionary; reply 'f' */
#define SYNTH_CMD_BOOTSTRAP 'a'  /* enter boot strap mode; reply ':' */
#define SYNTH_SVC_BOOT_MONITOR 'B'
#define SYNTH_SVC_NORMAL       'N'
#define SYNTH_SVC_READ         'R' /* + 8 digit values */
#define SYNTH_SVC_VERSION      '?' /* reply: 6 version bytes */
#define SYNTH_SVC_BOOT_VERSION 'Q' /* reply: 2 version bytes (boot monitor mode) */
#define SYNTH_REPLY_PROMPT  ':'
#define SYNTH_REPLY_COMMIT  'f'

/* Out-of-band bytes (TRANSFER_IMMEDIATE). */
#define SYNTH_OOB_BAUD_57600 4
#define SYNTH_OOB_BAUD_19200 5
#define SYNTH_OOB_STOP       6
#define SYNTH_OOB_RESET      7
#define SYNTH_OOB_BOOT_BEGIN 10
#define SYNTH_OOB_BOOT_END   11

#define SYNTH_LANGUAGE_COUNT 6

#endif /* MXUSB_PROTOCOL_H */
