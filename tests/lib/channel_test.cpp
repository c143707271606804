/* The device channel: status queries, reconnect after a failed request, and
 * unplug and replug. */
#include "mx_test_support.h"

TEST_F(LibTest, StatusQueriesReportTheDriversWords)
{
    /* Attach ran before the simulator was patched in: the channel is closed. */
    EXPECT_EQ(0, mx.CheckWdmStatus());
    /* A closed channel gives 0 and reopens it; a word of 0 gives 0 too. */
    EXPECT_EQ(0u, mx.ReadyCheck());
    EXPECT_EQ(1, mx.CheckWdmStatus()) << "ReadyCheck should have reopened the channel";
    inproc_lock();
    inproc_model()->ready_word = 0xCAFE1234u;
    inproc_model()->firmware = 0xBEEF;
    inproc_unlock();
    EXPECT_EQ(0xCAFE1234u, mx.ReadyCheck());
    EXPECT_EQ(0xBEEF, mx.GetFirmwareVersion());
    inproc_lock();
    inproc_model()->ready_word = 0;
    inproc_unlock();
    EXPECT_EQ(0u, mx.ReadyCheck());
    EXPECT_EQ(1, mx.CheckWdmStatus());
    int before = MxCountRequests(IOCTL_SYNTH_GET_INFO, -1) + MxCountRequests(IOCTL_SYNTH_READY, -1);
    mx.CheckWdmStatus();
    EXPECT_EQ(before, MxCountRequests(IOCTL_SYNTH_GET_INFO, -1) + MxCountRequests(IOCTL_SYNTH_READY, -1))
        << "CheckWdmStatus must send no request";
}

TEST_F(LibTest, FailedRequestReopensTheChannelAtOnce)
{
    ASSERT_EQ(1, mx.OpenSynth());
    uint32_t opens = inproc_model()->open_count;
    inproc_fail_next(1);
    EXPECT_EQ(-1, mx.GetFirmwareVersion());
    EXPECT_EQ(1, mx.CheckWdmStatus());
    EXPECT_EQ(opens + 1, inproc_model()->open_count) << "one reopen expected";
    EXPECT_EQ(1u, inproc_open_handles()) << "the failed handle must be closed";
    EXPECT_EQ(0x0104, mx.GetFirmwareVersion());
}

TEST_F(LibTest, UnplugFailsRequestsAndTheReaderReopensAfterReplug)
{
    ASSERT_EQ(1, mx.OpenSynth());
    inproc_unplug();
    EXPECT_EQ(0, mx.RawWriteByte('x')); /* also resumes collection: the reader now cycles */
    EXPECT_EQ(0, mx.CheckWdmStatus());
    EXPECT_EQ(0, mx.ShutUp());
    mx.ResumeIndexes(0);
    Sleep(100);
    EXPECT_EQ(0, mx.CheckWdmStatus());
    inproc_replug();
    /* No call of ours: the ReaderThread's next cycle reopens the channel. */
    EXPECT_TRUE(MxWaitUntil([&] { return mx.CheckWdmStatus() == 1; }, 2000));
    EXPECT_EQ(1u, inproc_open_handles());
    EXPECT_EQ(1, mx.RawWriteByte('y'));
    EXPECT_EQ("y", MxSentData());
}
