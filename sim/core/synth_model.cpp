/*
 * synth_model.cpp - the simulated mxusb driver and the firmware behind it.
 *
 * Freestanding: the same object code links into the kernel driver host, so
 * this file calls nothing (not even memcpy or memset; the copy loops are our
 * own), allocates nothing and keeps no state outside the SimModel it is given. The rules it follows are
 * listed in synth_model.h; the comments here only say how.
 */
#include "synth_model.h"
#include "mxusb_protocol.h"

namespace {

/* Firmware parse states (SimModel::parse_state). */
enum ParseState : uint32_t {
    PARSE_TEXT = 0,      /* text bytes and single-byte commands */
    PARSE_LEAD,          /* after 0x01 */
    PARSE_SERVICE,       /* after 0x01 0x02 */
    PARSE_READ_ARGS,     /* collecting the 8 values after 0x01 0x02 'R' */
    PARSE_LANGUAGE,      /* after 0x01 'l' */
    PARSE_DICT_LO,       /* after 0x01 'u' */
    PARSE_DICT_HI,
    PARSE_DICT_DATA      /* collecting dict_expected bytes */
};

/* The info block's fixed fields (a USB device descriptor). */
const uint16_t INFO_USB_RELEASE = 0x0110;
const uint16_t INFO_VENDOR = 0x4D58;
const uint16_t INFO_PRODUCT = 0x0001;

void fill(uint8_t *dst, uint8_t value, uint32_t n)
{
    /* volatile keeps the compiler from turning this into a memset call */
    volatile uint8_t *d = dst;
    for (uint32_t i = 0; i < n; i++)
        d[i] = value;
}

/* Zeroes a whole model, a word at a time (the model is about 1 MB). */
void zero_model(SimModel *m)
{
    static_assert(sizeof(SimModel) % sizeof(uint64_t) == 0, "the model is a whole number of words");
    volatile uint64_t *d = (uint64_t *)m;
    for (uint32_t i = 0; i < sizeof(SimModel) / sizeof(uint64_t); i++)
        d[i] = 0;
}

void copy(uint8_t *dst, const uint8_t *src, uint32_t n)
{
    volatile uint8_t *d = dst;
    for (uint32_t i = 0; i < n; i++)
        d[i] = src[i];
}

uint32_t min_u32(uint32_t a, uint32_t b) { return a < b ? a : b; }

void put_u16(uint8_t *p, uint32_t v)
{
    p[0] = (uint8_t)(v & 0xFF);
    p[1] = (uint8_t)((v >> 8) & 0xFF);
}

/* ---- the report queue (bytes the host fetches with POLL/READ) ---- */

void report_byte(SimModel *m, uint8_t b)
{
    if (m->report_count >= SIM_REPORT_CAPACITY) {
        m->report_dropped++;
        return;
    }
    uint32_t tail = (m->report_head + m->report_count) % SIM_REPORT_CAPACITY;
    m->report[tail] = b;
    m->report_count++;
}

uint8_t take_report_byte(SimModel *m)
{
    uint8_t b = m->report[m->report_head];
    m->report_head = (m->report_head + 1) % SIM_REPORT_CAPACITY;
    m->report_count--;
    return b;
}

/* A service reply: nothing when replies are off. */
void reply(SimModel *m, uint8_t right, uint8_t wrong)
{
    if (m->reply_mode == SIM_REPLIES_OFF)
        return;
    report_byte(m, m->reply_mode == SIM_REPLIES_WRONG ? wrong : right);
}

/* A wrong version byte that still reaches the application (never 0xFF). */
uint8_t wrong_version_byte(uint8_t b)
{
    uint8_t w = (uint8_t)(b + 1);
    return w == SYNTH_NO_BYTE ? 0 : w;
}

/* ---- the firmware ---- */

void end_text(SimModel *m)
{
    if (m->text_length == 0)
        return; /* an empty text is not spoken: no transcript line, no index */
    for (uint32_t i = 0; i < m->text_length + 1; i++) {
        uint8_t b = i < m->text_length ? m->text[i] : (uint8_t)'\n';
        if (m->transcript_length < SIM_TRANSCRIPT_CAPACITY)
            m->transcript[m->transcript_length++] = b;
        else
            m->transcript_dropped++;
    }
    m->text_length = 0;
    m->texts_spoken++;
    report_byte(m, (uint8_t)m->next_index);
    m->next_index = m->next_index >= 254 ? 1 : m->next_index + 1;
}

void dict_complete(SimModel *m)
{
    uint32_t sum = m->dict_sum & 0xFFFF;
    uint32_t wrong = (sum + 1) & 0xFFFF;
    reply(m, (uint8_t)(sum & 0xFF), (uint8_t)(wrong & 0xFF));
    reply(m, (uint8_t)(sum >> 8), (uint8_t)(wrong >> 8));
    m->dict_loads++;
    m->after_dict = 1;
    m->parse_state = PARSE_TEXT;
}

void service(SimModel *m, uint8_t b)
{
    m->parse_state = PARSE_TEXT;
    switch (b) {
    case SYNTH_SVC_VERSION:
        for (int i = 0; i < 6; i++)
            reply(m, m->version_reply[i], wrong_version_byte(m->version_reply[i]));
        break;
    case SYNTH_SVC_BOOT_VERSION:
        for (int i = 0; i < 2; i++)
            reply(m, m->boot_version_reply[i], wrong_version_byte(m->boot_version_reply[i]));
        break;
    case SYNTH_SVC_BOOT_MONITOR:
        m->boot_monitor = 1;
        break;
    case SYNTH_SVC_NORMAL:
        m->boot_monitor = 0;
        break;
    case SYNTH_SVC_READ:
        m->read_args = 0;
        m->parse_state = PARSE_READ_ARGS;
        break;
    default:
        m->unknown_bytes++;
        break;
    }
}

void in_band(SimModel *m, uint8_t b)
{
    if (m->boot_receiving) {
        if (m->boot_length < SIM_BOOT_CAPACITY)
            m->boot_image[m->boot_length] = b;
        m->boot_length++;
        return;
    }

    switch (m->parse_state) {
    case PARSE_LEAD:
        if (b == SYNTH_CMD_SERVICE) {
            m->parse_state = PARSE_SERVICE;
        } else if (b == SYNTH_CMD_LANGUAGE) {
            m->parse_state = PARSE_LANGUAGE;
        } else if (b == SYNTH_CMD_USER_DICT) {
            m->parse_state = PARSE_DICT_LO;
        } else {
            m->unknown_bytes++;
            m->parse_state = PARSE_TEXT;
        }
        return;
    case PARSE_SERVICE:
        service(m, b);
        return;
    case PARSE_READ_ARGS:
        m->read_request[m->read_args++] = b;
        if (m->read_args == 8) {
            m->read_requests++;
            m->parse_state = PARSE_TEXT;
        }
        return;
    case PARSE_LANGUAGE:
        if (b >= '0' && b < '0' + SYNTH_LANGUAGE_COUNT)
            m->language = (uint32_t)(b - '0');
        else
            m->unknown_bytes++;
        m->parse_state = PARSE_TEXT;
        return;
    case PARSE_DICT_LO:
        m->dict_expected = b;
        m->parse_state = PARSE_DICT_HI;
        return;
    case PARSE_DICT_HI:
        m->dict_expected |= (uint32_t)b << 8;
        m->dict_length = 0;
        m->dict_sum = 0;
        m->dict_committed = 0;
        if (m->dict_expected == 0)
            dict_complete(m);
        else
            m->parse_state = PARSE_DICT_DATA;
        return;
    case PARSE_DICT_DATA:
        if (m->dict_length < SIM_DICT_CAPACITY)
            m->dict[m->dict_length] = b;
        m->dict_length++;
        m->dict_sum = (m->dict_sum + b) & 0xFFFF;
        if (m->dict_length == m->dict_expected)
            dict_complete(m);
        return;
    default:
        break;
    }

    /* PARSE_TEXT. One-shot states first: they apply to this byte only. */
    uint32_t after_reset = m->after_reset, after_dict = m->after_dict;
    m->after_reset = 0;
    m->after_dict = 0;
    if (after_reset && b == SYNTH_CMD_BOOTSTRAP) {
        m->boot_strap = 1;
        m->boot_strap_entries++;
        reply(m, SYNTH_REPLY_PROMPT, '?');
        return;
    }
    if (after_dict && b == SYNTH_CMD_COMMIT) {
        m->dict_committed = 1;
        reply(m, SYNTH_REPLY_COMMIT, 'x');
        return;
    }

    switch (b) {
    case SYNTH_CMD_LEAD:
        m->parse_state = PARSE_LEAD;
        break;
    case SYNTH_STOP_TEXT:
        m->text_length = 0;
        break;
    case SYNTH_END_OF_TEXT:
        end_text(m);
        break;
    case SYNTH_PAUSE:
        m->paused = 1;
        break;
    case SYNTH_RESUME:
        m->paused = 0;
        break;
    default:
        if (m->text_length < SIM_TEXT_CAPACITY)
            m->text[m->text_length++] = b;
        else
            m->text_dropped++;
        break;
    }
}

void out_of_band(SimModel *m, uint8_t b)
{
    switch (b) {
    case SYNTH_OOB_BAUD_57600:
        m->baud = 57600;
        break;
    case SYNTH_OOB_BAUD_19200:
        m->baud = 19200;
        break;
    case SYNTH_OOB_STOP:
        m->stops++;
        m->text_length = 0;
        break;
    case SYNTH_OOB_RESET:
        m->resets++;
        m->after_reset = 1;
        m->after_dict = 0;
        m->parse_state = PARSE_TEXT;
        m->text_length = 0;
        m->paused = 0;
        m->boot_strap = 0;
        m->boot_receiving = 0;
        break;
    case SYNTH_OOB_BOOT_BEGIN:
        if (m->boot_strap) {
            m->boot_receiving = 1;
            m->boot_length = 0;
        } else {
            m->unknown_bytes++;
        }
        break;
    case SYNTH_OOB_BOOT_END:
        if (m->boot_receiving) {
            m->boot_receiving = 0;
            m->boot_downloads++;
        }
        break;
    default:
        m->unknown_bytes++;
        break;
    }
}

/* ---- the driver ---- */

void log_request(SimModel *m, uint64_t now_us, uint32_t code, uint32_t mode,
                 const uint8_t *data, uint32_t length, int ok, int busy)
{
    if (m->log_count >= SIM_LOG_CAPACITY) {
        m->log_dropped++;
        return;
    }
    SimLogEntry *e = &m->log[m->log_count++];
    fill((uint8_t *)e, 0, sizeof *e);
    e->time_us = now_us;
    e->code = code;
    e->mode = mode;
    e->length = length;
    if (data)
        copy(e->data, data, min_u32(length, SIM_LOG_DATA));
    e->ok = ok ? 1 : 0;
    e->busy = busy ? 1 : 0;
}

SimResult transfer(SimModel *m, TransferHeader *h, int in_writable, uint8_t *out,
                   uint32_t out_len, int *busy)
{
    SimResult r = {0, 0};
    switch (h->mode) {
    case TRANSFER_DATA:
        if (out_len < 1 || out_len > SYNTH_MAX_TRANSFER)
            return r;
        if (in_writable && m->busy_next > 0) {
            m->busy_next--;
            h->busy = 1;
            *busy = 1;
            r.ok = 1;
            return r;
        }
        if (in_writable)
            h->busy = 0;
        for (uint32_t i = 0; i < out_len; i++)
            in_band(m, out[i]);
        r.ok = 1;
        return r;
    case TRANSFER_IMMEDIATE:
        if (out_len != 1)
            return r;
        out_of_band(m, out[0]);
        r.ok = 1;
        return r;
    case TRANSFER_POLL:
        if (out_len != 1 || out[0] != SYNTH_POLL_BYTE)
            return r;
        r.ok = 1;
        r.bytes_returned = min_u32(m->report_count, SYNTH_MAX_READ);
        return r;
    default:
        return r;
    }
}

} // namespace

