/*
 * The simulated synthesizer's core model, driven directly as the driver
 * hosts drive it: requests with headers and buffers, the firmware's answers,
 * the scripting fields, the log.
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "mxusb_protocol.h"
#include "synth_model.h"

namespace {

typedef std::vector<uint8_t> Bytes;

/* A model with one open handle, and one-line requests on it. */
class Unit {
public:
    std::unique_ptr<SimModel> m{new SimModel};
    uint32_t gen = 0;
    uint64_t clock = 1000;

    Unit()
    {
        sim_init(m.get());
        EXPECT_TRUE(sim_open(m.get(), clock, &gen));
    }

    SimResult request(uint32_t code, void *in, uint32_t in_len, void *out, uint32_t out_len,
                      int in_writable = 1)
    {
        return sim_request(m.get(), ++clock, gen, code, in, in_len, in_writable, out, out_len);
    }
    SimResult transfer(uint32_t mode, Bytes data, uint32_t *busy = nullptr, int in_writable = 1)
    {
        TransferHeader h = {mode, 0xAAAA};
        SimResult r = request(IOCTL_SYNTH_TRANSFER, &h, sizeof h, data.data(),
                              (uint32_t)data.size(), in_writable);
        if (busy)
            *busy = h.busy;
        return r;
    }
    /* In-band bytes in transfers of at most 64. */
    void send(const Bytes &data)
    {
        for (size_t i = 0; i < data.size(); i += SYNTH_MAX_TRANSFER) {
            size_t n = std::min<size_t>(SYNTH_MAX_TRANSFER, data.size() - i);
            ASSERT_TRUE(transfer(TRANSFER_DATA, Bytes(data.begin() + i, data.begin() + i + n)).ok);
        }
    }
    void send(const std::string &s) { send(Bytes(s.begin(), s.end())); }
    void oob(uint8_t b) { ASSERT_TRUE(transfer(TRANSFER_IMMEDIATE, {b}).ok); }
    uint32_t poll()
    {
        SimResult r = transfer(TRANSFER_POLL, {SYNTH_POLL_BYTE});
        EXPECT_TRUE(r.ok);
        return r.bytes_returned;
    }
    Bytes read(uint32_t out_len = SYNTH_MAX_READ)
    {
        TransferHeader h = {TRANSFER_READ, 0};
        uint8_t buf[64] = {};
        SimResult r = request(IOCTL_SYNTH_READ, &h, sizeof h, buf, out_len);
        EXPECT_TRUE(r.ok);
        return Bytes(buf, buf + r.bytes_returned);
    }
    /* Everything reported, read as the library reads it. */
    Bytes replies()
    {
        Bytes all;
        while (poll() > 0) {
            Bytes b = read();
            all.insert(all.end(), b.begin(), b.end());
        }
        return all;
    }
    std::string transcript() const
    {
        return std::string((const char *)m->transcript, m->transcript_length);
    }
    const SimLogEntry &last_log() const { return m->log[m->log_count - 1]; }
};

TEST(SimDriver, InfoAndReadyWords)
{
    Unit u;
    u.m->firmware = 0x0105;
    u.m->ready_word = 0x12345678;
    uint8_t info[32];
    memset(info, 0xCC, sizeof info);
    SimResult r = u.request(IOCTL_SYNTH_GET_INFO, nullptr, 0, info, sizeof info);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.bytes_returned, 18u);
    EXPECT_EQ(info[0], 18) << "bLength";
    EXPECT_EQ(info[12] | info[13] << 8, 0x0105) << "firmware word, little-endian";
    EXPECT_EQ(info[18], 0xCC) << "nothing written beyond 18 bytes";
    uint8_t w[4];
    r = u.request(IOCTL_SYNTH_READY, nullptr, 0, w, 4);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.bytes_returned, 4u);
    EXPECT_EQ(w[0] | w[1] << 8 | w[2] << 16 | (uint32_t)w[3] << 24, 0x12345678u);
}

