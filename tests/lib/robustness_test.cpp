/* The library at its edges: requests that never return, threads whose wait
 * ran out, clients killed inside the ring lock, wild values in the shared
 * section, and registrations that change while the reader posts. */
#include "mx_test_support.h"

#include <atomic>
#include <thread>

static int Polls(void) { return MxCountRequests(IOCTL_SYNTH_TRANSFER, TRANSFER_POLL); }

/* Takes the ring lock as the library does (the holder's process id in the word). */
static void LockRing(MxSharedSection *shared)
{
    while (InterlockedCompareExchange(&shared->lock, (long)GetCurrentProcessId(), 0) != 0)
        Sleep(0);
}

TEST_F(LibTest, AReaderWhoseWaitRanOutIsNeverRevived)
{
    int base = MxThreadCount();
    std::atomic<int> held{0};
    MxOnRequest([&](DWORD code, uint32_t) {
        if (code == IOCTL_SYNTH_READ && held++ == 0)
            Sleep(6000); /* longer than any wait of close */
    });
    ASSERT_EQ(1, mx.OpenSynth());
    mx.ResumeIndexes(0);
    inproc_report((const uint8_t *)"\x01", 1);
    ASSERT_TRUE(MxWaitUntil([&] { return held.load() > 0; }, 3000));
    mx.CloseSynth(); /* gives up on the held reader */
    ASSERT_EQ(1, mx.OpenSynth());
    mx.ResumeIndexes(0);
    Sleep(6500); /* the held READ has returned */
    int before = Polls();
    Sleep(1000);
    int polls = Polls() - before;
    EXPECT_GE(polls, 15);
    EXPECT_LE(polls, 60) << "about 40 polls a second from one reader expected";
    EXPECT_EQ(base + (MX_IS_32BIT ? 2 : 1), MxThreadCount());
}

