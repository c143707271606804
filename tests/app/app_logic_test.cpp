// The utility's logic with no Windows calls (mxuapp_logic), also as the main thread and
// the monitor use it at once. Natively with sanitizers, and in the x64 tree under Wine.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "boot_stream.h"
#include "dictionary_check.h"
#include "index_text.h"
#include "local_index_ring.h"
#include "monitor_pause.h"
#include "text_commands.h"
#include "version_values.h"

using Bytes = std::string;
using Ints = std::vector<int>;

// Runs body over and over on a second thread while main runs.
template <class Body, class Main> void WhileRunning(Body body, Main main)
{
    std::atomic<int> stop{0};
    std::thread thread([&] { while (!stop) body(); });
    main();
    stop = 1;
    thread.join();
}

TEST(TextCommands, MatchingCaretEscapesAndReadOperand)
{
    const struct { const char *text; TextCommand command; int control_byte; } cases[] = {
        {"{baud=57600}", TEXT_COMMAND_BAUD_57600, 4}, {"{regindexes}", TEXT_COMMAND_REGINDEXES, -1},
        {"{unregindexes}", TEXT_COMMAND_UNREGINDEXES, -1}, {"{baud=19200}", TEXT_COMMAND_BAUD_19200, 5},
        {"{read}0001A2F0", TEXT_COMMAND_READ, -1}, {"{read}", TEXT_COMMAND_READ, -1},
        {"{bootmonitor}", TEXT_COMMAND_BOOTMONITOR, -1}, {"{normal}", TEXT_COMMAND_NORMAL, -1},
        {"{bootstrap}", TEXT_COMMAND_BOOTSTRAP, -1}, {"{reset}", TEXT_COMMAND_RESET, 7},
        {"{RESET}", TEXT_COMMAND_NONE, -1}, {" {reset}", TEXT_COMMAND_NONE, -1},
        {"{normal}x", TEXT_COMMAND_NONE, -1}, {"{Read}12345678", TEXT_COMMAND_NONE, -1},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.command, MatchTextCommand(c.text)) << c.text;
        EXPECT_EQ(c.control_byte, TextCommandControlByte(MatchTextCommand(c.text))) << c.text;
    }
    const struct { const char *text; Bytes sent; const char *buffer_after; } escapes[] = {
        {"", "", ""}, {"abc^", "abc", "abc^"}, {"^kA", "\x0b" "A", "^\x0b" "A"}, {"\xe9", "\xe9", "\xe9"},
        {"^a^A^z^{", "\x01\x01\x1a\x1b", "^\x01^\x01^\x1a^\x1b"},
        {"^^1^1", "\xfe" "1\xd1", "^\xfe" "1^\xd1"}, // (tolower(c) - 96) modulo 256
        {"x^`y", Bytes("x\0", 2), "x^"},             // the zero written ends the text
    };
    for (const auto &c : escapes) {
        char buffer[SEND_TEXT_BUFFER_SIZE] = {};
        Bytes sent;
        auto collect = [](unsigned char b, void *to) { *(Bytes *)to += (char)b; };
        EXPECT_EQ((int)c.sent.size(), SendPlainText(strcpy(buffer, c.text), collect, &sent)) << c.text;
        EXPECT_EQ(c.sent, sent) << c.text;
        EXPECT_STREQ(c.buffer_after, buffer) << c.text;
    }
    const struct { const char *text; Bytes values; } reads[] = { // last character first, unchecked
        {"{read}0001A2F0", Bytes("\x00\x0f\x02\x0a\x01\x00\x00\x00", 8)}, {"{read}1234567", ""}, {"{read}", ""},
        {"{read}abcdefAB", "\x0b\x0a\x0f\x0e\x0d\x0c\x0b\x0a"}, {"{read}g0000000zzz", Bytes("\0\0\0\0\0\0\0\x10", 8)},
    };
    for (const auto &r : reads) {
        unsigned char values[READ_OPERAND_DIGITS] = {};
        EXPECT_EQ(!r.values.empty(), ReadOperandComplete(r.text) != 0) << r.text;
        if (ReadOperandComplete(r.text))
            ReadOperandValues(r.text, values);
        EXPECT_EQ(r.values, Bytes((const char *)values, r.values.size())) << r.text;
    }
}