TEST(SimDriver, MalformedRequestsFailLoudly)
{
    Unit u;
    uint8_t data[65] = {'a'};
    TransferHeader h = {TRANSFER_DATA, 0};
    struct Case {
        const char *what;
        uint32_t code;
        void *in;
        uint32_t in_len, mode, out_len;
        uint8_t first;
    } cases[] = {
        {"info into 17 bytes", IOCTL_SYNTH_GET_INFO, nullptr, 0, 0, 17, 0},
        {"ready into 3 bytes", IOCTL_SYNTH_READY, nullptr, 0, 0, 3, 0},
        {"unknown code", 0x222000, &h, 8, TRANSFER_DATA, 1, 'a'},
        {"transfer without header", IOCTL_SYNTH_TRANSFER, nullptr, 0, TRANSFER_DATA, 1, 'a'},
        {"transfer with 7-byte header", IOCTL_SYNTH_TRANSFER, &h, 7, TRANSFER_DATA, 1, 'a'},
        {"no data", IOCTL_SYNTH_TRANSFER, &h, 8, TRANSFER_DATA, 0, 'a'},
        {"65 data bytes", IOCTL_SYNTH_TRANSFER, &h, 8, TRANSFER_DATA, 65, 'a'},
        {"immediate of 2 bytes", IOCTL_SYNTH_TRANSFER, &h, 8, TRANSFER_IMMEDIATE, 2, 7},
        {"poll with byte 4", IOCTL_SYNTH_TRANSFER, &h, 8, TRANSFER_POLL, 1, 4},
        {"read mode on transfer", IOCTL_SYNTH_TRANSFER, &h, 8, TRANSFER_READ, 1, 'a'},
        {"unknown mode", IOCTL_SYNTH_TRANSFER, &h, 8, 9, 1, 'a'},
        {"read in poll mode", IOCTL_SYNTH_READ, &h, 8, TRANSFER_POLL, 16, 0},
        {"read into 0 bytes", IOCTL_SYNTH_READ, &h, 8, TRANSFER_READ, 0, 0},
    };
    for (const Case &c : cases) {
        h.mode = c.mode;
        data[0] = c.first;
        SimResult r = u.request(c.code, c.in, c.in_len, data, c.out_len);
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_EQ(r.bytes_returned, 0u) << c.what;
        EXPECT_EQ(u.last_log().ok, 0) << c.what << ": failed requests are logged";
    }
    EXPECT_EQ(u.m->resets, 0u) << "the immediate 7 must not have been taken";
    EXPECT_EQ(u.m->text_length, 0u) << "no data byte must have been taken";
    h.mode = TRANSFER_DATA;
    EXPECT_TRUE(u.request(IOCTL_SYNTH_TRANSFER, &h, 8, data, 64).ok) << "64 bytes is the maximum";
}

TEST(SimDriver, PollAndReadDeliverPendingBytesInOrder)
{
    Unit u;
    EXPECT_EQ(u.poll(), 0u);
    EXPECT_EQ(u.read().size(), 0u) << "a read with nothing pending succeeds empty";

    Bytes sent;
    for (int i = 0; i < 20; i++)
        sent.push_back((uint8_t)(0xF0 + i)); /* 0xFF among them: reported as is */
    sim_report(u.m.get(), sent.data(), (uint32_t)sent.size());
    EXPECT_EQ(sim_pending(u.m.get()), 20u);
    EXPECT_EQ(u.poll(), 16u) << "poll reports at most 16";
    Bytes got = u.read(2);
    EXPECT_EQ(got, Bytes(sent.begin(), sent.begin() + 2)) << "read limited by the buffer";
    got = u.read(64);
    EXPECT_EQ(got.size(), 16u) << "read limited to 16";
    EXPECT_EQ(u.last_log().length, 16u);
    EXPECT_EQ(u.last_log().data[13], 0xFF) << "the log shows the bytes delivered";
    EXPECT_EQ(u.poll(), 2u);
    got = u.read();
    EXPECT_EQ(got, Bytes({sent[18], sent[19]}));
    EXPECT_EQ(u.poll(), 0u);
}

