/*
 * synth_model.h - the simulated synthesizer: one model of the mxusb driver and
 * the firmware behind it, used unchanged by both hosts (the in-process host
 * that patches a loaded library's imports, and the kernel-mode driver host).
 *
 * Freestanding C++: no OS calls, no heap, no exceptions, no static
 * constructors, no standard library beyond <stdint.h> - the same object code
 * must link into a kernel driver. The host supplies the clock (microseconds)
 * and serialises calls (one lock around every function here).
 *
 * Where the simulated unit's replies are made (synth_model.cpp): the driver's
 * answer to each request in sim_request (TRANSFER modes in transfer()); the
 * firmware's reply bytes in service() (version bytes), dict_complete() (the
 * dictionary sum), in_band() (':' and 'f') and end_text() (the index byte),
 * all queued by report_byte() for POLL and READ to fetch.
 *
 * The driver side honours the four control codes, layouts and results of
 * mxusb_protocol.h:
 *   - every request fails while unplugged, on a handle of an older generation,
 *     and (counting down fail_next) while fail_next > 0; opens do not count
 *     against fail_next. Unknown codes, modes and too-short or missing buffers
 *     fail too: the device fails loudly on what it does not expect.
 *   - GET_INFO needs out_len >= 18; READY needs out_len >= 4. Input is ignored.
 *   - TRANSFER needs an 8-byte TransferHeader. DATA takes 1..64 bytes; while
 *     busy_next > 0 and the host can write the header (in_writable), it
 *     answers busy = 1 with success and does not take the bytes; without
 *     in_writable busy_next is left alone and the bytes are taken. IMMEDIATE
 *     takes exactly 1 byte. POLL takes exactly the byte 3 and returns
 *     min(pending, 16) as bytes returned. bytes_returned is 0 for DATA and
 *     IMMEDIATE.
 *   - READ needs the header with mode TRANSFER_READ and out_len >= 1; it
 *     delivers min(out_len, 16, pending) bytes. Reported bytes go out exactly
 *     as queued, 0xFF included.
 *   - Every request is logged (failed ones too); opens only when they succeed
 *     (failed opens count in open_failures), closes always.
 * The firmware side answers the command bytes:
 *   0x01 0x02 '?'        -> the 6 version bytes          (SimModel::version_reply)
 *   0x01 0x02 'Q'        -> the 2 boot version bytes     (SimModel::boot_version_reply)
 *                           (both answered in any mode)
 *   0x01 0x02 'B' / 'N'  -> boot monitor mode on / off
 *   0x01 0x02 'R' + 8    -> a read request (recorded; no reply)
 *   0x01 'l' n           -> language n ('0'..'5'; other values are ignored)
 *   0x01 'u' lo hi data  -> user dictionary of lo+256*hi bytes; reply sum low, sum high
 *                           (16-bit sum of the data bytes; a length of 0 answers at once)
 *   'p' as the first in-band byte after a completed dictionary load -> commit; reply 'f'
 *   'a' as the first in-band byte after an out-of-band reset (7) -> boot strap mode; reply ':'
 *   out-of-band 10 in boot strap mode -> in-band bytes go to the boot image until 11
 *     (11 ends the download; boot strap mode itself lasts until the next reset)
 *   0x03 or out-of-band 6 (stop) -> the text being collected is dropped
 *   0x0E / 0x0F -> paused on / off (recorded only: index bytes still come)
 *   out-of-band 4 / 5 -> baud 57600 / 19200
 *   out-of-band 7 (reset) -> drops the text and any half-received command,
 *     ends boot strap mode and an unfinished boot download, clears paused;
 *     keeps language, baud, boot monitor mode and the dictionary.
 *   Unknown sequences (0x01 X, 0x01 0x02 X) and out-of-band bytes are dropped
 *   and counted in unknown_bytes.
 * Index rule: every text closed by 0x0B that holds at least one byte is
 * appended to the transcript followed by '\n' and answered with one index
 * byte: a running number 1, 2, ... 254, 1, ... (never 0 and never 0xFF). An
 * empty text leaves no trace. Text bytes beyond SIM_TEXT_CAPACITY are dropped
 * (text_dropped).
 * Reply modes concern the service replies only (version bytes, dictionary
 * sum, 'f', ':'): OFF sends none, WRONG sends wrong values (see SimReplyMode);
 * index bytes come in every mode, and the commands take effect all the same.
 */
