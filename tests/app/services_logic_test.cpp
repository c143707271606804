// Native tests of the utility's service logic: the dictionary checks and
// reply waits, the shared file reading, and the Version Info values and text.
// Built for Linux with sanitizers; no Windows calls are involved.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

#include "dictionary_check.h"
#include "version_values.h"

namespace {

// ---- a scripted GetLocalIndex / Sleep / MessageBeep -------------------------

struct Script {
    std::vector<int> replies; // what each get_byte call returns; -1 once used up
    size_t gets = 0;
    unsigned slept_ms = 0;
    int sleeps = 0;
    int beeps = 0;
    std::string events;       // 'g' get, 's' sleep, 'b' beep, in call order
};
Script script;

int ScriptGet()
{
    script.events += 'g';
    size_t i = script.gets++;
    return i < script.replies.size() ? script.replies[i] : -1;
}
void ScriptSleep(unsigned int ms)
{
    script.events += 's';
    script.slept_ms += ms;
    script.sleeps++;
}
void ScriptBeep()
{
    script.events += 'b';
    script.beeps++;
}
const ReplyWaitOps kOps = {ScriptGet, ScriptSleep, ScriptBeep};

void ResetScript(std::vector<int> replies)
{
    script = Script();
    script.replies = std::move(replies);
}

// ---- an in-memory byte source that can fail -----------------------------------

struct MemorySource {
    std::vector<unsigned char> bytes;
    size_t pos = 0;
    size_t fail_at = SIZE_MAX; // a read error instead of the byte at this index
    size_t reads = 0;
};
int ReadMemory(void *p)
{
    MemorySource *m = static_cast<MemorySource *>(p);
    m->reads++;
    if (m->pos == m->fail_at)
        return BYTE_READ_ERROR;
    if (m->pos >= m->bytes.size())
        return BYTE_READ_END;
    return m->bytes[m->pos++];
}

// A dictionary image: header N, M, then body bytes, total length `length`.
std::vector<unsigned char> Dict(uint32_t n, uint32_t m, size_t length, unsigned char fill = 0x5A)
{
    std::vector<unsigned char> v(length, fill);
    unsigned char header[8] = {
        (unsigned char)n, (unsigned char)(n >> 8), (unsigned char)(n >> 16), (unsigned char)(n >> 24),
        (unsigned char)m, (unsigned char)(m >> 8), (unsigned char)(m >> 16), (unsigned char)(m >> 24)};
    for (size_t i = 0; i < 8 && i < length; ++i)
        v[i] = header[i];
    return v;
}

} // namespace

// ---- path handling ------------------------------------------------------------

TEST(DictionaryPath, LowerCasesAsciiCapitalsOnlyAndFindsDicAnywhere)
{
    char path[] = "C:\\TEXT\\MyDict.DIC \xC4\xD6_09~";
    LowerCasePath(path);
    EXPECT_STREQ(path, "c:\\text\\mydict.dic \xC4\xD6_09~") << "bytes outside A-Z must stay";

    struct { const char *typed; int expected; } cases[] = {
        {"MYDICT.DIC", 1}, {"a.dict.txt", 1}, {"x.dic", 1}, {".dic", 1},
        {"dict.di", 0}, {"dic", 0}, {"", 0}, {"c:\\dic\\file.txt", 0},
    };
    for (const auto &c : cases) {
        char p[64];
        strcpy(p, c.typed);
        LowerCasePath(p);
        EXPECT_EQ(PathNamesDictionary(p), c.expected) << "path \"" << c.typed << "\"";
    }
    // The test is made on the lowered path; the raw one would fail.
    EXPECT_EQ(PathNamesDictionary("MYDICT.DIC"), 0);
}

// ---- length against the header ------------------------------------------------

TEST(DictionaryLength, MatchesHeaderExactly)
{
    // N = 2, M = 5: exactly 21 bytes.
    for (size_t len : {20u, 21u, 22u}) {
        auto d = Dict(2, 5, len);
        EXPECT_EQ(DictLengthMatches(d.data(), (uint32_t)len), len == 21 ? 1 : 0) << "length " << len;
    }
    // Header bytes of 0x80 and above count as 128 to 255: N = 200, M = 1000.
    auto big = Dict(200, 1000, 1808);
    EXPECT_EQ(DictExpectedLength(big.data()), 1808u);
    EXPECT_EQ(DictLengthMatches(big.data(), 1808), 1);
    // The smallest dictionary: no entries, no data.
    auto empty = Dict(0, 0, 8);
    EXPECT_EQ(DictLengthMatches(empty.data(), 8), 1);
}