TEST(SimDriver, BusyNextAndFailNextCountDown)
{
    Unit u;
    uint32_t busy = 0;
    u.m->busy_next = 2;
    for (int i = 0; i < 3; i++) {
        EXPECT_TRUE(u.transfer(TRANSFER_DATA, {'a', 0x0B}, &busy).ok);
        EXPECT_EQ(busy, i < 2 ? 1u : 0u) << "attempt " << i;
        EXPECT_EQ(u.last_log().busy, busy) << "attempt " << i;
        EXPECT_EQ(u.m->texts_spoken, i < 2 ? 0u : 1u) << "busy transfers must not be taken";
    }
    /* A driver in another process cannot write the header: data is taken. */
    u.m->busy_next = 1;
    EXPECT_TRUE(u.transfer(TRANSFER_DATA, {'b', 0x0B}, &busy, 0).ok);
    EXPECT_EQ(busy, 0xAAAAu) << "header must stay untouched";
    EXPECT_EQ(u.m->texts_spoken, 2u);

    u.m->fail_next = 2;
    uint8_t info[18];
    uint32_t g;
    EXPECT_FALSE(u.transfer(TRANSFER_IMMEDIATE, {SYNTH_OOB_RESET}).ok);
    EXPECT_TRUE(sim_open(u.m.get(), 0, &g)) << "opens do not count against fail_next";
    EXPECT_FALSE(u.request(IOCTL_SYNTH_GET_INFO, nullptr, 0, info, 18).ok);
    EXPECT_TRUE(u.request(IOCTL_SYNTH_GET_INFO, nullptr, 0, info, 18).ok);
    EXPECT_EQ(u.m->resets, 0u) << "a failed request has no effect";
}

TEST(SimDriver, UnplugMakesOldHandlesStaleForGood)
{
    Unit u;
    uint8_t info[18];
    u.m->fail_next = 1;
    sim_unplug(u.m.get());
    uint32_t old = u.gen;
    EXPECT_FALSE(sim_open(u.m.get(), 5, &u.gen));
    EXPECT_EQ(u.m->open_failures, 1u);
    EXPECT_FALSE(u.request(IOCTL_SYNTH_GET_INFO, nullptr, 0, info, 18).ok);
    EXPECT_EQ(u.m->fail_next, 1u) << "requests while unplugged do not use up fail_next";
    u.m->fail_next = 0;

    sim_replug(u.m.get());
    EXPECT_FALSE(u.request(IOCTL_SYNTH_GET_INFO, nullptr, 0, info, 18).ok)
        << "a handle of the old generation fails after the replug too";
    ASSERT_TRUE(sim_open(u.m.get(), 6, &u.gen));
    EXPECT_NE(u.gen, old);
    EXPECT_TRUE(u.request(IOCTL_SYNTH_GET_INFO, nullptr, 0, info, 18).ok);
    EXPECT_EQ(u.m->open_handles, 2u);
    sim_close(u.m.get(), 7, old);
    EXPECT_EQ(u.m->open_handles, 1u) << "closing a stale handle still closes it";
    sim_close(u.m.get(), 8, u.gen);
    sim_close(u.m.get(), 9, u.gen);
    EXPECT_EQ(u.m->open_handles, 0u) << "never below zero";
}

