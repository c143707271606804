/*
 * mxsim_host.cpp - the OS-free half of the driver host (see mxsim_host.h):
 * the model instance, the product requests and the control codes of
 * mxsim_control.h. Freestanding like the model: no OS calls, no heap, no
 * static constructors, so it links into the kernel driver and into native
 * tests alike. The caller serialises every call.
 */
#include "mxsim_host.h"

#include "mxusb_protocol.h"
#include "synth_model.h"
#include "mxsim_control.h"

namespace {

SimModel g_model;     /* the one unit; guarded by the caller's lock */
uint32_t g_requests;  /* product requests since mxsim_host_init */

/* Timed reports (MXSIM_IOCTL_REPORT_TIMED), in the order they fall due:
 * entries [g_timed_head, g_timed_count) are still to come. */
struct TimedByte {
    uint64_t due_us;
    uint8_t byte;
};
TimedByte g_timed[MXSIM_MAX_TIMED];
uint32_t g_timed_head, g_timed_count;

void copy_bytes(void *to, const void *from, uint32_t count)
{
    __builtin_memcpy(to, from, count);
}

bool read_u32(const void *in, uint32_t in_len, uint32_t *value)
{
    if (!in || in_len < sizeof(uint32_t))
        return false;
    copy_bytes(value, in, sizeof(uint32_t));
    return true;
}

void fill_state(MxsimState *s)
{
    const SimModel &m = g_model;
    __builtin_memset(s, 0, sizeof(*s));
    s->size = sizeof(MxsimState);
    s->present = m.present;
    s->generation = m.generation;
    s->open_count = m.open_count;
    s->open_handles = m.open_handles;
    s->language = m.language;
    s->boot_monitor = m.boot_monitor;
    s->boot_strap = m.boot_strap;
    s->paused = m.paused;
    s->baud = m.baud;
    s->resets = m.resets;
    s->next_index = m.next_index;
    s->dict_length = m.dict_length;
    s->dict_committed = m.dict_committed;
    s->boot_length = m.boot_length;
    s->boot_downloads = m.boot_downloads;
    s->read_requests = m.read_requests;
    copy_bytes(s->read_request, m.read_request, sizeof(s->read_request));
    s->pending = sim_pending(&m);
    s->firmware = m.firmware;
    s->ready_word = m.ready_word;
    s->reply_mode = m.reply_mode;
    s->fail_next = m.fail_next;
    copy_bytes(s->version_reply, m.version_reply, sizeof(s->version_reply));
    copy_bytes(s->boot_version_reply, m.boot_version_reply, sizeof(s->boot_version_reply));
    s->log_count = m.log_count;
    s->log_dropped = m.log_dropped;
    s->transcript_length = m.transcript_length;
    s->requests = g_requests;
    s->text_length = m.text_length;
}

uint32_t min_u32(uint32_t a, uint32_t b) { return a < b ? a : b; }

/* A chunk of an image from `offset` into a MxsimBlob; returns bytes written. */
uint32_t copy_blob(void *out, uint32_t out_len, uint32_t offset,
                   const uint8_t *image, uint32_t length)
{
    MxsimBlob header;
    header.total = length;
    header.offset = offset;
    header.count = offset < length ? min_u32(length - offset, out_len - MXSIM_BLOB_HEADER) : 0;
    copy_bytes(out, &header, MXSIM_BLOB_HEADER);
    if (header.count)
        copy_bytes((uint8_t *)out + MXSIM_BLOB_HEADER, image + offset, header.count);
    return MXSIM_BLOB_HEADER + header.count;
}

uint32_t copy_log(void *out, uint32_t out_len, uint32_t first)
{
    MxsimLogChunk header;
    const uint32_t kept = min_u32(g_model.log_count, SIM_LOG_CAPACITY);
    uint32_t count = 0;
    if (first < kept) {
        count = min_u32(kept - first, (out_len - MXSIM_LOG_CHUNK_HEADER) / sizeof(SimLogEntry));
        count = min_u32(count, MXSIM_LOG_CHUNK);
        copy_bytes((uint8_t *)out + MXSIM_LOG_CHUNK_HEADER, &g_model.log[first],
                   count * sizeof(SimLogEntry));
    }
    header.total = g_model.log_count;
    header.dropped = g_model.log_dropped;
    header.first = first;
    header.count = count;
    copy_bytes(out, &header, MXSIM_LOG_CHUNK_HEADER);
    return MXSIM_LOG_CHUNK_SIZE(count);
}

void clear_timed()
{
    g_timed_head = g_timed_count = 0;
}

/* Hands the model every timed byte due by now, in order. */
void release_timed(uint64_t now_us)
{
    while (g_timed_head < g_timed_count && g_timed[g_timed_head].due_us <= now_us) {
        sim_report(&g_model, &g_timed[g_timed_head].byte, 1);
        ++g_timed_head;
    }
    if (g_timed_head == g_timed_count)
        clear_timed();
}

int schedule_timed(uint64_t now_us, void *buffer, uint32_t in_len, uint32_t out_len,
                   uint32_t *information)
{
    const uint32_t n = in_len / sizeof(MxsimTimedByte);
    if (!buffer || in_len == 0 || in_len % sizeof(MxsimTimedByte) || n > MXSIM_MAX_TIMED)
        return MXSIM_HOST_BAD_PARAMETER;
    if (out_len != 0 && out_len < sizeof(uint64_t))
        return MXSIM_HOST_TOO_SMALL;
    /* Check everything before keeping anything. */
    uint64_t last = g_timed_head < g_timed_count ? g_timed[g_timed_count - 1].due_us : 0;
    for (uint32_t i = 0; i < n; ++i) {
        MxsimTimedByte e;
        copy_bytes(&e, (const uint8_t *)buffer + i * sizeof e, sizeof e);
        if (e.byte > 0xFF || now_us + e.delay_us < last)
            return MXSIM_HOST_BAD_PARAMETER;
        last = now_us + e.delay_us;
    }
    if (n > MXSIM_MAX_TIMED - (g_timed_count - g_timed_head))
        return MXSIM_HOST_NO_ROOM;
    if (g_timed_head > 0) { /* move what is left to the front */
        const uint32_t left = g_timed_count - g_timed_head;
        for (uint32_t i = 0; i < left; ++i)
            g_timed[i] = g_timed[g_timed_head + i];
        g_timed_head = 0;
        g_timed_count = left;
    }
    for (uint32_t i = 0; i < n; ++i) {
        MxsimTimedByte e;
        copy_bytes(&e, (const uint8_t *)buffer + i * sizeof e, sizeof e);
        g_timed[g_timed_count].due_us = now_us + e.delay_us;
        g_timed[g_timed_count].byte = (uint8_t)e.byte;
        ++g_timed_count;
    }
    if (out_len) { /* the buffer held the input: written only now */
        copy_bytes(buffer, &now_us, sizeof now_us);
        *information = sizeof now_us;
    }
    return MXSIM_HOST_OK;
}

} // namespace

