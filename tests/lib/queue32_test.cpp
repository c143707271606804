/* The 32-bit build's WriteQueue and WriterThread. */
#include "mx_test_support.h"

#define SKIP_UNLESS_32BIT() \
    if (!MX_IS_32BIT) GTEST_SKIP() << "the 64-bit build has no write queue"

TEST_F(LibTest, QueueBeforeOpenIsDiscardedAndFullQueueRefuses)
{
    SKIP_UNLESS_32BIT();
    /* No writer thread yet: bytes stay queued. 65535 fit. */
    int refused = 0;
    for (int i = 0; i < MX_RING_SLOTS - 1; ++i)
        refused += mx.WriteByte('a' + i % 26) == 0;
    EXPECT_EQ(0, refused);
    DWORD t0 = GetTickCount();
    EXPECT_EQ(0, mx.WriteByte('z')) << "the 65536th byte must be refused";
    DWORD took = GetTickCount() - t0;
    EXPECT_GE(took, 80u);
    EXPECT_LT(took, 1000u);

    ASSERT_EQ(1, mx.OpenSynth()); /* empties the queue */
    Sleep(300);
    EXPECT_EQ("", MxSentData()) << "bytes queued before open must be discarded";
    WriteAndWait("ok", 2);
    EXPECT_EQ("ok", MxSentData());
}

TEST_F(LibTest, WriterAbandonsAByteBusyForElevenRequests)
{
    SKIP_UNLESS_32BIT();
    ASSERT_EQ(1, mx.OpenSynth());
    inproc_busy_next(11);
    WriteAndWait("ab", 1);
    Sleep(50);
    EXPECT_EQ("b", MxSentData());
    EXPECT_EQ(12, MxCountRequests(IOCTL_SYNTH_TRANSFER, TRANSFER_DATA));
    EXPECT_EQ(1, mx.CheckWdmStatus()) << "an abandoned byte does not reconnect";

    inproc_clear_log();
    inproc_busy_next(10);
    WriteAndWait("c", 1);
    EXPECT_EQ("c", MxSentData()) << "taken on the 11th request";
}