TEST(SimFirmware, TextsAreSpokenWithRunningIndexBytes)
{
    Unit u;
    u.send(std::string("Hello"));
    EXPECT_EQ(u.poll(), 0u) << "no index before the text is closed";
    u.send(std::string(" world\x0B", 7));
    u.send(std::string("\x0B", 1)); /* an empty text: no trace */
    u.send(std::string("dropped\x03kept\x0B", 13));
    u.send(std::string("gone", 4));
    u.oob(SYNTH_OOB_STOP);
    u.send(std::string("\x0E" "after stop\x0F\x0B", 13));
    EXPECT_EQ(u.transcript(), "Hello world\nkept\nafter stop\n");
    EXPECT_EQ(u.replies(), Bytes({1, 2, 3}));
    EXPECT_EQ(u.m->paused, 0u);

    /* The running number skips 0 and 0xFF: 254 is followed by 1. */
    Bytes all;
    for (int i = 0; i < 300; i++) {
        u.send(std::string("t\x0B", 2));
        Bytes b = u.replies();
        all.insert(all.end(), b.begin(), b.end());
    }
    ASSERT_EQ(all.size(), 300u);
    EXPECT_EQ(all[0], 4);
    EXPECT_EQ(all[250], 254);
    EXPECT_EQ(all[251], 1);
    for (uint8_t b : all)
        EXPECT_TRUE(b != 0 && b != 0xFF) << "got index " << (int)b;

    sim_clear_transcript(u.m.get());
    EXPECT_EQ(u.transcript(), "");
}

TEST(SimFirmware, OverlongTextsAndTranscriptAreCappedAndCounted)
{
    Unit u;
    u.send(std::string(SIM_TEXT_CAPACITY + 10, 'a') + "\x0B");
    EXPECT_EQ(u.m->text_dropped, 10u);
    EXPECT_EQ(u.m->transcript_length, (uint32_t)SIM_TEXT_CAPACITY + 1);
    for (int i = 0; i < 20; i++)
        u.send(std::string(SIM_TEXT_CAPACITY - 1, 'b') + "\x0B");
    EXPECT_EQ(u.m->transcript_length, (uint32_t)SIM_TRANSCRIPT_CAPACITY);
    EXPECT_EQ(u.m->transcript_dropped, 21u * SIM_TEXT_CAPACITY + 1 - SIM_TRANSCRIPT_CAPACITY);
    EXPECT_EQ(u.m->texts_spoken, 21u) << "texts are still spoken when the transcript is full";

    Bytes many(SIM_REPORT_CAPACITY + 3, 9);
    sim_report(u.m.get(), many.data(), (uint32_t)many.size());
    EXPECT_EQ(sim_pending(u.m.get()), (uint32_t)SIM_REPORT_CAPACITY);
    EXPECT_EQ(u.m->report_dropped, 21u + 3u) << "21 index bytes were already waiting";
}

TEST(SimFirmware, CommandSequencesAcrossTransfers)
{
    Unit u;
    u.send(Bytes{0x01, 'l', '3', 0x01, 'l', '9'}); /* '9' is out of range: ignored */
    EXPECT_EQ(u.m->language, 3u);
    u.send(Bytes{0x01});
    u.send(Bytes{0x02}); /* a sequence split across transfers */
    u.send(Bytes{'B'});
    EXPECT_EQ(u.m->boot_monitor, 1u);
    u.send(Bytes{0x01, 0x02, 'R', 0, 0x0F, 2, 0x0A, 1, 0, 0, 0, 0x01, 0x02, 'N'});
    EXPECT_EQ(u.m->read_requests, 1u);
    EXPECT_EQ(Bytes(u.m->read_request, u.m->read_request + 8), Bytes({0, 0x0F, 2, 0x0A, 1, 0, 0, 0}));
    EXPECT_EQ(u.m->boot_monitor, 0u) << "'N' after the 8 read values is a command again";
    u.send(Bytes{0x01, 'z', 0x01, 0x02, 'z'});
    u.oob(0x42);
    EXPECT_EQ(u.m->unknown_bytes, 4u) << "'9', two unknown sequences, one out-of-band byte";
    EXPECT_EQ(u.m->text_length, 0u) << "command bytes are not text";
    EXPECT_EQ(u.replies(), Bytes());
}

/* Every service reply in each reply mode. */
struct ModeCase {
    uint32_t mode;
    Bytes version, boot_version, prompt, commit;
    int sum_delta; /* -1: no sum reply */
};

std::string mode_name(const ::testing::TestParamInfo<ModeCase> &info)
{
    const char *names[] = {"On", "Off", "Wrong"};
    return names[info.param.mode];
}