TEST(IndexText, WrapsAtEightyShowsTheLineJustCompletedAndStartsAgainWhenFull)
{
    auto display = std::make_unique<IndexDisplay>(); // the counter starts at 1
    auto shown = [&] { char l[128]; IndexTextShownLine(display.get(), l, sizeof l); return Bytes(l); };
    for (int i = 0; i < 25; i++) // past a wrap: setting the label starts the counter again
        IndexTextAppendByte(display.get(), 0x10);
    IndexTextSetLabel(display.get()); // the 18th 4-character entry brings the text to 80
    for (std::string line = "Indexes:"; line.size() < 80; ) {
        IndexTextAppendByte(display.get(), 0x10);
        line += " 10,";
        ASSERT_EQ(line, shown());
        ASSERT_EQ(line.size() < 80 ? line : line + "\n", display->text);
    }
    IndexTextAppendByte(display.get(), 0x0A);
    EXPECT_EQ(" a,", shown()) << "lower case, no leading zero";
    for (int entry = 20; entry <= 38; entry++) // the 38th brings it, line feed included, to 160
        IndexTextAppendByte(display.get(), 0x10);
    EXPECT_EQ(Bytes(" 10,") + "\n", display->text + 156);
    for (const char *label : {"Indexes:", ""}) {
        display = std::make_unique<IndexDisplay>();
        size_t longest = 0, length = 0;
        for (strcpy(display->text, label); (length = strlen(display->text)) >= longest; longest = length)
            IndexTextAppendByte(display.get(), 0x10);
        EXPECT_GT(longest, (size_t)INDEX_TEXT_SIZE - 8) << "label \"" << label << "\"";
        EXPECT_EQ(std::string(label) + " 10,", display->text);
        EXPECT_EQ(1, display->line_counter);
    }
    display = std::make_unique<IndexDisplay>(); // room for the entry, not its line feed
    memset(display->text, 'x', 4091);
    display->line_counter = 51;
    IndexTextAppendByte(display.get(), 0x12);
    EXPECT_STREQ(" 12,", display->text);
    EXPECT_EQ(1, display->line_counter);
}

TEST(IndexText, ResetsNeverLeaveTheCounterAheadOfTheText)
{
    // The monitor appends; the main thread resets, holds it between two appends, looks.
    static IndexDisplay display;
    std::atomic<int> hold{0}, held{0};
    WhileRunning([&] {
        if (!hold)
            return IndexTextAppendByte(&display, 0x10);
        for (held = 1; hold;) {}
        held = 0;
    }, [&] {
        for (int i = 0; i < 20000; i++) {
            IndexTextClear(&display);
            IndexTextSetLabel(&display);
            for (hold = 1; !held;) {}
            std::string text = display.text;
            int counter = display.line_counter;
            for (hold = 0; held;) {}
            ASSERT_EQ(1 + std::count(text.begin(), text.end(), '\n'), counter) << "reset " << i << ": " << text;
        }
    });
}

TEST(LocalRing, EmptyFullRestartAndReset)
{
    static LocalRing ring;
    EXPECT_EQ(-1, LocalRingGet(&ring));
    for (int i = 0; i < 4095; i++)
        LocalRingPut(&ring, i - 5);
    EXPECT_EQ(-5, LocalRingGet(&ring));
    LocalRingPut(&ring, 5000); // fits: one slot was freed
    EXPECT_EQ(4095, LocalRingCount(&ring));
    LocalRingPut(&ring, 7777); // full: restarts with this value only
    EXPECT_EQ(7777, LocalRingGet(&ring));
    for (int i = 0; i < 5000; i++) { // oldest first across the wrap
        LocalRingPut(&ring, i);
        ASSERT_EQ(i, LocalRingGet(&ring));
    }
}

