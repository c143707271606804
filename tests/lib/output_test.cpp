/* The byte filter, blocks, raw and out-of-band bytes, stop, language, the WriteQueue. */
#include "mx_test_support.h"

/* The TRANSFER_DATA requests in the log (the reader thread's polls left out). */
static std::vector<SimLogEntry> DataRequests(void)
{
    std::vector<SimLogEntry> log = MxLog(), data;
    std::copy_if(log.begin(), log.end(), std::back_inserter(data),
                 [](const SimLogEntry &e) { return e.code == IOCTL_SYNTH_TRANSFER && e.mode == TRANSFER_DATA; });
    return data;
}

TEST_F(LibTest, FilterCollapsesRunsAndDropsHighBytes)
{
    ASSERT_EQ(1, mx.OpenSynth());
    ASSERT_EQ(1, shared->index_halted.load());
    /* Bytes above 126 are dropped but still clear IndexHalted. */
    EXPECT_EQ(1, mx.WriteByte(0xE9));
    EXPECT_EQ(1, mx.WriteByte(0x7F));
    EXPECT_TRUE(MxWaitUntil([&] { return shared->index_halted.load() == 0; }, 3000));
    WriteAndWait(std::string("a  b...\n\nll ") + '\x80', 8);
    /* A raw byte does not update LastByte, so the next space is a repeat. */
    EXPECT_EQ(1, mx.RawWriteByte('x'));
    WriteAndWait(" z", 10);
    /* 0x03 resets LastByte: two are both sent (waiting, as 0x03 empties the queue). */
    FillRing(1, [](int) { return 5; });
    WriteAndWait("\x03", 11);
    EXPECT_EQ(-1, mx.ReadByte()) << "0x03 empties the ring";
    WriteAndWait("\x03", 12);
    EXPECT_EQ(std::string("a b.\nll xz\x03\x03"), MxSent());
    EXPECT_EQ(1, shared->index_halted.load()) << "0x03 halts collection";
}

TEST_F(LibTest, WriteStringSendsChunksOf64)
{
    ASSERT_EQ(1, mx.OpenSynth());
    unsigned char block[130];
    for (int i = 0; i < 130; ++i)
        block[i] = (unsigned char)('A' + i % 26);
    EXPECT_EQ(1, mx.WriteString(block, 130));
    std::vector<SimLogEntry> log = DataRequests();
    ASSERT_EQ(3u, log.size());
    EXPECT_TRUE(log[0].length == 64 && log[1].length == 64 && log[2].length == 2);
    EXPECT_EQ(std::string((char *)block, 64), MxSent().substr(0, 64));

    /* count 0: result 1, collection resumed; NULL with a count: result 0; nothing sent. */
    inproc_clear_log();
    mx.HaltIndexes(0);
    EXPECT_EQ(1, mx.WriteString(block, 0));
    EXPECT_EQ(0, shared->index_halted.load());
    EXPECT_EQ(0, mx.WriteString(NULL, 5));
    EXPECT_EQ(0, MxCountRequests(IOCTL_SYNTH_TRANSFER, TRANSFER_DATA));

    /* Busy: the same chunk again after 5 ms, until taken. */
    inproc_busy_next(2);
    EXPECT_EQ(1, mx.WriteString(block, 3));
    log = DataRequests();
    ASSERT_EQ(3u, log.size());
    EXPECT_TRUE(log[0].busy && log[1].busy && !log[2].busy);
    EXPECT_GE(log[2].time_us - log[0].time_us, 9000u) << "two 5 ms sleeps expected";
    EXPECT_EQ("ABC", MxSent());
}

TEST_F(LibTest, RawImmediateStopPauseResume)
{
    ASSERT_EQ(1, mx.OpenSynth());
    inproc_busy_next(3);
    EXPECT_EQ(1, mx.RawWriteByte('r')); /* no repeat limit */
    EXPECT_EQ(4, MxCountRequests(IOCTL_SYNTH_TRANSFER, TRANSFER_DATA));
    EXPECT_EQ(2, mx.PauseSpeech() + mx.ResumeSpeech());
    EXPECT_EQ("r\x0E\x0F", MxSent());
    mx.RawWriteByteImmediate(SYNTH_OOB_RESET);
    EXPECT_EQ(1, mx.ShutUp());
    EXPECT_EQ("\x07\x06", MxSent(TRANSFER_IMMEDIATE));
    EXPECT_EQ(1, shared->index_halted.load());

    /* ShutUp with the device gone: rings emptied and collection halted all the same. */
    mx.ResumeIndexes(0);
    FillRing(5, [](int) { return 1; });
    inproc_unplug();
    EXPECT_EQ(0, mx.ShutUp());
    EXPECT_EQ(-1, mx.ReadByte());
    EXPECT_EQ(0, shared->index_ring.write.load());
    EXPECT_EQ(1, shared->index_halted.load());
    EXPECT_EQ(0, mx.CheckWdmStatus());
}

TEST_F(LibTest, SelectLanguageSendsStopThenTheCommand)
{
    ASSERT_EQ(1, mx.OpenSynth());
    mx.SelectLanguage(6);
    mx.SelectLanguage(-1);
    mx.SelectLanguage(2);
    ASSERT_TRUE(MxWaitUntil([] { return MxSent().size() >= 4; }, 5000));
    EXPECT_EQ(std::string("\x03\x01l2"), MxSent()) << "languages outside 0..5 send nothing";
    EXPECT_EQ(2u, inproc_model()->language);
    std::vector<SimLogEntry> data = DataRequests();
    ASSERT_EQ(4u, data.size());
    EXPECT_GE(data[1].time_us - data[0].time_us, 4000u) << "5 ms pause after 0x03";
    EXPECT_EQ(0, shared->index_halted.load()) << "the 0x01 after 0x03 resumes collection";
}

TEST_F(LibTest, WriteQueue32)
{
    if (!MX_IS_32BIT)
        GTEST_SKIP() << "the 64-bit build has no write queue";
    /* No writer thread yet: bytes stay queued. 65535 fit. */
    int refused = 0;
    for (int i = 0; i < MX_RING_SLOTS - 1; ++i)
        refused += mx.WriteByte('a' + i % 26) == 0;
    EXPECT_EQ(0, refused);
    DWORD t0 = GetTickCount();
    EXPECT_EQ(0, mx.WriteByte('z')) << "the 65536th byte must be refused";
    EXPECT_GE(GetTickCount() - t0, 80u) << "after a 100 ms pause";

    ASSERT_EQ(1, mx.OpenSynth()); /* empties the queue */
    Sleep(100);
    EXPECT_EQ("", MxSent()) << "bytes queued before open must be discarded";
    /* Busy for 11 requests: abandoned without a reconnect; for 10: taken on the 11th. */
    inproc_busy_next(11);
    WriteAndWait("ab", 1);
    EXPECT_EQ("b", MxSent());
    EXPECT_EQ(12, MxCountRequests(IOCTL_SYNTH_TRANSFER, TRANSFER_DATA));
    EXPECT_EQ(1, mx.CheckWdmStatus());
    inproc_clear_log();
    inproc_busy_next(10);
    WriteAndWait("c", 1);
    EXPECT_EQ("c", MxSent());
}
