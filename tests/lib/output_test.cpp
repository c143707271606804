/* The speech output path: the byte filter, blocks, raw and out-of-band
 * bytes, stop, pause, resume and language selection. */
#include "mx_test_support.h"

/* The TRANSFER_DATA requests in the log (the reader thread's polls left out). */
static std::vector<SimLogEntry> DataRequests(void)
{
    uint32_t n;
    const SimLogEntry *log = MxLog(&n);
    std::vector<SimLogEntry> data;
    for (uint32_t i = 0; i < n; ++i)
        if (log[i].code == IOCTL_SYNTH_TRANSFER && log[i].mode == TRANSFER_DATA)
            data.push_back(log[i]);
    return data;
}

TEST_F(LibTest, FilterCollapsesRunsAndDropsHighBytes)
{
    ASSERT_EQ(1, mx.OpenSynth());
    ASSERT_EQ(1, shared->index_halted.load());
    /* Bytes above 126 are dropped but still clear IndexHalted. */
    EXPECT_EQ(1, mx.WriteByte(0xE9));
    EXPECT_EQ(1, mx.WriteByte(0x7F));
    EXPECT_TRUE(MxWaitUntil([&] { return shared->index_halted.load() == 0; }, 3000))
        << "a dropped byte must clear IndexHalted";
    WriteAndWait(std::string("a  b...\n\nll ") + '\x80', 8);
    /* A raw byte does not update LastByte, so the next space is a repeat. */
    EXPECT_EQ(1, mx.RawWriteByte('x'));
    WriteAndWait(" z", 10);
    EXPECT_EQ(std::string("a b.\nll xz"), MxSentData());
    /* 0x03 resets LastByte, so two in a row are both sent. (The 32-bit
     * writer empties the queue when it takes a 0x03, so wait in between.) */
    WriteAndWait("\x03", 11);
    WriteAndWait("\x03", 12);
    EXPECT_EQ(std::string("a b.\nll xz\x03\x03"), MxSentData());
    EXPECT_EQ(1, shared->index_halted.load()) << "0x03 halts collection";
}

TEST_F(LibTest, WriteStringSendsChunksOf64)
{
    ASSERT_EQ(1, mx.OpenSynth());
    unsigned char block[130];
    for (int i = 0; i < 130; ++i)
        block[i] = (unsigned char)('A' + i % 26);
    EXPECT_EQ(1, mx.WriteString(block, 130));
    std::vector<uint32_t> lengths;
    for (const SimLogEntry &e : DataRequests())
        lengths.push_back(e.length);
    EXPECT_EQ((std::vector<uint32_t>{64, 64, 2}), lengths);
    EXPECT_EQ(std::string((char *)block, 130).substr(0, 64), MxSentData().substr(0, 64));

    /* count 0: nothing sent, result 1, collection resumed. NULL with a
     * positive count: nothing sent, result 0. */
    inproc_clear_log();
    mx.HaltIndexes(0);
    EXPECT_EQ(1, mx.WriteString(block, 0));
    EXPECT_EQ(0, shared->index_halted.load());
    EXPECT_EQ(0, mx.WriteString(NULL, 5));
    EXPECT_EQ(0, MxCountRequests(IOCTL_SYNTH_TRANSFER, TRANSFER_DATA));

    /* Busy: the same chunk again after 5 ms, until taken. */
    inproc_busy_next(2);
    EXPECT_EQ(1, mx.WriteString(block, 3));
    std::vector<SimLogEntry> log = DataRequests();
    ASSERT_EQ(3u, log.size());
    EXPECT_TRUE(log[0].busy && log[1].busy && !log[2].busy);
    EXPECT_GE(log[2].time_us - log[0].time_us, 9000u) << "two 5 ms sleeps expected";
    EXPECT_EQ("ABC", MxSentData());
}

TEST_F(LibTest, RawImmediateStopPauseResume)
{
    ASSERT_EQ(1, mx.OpenSynth());
    inproc_busy_next(3);
    EXPECT_EQ(1, mx.RawWriteByte('r')); /* no repeat limit */
    EXPECT_EQ(4, MxCountRequests(IOCTL_SYNTH_TRANSFER, TRANSFER_DATA));
    EXPECT_EQ(1, mx.PauseSpeech());
    EXPECT_EQ(1, mx.ResumeSpeech());
    EXPECT_EQ("r\x0E\x0F", MxSentData());
    EXPECT_EQ(0u, inproc_model()->paused);

    mx.RawWriteByteImmediate(SYNTH_OOB_RESET);
    EXPECT_EQ(1, mx.ShutUp());
    EXPECT_EQ("\x07\x06", MxSentImmediate());
    EXPECT_EQ(1, shared->index_halted.load());

    /* ShutUp with the device gone: rings emptied and collection halted all the same. */
    mx.ResumeIndexes(0);
    shared->index_ring.write.store(5);
    inproc_unplug();
    EXPECT_EQ(0, mx.ShutUp());
    EXPECT_EQ(0, shared->index_ring.write.load());
    EXPECT_EQ(1, shared->index_halted.load());
    EXPECT_EQ(0, mx.CheckWdmStatus());
}

TEST_F(LibTest, SelectLanguageSendsStopThenTheCommand)
{
    ASSERT_EQ(1, mx.OpenSynth());
    mx.SelectLanguage(6);
    mx.SelectLanguage(-1);
    Sleep(200);
    EXPECT_EQ("", MxSentData()) << "languages outside 0..5 send nothing";
    mx.SelectLanguage(2);
    ASSERT_TRUE(MxWaitUntil([] { return MxSentData().size() >= 4; }, 5000));
    EXPECT_EQ(std::string("\x03\x01l2"), MxSentData());
    EXPECT_EQ(2u, inproc_model()->language);
    std::vector<SimLogEntry> data = DataRequests();
    ASSERT_EQ(4u, data.size());
    EXPECT_GE(data[1].time_us - data[0].time_us, 4000u) << "5 ms pause after 0x03";
    EXPECT_EQ(0, shared->index_halted.load()) << "the 0x01 after 0x03 resumes collection";
}