TEST(LocalRing, ResetsNeverBringOldValuesBack)
{
    // A writer puts rising values while another thread resets; each value read must be
    // above the last one read and above every value put before the latest reset.
    static LocalRing ring;
    std::atomic<int32_t> last_put{0}, floor{0};
    int32_t v = 0, last = 0, bad = 0, read = 0;
    WhileRunning([&] { LocalRingPut(&ring, ++v); last_put = v; }, [&] {
        WhileRunning([&] {
            std::this_thread::sleep_for(std::chrono::microseconds(20));
            int32_t before = last_put;
            LocalRingReset(&ring);
            floor = before;
        }, [&] {
            for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
                 std::chrono::steady_clock::now() < end;) {
                int32_t below = floor, got = LocalRingGet(&ring);
                if (got >= 0)
                    bad += got <= last || got <= below, read++, last = got;
            }
        });
    });
    EXPECT_EQ(0, bad) << "of " << read << " values read";
}

TEST(MonitorPause, HeldMonitorTakesNothingUntilReleased)
{
    static MonitorPause pause;
    static unsigned int slept_ms = 0;
    EXPECT_EQ(0, MonitorPauseAndWait(&pause, [](unsigned int ms) { slept_ms += ms; }, 500));
    EXPECT_EQ(500u, slept_ms) << "no monitor: the wait ends at its bound";
    MonitorPauseClear(&pause);
    std::atomic<long> in_pass{0}, passes{0};
    WhileRunning([&] {
        if (!MonitorPassMayRun(&pause))
            return;
        in_pass = 1;
        for (volatile int i = 0; i < 300; i++) {}
        passes++;
        in_pass = 0;
    }, [&] {
        for (int i = 0; i < 500; i++) {
            ASSERT_EQ(1, MonitorPauseAndWait(&pause, [](unsigned int) { std::this_thread::yield(); }, 1u << 30));
            long before = passes;
            EXPECT_EQ(0, in_pass) << "pause " << i;
            std::this_thread::sleep_for(std::chrono::microseconds(50));
            EXPECT_EQ(before, passes) << "pause " << i;
            for (MonitorPauseClear(&pause); passes == before;) {}
        }
    });
}

// A scripted GetLocalIndex, Sleep and beep, logged as 'g', 's', 'b'.
struct Script { Ints replies; size_t gets = 0; unsigned slept_ms = 0; int beeps = 0; std::string events; } script;
int ScriptGet() { script.events += 'g'; size_t i = script.gets++; return i < script.replies.size() ? script.replies[i] : -1; }
void ScriptSleep(unsigned ms) { script.events += 's'; script.slept_ms += ms; }
void ScriptBeep() { script.events += 'b'; script.beeps++; }
const ReplyWaitOps kOps = {ScriptGet, ScriptSleep, ScriptBeep};
void Play(const Ints &replies) { script = Script(); script.replies = replies; }
Bytes Tries() { return std::to_string(script.gets) + " " + std::to_string(script.beeps) + " " + std::to_string(script.slept_ms); }
Ints Repeat(size_t count, int value, Ints after = {}) { after.insert(after.begin(), count, value); return after; }

// A byte source of size bytes with a read error at fail_at.
struct Memory { Bytes bytes; size_t fail_at, pos = 0, reads = 0; };
Memory Source(size_t size, size_t fail_at) { Memory m{Bytes(size, 0), fail_at}; for (size_t i = 0; i < size; i++) m.bytes[i] = (char)(i * 7); return m; }
int ReadMemory(void *p)
{
    Memory *m = static_cast<Memory *>(p);
    m->reads++;
    return m->pos == m->fail_at ? BYTE_READ_ERROR : m->pos < m->bytes.size() ? (unsigned char)m->bytes[m->pos++] : BYTE_READ_END;
}
unsigned char image[DICT_IMAGE_SIZE];
struct Streamed { Bytes sent; std::vector<size_t> beeps_after; };