TEST_F(LibTest, CloseStopsABusyWriterAndUnloadFollowsSafely)
{
    if (!MX_IS_32BIT)
        GTEST_SKIP() << "the 64-bit build has no writer thread";
    ASSERT_EQ(1, mx.OpenSynth());
    inproc_busy_next(0xFFFFFFFFu); /* the device never takes a data byte */
    std::atomic<bool> stop{false};
    std::thread producer([&] {
        while (!stop.load())
            mx.WriteByte('w');
    });
    Sleep(300);
    DWORD t0 = GetTickCount();
    mx.CloseSynth();
    EXPECT_LT(GetTickCount() - t0, 4500u);
    auto requests = [] {
        inproc_lock();
        uint32_t n = inproc_model()->log_count + inproc_model()->log_dropped;
        inproc_unlock();
        return n;
    };
    uint32_t after_close = requests();
    Sleep(300);
    EXPECT_EQ(after_close, requests()) << "requests reached the device after CloseSynth returned";
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
    MxOnRequest([&](DWORD code, uint32_t) {
        if (code == IOCTL_SYNTH_GET_INFO) {
            held++;
            WaitForSingleObject(release, INFINITE);
        }
    });
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

/* This program started again as a ring child (see MxRingChild). */
struct RingChild {
    HANDLE process = NULL, ready = NULL;
    RingChild(int n)
    {
        char name[64], exe[MAX_PATH], cmd[MAX_PATH + 100];
        snprintf(name, sizeof name, "mx-ring-child-%lu-%d", GetCurrentProcessId(), n);
        ready = CreateEventA(NULL, TRUE, FALSE, name);
        GetModuleFileNameA(NULL, exe, MAX_PATH);
        snprintf(cmd, sizeof cmd, "\"%s\" --ring-child %s", exe, name);
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi;
        if (CreateProcessA(NULL, cmd, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
            CloseHandle(pi.hThread);
            process = pi.hProcess;
        }
    }
    /* Whether it has loaded the library (got through process attach). */
    bool Loaded(DWORD timeout_ms) { return process && WaitForSingleObject(ready, timeout_ms) == WAIT_OBJECT_0; }
    /* Kills it; returns its process id. */
    DWORD Kill(void)
    {
        DWORD id = GetProcessId(process);
        TerminateProcess(process, 1);
        WaitForSingleObject(process, INFINITE);
        return id;
    }
    ~RingChild()
    {
        if (process) {
            TerminateProcess(process, 1);
            CloseHandle(process);
        }
        CloseHandle(ready);
    }
};

TEST_F(LibTest, AClientKilledInsideTheRingLockBlocksNoOne)
{
    if (!MX_IS_32BIT)
        GTEST_SKIP() << "only the 32-bit build shares its rings between processes";
    auto ring_ops_return = [&] {
        bool ok = MxReturnsWithin(3000, [&] {
            mx.ReadByte();
            mx.WriteByte('p');
            mx.HaltIndexes(1);
        });
        if (!ok)
            shared->lock = 0; /* let the stuck call finish */
        return ok;
    };
    /* A dead holder's id in the lock word. */
    {
        RingChild gone(0);
        ASSERT_TRUE(gone.Loaded(20000)) << "the child did not load the library";
        shared->lock = (long)gone.Kill();
    }
    ASSERT_TRUE(ring_ops_return()) << "a dead holder's lock was not taken over";

    /* Children killed at random moments, two at a time; each new child's load
     * must get through process attach. (A 32-bit child takes about 0.8 s to
     * start here, so 60 kills rather than more keep this under a minute.) */
    const int kills = 60;
    int held_at_kill = 0;
    DWORD t0 = GetTickCount();
    srand(t0);
    for (int k = 0; k < kills; k += 2) {
        RingChild a(k + 1), b(k + 2);
        for (RingChild *c : {&a, &b}) {
            if (!c->Loaded(10000)) {
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
    printf("%d of %d children were killed holding the ring lock (%lu ms)\n", held_at_kill, kills,
           GetTickCount() - t0);
}

TEST_F(LibTest, WildPositionsInTheSharedSectionStayInsideTheRings)
{
    ASSERT_EQ(1, mx.OpenSynth());
    const int32_t wild[] = {70000, -5, 100000000, INT32_MIN};
    for (int32_t value : wild) {
        SCOPED_TRACE(value);
        int32_t slot = value & (MX_RING_SLOTS - 1);
        LockRing(shared);
        shared->index_ring.slots[slot] = 0x41;
        shared->index_ring.read.store(value);
        shared->index_ring.write.store(value + 1);
#if MX_HAS_WRITE_QUEUE
        shared->write_queue.read.store(value);
        shared->write_queue.write.store(value);
#endif
        InterlockedExchange(&shared->lock, 0);
        EXPECT_EQ(0x41, mx.ReadByte());
        EXPECT_EQ(-1, mx.ReadByte());
        inproc_clear_log();
        WriteAndWait("q", 1);
        EXPECT_EQ("q", MxSentData());
        LockRing(shared);
        shared->index_ring.read.store(value);
        shared->index_ring.write.store(value);
        InterlockedExchange(&shared->lock, 0);
        inproc_report((const uint8_t *)"\x2A", 1); /* collection runs: "q" cleared the halt */
        ASSERT_TRUE(MxWaitUntil([&] { return sim_pending(inproc_model()) == 0; }, 3000));
        EXPECT_TRUE(MxWaitUntil([&] { return mx.ReadByte() == 0x2A; }, 1000));
    }
}

static std::vector<std::pair<HWND, UINT>> g_posts;

static LRESULT CALLBACK RecordProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg >= WM_APP && msg < WM_APP + 16) {
        g_posts.push_back({hwnd, msg});
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

TEST_F(LibTest, EachPostGoesToOneRegistrationsWindowAndMessage)
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = RecordProc;
    wc.lpszClassName = L"MxPairTest";
    RegisterClassW(&wc);
    HWND w[2];
    for (HWND &h : w)
        h = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
    ASSERT_EQ(1, mx.OpenSynth());
    /* HWND_BROADCAST counts as no window: the bytes stay for USBMX_ReadByte. */
    EXPECT_EQ(1, mx.RegisterWindowIndexes(HWND_BROADCAST, WM_APP + 3));
    inproc_report((const uint8_t *)"\x51\x52", 2);
    mx.ResumeIndexes(0);
    std::vector<int> got;
    MxWaitUntil([&] {
        for (int b; (b = mx.ReadByte()) != -1;)
            got.push_back(b);
        return got.size() >= 2;
    }, 3000);
    EXPECT_EQ((std::vector<int>{0x51, 0x52}), got);

    g_posts.clear();
    std::atomic<bool> stop{false};
    std::thread toggler([&] {
        for (unsigned i = 0; !stop.load(); ++i)
            mx.RegisterWindowIndexes(w[i & 1], WM_APP + (i & 1));
    });
    uint8_t burst[480];
    memset(burst, 0x33, sizeof burst);
    inproc_report(burst, sizeof burst);
    MxWaitUntil([&] {
        MSG m;
        while (PeekMessageW(&m, NULL, 0, 0, PM_REMOVE))
            DispatchMessageW(&m);
        return g_posts.size() >= sizeof burst;
    }, 5000);
    stop = true;
    toggler.join();
    int mixed = 0;
    for (auto &p : g_posts)
        mixed += p.second != WM_APP + (p.first == w[1] ? 1 : 0);
    EXPECT_EQ(0, mixed) << "posts that paired one registration's window with another's message";
    for (HWND h : w)
        DestroyWindow(h);
}

/* A reset while a poll or a read is in the device: bytes the READ fetches
 * after a reset are delivered; bytes of a READ under way are stale. */
TEST_F(LibTest, OnlyBytesFetchedBeforeAResetAreDropped)
{
    struct Case { DWORD code; bool delivered; } cases[] = {
        {IOCTL_SYNTH_TRANSFER, true}, {IOCTL_SYNTH_READ, false}};
    ASSERT_EQ(1, mx.OpenSynth());
    mx.ResumeIndexes(0);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code);
        std::atomic<int> resets{0};
        MxOnRequest([&](DWORD code, uint32_t mode) {
            if (code == c.code && mode != TRANSFER_DATA && sim_pending(inproc_model()) > 0 && resets++ == 0)
                mx.ResumeIndexes(1);
        });
        inproc_report((const uint8_t *)"\x61", 1);
        ASSERT_TRUE(MxWaitUntil([&] { return sim_pending(inproc_model()) == 0; }, 3000));
        Sleep(50);
        MxOnRequest(nullptr);
        EXPECT_EQ(1, resets.load());
        EXPECT_EQ(c.delivered ? 0x61 : -1, mx.ReadByte());
    }
}