TEST(DictionaryLength, ShortFilesFailEvenWhenTheWrappedHeaderAgrees)
{
    // Files of 0 to 7 bytes never pass. The image beyond the count holds a
    // header whose wrapped length is 4, to show the count test comes first.
    auto d = Dict(0x40000000u, 0xFFFFFFFCu, 8);
    ASSERT_EQ(DictExpectedLength(d.data()), 4u);
    for (uint32_t count = 0; count < 8; ++count)
        EXPECT_EQ(DictLengthMatches(d.data(), count), 0) << "count " << count;
}

TEST(DictionaryLength, WrapsAt32Bits)
{
    // 4 * 0x40000000 wraps to 0: a 20-byte file with M = 12 matches.
    auto a = Dict(0x40000000u, 12, 20);
    EXPECT_EQ(DictExpectedLength(a.data()), 20u);
    EXPECT_EQ(DictLengthMatches(a.data(), 20), 1);
    // 8 + 4 * 0xFFFFFFFF = 4 (mod 2^32), plus M = 10: 14.
    auto b = Dict(0xFFFFFFFFu, 10, 14);
    EXPECT_EQ(DictExpectedLength(b.data()), 14u);
    EXPECT_EQ(DictLengthMatches(b.data(), 14), 1);
    // M alone wrapping: 8 + 0 + 0xFFFFFFF9 + ... = 1 -> never a real length.
    auto c = Dict(0, 0xFFFFFFF9u, 8);
    EXPECT_EQ(DictExpectedLength(c.data()), 1u);
    EXPECT_EQ(DictLengthMatches(c.data(), 8), 0);
}

// ---- sum and beeps -------------------------------------------------------------

TEST(DictionarySum, SixteenBitAdditiveSumOfUnsignedBytes)
{
    std::vector<unsigned char> ones(300, 0xFF);
    EXPECT_EQ(DictSum(ones.data(), 300), (uint16_t)(300 * 255 % 65536));
    unsigned char mixed[] = {0x80, 0x01, 0x7F};
    EXPECT_EQ(DictSum(mixed, 3), 0x100) << "bytes of 0x80 and above are 128 to 255";
    EXPECT_EQ(DictSum(mixed, 0), 0);
    // The largest file: 65534 bytes of 0xFF.
    std::vector<unsigned char> full(DICT_MAX_BYTES, 0xFF);
    EXPECT_EQ(DictSum(full.data(), DICT_MAX_BYTES), (uint16_t)((uint64_t)DICT_MAX_BYTES * 255 % 65536));
}

TEST(DictionarySum, BeepAfterByte500ThenEvery500)
{
    // 1000 bytes give one beep (after index 500), 1001 give two.
    int beeps1000 = 0, beeps1001 = 0;
    for (uint32_t k = 0; k < 1001; ++k)
        (k < 1000 ? beeps1000 : beeps1001) += DictBeepAfterByte(k);
    EXPECT_EQ(beeps1000, 1);
    EXPECT_EQ(beeps1000 + beeps1001, 2);
}

// ---- reading a whole file ------------------------------------------------------

TEST(DictionaryRead, SizeLimitStopsAtTheByteThatMakes65535)
{
    static unsigned char image[DICT_IMAGE_SIZE];
    struct { size_t size; DictReadResult result; uint32_t count; size_t reads; } cases[] = {
        {0, DICT_READ_OK, 0, 1},
        {65534, DICT_READ_OK, 65534, 65535},
        {65535, DICT_READ_TOO_LARGE, 65535, 65535},   // no read past the 65535th byte
        {65536, DICT_READ_TOO_LARGE, 65535, 65535},
        {100000, DICT_READ_TOO_LARGE, 65535, 65535},
    };
    for (const auto &c : cases) {
        MemorySource m;
        m.bytes.assign(c.size, 0);
        for (size_t i = 0; i < c.size; ++i)
            m.bytes[i] = (unsigned char)(i * 7);
        uint32_t count = 12345;
        DictReadResult r = ReadDictionaryImage(ReadMemory, &m, image, &count);
        EXPECT_EQ(r, c.result) << "file of " << c.size;
        EXPECT_EQ(count, c.count) << "file of " << c.size;
        EXPECT_EQ(m.reads, c.reads) << "file of " << c.size;
        if (c.size == 65534) {
            EXPECT_EQ(memcmp(image, m.bytes.data(), 65534), 0);
        }
    }
}