TEST(DictionaryFile, PathLengthSumAndReading)
{
    char path[] = "C:\\TEXT\\My.DIC \xC4\xD6_09~", other[16];
    LowerCasePath(path);
    EXPECT_STREQ("c:\\text\\my.dic \xC4\xD6_09~", path);
    for (auto c : std::vector<std::pair<Bytes, int>>{{"MYDICT.DIC", 1}, {"a.dict.txt", 1}, {"dict.di", 0}, {"", 0}}) {
        LowerCasePath(strcpy(other, c.first.c_str()));
        EXPECT_EQ(c.second, PathNamesDictionary(other)) << c.first;
    }
    const struct { uint32_t n, m, count; int matches; } cases[] = { // 8 + 4N + M, wrapping at 2^32
        {2, 5, 20, 0}, {2, 5, 21, 1}, {2, 5, 22, 0}, {200, 1000, 1808, 1}, {0, 0, 8, 1},
        {0x40000000u, 12, 20, 1}, {0xFFFFFFFFu, 10, 14, 1}, {0, 0xFFFFFFF9u, 8, 0},
        {0x40000000u, 0xFFFFFFFCu, 4, 0}, {0x40000000u, 0xFFFFFFFCu, 7, 0}, // short, though the header says 4
    };
    for (const auto &c : cases) {
        for (int i = 0; i < 4; i++)
            image[i] = (unsigned char)(c.n >> (8 * i)), image[4 + i] = (unsigned char)(c.m >> (8 * i));
        EXPECT_EQ(c.matches, DictLengthMatches(image, c.count)) << c.n << " " << c.m << " " << c.count;
    }
    memset(image, 0xFF, DICT_MAX_BYTES);
    EXPECT_EQ((uint16_t)(DICT_MAX_BYTES * 255u), DictSum(image, DICT_MAX_BYTES));
    EXPECT_EQ(0x100, DictSum((const unsigned char *)"\x80\x01\x7f", 3));
    Ints beeps; // after the bytes with index 500, 1000, 1500 (1000 bytes: one beep)
    for (int k = 0; k <= 1500; ++k)
        DictBeepAfterByte(k) ? beeps.push_back(k) : (void)0;
    EXPECT_EQ(Ints({500, 1000, 1500}), beeps);

    const struct { size_t size, fail_at; DictReadResult result; uint32_t count; size_t reads; } images[] = {
        {0, SIZE_MAX, DICT_READ_OK, 0, 1}, {65534, SIZE_MAX, DICT_READ_OK, 65534, 65535},
        {65535, SIZE_MAX, DICT_READ_TOO_LARGE, 65535, 65535}, {70000, SIZE_MAX, DICT_READ_TOO_LARGE, 65535, 65535},
        {100, 40, DICT_READ_ERROR, 40, 41}, // no read after an error
    };
    for (const auto &c : images) {
        Memory m = Source(c.size, c.fail_at);
        uint32_t count = 12345;
        EXPECT_EQ(c.result, ReadDictionaryImage(ReadMemory, &m, image, &count)) << c.size;
        EXPECT_EQ(c.count, count) << c.size;
        EXPECT_EQ(c.reads, m.reads) << c.size;
        EXPECT_EQ(m.bytes.substr(0, count), Bytes((char *)image, count)) << c.size;
    }
    const struct { size_t size, fail_at; int result; std::vector<size_t> beeps_after; } streams[] = {
        {0, SIZE_MAX, 1, {}}, {499, SIZE_MAX, 1, {}}, {500, SIZE_MAX, 1, {500}}, // on the read that finds no byte
        {501, SIZE_MAX, 1, {501}}, {1000, SIZE_MAX, 1, {501, 1000}}, {1501, SIZE_MAX, 1, {501, 1001, 1501}},
        {700, 600, 0, {501}},
    };
    for (const auto &c : streams) {
        Memory m = Source(c.size, c.fail_at);
        Streamed s;
        const BootStreamSink sink = {[](unsigned char b, void *to) { ((Streamed *)to)->sent += (char)b; },
                                     [](void *to) { ((Streamed *)to)->beeps_after.push_back(((Streamed *)to)->sent.size()); }, &s};
        EXPECT_EQ(c.result, StreamBootFile(ReadMemory, &m, &sink)) << c.size;
        EXPECT_EQ(m.bytes.substr(0, c.fail_at), s.sent) << c.size;
        EXPECT_EQ(c.beeps_after, s.beeps_after) << c.size;
    }
    FILE *f = tmpfile();
    ASSERT_EQ(1u, fwrite("\xff", 1, 1, f));
    rewind(f);
    EXPECT_EQ(0xFF, ReadFileByte(f)) << "0xFF is a byte, not the end";
    EXPECT_EQ(BYTE_READ_END, ReadFileByte(f));
    fclose(f);
    if (FILE *dir = fopen("/", "rb")) { // opens natively (not under Wine), and every read fails
        EXPECT_EQ(BYTE_READ_ERROR, ReadFileByte(dir));
        fclose(dir);
    }
}