#ifndef SYNTH_MODEL_H
#define SYNTH_MODEL_H

#include <stdint.h>

#define SIM_LOG_CAPACITY        8192  /* request log entries kept (oldest kept; later ones counted as dropped) */
#define SIM_LOG_DATA            64    /* data bytes kept per log entry */
#define SIM_REPORT_CAPACITY     65536 /* bytes waiting to be reported to the host (more: report_dropped) */
#define SIM_TRANSCRIPT_CAPACITY 65536 /* spoken text kept, each text ended by '\n' (more: transcript_dropped) */
#define SIM_TEXT_CAPACITY       4096  /* the text being collected before its 0x0B */
#define SIM_DICT_CAPACITY       65536 /* user dictionary bytes kept */
#define SIM_BOOT_CAPACITY       65536 /* boot file bytes kept */

/* How the firmware answers service commands. */
enum SimReplyMode {
    SIM_REPLIES_ON = 0,    /* correct replies */
    SIM_REPLIES_OFF = 1,   /* no reply at all */
    SIM_REPLIES_WRONG = 2  /* replies with wrong values: sum+1, each version byte +1 (0xFE gives
                              0x00, never 0xFF), 'x' for 'f', '?' for ':' */
};

/* One recorded request, in arrival order. */
struct SimLogEntry {
    uint64_t time_us;       /* host clock when the request arrived */
    uint32_t code;          /* control code, or SIM_LOG_OPEN / SIM_LOG_CLOSE */
    uint32_t mode;          /* TransferHeader.mode (0 for GET_INFO/READY/open/close) */
    uint32_t length;        /* data bytes sent (TRANSFER) or returned (READ) */
    uint8_t data[SIM_LOG_DATA];
    uint8_t ok;             /* 1 = the request succeeded */
    uint8_t busy;           /* 1 = answered busy */
    uint8_t reserved[2];
};
#define SIM_LOG_OPEN  0xFFFF0001u /* a successful open of the product device */
#define SIM_LOG_CLOSE 0xFFFF0002u /* a close of a product device handle */

struct SimModel {
    /* --- scriptable by tests and tools (write directly or use the setters) --- */
    uint32_t present;              /* 1 = plugged in (sim_init sets 1) */
    uint32_t fail_next;            /* the next N requests (of any code) fail */
    uint32_t busy_next;            /* the next N TRANSFER_DATA requests answer busy */
    uint32_t firmware;             /* u16 at info byte 12 (sim_init: 0x0104) */
    uint32_t ready_word;           /* IOCTL_SYNTH_READY answer (sim_init: 1) */
    uint32_t reply_mode;           /* SimReplyMode */
    uint8_t version_reply[6];      /* sim_init: 0x10 0x32 0x54 0x76 0x05 0x01 */
    uint8_t boot_version_reply[2]; /* sim_init: 0x07 0x02 */