TEST(DictionaryRead, ReadErrorEndsTheLoop)
{
    static unsigned char image[DICT_IMAGE_SIZE];
    MemorySource m;
    m.bytes.assign(100, 0x41);
    m.fail_at = 40;
    uint32_t count = 0;
    EXPECT_EQ(ReadDictionaryImage(ReadMemory, &m, image, &count), DICT_READ_ERROR);
    EXPECT_EQ(count, 40u);
    EXPECT_EQ(m.reads, 41u) << "the reader must not be called again after an error";
}

TEST(FileBytes, StdioReaderTellsBytesEndAndError)
{
    FILE *f = tmpfile();
    ASSERT_NE(f, nullptr);
    const unsigned char bytes[] = {0x00, 0x80, 0xFF, 0x0A, 0x7F};
    fwrite(bytes, 1, sizeof bytes, f);
    rewind(f);
    for (unsigned char b : bytes)
        EXPECT_EQ(ReadFileByte(f), b) << "0xFF must not read as the end";
    EXPECT_EQ(ReadFileByte(f), BYTE_READ_END);
    EXPECT_EQ(ReadFileByte(f), BYTE_READ_END);
    fclose(f);

    // A directory opens "rb" here and fails when read: the real read error
    // that would otherwise spin the reading loop for ever.
    FILE *dir = fopen("/", "rb");
    if (!dir)
        GTEST_SKIP() << "this C library refuses to open a directory";
    static unsigned char image[DICT_IMAGE_SIZE];
    uint32_t count = 99;
    EXPECT_EQ(ReadDictionaryImage(ReadFileByte, dir, image, &count), DICT_READ_ERROR);
    EXPECT_EQ(count, 0u);
    fclose(dir);
}

// ---- reply waits of the download ----------------------------------------------

TEST(DictionaryReplies, FirstByteWaitsFiftyTriesWithBeeps)
{
    ResetScript({});
    EXPECT_EQ(WaitDictReplyLow(&kOps), 0xFF) << "a missing byte counts as 0xFF";
    EXPECT_EQ(script.gets, 50u);
    EXPECT_EQ(script.beeps, 49);
    EXPECT_EQ(script.slept_ms, 4900u);
    EXPECT_EQ(script.events.substr(0, 4), "gbsg") << "beep, then sleep, then try again";

    // A byte on the 50th try still counts; 0x00 is a byte.
    std::vector<int> late(49, -1);
    late.push_back(0x00);
    ResetScript(late);
    EXPECT_EQ(WaitDictReplyLow(&kOps), 0x00);
    EXPECT_EQ(script.gets, 50u);

    // Only the low 8 bits are used; a first-try byte waits for nothing.
    ResetScript({0x1234});
    EXPECT_EQ(WaitDictReplyLow(&kOps), 0x34);
    EXPECT_EQ(script.events, "g");
}

TEST(DictionaryReplies, SecondByteWaitsFiveTriesWithoutBeeps)
{
    ResetScript({});
    EXPECT_EQ(WaitDictReplyHigh(&kOps), 0xFF);
    EXPECT_EQ(script.gets, 5u);
    EXPECT_EQ(script.beeps, 0);
    EXPECT_EQ(script.slept_ms, 200u);

    // The two waits together: a sum whose high byte is 0xFF matches a reply
    // whose second byte never came; one whose low byte is 0xFF cannot match,
    // since 0xFF never arrives and the high byte is taken as the first.
    ResetScript({0x34});
    int lo = WaitDictReplyLow(&kOps);
    int hi = WaitDictReplyHigh(&kOps);
    EXPECT_EQ(hi * 256 + lo, 0xFF34);
    ResetScript({-1, -1, 0x12});
    lo = WaitDictReplyLow(&kOps);
    hi = WaitDictReplyHigh(&kOps);
    EXPECT_EQ(hi * 256 + lo, 0xFF12) << "sum 0x12FF: the high byte lands in the low slot";
    EXPECT_EQ(script.beeps, 2);
}

