/* Stuck requests and threads, clients killed in the ring lock, wild shared values. */
#include "mx_test_support.h"

TEST_F(LibTest, AReaderWhoseWaitRanOutIsNeverRevived)
{
    int base = MxThreadCount();
    std::atomic<int> reads{0}; /* the first READ is held 6 s, longer than any wait of close */
    MxOnRequest([&](DWORD code, uint32_t) { code == IOCTL_SYNTH_READ && reads++ == 0 ? Sleep(6000) : (void)0; });
    ASSERT_EQ(1, mx.OpenSynth());
    mx.ResumeIndexes(0);
    inproc_report((const uint8_t *)"\x01", 1);
    ASSERT_TRUE(MxWaitUntil([&] { return reads.load() > 0; }, 3000));
    mx.CloseSynth(); /* gives up on the held reader */
    ASSERT_EQ(1, mx.OpenSynth());
    mx.ResumeIndexes(0);
    Sleep(6500); /* the held READ has returned */
    int polls = MxCountRequests(IOCTL_SYNTH_TRANSFER, TRANSFER_POLL);
    Sleep(1000);
    polls = MxCountRequests(IOCTL_SYNTH_TRANSFER, TRANSFER_POLL) - polls;
    EXPECT_TRUE(polls >= 15 && polls <= 60) << polls << " polls a second; about 40 from one reader expected";
    EXPECT_EQ(base + (MX_IS_32BIT ? 2 : 1), MxThreadCount());
}

TEST_F(LibTest, CloseStopsABusyWriterAndUnloadFollowsSafely)
{
    if (!MX_IS_32BIT)
        GTEST_SKIP() << "the 64-bit build has no writer thread";
    ASSERT_EQ(1, mx.OpenSynth());
    inproc_busy_next(0xFFFFFFFFu); /* the device never takes a data byte */
    std::atomic<bool> stop{false};
    std::thread producer([&] { while (!stop.load()) mx.WriteByte('w'); });
    Sleep(300);
    EXPECT_TRUE(MxReturnsWithin(4500, [&] { mx.CloseSynth(); }));
    auto requests = [] { return inproc_model()->log_count + inproc_model()->log_dropped; };
    uint32_t after_close = requests();
    Sleep(300);
    EXPECT_EQ(after_close, requests()) << "requests reached the device after USBMX_CloseSynth returned";
    stop = true;
    producer.join();
    EXPECT_TRUE(FreeLibrary(module));
    module = NULL;
    Sleep(300); /* a writer still running in the unmapped image would crash now */
}

TEST_F(LibTest, ARequestThatNeverReturnsHoldsNothingElse)
{
    HANDLE release = CreateEventW(NULL, TRUE, FALSE, NULL);
    std::atomic<int> held{0};
    MxOnRequest([&](DWORD code, uint32_t) { code == IOCTL_SYNTH_GET_INFO && ++held ? (void)WaitForSingleObject(release, INFINITE) : (void)0; });
    ASSERT_EQ(1, mx.OpenSynth());
    std::thread stuck([&] { mx.GetFirmwareVersion(); });
    ASSERT_TRUE(MxWaitUntil([&] { return held.load() == 1; }, 3000));
    /* The bound the header states for USBMX_CloseSynth. */
    EXPECT_TRUE(MxReturnsWithin(MX_IS_32BIT ? 4500 : 5500, [&] { mx.CloseSynth(); }));
    EXPECT_TRUE(MxReturnsWithin(1000, [&] { mx.RawWriteByte('x'); }));
    EXPECT_TRUE(MxReturnsWithin(1000, [&] { mx.RawWriteByte('y'); }));
    EXPECT_EQ(1, mx.CheckWdmStatus());
    SetEvent(release);
    stuck.join();
    EXPECT_EQ(1u, inproc_open_handles()) << "the stuck request's handle is closed when it returns";
    CloseHandle(release);
}

/* This program started again with `--ring-child`: it loads the library and
 * calls ring operations until it is killed. */
