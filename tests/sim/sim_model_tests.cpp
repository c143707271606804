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

TEST(SimDriver, GetInfoAndReady)
{
    Unit u;
    u.m->firmware = 0x0105;
    uint8_t info[32];
    memset(info, 0xCC, sizeof info);
    SimResult r = u.request(IOCTL_SYNTH_GET_INFO, nullptr, 0, info, sizeof info);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.bytes_returned, 18u);
    EXPECT_EQ(info[0], 18) << "bLength";
    EXPECT_EQ(info[1], 1) << "device descriptor type";
    EXPECT_EQ(info[12], 0x05);
    EXPECT_EQ(info[13], 0x01);
    EXPECT_EQ(info[18], 0xCC) << "nothing written beyond 18 bytes";

    EXPECT_FALSE(u.request(IOCTL_SYNTH_GET_INFO, nullptr, 0, info, 17).ok) << "17-byte buffer";
    EXPECT_FALSE(u.request(IOCTL_SYNTH_GET_INFO, nullptr, 0, nullptr, 18).ok) << "no buffer";
    EXPECT_EQ(u.last_log().ok, 0);

    u.m->ready_word = 0x12345678;
    uint8_t word[4];
    r = u.request(IOCTL_SYNTH_READY, nullptr, 0, word, 4);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.bytes_returned, 4u);
    EXPECT_EQ(word[0] | word[1] << 8 | word[2] << 16 | (uint32_t)word[3] << 24, 0x12345678u);
    EXPECT_FALSE(u.request(IOCTL_SYNTH_READY, nullptr, 0, word, 3).ok);
    EXPECT_FALSE(u.request(0x222000, nullptr, 0, word, 4).ok) << "unknown code";
}