TEST(DictionaryReplies, CommitWaitsForF)
{
    ResetScript({'f'});
    EXPECT_EQ(WaitDictCommit(&kOps), 1);
    EXPECT_EQ(script.events, "sg") << "10 ms, then the first try";
    EXPECT_EQ(script.slept_ms, 10u);

    ResetScript({'x', -1, 0x66 + 0x100, 'F'});
    EXPECT_EQ(WaitDictCommit(&kOps), 1) << "0x166 has 'f' in its low 8 bits";
    EXPECT_EQ(script.gets, 3u);

    // 'f' on the last of the 500 tries still counts; one later does not.
    std::vector<int> others(499, 'x');
    others.push_back('f');
    ResetScript(others);
    EXPECT_EQ(WaitDictCommit(&kOps), 1);
    EXPECT_EQ(script.gets, 500u);
    others.insert(others.begin(), 'x');
    ResetScript(others);
    EXPECT_EQ(WaitDictCommit(&kOps), 0);
    EXPECT_EQ(script.gets, 500u);
    EXPECT_EQ(script.beeps, 499);
    EXPECT_EQ(script.slept_ms, 10u + 499u * 100u);
    EXPECT_EQ(script.events.substr(0, 5), "sgsbg") << "sleep, beep, try";
}

// ---- Version Info --------------------------------------------------------------

TEST(VersionReply, CollectsWithPerByteDeadlines)
{
    int reply[6];
    ResetScript({0x10, 0x32, 0x54, 0x76, 0x05, 0x01});
    EXPECT_EQ(CollectReplyWith(reply, 6, ScriptGet, ScriptSleep), 6);
    EXPECT_EQ(script.slept_ms, 1000u);

    // Nothing: 1000 ms, then 10 tries 100 ms apart for the first byte.
    ResetScript({});
    EXPECT_EQ(CollectReplyWith(reply, 6, ScriptGet, ScriptSleep), 0);
    EXPECT_EQ(script.gets, 10u);
    EXPECT_EQ(script.slept_ms, 1900u);

    // A byte after 9 empty retries still counts; after 10 it does not, and
    // collection stops at that slot.
    std::vector<int> r = {0x07};
    r.insert(r.end(), 9, -1);
    r.push_back(0x02);
    ResetScript(r);
    EXPECT_EQ(CollectReplyWith(reply, 2, ScriptGet, ScriptSleep), 2);
    EXPECT_EQ(reply[1], 0x02);
    r = {0x07};
    r.insert(r.end(), 10, -1);
    r.push_back(0x02);
    ResetScript(r);
    EXPECT_EQ(CollectReplyWith(reply, 2, ScriptGet, ScriptSleep), 1);
    EXPECT_EQ(script.gets, 11u) << "no try after the slot gave up";
}

TEST(VersionReply, TextsForEveryModeAndCount)
{
    char text[VERSION_TEXT_SIZE];
    const int normal[6] = {0x10, 0x32, 0x54, 0x76, 0x05, 0x01};
    FormatVersionText(text, sizeof text, 0, normal, 6, 0x104);
    EXPECT_STREQ(text, "Morvox USB Firmware: 0x105\nMorvox Engine: 0x76543210\nEprom Firmware: 0x104");
    FormatVersionText(text, sizeof text, 0, normal, 5, 0x104);
    EXPECT_STREQ(text, "Eprom Firmware: 0x104");

    const int boot[2] = {0x07, 0x02};
    FormatVersionText(text, sizeof text, 1, boot, 2, 0x104);
    EXPECT_STREQ(text, "Boot Monitor: 0x207\nEprom Firmware: 0x104");
    FormatVersionText(text, sizeof text, 1, boot, 1, 0x104);
    EXPECT_STREQ(text, "Eprom Firmware: 0x104");

    // A failed firmware request shows as ffffffff; only low 8 bits of each
    // reply slot count, and an engine with its top bit set stays unsigned.
    const int high[6] = {0x1FF, 0xFF, 0xFF, 0xFF, 0x100, 0x00};
    FormatVersionText(text, sizeof text, 0, high, 6, -1);
    EXPECT_STREQ(text, "Morvox USB Firmware: 0x0\nMorvox Engine: 0xffffffff\nEprom Firmware: 0xffffffff");
}
