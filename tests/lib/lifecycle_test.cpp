/* Open, close, a second close, a second open, and unload without close. */
#include "mx_test_support.h"

TEST_F(LibTest, OpenFailsWhileTheDeviceIsAbsent)
{
    inproc_unplug();
    EXPECT_EQ(0, mx.OpenSynth());
    EXPECT_EQ(0, mx.CheckWdmStatus());
    EXPECT_EQ(0, mx.ForceIndexRead()) << "no reader thread, no event";
    inproc_replug();
    EXPECT_EQ(1, mx.OpenSynth());
}

TEST_F(LibTest, OpenKeepsAnOpenChannelAndCloseEndsEverything)
{
    EXPECT_EQ(0, mx.ForceIndexRead()) << "before OpenSynth there is no event";
    EXPECT_EQ(0u, mx.ReadyCheck()); /* closed: reopens the channel */
    ASSERT_EQ(1, mx.CheckWdmStatus());
    uint32_t opens = inproc_model()->open_count;
    ASSERT_EQ(1, mx.OpenSynth());
    EXPECT_EQ(opens, inproc_model()->open_count) << "the open channel must be kept";
    EXPECT_NE(0, mx.ForceIndexRead());

    mx.CloseSynth();
    EXPECT_EQ("\x06", MxSentImmediate());
    EXPECT_EQ(0, mx.CheckWdmStatus());
    EXPECT_EQ(0u, inproc_open_handles());
    EXPECT_EQ(0, mx.ForceIndexRead()) << "the reader closed its event";
    EXPECT_EQ(-1, mx.GetFirmwareVersion()) << "null handle after close";
    EXPECT_EQ(0x0104, mx.GetFirmwareVersion());

    /* A second close: its ShutUp only reopens (no stop byte), then it closes again. */
    mx.CloseSynth();
    mx.CloseSynth();
    EXPECT_EQ("\x06\x06", MxSentImmediate()) << "the first of these two found the channel open";
    EXPECT_EQ(0, mx.CheckWdmStatus());
    EXPECT_EQ(0u, inproc_open_handles());
}

TEST_F(LibTest, SecondOpenReplacesTheThreadsOfTheFirst)
{
    int base = MxThreadCount();
    int per_set = MX_IS_32BIT ? 2 : 1;
    ASSERT_EQ(1, mx.OpenSynth());
    EXPECT_EQ(base + per_set, MxThreadCount());
    ASSERT_EQ(1, mx.OpenSynth());
    ASSERT_EQ(1, mx.OpenSynth());
    EXPECT_EQ(base + per_set, MxThreadCount()) << "exactly one set of library threads";
    EXPECT_EQ("", MxSentImmediate()) << "a second open does not stop speech";
    mx.ResumeIndexes(0);
    inproc_report((const uint8_t *)"\x21", 1);
    EXPECT_TRUE(MxWaitUntil([&] { return shared->index_ring.write.load() == 1; }, 3000));
    mx.CloseSynth();
    EXPECT_TRUE(MxWaitUntil([&] { return MxThreadCount() == base; }, 3000))
        << "got " << MxThreadCount() << " threads, expected " << base;
}

TEST_F(LibTest, UnloadWithoutCloseStopsTheThreads)
{
    int base = MxThreadCount();
    ASSERT_EQ(1, mx.OpenSynth());
    mx.ResumeIndexes(0);
    mx.WriteByte('a');
    ASSERT_TRUE(MxWaitUntil([] { return MxSentData() == "a"; }, 3000));
    LARGE_INTEGER t0, t1, freq;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t0);
    EXPECT_TRUE(FreeLibrary(module));
    QueryPerformanceCounter(&t1);
    module = NULL;
    double ms = (t1.QuadPart - t0.QuadPart) * 1000.0 / freq.QuadPart;
    printf("FreeLibrary with the library's threads running took %.1f ms\n", ms);
    EXPECT_LT(ms, 4000.0) << "the threads should stop well inside the 5000 ms bound";
    EXPECT_TRUE(MxWaitUntil([&] { return MxThreadCount() == base; }, 3000))
        << "got " << MxThreadCount() << " threads, expected " << base;
    EXPECT_EQ(0u, inproc_open_handles());
    Sleep(100); /* a thread still running in the unmapped image would crash now */
}