    /* --- observable state --- */
    uint32_t generation;           /* bumped by every unplug: handles of older generations fail */
    uint32_t open_count;           /* successful opens since sim_init */
    uint32_t open_handles;         /* handles currently open */
    uint32_t language;             /* last language selected, 0..5 */
    uint32_t boot_monitor;         /* 1 = in boot monitor mode */
    uint32_t boot_strap;           /* 1 = in boot strap mode */
    uint32_t paused;               /* 1 after 0x0E until 0x0F */
    uint32_t baud;                 /* 57600 or 19200 (sim_init: 19200) */
    uint32_t resets;               /* out-of-band 7 count */
    uint32_t next_index;           /* the running index number to report next */
    uint32_t dict_length;          /* bytes of the last user dictionary received so far */
    uint32_t dict_committed;       /* 1 once 'p' committed it */
    uint32_t boot_length;          /* boot image bytes received since the last 10 (bytes beyond SIM_BOOT_CAPACITY counted, not kept) */
    uint32_t boot_downloads;       /* completed 10..11 exchanges */
    uint8_t read_request[8];       /* the 8 digit values of the last 0x01 0x02 'R' */
    uint32_t read_requests;
    uint32_t open_failures;        /* opens refused while unplugged */
    uint32_t texts_spoken;         /* texts closed by 0x0B (and answered with an index byte) */
    uint32_t dict_loads;           /* completed 0x01 'u' loads (sum reported) */
    uint32_t stops;                /* out-of-band 6 count */
    uint32_t boot_strap_entries;   /* times boot strap mode was entered ('a' after a reset) */
    uint32_t unknown_bytes;        /* unknown sequences and out-of-band bytes, dropped */
    uint32_t text_dropped;         /* text bytes beyond SIM_TEXT_CAPACITY */
    uint32_t transcript_dropped;   /* transcript bytes beyond SIM_TRANSCRIPT_CAPACITY */
    uint32_t report_dropped;       /* reported bytes beyond SIM_REPORT_CAPACITY */

    /* --- internal (the model's own; read only for tests) --- */
    uint32_t parse_state;
    uint32_t dict_expected;
    uint32_t dict_sum;
    uint32_t after_reset;          /* 1 until the first in-band byte after an out-of-band 7 */
    uint32_t after_dict;           /* 1 right after a dictionary load completed */
    uint32_t boot_receiving;       /* 1 between out-of-band 10 and 11 */
    uint32_t read_args;            /* values of a 0x01 0x02 'R' collected so far */
    uint32_t text_length;
    uint8_t text[SIM_TEXT_CAPACITY];

    uint32_t report_head, report_count;      /* bytes waiting for POLL/READ */
    uint8_t report[SIM_REPORT_CAPACITY];

    uint32_t transcript_length;
    uint8_t transcript[SIM_TRANSCRIPT_CAPACITY];

    uint8_t dict[SIM_DICT_CAPACITY];
    uint8_t boot_image[SIM_BOOT_CAPACITY];

    uint32_t log_count, log_dropped;
    SimLogEntry log[SIM_LOG_CAPACITY];
};

/* Result of one request, as DeviceIoControl would give it. */
struct SimResult {
    int ok;                  /* nonzero = success */
    uint32_t bytes_returned;
};

#ifdef __cplusplus
extern "C" {
#endif

/* Resets the whole model: plugged in, defaults above, empty log. */
void sim_init(SimModel *m);

/* Opening and closing a handle of the product device. sim_open fails (returns
 * 0) while unplugged; otherwise it returns the generation to store with the
 * handle. Requests made with an older generation fail. */
int sim_open(SimModel *m, uint64_t now_us, uint32_t *generation_out);
void sim_close(SimModel *m, uint64_t now_us, uint32_t generation); /* any generation: open_handles-- */

/* One device I/O control request on a handle of the given generation.
 *   in/in_len:   the input buffer (TransferHeader for TRANSFER and READ).
 *                For TRANSFER_DATA the model writes busy into it when
 *                in_writable is nonzero (a driver in another process cannot).
 *   out/out_len: the output buffer (the data bytes of a TRANSFER, the
 *                buffer to fill for GET_INFO, READ and READY).
 * Every request is logged, failed ones included. */
SimResult sim_request(SimModel *m, uint64_t now_us, uint32_t generation,
                      uint32_t code, void *in, uint32_t in_len, int in_writable,
                      void *out, uint32_t out_len);

/* Scripting. */
void sim_unplug(SimModel *m);                 /* present = 0, generation++ */
void sim_replug(SimModel *m);                 /* present = 1 */
void sim_report(SimModel *m, const uint8_t *bytes, uint32_t count); /* bytes to report */
void sim_clear_log(SimModel *m);              /* also zeroes log_dropped */
void sim_clear_transcript(SimModel *m);       /* also zeroes transcript_dropped */

/* Bytes waiting to be reported. */
uint32_t sim_pending(const SimModel *m);

#ifdef __cplusplus
}
#endif

#endif /* SYNTH_MODEL_H */