int main(int argc, char **argv)
{
    MxApi mx = {};
    if (argc == 2 && strcmp(argv[1], "--ring-child") == 0 && MxLoad(&mx))
        for (unsigned i = 1;; ++i) {
            mx.WriteByte('c');
            mx.ReadByte();
            i % 512 ? (void)0 : i % 4096 ? mx.HaltIndexes(1) : (void)mx.ShutUp(); /* the queue too */
        }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

struct RingChild {
    PROCESS_INFORMATION pi = {};
    RingChild() {
        char cmd[MAX_PATH + 20] = "\"";
        GetModuleFileNameA(NULL, cmd + 1, MAX_PATH);
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        CreateProcessA(NULL, strcat(cmd, "\" --ring-child"), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi);
    }
    /* Got through process attach: seen holding the ring lock. */
    bool Loaded(MxSharedSection *shared, DWORD timeout_ms) {
        return MxWaitUntil([&] { return shared->lock == (long)pi.dwProcessId; }, timeout_ms);
    }
    DWORD Kill(void) { /* returns its process id */
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, INFINITE);
        return pi.dwProcessId;
    }
    ~RingChild() { Kill(), CloseHandle(pi.hProcess), CloseHandle(pi.hThread); }
};

TEST_F(LibTest, AClientKilledInsideTheRingLockBlocksNoOne)
{
    if (!MX_IS_32BIT)
        GTEST_SKIP() << "only the 32-bit build shares its rings between processes";
    auto ring_ops_return = [&] { /* on failure, frees the lock to let the stuck call finish */
        return MxReturnsWithin(3000, [&] { mx.ReadByte(), mx.WriteByte('p'), mx.HaltIndexes(1); }) ||
               (shared->lock = 0);
    };
    {
        RingChild gone;
        ASSERT_TRUE(gone.Loaded(shared, 20000));
        shared->lock = (long)gone.Kill(); /* a dead holder's id in the lock word */
    }
    ASSERT_TRUE(ring_ops_return()) << "a dead holder's lock was not taken over";

    /* Children killed at random moments, two at a time; each new child's load
     * must get through process attach. (A 32-bit child takes about 0.8 s to
     * start here, so 60 kills rather than 200 keep this under a minute.) */
    const int kills = 60;
    int held_at_kill = 0;
    srand(GetTickCount());
    for (int k = 0; k < kills; k += 2) {
        RingChild a, b;
        for (RingChild *c : {&a, &b}) {
            if (!c->Loaded(shared, 10000)) {
                shared->lock = 0; /* for this process's own calls that follow */
                FAIL() << "kill " << k << ": a new load did not return";
            }
        }
        for (RingChild *c : {&a, &b}) {
            Sleep(rand() % 20);
            held_at_kill += shared->lock == (long)c->Kill();
        }
        ASSERT_TRUE(ring_ops_return()) << "after kill " << k;
    }
    printf("%d of %d children were killed holding the ring lock\n", held_at_kill, kills);
}

TEST_F(LibTest, WildPositionsInTheSharedSectionStayInsideTheRings)
{
    ASSERT_EQ(1, mx.OpenSynth());
    for (int32_t wild : {70000, -5, 100000000, INT32_MIN}) {
        SCOPED_TRACE(wild);
        FillRing(0, nullptr);
        shared->index_ring.slots[wild & MX_RING_MASK] = 0x41;
        shared->index_ring.read.store(wild);
        shared->index_ring.write.store(wild + 1);
#if MX_HAS_WRITE_QUEUE
        shared->write_queue.read.store(wild);
        shared->write_queue.write.store(wild);
#endif
        EXPECT_EQ(0x41, mx.ReadByte());
        EXPECT_EQ(-1, mx.ReadByte());
        inproc_clear_log();
        WriteAndWait("q", 1); /* also resumes collection */
        EXPECT_EQ("q", MxSent());
        shared->index_ring.read.store(wild);
        shared->index_ring.write.store(wild);
        inproc_report((const uint8_t *)"\x2A", 1);
        EXPECT_EQ(std::vector<int>{0x2A}, ReadAll(1));
    }
}