extern "C" void mxsim_host_init(void)
{
    sim_init(&g_model);
    g_requests = 0;
    clear_timed();
}

extern "C" int mxsim_host_open(uint64_t now_us, uint32_t *generation)
{
    return sim_open(&g_model, now_us, generation);
}

extern "C" void mxsim_host_close(uint64_t now_us, uint32_t generation)
{
    sim_close(&g_model, now_us, generation);
}

extern "C" int mxsim_host_request(uint64_t now_us, uint32_t generation, uint32_t code,
                                  void *in, uint32_t in_len, void *out, uint32_t out_len,
                                  uint32_t *bytes_returned)
{
    ++g_requests;
    release_timed(now_us);
    /* Only the four codes get buffers; the model logs and fails any other. */
    if (code != IOCTL_SYNTH_GET_INFO && code != IOCTL_SYNTH_READY &&
        code != IOCTL_SYNTH_TRANSFER && code != IOCTL_SYNTH_READ) {
        in = nullptr;
        in_len = 0;
        out = nullptr;
        out_len = 0;
    }
    /* in_writable = 0: the caller's header lives in another process. */
    SimResult r = sim_request(&g_model, now_us, generation, code, in, in_len, 0, out, out_len);
    *bytes_returned = r.ok ? r.bytes_returned : 0;
    return r.ok != 0;
}

extern "C" int mxsim_host_present(void)
{
    return g_model.present ? 1 : 0;
}