class SimReplies : public ::testing::TestWithParam<ModeCase> {};

TEST_P(SimReplies, ServiceRepliesFollowTheReplyMode)
{
    const ModeCase &c = GetParam();
    Unit u;
    u.m->reply_mode = c.mode;
    u.m->version_reply[3] = 0xFE; /* a wrong value must not become 0xFF */

    u.send(Bytes{0x01, 0x02, '?'});
    EXPECT_EQ(u.replies(), c.version) << "version query";
    u.send(Bytes{0x01, 0x02, 'Q'});
    EXPECT_EQ(u.replies(), c.boot_version) << "boot version query";

    uint32_t sum = 200 + 100 + 0x30;
    u.send(Bytes{0x01, 'u', 3, 0, 200, 100, 0x30});
    Bytes expect_sum;
    if (c.sum_delta >= 0)
        expect_sum = {(uint8_t)((sum + c.sum_delta) & 0xFF), (uint8_t)((sum + c.sum_delta) >> 8)};
    EXPECT_EQ(u.replies(), expect_sum) << "dictionary sum";
    u.send(Bytes{'p'});
    EXPECT_EQ(u.replies(), c.commit) << "commit";
    EXPECT_EQ(u.m->dict_committed, 1u) << "the commit happens in every mode";

    u.oob(SYNTH_OOB_RESET);
    u.send(Bytes{'a'});
    EXPECT_EQ(u.replies(), c.prompt) << "boot strap prompt";
    EXPECT_EQ(u.m->boot_strap, 1u);

    u.send(std::string("speak\x0B", 6));
    EXPECT_EQ(u.replies(), Bytes({1})) << "index bytes come in every mode";
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SimReplies,
    ::testing::Values(
        ModeCase{SIM_REPLIES_ON, {0x10, 0x32, 0x54, 0xFE, 0x05, 0x01}, {0x07, 0x02}, {':'}, {'f'}, 0},
        ModeCase{SIM_REPLIES_OFF, {}, {}, {}, {}, -1},
        ModeCase{SIM_REPLIES_WRONG, {0x11, 0x33, 0x55, 0x00, 0x06, 0x02}, {0x08, 0x03}, {'?'}, {'x'}, 1}),
    mode_name);

TEST(SimFirmware, LargestDictionaryIsSummedStoredAndCommitted)
{
    Unit u;
    const uint32_t n = 65534;
    Bytes load = {0x01, 'u', (uint8_t)(n & 0xFF), (uint8_t)(n >> 8)};
    uint32_t sum = 0;
    for (uint32_t i = 0; i < n; i++) {
        uint8_t b = (uint8_t)(i * 7 + (i >> 8));
        load.push_back(b);
        sum = (sum + b) & 0xFFFF;
    }
    u.send(load);
    EXPECT_EQ(u.m->dict_length, n);
    EXPECT_EQ(u.m->dict_loads, 1u);
    EXPECT_EQ(Bytes(u.m->dict, u.m->dict + n), Bytes(load.begin() + 4, load.end()));
    EXPECT_EQ(u.replies(), Bytes({(uint8_t)(sum & 0xFF), (uint8_t)(sum >> 8)}));
    EXPECT_EQ(u.m->texts_spoken, 0u) << "dictionary bytes (0x0B among them) are not text";
    u.send(Bytes{'p'});
    EXPECT_EQ(u.replies(), Bytes({'f'}));
    EXPECT_EQ(u.m->dict_committed, 1u);
}

