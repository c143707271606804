/* The simulated synthesizer's core model, driven as the driver hosts drive it: requests
 * and the driver's answers, byte scripts and the firmware's replies, the scripting knobs. */
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mxusb_protocol.h"
#include "synth_model.h"

namespace {

/* A model with one open handle. */
struct Unit {
    std::unique_ptr<SimModel> m{new SimModel};
    uint32_t gen = 0;
    uint64_t clock = 1000;
    Unit(uint32_t reply_mode = SIM_REPLIES_ON)
    {
        sim_init(m.get());
        m->reply_mode = reply_mode;
        sim_open(m.get(), clock, &gen);
    }
    /* One request; a header of `mode` unless mode < 0 (then `in` is the input). */
    SimResult request(uint32_t code, int mode, std::string &out, uint32_t *busy = nullptr,
                      std::string in = std::string(8, 0), int in_writable = 1)
    {
        if (mode >= 0)
            in = std::string((const char *)&mode, 4) + std::string(4, 0);
        SimResult r = sim_request(m.get(), ++clock, gen, code, &in[0], (uint32_t)in.size(),
                                  in_writable, out.empty() ? nullptr : &out[0], (uint32_t)out.size());
        if (busy)
            *busy = ((const TransferHeader *)in.data())->busy;
        return r;
    }
    /* Each element: "~" and a byte is that byte out of band; else in-band data, 64 per transfer. */
    void send(const std::vector<std::string> &transfers)
    {
        for (const std::string &t : transfers) {
            const bool oob = t.size() == 2 && t[0] == '~';
            for (size_t i = oob; i < t.size(); i += SYNTH_MAX_TRANSFER) {
                std::string part = t.substr(i, oob ? 1 : SYNTH_MAX_TRANSFER);
                ASSERT_TRUE(request(IOCTL_SYNTH_TRANSFER, oob ? TRANSFER_IMMEDIATE : TRANSFER_DATA, part).ok);
            }
        }
    }
    /* Everything pending, fetched as the library fetches it. */
    std::string replies()
    {
        std::string all, poll = "\x03", buffer(SYNTH_MAX_READ, 0);
        while (request(IOCTL_SYNTH_TRANSFER, TRANSFER_POLL, poll).bytes_returned > 0)
            all += buffer.substr(0, request(IOCTL_SYNTH_READ, TRANSFER_READ, buffer).bytes_returned);
        return all;
    }
};

const std::string BYTES20 = "\xF0\xF1\xF2\xF3\xF4\xF5\xF6\xF7\xF8\xF9\xFA\xFB\xFC\xFD\xFE\xFF\x01\x02\x03\x04";

struct RequestCase {
    const char *what;
    std::string pending; /* reported before the request */
    uint32_t code; int mode; /* mode: of the 8-byte header; -1: `in` is the whole input */
    std::string in, out; /* out: the data of a TRANSFER, else the buffer to fill */
    bool ok = false; uint32_t returned = 0;
    std::string filled = ""; size_t at = 0; /* `filled` stands at `at` in the buffer afterwards */
};

TEST(SimModel, RequestsAndTheDriversAnswers)
{
    const std::string none, fill(32, '\xCC');
    const RequestCase cases[] = {
        {"info", none, IOCTL_SYNTH_GET_INFO, -1, none, fill, true, 18, "\x12\x01"},
        {"firmware word", none, IOCTL_SYNTH_GET_INFO, -1, none, fill, true, 18, "\x05\x01", 12},
        {"info into 17 bytes", none, IOCTL_SYNTH_GET_INFO, -1, none, fill.substr(0, 17)},
        {"ready", none, IOCTL_SYNTH_READY, -1, none, fill, true, 4, std::string("\x01\0\0\0", 4)},
        {"ready into 3 bytes", none, IOCTL_SYNTH_READY, -1, none, fill.substr(0, 3)},
        {"unknown code", none, 0x222000, TRANSFER_DATA, none, "a"},
        {"no header", none, IOCTL_SYNTH_TRANSFER, -1, none, "a"},
        {"7-byte header", none, IOCTL_SYNTH_TRANSFER, -1, std::string(7, 0), "a"},
        {"no data", none, IOCTL_SYNTH_TRANSFER, TRANSFER_DATA, none, none},
        {"65 data bytes", none, IOCTL_SYNTH_TRANSFER, TRANSFER_DATA, none, std::string(65, 'a')},
        {"64 data bytes", none, IOCTL_SYNTH_TRANSFER, TRANSFER_DATA, none, std::string(64, 'a'), true, 0, "aaaa"},
        {"immediate of 2", none, IOCTL_SYNTH_TRANSFER, TRANSFER_IMMEDIATE, none, "\x07\x07"},
        {"poll byte 4", "x", IOCTL_SYNTH_TRANSFER, TRANSFER_POLL, none, "\x04"},
        {"unknown mode", none, IOCTL_SYNTH_TRANSFER, 9, none, "a"},
        {"read in poll mode", "x", IOCTL_SYNTH_READ, TRANSFER_POLL, none, fill},
        {"read into 0 bytes", "x", IOCTL_SYNTH_READ, TRANSFER_READ, none, none},
        {"poll, nothing pending", none, IOCTL_SYNTH_TRANSFER, TRANSFER_POLL, none, "\x03", true, 0, "\x03"},
        {"read, nothing pending", none, IOCTL_SYNTH_READ, TRANSFER_READ, none, fill, true, 0},
        {"poll counts at most 16", BYTES20, IOCTL_SYNTH_TRANSFER, TRANSFER_POLL, none, "\x03", true, 16, "\x03"},
        {"read fills the buffer", BYTES20, IOCTL_SYNTH_READ, TRANSFER_READ, none, fill.substr(0, 2), true, 2, "\xF0\xF1"},
        {"read at most 16, 0xFF too", BYTES20, IOCTL_SYNTH_READ, TRANSFER_READ, none, fill, true, 16, BYTES20.substr(0, 16)},
    };
    for (const RequestCase &c : cases) {
        Unit u;
        u.m->firmware = 0x0105;
        sim_report(u.m.get(), (const uint8_t *)c.pending.data(), (uint32_t)c.pending.size());
        std::string out = c.out;
        SimResult r = u.request(c.code, c.mode, out, nullptr, c.in);
        EXPECT_EQ(std::make_pair(!!r.ok, r.bytes_returned), std::make_pair(c.ok, c.returned)) << c.what;
        EXPECT_EQ(out.substr(c.at, c.filled.size()), c.filled) << c.what;
        const size_t end = c.code == IOCTL_SYNTH_TRANSFER ? 0 : r.bytes_returned; /* written up to here */
        EXPECT_EQ(out.substr(end), c.out.substr(end)) << c.what;
        EXPECT_TRUE(u.m->log_count == 2 && u.m->log[1].ok == c.ok) << c.what << ": every request is logged";
        const std::string logged((char *)u.m->log[1].data, c.ok ? u.m->log[1].length : 0); /* sent or delivered */
        EXPECT_EQ(logged, !c.ok ? "" : c.code == IOCTL_SYNTH_READ ? out.substr(0, r.bytes_returned)
                                     : c.code == IOCTL_SYNTH_TRANSFER ? c.out : "") << c.what;
        EXPECT_TRUE(c.ok || u.m->text_length + u.m->resets + sim_pending(u.m.get()) == c.pending.size())
            << c.what << ": a failed request takes nothing";
    }
}

struct FirmwareCase {
    const char *what;
    uint32_t mode;
    std::vector<std::string> script; /* one element per transfer; "~" and a byte: out of band */
    std::string replies;
    uint32_t SimModel::*counter = nullptr; uint32_t value = 0; /* a counter and its value afterwards */
    std::string transcript = "", kept = ""; /* kept: the dictionary or boot image */
};

TEST(SimModel, FirmwareRepliesAndEffects)
{
    const uint32_t ON = SIM_REPLIES_ON;
    const std::string image = std::string("\x01\x0b\xff~|", 5) + "raw", load1 = std::string("\x01u\x01\x00\x05", 5);
    std::string big; /* the largest dictionary, 0x0B among its bytes */
    uint32_t sum = 0;
    for (uint32_t i = 0; i < 65534; sum += (uint8_t)big.back(), i++)
        big += (char)(i * 7 + (i >> 8));
    const FirmwareCase cases[] = {
        {"texts, running index", ON, {"Hel", "lo\x0b", "\x0b", "x\x03y\x0b", "gone", "~\x06", "z\x0b"}, "\x01\x02\x03", &SimModel::texts_spoken, 3, "Hello\ny\nz\n"},
        {"pause recorded, index still", ON, {"\x0e" "a\x0b"}, "\x01", &SimModel::paused, 1, "a\n"},
        {"resume", ON, {"\x0e", "\x0f"}, "", &SimModel::paused, 0},
        {"version", ON, {"\x01\x02?"}, "\x10\x32\x54\x76\x05\x01"},
        {"boot version", ON, {"\x01\x02Q"}, "\x07\x02"},
        {"dictionary sum", ON, {std::string("\x01u\x03\x00\xC8\x64\x30", 7)}, "\x5C\x01", &SimModel::dict_length, 3, "", "\xC8\x64\x30"},
        {"largest dictionary", ON, {"\x01u\xFE\xFF" + big, "p"}, std::string({(char)sum, (char)(sum >> 8), 'f'}), &SimModel::dict_length, 65534, "", big},
        {"sum 0xFF as is", ON, {std::string("\x01u\x01\x00\xFF", 5)}, std::string("\xFF\x00", 2)},
        {"empty dictionary", ON, {std::string("\x01u\x00\x00", 4)}, std::string("\0\0", 2)},
        {"commit", ON, {load1, "p"}, std::string("\x05\x00" "f", 3), &SimModel::dict_committed, 1},
        {"p without a load is text", ON, {"p\x0b", std::string("\x01u\x00\x00", 4), "qp\x0b"}, std::string("\x01\0\0\x02", 4), &SimModel::dict_committed, 0, "p\nqp\n"},
        {"boot strap prompt", ON, {"~\x07", "a"}, ":", &SimModel::boot_strap, 1},
        {"a only right after a reset", ON, {"~\x07", "ba\x0b", "a\x0b"}, "\x01\x02", &SimModel::boot_strap, 0, "ba\na\n"},
        {"boot download", ON, {"~\x07", "a", "~\x0a", image, "~\x0b", "y\x0b"}, ":\x01", &SimModel::boot_length, 8, "y\n", image},
        {"boot begin outside boot strap", ON, {"~\x0a", "q\x0b"}, "\x01", &SimModel::boot_length, 0, "q\n"},
        {"reset ends boot strap", ON, {"~\x07", "a", "~\x07"}, ":", &SimModel::boot_strap, 0},
        {"language", ON, {"\x01l3\x01l9"}, "", &SimModel::language, 3},
        {"split sequence", ON, {"\x01", "\x02", "B"}, "", &SimModel::boot_monitor, 1},
        {"read request: 8 values", ON, {std::string("\x01\x02R\x00\x0f\x02\x0a\x01\x00\x00\x01\x01\x02" "B", 14)}, "", &SimModel::boot_monitor, 1},
        {"unknown sequences", ON, {"\x01z\x01\x02z", "~\x42"}, "", &SimModel::unknown_bytes, 3},
        {"baud kept by a reset", ON, {"~\x04", "~\x07"}, "", &SimModel::baud, 57600},
        {"replies off", SIM_REPLIES_OFF, {"\x01\x02?\x01\x02Q", load1, "p", "~\x07", "a", "t\x0b"}, "\x01", &SimModel::boot_strap, 1, "t\n"},
        {"replies wrong", SIM_REPLIES_WRONG, {"\x01\x02?\x01\x02Q", load1, "p", "~\x07", "a"}, std::string("\x11\x33\x55\x77\x06\x02\x08\x03\x06\x00x?", 12), &SimModel::dict_committed, 1},
    };
    for (const FirmwareCase &c : cases) {
        Unit u(c.mode);
        u.send(c.script);
        EXPECT_EQ(u.replies(), c.replies) << c.what;
        EXPECT_EQ(std::string((char *)u.m->transcript, u.m->transcript_length), c.transcript) << c.what;
        EXPECT_EQ(c.counter ? u.m.get()->*c.counter : 0, c.value) << c.what;
        const uint8_t *image = c.counter == &SimModel::dict_length ? u.m->dict : u.m->boot_image;
        EXPECT_EQ(c.kept.empty() ? "" : std::string((const char *)image, c.value), c.kept) << c.what;
    }
}

TEST(SimModel, ScriptingKnobs)
{
    Unit u;
    std::string info(18, 0), ab = "a\x0b";
    uint32_t busy = 0, old = u.gen;
    u.m->busy_next = 2; /* busy with the header written and the data not taken */
    for (uint32_t expect : {1u, 1u, 0u})
        EXPECT_TRUE(u.request(IOCTL_SYNTH_TRANSFER, TRANSFER_DATA, ab, &busy).ok && busy == expect);
    u.m->busy_next = 1; /* a host that cannot write the header: taken, busy_next kept */
    EXPECT_TRUE(u.request(IOCTL_SYNTH_TRANSFER, TRANSFER_DATA, ab, &busy, std::string(8, 0), 0).ok);
    EXPECT_EQ(u.m->texts_spoken * 10 + u.m->busy_next, 21u);

    u.m->fail_next = 2; /* opens do not count; a failed request has no effect */
    EXPECT_FALSE(u.request(IOCTL_SYNTH_TRANSFER, TRANSFER_DATA, ab).ok);
    EXPECT_TRUE(sim_open(u.m.get(), 0, &u.gen));
    EXPECT_FALSE(u.request(IOCTL_SYNTH_GET_INFO, -1, info).ok);
    EXPECT_TRUE(u.request(IOCTL_SYNTH_GET_INFO, -1, info).ok);
    EXPECT_EQ(u.m->texts_spoken, 2u);

    sim_unplug(u.m.get()); /* requests fail without using fail_next; old handles stay stale */
    u.m->fail_next = 1;
    EXPECT_FALSE(sim_open(u.m.get(), 0, &u.gen) || u.request(IOCTL_SYNTH_GET_INFO, -1, info).ok);
    sim_replug(u.m.get());
    EXPECT_FALSE(u.request(IOCTL_SYNTH_GET_INFO, -1, info).ok);
    EXPECT_EQ(u.m->open_failures + u.m->fail_next, 2u);
    ASSERT_TRUE(sim_open(u.m.get(), 0, &u.gen));
    for (uint32_t g : {old, old, u.gen, u.gen})
        sim_close(u.m.get(), 0, g);
    EXPECT_EQ(u.m->open_handles, 0u) << "three opens, four closes: never below zero";

    Unit w(SIM_REPLIES_WRONG); /* a wrong version byte is never 0xFF */
    w.m->version_reply[3] = 0xFE;
    w.send({"\x01\x02?"});
    EXPECT_EQ(w.replies()[3], 0);

    Unit c; /* capacities: the excess is counted; the index number wraps 254 -> 1 */
    for (int i = 0; i < 300; i++)
        c.send({std::string(SIM_TEXT_CAPACITY + (i ? -1 : 10), 'a') + "\x0b"});
    EXPECT_EQ(c.m->text_dropped, 10u);
    EXPECT_EQ(c.m->transcript_dropped, 300u * SIM_TEXT_CAPACITY + 1 - SIM_TRANSCRIPT_CAPACITY);
    EXPECT_EQ(c.m->texts_spoken, 300u) << "spoken also when the transcript is full";
    EXPECT_EQ(c.replies().substr(250, 6), "\xFB\xFC\xFD\xFE\x01\x02");
    sim_report(c.m.get(), c.m->report, SIM_REPORT_CAPACITY); /* any bytes */
    sim_report(c.m.get(), c.m->report, 3);
    EXPECT_EQ(c.m->report_dropped, 3u);
    const uint32_t dropped = c.m->log_dropped;
    c.send({"~\x05"});
    EXPECT_EQ(c.m->log_dropped - dropped + c.m->log_count, SIM_LOG_CAPACITY + 1u) << "full, one more dropped";
    EXPECT_EQ(c.m->log[0].code, SIM_LOG_OPEN) << "the oldest entries are kept";
    sim_clear_log(c.m.get());
    sim_clear_transcript(c.m.get());
    EXPECT_EQ(c.m->log_count + c.m->log_dropped + c.m->transcript_length + c.m->transcript_dropped, 0u);
}

} // namespace