extern "C" int mxsim_host_control(uint64_t now_us, uint32_t code, void *buffer, uint32_t in_len,
                                  uint32_t out_len, uint32_t *information)
{
    uint32_t value = 0;
    *information = 0;
    release_timed(now_us); /* what is due is pending before anything else */
    switch (code) {
    case MXSIM_IOCTL_REPORT_TIMED:
        return schedule_timed(now_us, buffer, in_len, out_len, information);
    case MXSIM_IOCTL_RESET: {
        /* Handles still open stay open but go stale (a new generation); their
         * count is kept so that their closes balance. */
        const uint32_t generation = g_model.generation;
        const uint32_t handles = g_model.open_handles;
        sim_init(&g_model);
        clear_timed();
        g_model.generation = generation + 1;
        g_model.open_handles = handles;
        return MXSIM_HOST_OK;
    }
    case MXSIM_IOCTL_UNPLUG:
        sim_unplug(&g_model);
        return MXSIM_HOST_OK;
    case MXSIM_IOCTL_REPLUG:
        sim_replug(&g_model);
        return MXSIM_HOST_OK;
    case MXSIM_IOCTL_REPORT:
        if (!buffer || in_len == 0 || in_len > MXSIM_MAX_REPORT)
            return MXSIM_HOST_BAD_PARAMETER;
        /* Refused whole rather than cut short. */
        if (in_len > SIM_REPORT_CAPACITY - sim_pending(&g_model))
            return MXSIM_HOST_NO_ROOM;
        sim_report(&g_model, (const uint8_t *)buffer, in_len);
        return MXSIM_HOST_OK;
    case MXSIM_IOCTL_SET_FIRMWARE:
        if (!read_u32(buffer, in_len, &value))
            return MXSIM_HOST_BAD_PARAMETER;
        g_model.firmware = value;
        return MXSIM_HOST_OK;
    case MXSIM_IOCTL_SET_READY:
        if (!read_u32(buffer, in_len, &value))
            return MXSIM_HOST_BAD_PARAMETER;
        g_model.ready_word = value;
        return MXSIM_HOST_OK;
    case MXSIM_IOCTL_SET_VERSION:
        if (!buffer || (in_len != 6 && in_len != 8))
            return MXSIM_HOST_BAD_PARAMETER;
        copy_bytes(g_model.version_reply, buffer, 6);
        if (in_len == 8)
            copy_bytes(g_model.boot_version_reply, (uint8_t *)buffer + 6, 2);
        return MXSIM_HOST_OK;
    case MXSIM_IOCTL_SET_REPLIES:
        if (!read_u32(buffer, in_len, &value) || value > SIM_REPLIES_WRONG)
            return MXSIM_HOST_BAD_PARAMETER;
        g_model.reply_mode = value;
        return MXSIM_HOST_OK;
    case MXSIM_IOCTL_FAIL_NEXT:
        if (!read_u32(buffer, in_len, &value))
            return MXSIM_HOST_BAD_PARAMETER;
        g_model.fail_next = value;
        return MXSIM_HOST_OK;
    case MXSIM_IOCTL_CLEAR:
        if (in_len == 0)
            value = MXSIM_CLEAR_LOG | MXSIM_CLEAR_TRANSCRIPT;
        else if (!read_u32(buffer, in_len, &value) ||
                 (value & ~(MXSIM_CLEAR_LOG | MXSIM_CLEAR_TRANSCRIPT)))
            return MXSIM_HOST_BAD_PARAMETER;
        if (value & MXSIM_CLEAR_LOG)
            sim_clear_log(&g_model);
        if (value & MXSIM_CLEAR_TRANSCRIPT)
            sim_clear_transcript(&g_model);
        return MXSIM_HOST_OK;
    case MXSIM_IOCTL_GET_STATE:
        if (!buffer || out_len < sizeof(MxsimState))
            return MXSIM_HOST_TOO_SMALL;
        fill_state((MxsimState *)buffer);
        *information = sizeof(MxsimState);
        return MXSIM_HOST_OK;
    case MXSIM_IOCTL_GET_LOG:
        if (!read_u32(buffer, in_len, &value))
            return MXSIM_HOST_BAD_PARAMETER;
        if (out_len < MXSIM_LOG_CHUNK_HEADER)
            return MXSIM_HOST_TOO_SMALL;
        *information = copy_log(buffer, out_len, value);
        return MXSIM_HOST_OK;
    case MXSIM_IOCTL_GET_TRANSCRIPT:
    case MXSIM_IOCTL_GET_DICT:
    case MXSIM_IOCTL_GET_BOOT:
        if (!read_u32(buffer, in_len, &value))
            return MXSIM_HOST_BAD_PARAMETER;
        if (out_len < MXSIM_BLOB_HEADER)
            return MXSIM_HOST_TOO_SMALL;
        if (code == MXSIM_IOCTL_GET_TRANSCRIPT)
            *information = copy_blob(buffer, out_len, value, g_model.transcript,
                                     min_u32(g_model.transcript_length, SIM_TRANSCRIPT_CAPACITY));
        else if (code == MXSIM_IOCTL_GET_DICT)
            *information = copy_blob(buffer, out_len, value, g_model.dict,
                                     min_u32(g_model.dict_length, SIM_DICT_CAPACITY));
        else
            *information = copy_blob(buffer, out_len, value, g_model.boot_image,
                                     min_u32(g_model.boot_length, SIM_BOOT_CAPACITY));
        return MXSIM_HOST_OK;
    default:
        return MXSIM_HOST_UNKNOWN;
    }
}