extern "C" {

void sim_init(SimModel *m)
{
    zero_model(m);
    m->present = 1;
    m->firmware = 0x0104;
    m->ready_word = 1;
    m->reply_mode = SIM_REPLIES_ON;
    m->version_reply[0] = 0x10; /* engine 0x76543210, USB firmware 0x0105 */
    m->version_reply[1] = 0x32;
    m->version_reply[2] = 0x54;
    m->version_reply[3] = 0x76;
    m->version_reply[4] = 0x05;
    m->version_reply[5] = 0x01;
    m->boot_version_reply[0] = 0x07;
    m->boot_version_reply[1] = 0x02;
    m->baud = 19200;
    m->next_index = 1;
}

int sim_open(SimModel *m, uint64_t now_us, uint32_t *generation_out)
{
    if (!m->present) {
        m->open_failures++;
        return 0;
    }
    m->open_count++;
    m->open_handles++;
    if (generation_out)
        *generation_out = m->generation;
    log_request(m, now_us, SIM_LOG_OPEN, 0, 0, 0, 1, 0);
    return 1;
}

void sim_close(SimModel *m, uint64_t now_us, uint32_t generation)
{
    (void)generation; /* a handle of an older generation is still an open handle */
    if (m->open_handles > 0)
        m->open_handles--;
    log_request(m, now_us, SIM_LOG_CLOSE, 0, 0, 0, 1, 0);
}

SimResult sim_request(SimModel *m, uint64_t now_us, uint32_t generation,
                      uint32_t code, void *in, uint32_t in_len, int in_writable,
                      void *out, uint32_t out_len)
{
    SimResult r = {0, 0};
    uint8_t *outb = (uint8_t *)out;
    if (!outb)
        out_len = 0;
    TransferHeader *h = (in && in_len >= sizeof(TransferHeader)) ? (TransferHeader *)in : 0;
    int has_header = code == IOCTL_SYNTH_TRANSFER || code == IOCTL_SYNTH_READ;
    uint32_t mode = has_header && h ? h->mode : 0;
    int busy = 0;
    /* What the log shows as data: the bytes sent for a TRANSFER, the bytes
     * delivered for a READ (filled in below), nothing otherwise. */
    const uint8_t *log_data = code == IOCTL_SYNTH_TRANSFER ? outb : 0;
    uint32_t log_length = code == IOCTL_SYNTH_TRANSFER ? out_len : 0;

    if (!m->present || generation != m->generation) {
        /* unplugged, or a handle from before the last unplug */
    } else if (m->fail_next > 0) {
        m->fail_next--;
    } else if (code == IOCTL_SYNTH_GET_INFO) {
        if (out_len >= SYNTH_INFO_SIZE) {
            uint8_t *d = outb;
            fill(d, 0, SYNTH_INFO_SIZE);
            d[0] = SYNTH_INFO_SIZE; /* bLength */
            d[1] = 1;               /* device descriptor */
            put_u16(d + 2, INFO_USB_RELEASE);
            d[4] = 0xFF;            /* vendor-specific class */
            d[7] = 64;              /* max packet size */
            put_u16(d + 8, INFO_VENDOR);
            put_u16(d + 10, INFO_PRODUCT);
            put_u16(d + SYNTH_INFO_FIRMWARE_OFFSET, m->firmware & 0xFFFF);
            d[14] = 1;              /* manufacturer string */
            d[15] = 2;              /* product string */
            d[17] = 1;              /* configurations */
            r.ok = 1;
            r.bytes_returned = SYNTH_INFO_SIZE;
        }
    } else if (code == IOCTL_SYNTH_READY) {
        if (out_len >= 4) {
            outb[0] = (uint8_t)(m->ready_word & 0xFF);
            outb[1] = (uint8_t)((m->ready_word >> 8) & 0xFF);
            outb[2] = (uint8_t)((m->ready_word >> 16) & 0xFF);
            outb[3] = (uint8_t)(m->ready_word >> 24);
            r.ok = 1;
            r.bytes_returned = 4;
        }
    } else if (code == IOCTL_SYNTH_TRANSFER) {
        if (h)
            r = transfer(m, h, in_writable, outb, out_len, &busy);
    } else if (code == IOCTL_SYNTH_READ) {
        if (h && h->mode == TRANSFER_READ && out_len >= 1) {
            uint32_t n = min_u32(min_u32(out_len, SYNTH_MAX_READ), m->report_count);
            for (uint32_t i = 0; i < n; i++)
                outb[i] = take_report_byte(m);
            r.ok = 1;
            r.bytes_returned = n;
            log_data = outb;
            log_length = n;
        }
    }

    if (!r.ok)
        r.bytes_returned = 0;
    log_request(m, now_us, code, mode, log_data, log_length, r.ok, busy);
    return r;
}

void sim_unplug(SimModel *m)
{
    m->present = 0;
    m->generation++;
}

void sim_replug(SimModel *m)
{
    m->present = 1;
}

void sim_report(SimModel *m, const uint8_t *bytes, uint32_t count)
{
    for (uint32_t i = 0; i < count; i++)
        report_byte(m, bytes[i]);
}

void sim_clear_log(SimModel *m)
{
    m->log_count = 0;
    m->log_dropped = 0;
}

void sim_clear_transcript(SimModel *m)
{
    m->transcript_length = 0;
    m->transcript_dropped = 0;
}

uint32_t sim_pending(const SimModel *m)
{
    return m->report_count;
}

} // extern "C"
