/* Status queries, reconnects, unplug, open, close, a second open, unload without close. */
#include "mx_test_support.h"

TEST_F(LibTest, StatusQueriesReconnectsOpenAndClose)
{
    /* Attach ran before the simulator was patched in: the channel is closed. */
    EXPECT_EQ(0, mx.CheckWdmStatus());
    EXPECT_EQ(0, mx.ForceIndexRead()) << "no reader thread, no event";
    EXPECT_EQ(0u, mx.ReadyCheck()); /* closed: 0, and the channel reopens */
    ASSERT_EQ(1, mx.CheckWdmStatus());
    inproc_model()->ready_word = 0xCAFE1234u, inproc_model()->firmware = 0xBEEF; /* no thread runs yet */
    EXPECT_EQ(0xCAFE1234u, mx.ReadyCheck());
    EXPECT_EQ(0xBEEF, mx.GetFirmwareVersion());
    inproc_model()->ready_word = 0;
    EXPECT_EQ(0u, mx.ReadyCheck());
    size_t requests = MxLog().size();
    EXPECT_EQ(1, mx.CheckWdmStatus());
    EXPECT_EQ(requests, MxLog().size()) << "CheckWdmStatus must send no request";
    uint32_t opens = inproc_model()->open_count;
    inproc_fail_next(1);
    EXPECT_EQ(-1, mx.GetFirmwareVersion());
    EXPECT_EQ(opens + 1, inproc_model()->open_count) << "one reopen at once expected";
    EXPECT_EQ(1u, inproc_open_handles()) << "the failed handle must be closed";

    ASSERT_EQ(1, mx.OpenSynth());
    EXPECT_EQ(opens + 1, inproc_model()->open_count) << "the open channel must be kept";
    EXPECT_NE(0, mx.ForceIndexRead());
    mx.CloseSynth();
    EXPECT_EQ("\x06", MxSent(TRANSFER_IMMEDIATE));
    EXPECT_EQ(0, mx.CheckWdmStatus());
    EXPECT_EQ(0u, inproc_open_handles());
    EXPECT_EQ(0, mx.ForceIndexRead()) << "the reader closed its event";
    EXPECT_EQ(-1, mx.GetFirmwareVersion()) << "null handle after close";
    EXPECT_EQ(0xBEEF, mx.GetFirmwareVersion());
    /* A second close: its ShutUp only reopens (no stop byte), then it closes again. */
    mx.CloseSynth();
    mx.CloseSynth();
    EXPECT_EQ("\x06\x06", MxSent(TRANSFER_IMMEDIATE)) << "the first of these two found the channel open";
    EXPECT_EQ(0, mx.CheckWdmStatus());
    EXPECT_EQ(0u, inproc_open_handles());
    inproc_unplug();
    EXPECT_EQ(0, mx.OpenSynth());
    EXPECT_EQ(0, mx.CheckWdmStatus());
}

TEST_F(LibTest, UnplugFailsRequestsAndTheReaderReopensAfterReplug)
{
    ASSERT_EQ(1, mx.OpenSynth());
    FillRing(1, [](int) { return 9; });
    inproc_unplug();
    EXPECT_EQ(0, mx.RawWriteByte('x')); /* also resumes collection: the reader now cycles */
    EXPECT_EQ(0, mx.CheckWdmStatus());
    EXPECT_EQ(-1, mx.ReadByte()) << "closed channel: -1 even with a byte stored";
    Sleep(100);
    EXPECT_EQ(0, mx.CheckWdmStatus());
    inproc_replug();
    /* No call of ours: the ReaderThread's next cycle reopens the channel. */
    EXPECT_TRUE(MxWaitUntil([&] { return mx.CheckWdmStatus() == 1; }, 2000));
    EXPECT_EQ(1u, inproc_open_handles());
    EXPECT_EQ(9, mx.ReadByte());
    EXPECT_EQ(1, mx.RawWriteByte('y'));
    EXPECT_EQ("y", MxSent());
}

TEST_F(LibTest, SecondOpenReplacesTheThreadsAndUnloadStopsThem)
{
    int base = MxThreadCount(), per_set = MX_IS_32BIT ? 2 : 1;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(1, mx.OpenSynth());
        EXPECT_EQ(base + per_set, MxThreadCount()) << "exactly one set of library threads";
    }
    EXPECT_EQ("", MxSent(TRANSFER_IMMEDIATE)) << "a second open does not stop speech";
    mx.ResumeIndexes(0);
    inproc_report((const uint8_t *)"\x21", 1);
    EXPECT_EQ(std::vector<int>{0x21}, ReadAll(1));
    mx.CloseSynth();
    EXPECT_TRUE(MxWaitUntil([&] { return MxThreadCount() == base; }, 3000));

    /* Unload without close. */
    ASSERT_EQ(1, mx.OpenSynth());
    WriteAndWait("a", 1); /* resumes collection */
    DWORD t0 = GetTickCount();
    EXPECT_TRUE(FreeLibrary(module));
    module = NULL;
    EXPECT_LT(GetTickCount() - t0, 4000u) << "the threads should stop well inside the 5000 ms bound";
    EXPECT_TRUE(MxWaitUntil([&] { return MxThreadCount() == base; }, 3000));
    EXPECT_EQ(0u, inproc_open_handles());
    Sleep(100); /* a thread still running in the unmapped image would crash now */
}