TEST(SimDriver, MalformedTransfersFailLoudly)
{
    Unit u;
    uint8_t data[65] = {'a'};
    TransferHeader h = {TRANSFER_DATA, 0};
    struct Case {
        const char *what;
        void *in;
        uint32_t in_len, mode, out_len;
        uint8_t first;
    } cases[] = {
        {"no header", nullptr, 0, TRANSFER_DATA, 1, 'a'},
        {"short header", &h, 7, TRANSFER_DATA, 1, 'a'},
        {"no data", &h, 8, TRANSFER_DATA, 0, 'a'},
        {"65 data bytes", &h, 8, TRANSFER_DATA, 65, 'a'},
        {"immediate of 2 bytes", &h, 8, TRANSFER_IMMEDIATE, 2, 7},
        {"poll with byte 4", &h, 8, TRANSFER_POLL, 1, 4},
        {"poll of 2 bytes", &h, 8, TRANSFER_POLL, 2, 3},
        {"read mode on transfer", &h, 8, TRANSFER_READ, 1, 'a'},
        {"unknown mode", &h, 8, 9, 1, 'a'},
    };
    for (const Case &c : cases) {
        h.mode = c.mode;
        data[0] = c.first;
        SimResult r = u.request(IOCTL_SYNTH_TRANSFER, c.in, c.in_len, data, c.out_len);
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_EQ(r.bytes_returned, 0u) << c.what;
        EXPECT_EQ(u.last_log().ok, 0) << c.what;
    }
    EXPECT_EQ(u.m->resets, 0u) << "the immediate 7 must not have been taken";
    EXPECT_EQ(u.m->text_length, 0u) << "no data byte must have been taken";

    h.mode = TRANSFER_DATA;
    EXPECT_TRUE(u.request(IOCTL_SYNTH_TRANSFER, &h, 8, data, 64).ok) << "64 bytes is the maximum";

    uint8_t buf[16];
    TransferHeader rh = {TRANSFER_POLL, 0};
    EXPECT_FALSE(u.request(IOCTL_SYNTH_READ, &rh, 8, buf, 16).ok) << "read without read mode";
    rh.mode = TRANSFER_READ;
    EXPECT_FALSE(u.request(IOCTL_SYNTH_READ, &rh, 8, buf, 0).ok) << "read into 0 bytes";
    EXPECT_FALSE(u.request(IOCTL_SYNTH_READ, &rh, 4, buf, 16).ok) << "read with short header";
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

TEST(SimDriver, BusyNextHoldsDataBackOnlyWhenTheHeaderIsWritable)
{
    Unit u;
    u.m->busy_next = 2;
    uint32_t busy = 0;
    for (int i = 0; i < 2; i++) {
        SimResult r = u.transfer(TRANSFER_DATA, {'a', 0x0B}, &busy);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(busy, 1u) << "attempt " << i;
        EXPECT_EQ(u.last_log().busy, 1);
    }
    EXPECT_EQ(u.m->texts_spoken, 0u) << "busy transfers must not be taken";
    EXPECT_TRUE(u.transfer(TRANSFER_DATA, {'a', 0x0B}, &busy).ok);
    EXPECT_EQ(busy, 0u);
    EXPECT_EQ(u.m->texts_spoken, 1u);

    /* Immediate and poll requests are never busy and do not count down. */
    u.m->busy_next = 1;
    u.oob(SYNTH_OOB_BAUD_57600);
    u.poll();
    EXPECT_EQ(u.m->busy_next, 1u);

    /* A driver in another process cannot write the header: data is taken. */
    EXPECT_TRUE(u.transfer(TRANSFER_DATA, {'b', 0x0B}, &busy, 0).ok);
    EXPECT_EQ(busy, 0xAAAAu) << "header must stay untouched";
    EXPECT_EQ(u.m->texts_spoken, 2u);
    EXPECT_EQ(u.m->busy_next, 1u);
}

TEST(SimDriver, FailNextFailsAnyRequestAndCountsDown)
{
    Unit u;
    u.m->fail_next = 3;
    uint8_t info[18];
    EXPECT_FALSE(u.request(IOCTL_SYNTH_GET_INFO, nullptr, 0, info, 18).ok);
    EXPECT_FALSE(u.transfer(TRANSFER_DATA, {'x', 0x0B}).ok);
    uint32_t g;
    EXPECT_TRUE(sim_open(u.m.get(), 0, &g)) << "opens do not count against fail_next";
    EXPECT_FALSE(u.transfer(TRANSFER_IMMEDIATE, {SYNTH_OOB_RESET}).ok);
    EXPECT_EQ(u.m->fail_next, 0u);
    EXPECT_EQ(u.m->texts_spoken, 0u);
    EXPECT_EQ(u.m->resets, 0u);
    EXPECT_TRUE(u.request(IOCTL_SYNTH_GET_INFO, nullptr, 0, info, 18).ok);

    /* While unplugged requests fail without using up fail_next. */
    u.m->fail_next = 1;
    sim_unplug(u.m.get());
    EXPECT_FALSE(u.request(IOCTL_SYNTH_GET_INFO, nullptr, 0, info, 18).ok);
    EXPECT_EQ(u.m->fail_next, 1u);
}

TEST(SimDriver, UnplugMakesOldHandlesStaleForGood)
{
    Unit u;
    uint8_t info[18];
    sim_unplug(u.m.get());
    EXPECT_EQ(u.m->present, 0u);
    uint32_t g = 0;
    EXPECT_FALSE(sim_open(u.m.get(), 5, &g));
    EXPECT_EQ(u.m->open_failures, 1u);
    EXPECT_EQ(u.m->open_count, 1u);
    EXPECT_FALSE(u.request(IOCTL_SYNTH_GET_INFO, nullptr, 0, info, 18).ok);

    sim_replug(u.m.get());
    EXPECT_FALSE(u.request(IOCTL_SYNTH_GET_INFO, nullptr, 0, info, 18).ok)
        << "a handle of the old generation fails after the replug too";
    uint32_t old = u.gen;
    ASSERT_TRUE(sim_open(u.m.get(), 6, &u.gen));
    EXPECT_NE(u.gen, old);
    EXPECT_EQ(u.m->open_handles, 2u);
    EXPECT_TRUE(u.request(IOCTL_SYNTH_GET_INFO, nullptr, 0, info, 18).ok);
    sim_close(u.m.get(), 7, old);
    EXPECT_EQ(u.m->open_handles, 1u) << "closing a stale handle still closes it";
    sim_close(u.m.get(), 8, u.gen);
    sim_close(u.m.get(), 9, u.gen);
    EXPECT_EQ(u.m->open_handles, 0u) << "never below zero";
    EXPECT_EQ(u.last_log().code, SIM_LOG_CLOSE);
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

TEST(SimFirmware, CommandsChangeTheUnitsState)
{
    Unit u;
    u.send(Bytes{0x01, 'l', '3'});
    EXPECT_EQ(u.m->language, 3u);
    u.send(Bytes{0x01, 'l', '9'}); /* out of range: ignored */
    EXPECT_EQ(u.m->language, 3u);
    EXPECT_EQ(u.m->unknown_bytes, 1u);

    u.send(Bytes{0x01});
    u.send(Bytes{0x02}); /* a sequence split across transfers */
    u.send(Bytes{'B'});
    EXPECT_EQ(u.m->boot_monitor, 1u);
    u.send(Bytes{0x01, 0x02, 'R', 0, 0x0F, 2, 0x0A, 1, 0, 0, 0});
    EXPECT_EQ(u.m->read_requests, 1u);
    EXPECT_EQ(Bytes(u.m->read_request, u.m->read_request + 8), Bytes({0, 0x0F, 2, 0x0A, 1, 0, 0, 0}));
    u.send(Bytes{0x01, 0x02, 'N'});
    EXPECT_EQ(u.m->boot_monitor, 0u);

    u.send(Bytes{0x0E});
    EXPECT_EQ(u.m->paused, 1u);
    u.send(Bytes{0x0F});
    EXPECT_EQ(u.m->paused, 0u);
    u.oob(SYNTH_OOB_BAUD_57600);
    EXPECT_EQ(u.m->baud, 57600u);
    u.oob(SYNTH_OOB_BAUD_19200);
    EXPECT_EQ(u.m->baud, 19200u);

    u.send(Bytes{0x01, 'z'});   /* unknown lead-in sequence */
    u.send(Bytes{0x01, 0x02, 'z'});
    u.oob(0x42);
    EXPECT_EQ(u.m->unknown_bytes, 4u);
    EXPECT_EQ(u.m->text_length, 0u) << "unknown sequences are not text";
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

    Bytes dict = {200, 100, 0x30};
    uint32_t sum = 200 + 100 + 0x30;
    Bytes load = {0x01, 'u', 3, 0};
    load.insert(load.end(), dict.begin(), dict.end());
    u.send(load);
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
    u.send(Bytes{'p', 0x0B}); /* no dictionary loaded: just text */
    EXPECT_EQ(u.replies(), Bytes({1}));
    EXPECT_EQ(u.m->dict_committed, 0u);

    u.send(Bytes{0x01, 'u', 0, 0}); /* an empty dictionary answers at once */
    EXPECT_EQ(u.replies(), Bytes({0, 0}));
    u.send(Bytes{'q', 'p', 0x0B}); /* 'p' not the first byte after the load */
    EXPECT_EQ(u.m->dict_committed, 0u);
    EXPECT_EQ(u.replies(), Bytes({2}));

    /* A sum whose low byte is 0xFF is reported as it is. */
    u.send(Bytes{0x01, 'u', 1, 0, 0xFF});
    EXPECT_EQ(u.replies(), Bytes({0xFF, 0x00}));

    u.oob(SYNTH_OOB_RESET);
    u.send(Bytes{'b', 'a', 0x0B});
    EXPECT_EQ(u.m->boot_strap, 0u) << "'a' counts only as the first byte after a reset";
    EXPECT_EQ(u.replies(), Bytes({3}));
    u.send(Bytes{'a', 0x0B}); /* no reset before it: text */
    EXPECT_EQ(u.m->boot_strap, 0u);
    EXPECT_EQ(u.replies(), Bytes({4}));
    EXPECT_EQ(u.m->resets, 1u);
}

TEST(SimFirmware, BootDownloadTakesRawBytesBetweenTenAndEleven)
{
    Unit u;
    u.oob(SYNTH_OOB_BOOT_BEGIN); /* not in boot strap mode: ignored */
    u.send(Bytes{'x', 0x0B});
    EXPECT_EQ(u.m->boot_length, 0u);
    EXPECT_EQ(u.replies(), Bytes({1}));

    u.oob(SYNTH_OOB_BAUD_57600);
    u.oob(SYNTH_OOB_RESET);
    u.send(Bytes{'a'});
    EXPECT_EQ(u.replies(), Bytes({':'}));
    u.oob(SYNTH_OOB_BOOT_BEGIN);
    Bytes image;
    for (int i = 0; i < 1000; i++)
        image.push_back((uint8_t)(i % 256)); /* 0x01, 0x0B, 0xFF... all raw */
    u.send(image);
    u.oob(SYNTH_OOB_BOOT_END);
    EXPECT_EQ(u.m->boot_length, 1000u);
    EXPECT_EQ(u.m->boot_downloads, 1u);
    EXPECT_EQ(Bytes(u.m->boot_image, u.m->boot_image + 1000), image);
    EXPECT_EQ(u.replies(), Bytes()) << "boot bytes are not interpreted";
    EXPECT_EQ(u.m->boot_strap, 1u) << "boot strap mode lasts until a reset";

    u.send(Bytes{'y', 0x0B}); /* after 11 the stream is parsed again */
    EXPECT_EQ(u.replies(), Bytes({2}));
    u.oob(SYNTH_OOB_RESET);
    EXPECT_EQ(u.m->boot_strap, 0u);
    EXPECT_EQ(u.m->baud, 57600u) << "a reset keeps the baud rate";
}

TEST(SimLog, RecordsEveryRequestInOrderAndCountsOverflow)
{
    Unit u; /* log[0]: the open */
    u.transfer(TRANSFER_DATA, Bytes(64, 'z'));
    u.oob(SYNTH_OOB_STOP);
    uint8_t info[18];
    u.request(IOCTL_SYNTH_GET_INFO, nullptr, 0, info, 18);
    ASSERT_EQ(u.m->log_count, 4u);
    EXPECT_EQ(u.m->log[0].code, SIM_LOG_OPEN);
    EXPECT_EQ(u.m->log[0].time_us, 1000u);
    EXPECT_EQ(u.m->log[1].code, (uint32_t)IOCTL_SYNTH_TRANSFER);
    EXPECT_EQ(u.m->log[1].mode, (uint32_t)TRANSFER_DATA);
    EXPECT_EQ(u.m->log[1].length, 64u);
    EXPECT_EQ(u.m->log[1].data[63], 'z');
    EXPECT_EQ(u.m->log[2].mode, (uint32_t)TRANSFER_IMMEDIATE);
    EXPECT_EQ(u.m->log[2].data[0], SYNTH_OOB_STOP);
    EXPECT_EQ(u.m->log[3].code, (uint32_t)IOCTL_SYNTH_GET_INFO);
    EXPECT_EQ(u.m->log[3].mode, 0u);
    EXPECT_EQ(u.m->log[3].length, 0u);
    for (uint32_t i = 1; i < 4; i++) {
        EXPECT_EQ(u.m->log[i].time_us, 1000u + i) << "entry " << i;
        EXPECT_EQ(u.m->log[i].ok, 1) << "entry " << i;
    }

    for (int i = 0; i < SIM_LOG_CAPACITY; i++)
        u.oob(SYNTH_OOB_BAUD_19200);
    EXPECT_EQ(u.m->log_count, (uint32_t)SIM_LOG_CAPACITY);
    EXPECT_EQ(u.m->log_dropped, 4u);
    EXPECT_EQ(u.m->log[1].length, 64u) << "the oldest entries are kept";
    EXPECT_EQ(u.m->log[SIM_LOG_CAPACITY - 1].data[0], SYNTH_OOB_BAUD_19200);

    sim_clear_log(u.m.get());
    EXPECT_EQ(u.m->log_count, 0u);
    EXPECT_EQ(u.m->log_dropped, 0u);
    u.poll();
    EXPECT_EQ(u.m->log_count, 1u);
}

} // namespace