TEST(SimFirmware, CommitAndBootStrapOnlyRightAfterTheirCue)
{
    Unit u;
    u.send(Bytes{'p', 0x0B, 0x01, 'u', 0, 0}); /* no load before 'p': text; an empty load answers at once */
    EXPECT_EQ(u.replies(), Bytes({1, 0, 0}));
    u.send(Bytes{'q', 'p', 0x0B}); /* 'p' not the first byte after the load */
    EXPECT_EQ(u.m->dict_committed, 0u);
    EXPECT_EQ(u.replies(), Bytes({2}));
    u.send(Bytes{0x01, 'u', 1, 0, 0xFF}); /* a sum with low byte 0xFF goes out as it is */
    EXPECT_EQ(u.replies(), Bytes({0xFF, 0x00}));

    u.oob(SYNTH_OOB_BOOT_BEGIN); /* not in boot strap mode: ignored */
    u.oob(SYNTH_OOB_RESET);
    u.send(Bytes{'b', 'a', 0x0B, 'a', 0x0B}); /* 'a' counts only right after a reset */
    EXPECT_EQ(u.m->boot_strap, 0u);
    EXPECT_EQ(u.replies(), Bytes({3, 4}));

    u.oob(SYNTH_OOB_BAUD_57600);
    u.oob(SYNTH_OOB_RESET);
    u.send(Bytes{'a'});
    EXPECT_EQ(u.replies(), Bytes({':'}));
    u.oob(SYNTH_OOB_BOOT_BEGIN);
    Bytes image;
    for (int i = 0; i < 1000; i++)
        image.push_back((uint8_t)i); /* 0x01, 0x0B, 0xFF...: all raw */
    u.send(image);
    u.oob(SYNTH_OOB_BOOT_END);
    EXPECT_EQ(u.m->boot_downloads, 1u);
    EXPECT_EQ(Bytes(u.m->boot_image, u.m->boot_image + u.m->boot_length), image);
    EXPECT_EQ(u.m->boot_strap, 1u) << "boot strap mode lasts until a reset";
    u.send(Bytes{'y', 0x0B}); /* after 11 the stream is parsed again */
    EXPECT_EQ(u.replies(), Bytes({5}));
    u.oob(SYNTH_OOB_RESET);
    EXPECT_EQ(u.m->boot_strap, 0u);
    EXPECT_EQ(u.m->baud, 57600u) << "a reset keeps the baud rate";
}

TEST(SimLog, RecordsEveryRequestInOrderAndCountsOverflow)
{
    Unit u; /* log[0]: the open, at 1000 */
    u.transfer(TRANSFER_DATA, Bytes(64, 'z'));
    u.oob(SYNTH_OOB_STOP);
    uint8_t info[18];
    u.request(IOCTL_SYNTH_GET_INFO, nullptr, 0, info, 18);
    ASSERT_EQ(u.m->log_count, 4u);
    const uint32_t codes[] = {SIM_LOG_OPEN, IOCTL_SYNTH_TRANSFER, IOCTL_SYNTH_TRANSFER, IOCTL_SYNTH_GET_INFO};
    const uint32_t modes[] = {0, TRANSFER_DATA, TRANSFER_IMMEDIATE, 0};
    const uint32_t lengths[] = {0, 64, 1, 0};
    for (uint32_t i = 0; i < 4; i++) {
        const SimLogEntry &e = u.m->log[i];
        EXPECT_EQ(e.time_us, 1000u + i) << "entry " << i;
        EXPECT_EQ(e.code, codes[i]) << "entry " << i;
        EXPECT_EQ(e.mode, modes[i]) << "entry " << i;
        EXPECT_EQ(e.length, lengths[i]) << "entry " << i;
        EXPECT_EQ(e.ok, 1) << "entry " << i;
    }
    EXPECT_EQ(u.m->log[1].data[63], 'z');
    EXPECT_EQ(u.m->log[2].data[0], SYNTH_OOB_STOP);

    for (int i = 0; i < SIM_LOG_CAPACITY; i++)
        u.oob(SYNTH_OOB_BAUD_19200);
    EXPECT_EQ(u.m->log_count, (uint32_t)SIM_LOG_CAPACITY);
    EXPECT_EQ(u.m->log_dropped, 4u);
    EXPECT_EQ(u.m->log[1].length, 64u) << "the oldest entries are kept";
    sim_clear_log(u.m.get());
    EXPECT_EQ(u.m->log_count + u.m->log_dropped, 0u);
}

} // namespace