TEST(DictionaryReplies, SumLowByteFirstThenCommit)
{
    const struct { Ints replies; uint16_t sum; int matches; Bytes tries; } sums[] = { // gets, beeps, ms slept
        {{0x34, 0x12}, 0x1234, 1, "2 0 0"}, {{0x34, 0x12}, 0x3412, 0, "2 0 0"},
        {{0x1234, 0x156}, 0x5634, 1, "2 0 0"},       // the low 8 bits of each
        {{}, 0xFFFF, 1, "55 49 5100"},              // 50 tries with beeps, then 5 without
        {{0x34}, 0xFF34, 1, "6 0 200"},              // a missing byte counts as 0xFF
        {{-1, -1, 0x12}, 0x12FF, 0, "8 2 400"},     // the high byte lands in the low slot
        {Repeat(49, -1, {0x00, 0x01}), 0x0100, 1, "51 49 4900"},
    };
    for (const auto &c : sums) {
        Play(c.replies);
        EXPECT_EQ(c.matches, WaitDictReplyMatches(&kOps, c.sum)) << "sum " << c.sum;
        EXPECT_EQ(c.tries, Tries()) << "sum " << c.sum;
    }
    EXPECT_EQ("gbsg", script.events.substr(0, 4)) << "a beep, then the sleep, then the next try";
    const struct { Ints replies; int committed; Bytes tries; } commits[] = {
        {{'f'}, 1, "1 0 10"}, {{'x', -1, 0x166}, 1, "3 2 210"}, {Repeat(499, 'x', {'f'}), 1, "500 499 49910"},
        {Repeat(500, 'x', {'f'}), 0, "500 499 49910"},
    };
    for (const auto &c : commits) {
        Play(c.replies);
        EXPECT_EQ(c.committed, WaitDictCommit(&kOps)) << c.replies.size();
        EXPECT_EQ(c.tries, Tries()) << c.replies.size();
    }
    EXPECT_EQ("sgsbg", script.events.substr(0, 5)) << "10 ms, a try, then 100 ms and a beep before each retry";
}

TEST(VersionReply, CollectionAndTexts)
{
    const struct { Ints replies; int wanted, collected; Bytes tries; } collect[] = {
        {{1, 2, 3, 4, 5, 6}, 6, 6, "6 0 1000"}, {{}, 6, 0, "10 0 1900"},
        {Repeat(1, 7, Repeat(9, -1, {2})), 2, 2, "11 0 1900"}, {Repeat(1, 7, Repeat(10, -1, {2})), 2, 1, "11 0 1900"},
    };
    for (const auto &c : collect) {
        int reply[6];
        Play(c.replies);
        EXPECT_EQ(c.collected, CollectReplyWith(reply, c.wanted, ScriptGet, ScriptSleep)) << c.replies.size();
        EXPECT_EQ(c.tries, Tries()) << c.replies.size();
    }
    const int normal[6] = {0x10, 0x32, 0x54, 0x76, 0x05, 0x01}, boot[2] = {0x07, 0x02};
    const int high[6] = {0x1FF, 0xFF, 0xFF, 0xFF, 0x100, 0x00};
    const struct { int boot_mode; const int *reply; int collected, eprom; const char *text; } texts[] = {
        {0, normal, 6, 0x104, "Morvox USB Firmware: 0x105\nMorvox Engine: 0x76543210\nEprom Firmware: 0x104"},
        {0, normal, 5, 0x104, "Eprom Firmware: 0x104"}, {1, boot, 1, 0x104, "Eprom Firmware: 0x104"},
        {1, boot, 2, 0x104, "Boot Monitor: 0x207\nEprom Firmware: 0x104"},
        {0, high, 6, -1, "Morvox USB Firmware: 0x0\nMorvox Engine: 0xffffffff\nEprom Firmware: 0xffffffff"},
    };
    for (const auto &t : texts) {
        char text[VERSION_TEXT_SIZE];
        FormatVersionText(text, sizeof text, t.boot_mode, t.reply, t.collected, t.eprom);
        EXPECT_STREQ(t.text, text);
    }
}
