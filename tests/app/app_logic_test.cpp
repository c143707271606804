// The utility's logic with no Windows calls in it: typed commands, caret
// escapes, the "{read}" operand, the index line, the local ring and the boot
// file stream. Built natively with sanitizers (and in the x64 tree).
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

#include "boot_stream.h"
#include "index_text.h"
#include "local_index_ring.h"
#include "text_commands.h"

namespace {

// ---- command matching -------------------------------------------------------

TEST(TextCommands, MatchesWholeWordsWithCaseAndReadByItsPrefix)
{
    const struct {
        const char *text;
        TextCommand expected;
    } cases[] = {
        {"{baud=57600}", TEXT_COMMAND_BAUD_57600},
        {"{regindexes}", TEXT_COMMAND_REGINDEXES},
        {"{unregindexes}", TEXT_COMMAND_UNREGINDEXES},
        {"{baud=19200}", TEXT_COMMAND_BAUD_19200},
        {"{read}0001A2F0", TEXT_COMMAND_READ},
        {"{read}", TEXT_COMMAND_READ},
        {"{read}12345678 and more", TEXT_COMMAND_READ},
        {"{bootmonitor}", TEXT_COMMAND_BOOTMONITOR},
        {"{normal}", TEXT_COMMAND_NORMAL},
        {"{bootstrap}", TEXT_COMMAND_BOOTSTRAP},
        {"{reset}", TEXT_COMMAND_RESET},
        // Not commands: other capitals, blanks, prefixes, extensions.
        {"{RESET}", TEXT_COMMAND_NONE},
        {" {reset}", TEXT_COMMAND_NONE},
        {"{normal}x", TEXT_COMMAND_NONE},
        {"{Read}12345678", TEXT_COMMAND_NONE},
        {"{rea", TEXT_COMMAND_NONE},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.expected, MatchTextCommand(c.text)) << "text \"" << c.text << "\"";
}

// ---- caret escapes ----------------------------------------------------------

void Collect(unsigned char byte, void *context)
{
    static_cast<std::vector<unsigned char> *>(context)->push_back(byte);
}

std::vector<unsigned char> Plain(const char *text, std::string *buffer_after = nullptr)
{
    char buffer[SEND_TEXT_BUFFER_SIZE] = {};
    strncpy(buffer, text, sizeof buffer - 1);
    std::vector<unsigned char> sent;
    int count = SendPlainText(buffer, Collect, &sent);
    EXPECT_EQ((int)sent.size(), count) << "text \"" << text << "\"";
    if (buffer_after)
        *buffer_after = std::string(buffer, strlen(buffer));
    return sent;
}

using Bytes = std::vector<unsigned char>;

TEST(TextCommands, CaretEscapesAndTheirEnds)
{
    EXPECT_EQ(Bytes{}, Plain(""));
    EXPECT_EQ((Bytes{'a', 'b', 'c'}), Plain("abc^")) << "a caret at the end is dropped";
    EXPECT_EQ((Bytes{0x0B, 'A'}), Plain("^kA"));
    EXPECT_EQ((Bytes{0x01, 0x01, 0x1A, 0x1B}), Plain("^a^A^z^{"));
    EXPECT_EQ((Bytes{0xFE}), Plain("^^")) << "a caret escapes a caret: 0x5E - 96, modulo 256";
    EXPECT_EQ((Bytes{'1', 0xD1}), Plain("1^1")) << "a digit is escaped too: '1' - 96, modulo 256";

    // The escape of the grave accent writes a zero into the buffer, which
    // ends the text: 'y' is never sent.
    std::string after;
    EXPECT_EQ((Bytes{'x', 0x00}), Plain("x^`y", &after));
    EXPECT_EQ("x^", after) << "the buffer is rewritten in place";

    EXPECT_EQ((Bytes{'a', 0x02, 'c'}), Plain("a^bc", &after));
    EXPECT_EQ(std::string("a^\x02" "c"), after);

    // Bytes above 127 pass as unsigned values (the library's filter drops them).
    EXPECT_EQ((Bytes{0xE9}), Plain("\xE9"));
}

// ---- the "{read}" operand ---------------------------------------------------

TEST(TextCommands, ReadOperandGoesOutLastDigitFirst)
{
    unsigned char values[READ_OPERAND_DIGITS];
    ASSERT_TRUE(ReadOperandComplete("{read}0001A2F0"));
    ReadOperandValues("{read}0001A2F0", values);
    EXPECT_EQ((Bytes{0x00, 0x0F, 0x02, 0x0A, 0x01, 0x00, 0x00, 0x00}), Bytes(values, values + 8));

    // Both cases give 10 to 15; other characters are converted unchecked;
    // characters after the eighth are ignored.
    ReadOperandValues("{read}abcdefAB", values);
    EXPECT_EQ((Bytes{11, 10, 15, 14, 13, 12, 11, 10}), Bytes(values, values + 8));
    ReadOperandValues("{read}g0000000zzz", values);
    EXPECT_EQ((Bytes{0, 0, 0, 0, 0, 0, 0, 16}), Bytes(values, values + 8));
    ReadOperandValues("{read}!0000000", values);
    EXPECT_EQ((unsigned char)('!' - 87), values[7]) << "(0x21 - 87) modulo 256";
}

TEST(TextCommands, ReadOperandNeedsEightCharacters)
{
    EXPECT_FALSE(ReadOperandComplete("{read}"));
    EXPECT_FALSE(ReadOperandComplete("{read}1234567"));
    EXPECT_TRUE(ReadOperandComplete("{read}12345678"));
    EXPECT_TRUE(ReadOperandComplete("{read}123456789"));
}

// ---- the index line ---------------------------------------------------------

TEST(IndexText, EntriesAndTheWrapAtEightyCharacters)
{
    IndexDisplay display;
    IndexTextClear(&display);
    EXPECT_STREQ("", display.text);
    EXPECT_EQ(1, display.line_counter);

    IndexTextAppendByte(&display, 0x1F);
    IndexTextAppendByte(&display, 0x00);
    IndexTextAppendByte(&display, 0xFE);
    EXPECT_STREQ(" 1f, 0, fe,", display.text);

    // From "Indexes:", 4-character entries: the first line feed follows the
    // 18th entry (8 + 18 * 4 = 80), the second the entry that brings the text,
    // that line feed included, to 160.
    IndexTextClear(&display);
    IndexTextSetLabel(&display);
    for (int i = 1; i <= 17; i++)
        IndexTextAppendByte(&display, 0x10);
    EXPECT_EQ(nullptr, strchr(display.text, '\n')) << "after 17 entries: " << display.text;
    IndexTextAppendByte(&display, 0x10);
    EXPECT_EQ(81u, strlen(display.text));
    EXPECT_EQ('\n', display.text[80]);
    EXPECT_EQ(2, display.line_counter);
    EXPECT_STREQ("", IndexTextCurrentLine(display.text)) << "a new line has just begun";

    IndexTextAppendByte(&display, 0xAB);
    EXPECT_STREQ(" ab,", IndexTextCurrentLine(display.text));
    int entries = 19;
    while (display.line_counter == 2) {
        IndexTextAppendByte(&display, 0x10);
        entries++;
    }
    // 81 + 4k >= 160 first at k = 20: the 38th entry, text length 161 + 1.
    EXPECT_EQ(38, entries);
    EXPECT_EQ(162u, strlen(display.text));
    EXPECT_EQ('\n', display.text[161]);
}

TEST(IndexText, StartsAgainInsteadOfOverflowing)
{
    for (const char *label : {"Indexes:", ""}) {
        IndexDisplay display;
        memset(display.text, 'Z', sizeof display.text); // catch writes past the end
        IndexTextClear(&display);
        if (*label)
            IndexTextSetLabel(&display);
        size_t longest = 0;
        bool restarted = false;
        for (int i = 0; i < 3000; i++) {
            size_t before = strlen(display.text);
            IndexTextAppendByte(&display, 0x10 + (i % 200));
            size_t length = strlen(display.text);
            longest = length > longest ? length : longest;
            ASSERT_LT(length, (size_t)INDEX_TEXT_SIZE);
            ASSERT_EQ('\0', display.text[INDEX_TEXT_SIZE - 1]);
            if (length < before && !restarted) {
                restarted = true;
                EXPECT_EQ(0, strncmp(display.text, label, strlen(label)))
                    << "label \"" << label << "\", text after restart: " << display.text;
                EXPECT_EQ(1, display.line_counter);
                EXPECT_LE(length, strlen(label) + 5) << display.text;
            }
        }
        EXPECT_TRUE(restarted) << "label \"" << label << "\"";
        EXPECT_GT(longest, (size_t)INDEX_TEXT_SIZE - 8) << "the text is used nearly to its end";
    }
}

TEST(IndexText, LineFeedThatWouldNotFitStartsAgain)
{
    // A text of 4091 characters that is due to wrap: the entry fits exactly
    // (4095 characters and the zero), its line feed would not.
    IndexDisplay display;
    IndexTextClear(&display);
    memset(display.text, 'x', 4091);
    display.text[4091] = '\0';
    display.line_counter = 51; // wraps once the text reaches 4080
    IndexTextAppendByte(&display, 0x12);
    EXPECT_EQ(0, strcmp(" 12,", display.text)) << "text of " << strlen(display.text) << " characters";
    EXPECT_EQ(1, display.line_counter);
}

// ---- the local ring ---------------------------------------------------------

TEST(LocalRing, EmptyFullAndRestart)
{
    static LocalRing ring;
    LocalRingReset(&ring);
    EXPECT_EQ(-1, LocalRingGet(&ring));

    for (int i = 0; i < 4095; i++)
        LocalRingPut(&ring, i);
    EXPECT_EQ(4095, LocalRingCount(&ring));
    EXPECT_EQ(0, LocalRingGet(&ring));
    EXPECT_EQ(1, LocalRingGet(&ring));

    // Two slots freed: two more fit, the one after restarts the ring.
    LocalRingPut(&ring, 5000);
    LocalRingPut(&ring, 5001);
    EXPECT_EQ(4095, LocalRingCount(&ring));
    LocalRingPut(&ring, 7777);
    EXPECT_EQ(1, LocalRingCount(&ring));
    EXPECT_EQ(7777, LocalRingGet(&ring));
    EXPECT_EQ(-1, LocalRingGet(&ring));

    // Values are stored unchanged and come out oldest first across the wrap.
    LocalRingReset(&ring);
    for (int round = 0; round < 3; round++) {
        for (int i = 0; i < 3000; i++)
            LocalRingPut(&ring, round * 100000 + i - 5);
        for (int i = 0; i < 3000; i++)
            ASSERT_EQ(round * 100000 + i - 5, LocalRingGet(&ring)) << "round " << round << " value " << i;
        ASSERT_EQ(-1, LocalRingGet(&ring));
    }
}

// ---- the boot file stream ---------------------------------------------------

struct StreamLog {
    std::vector<unsigned char> sent;
    std::vector<size_t> beeps_after; // bytes sent when each beep came
};

void LogSend(unsigned char byte, void *context)
{
    static_cast<StreamLog *>(context)->sent.push_back(byte);
}

void LogBeep(void *context)
{
    auto *log = static_cast<StreamLog *>(context);
    log->beeps_after.push_back(log->sent.size());
}

int StreamBytes(size_t size, StreamLog *log)
{
    FILE *file = tmpfile();
    EXPECT_NE(nullptr, file);
    if (!file)
        return -1;
    for (size_t i = 0; i < size; i++)
        fputc((int)(i * 7 % 256), file);
    rewind(file);
    BootStreamSink sink = {LogSend, LogBeep, log};
    int result = StreamBootFile(file, &sink);
    fclose(file);
    return result;
}

TEST(BootStream, SendsEveryByteAndBeepsOnEvery500thRead)
{
    const struct {
        size_t size;
        std::vector<size_t> beeps_after;
    } cases[] = {
        {0, {}},
        {1, {}},
        {499, {}},
        {500, {500}},        // on the final read, which finds no byte
        {501, {501}},
        {1000, {501, 1000}}, // after the 501st byte and on the final read
        {1501, {501, 1001, 1501}},
    };
    for (const auto &c : cases) {
        StreamLog log;
        EXPECT_EQ(1, StreamBytes(c.size, &log)) << "size " << c.size;
        ASSERT_EQ(c.size, log.sent.size()) << "size " << c.size;
        for (size_t i = 0; i < c.size; i++)
            ASSERT_EQ((unsigned char)(i * 7 % 256), log.sent[i]) << "size " << c.size << " byte " << i;
        EXPECT_EQ(c.beeps_after, log.beeps_after) << "size " << c.size;
    }
}

TEST(BootStream, StopsAtAReadError)
{
    // Reading a directory fails with an error, never an end of file.
    FILE *file = fopen(".", "rb");
    if (!file)
        GTEST_SKIP() << "this system does not open a directory as a file";
    StreamLog log;
    BootStreamSink sink = {LogSend, LogBeep, &log};
    EXPECT_EQ(0, StreamBootFile(file, &sink));
    EXPECT_EQ(0u, log.sent.size());
    fclose(file);
}

} // namespace
