/* Several threads at once: readers, writers, resets during puts, reconnects. */
#include "mx_test_support.h"

#include <thread>
#include <vector>
#include <atomic>
#include <mutex>
#include <algorithm>

/* Threads that call in at once. */
static const int kCallers = 4;

/* Runs `body` in kCallers threads at once and waits for them. */
static void RunCallers(const std::function<void()> &body)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < kCallers; ++t)
        threads.emplace_back(body);
    for (auto &t : threads)
        t.join();
}

/* Fills the IndexRing directly, under the library's own ring lock. */
static void FillRing(MxSharedSection *shared, int count, int (*value)(int))
{
    while (InterlockedCompareExchange(&shared->lock, 1, 0) != 0)
        Sleep(0);
    for (int i = 0; i < count; ++i)
        shared->index_ring.slots[i] = value(i);
    shared->index_ring.read.store(0);
    shared->index_ring.write.store(count);
    InterlockedExchange(&shared->lock, 0);
}

TEST_F(LibTest, ParallelReadersTakeEachByteOnce)
{
    ASSERT_EQ(1, mx.OpenSynth()); /* collection halted: only the readers touch the ring */
    const int stored = MX_IS_32BIT ? 4000 : 20000;
    FillRing(shared, stored, [](int i) { return i % 254 + 1; });
    std::mutex lock;
    std::vector<int> seen(256, 0);
    RunCallers([&] {
        std::vector<int> mine(256, 0);
        for (int b; (b = mx.ReadByte()) != -1;)
            mine[b & 0xFF]++;
        std::lock_guard<std::mutex> g(lock);
        for (int v = 0; v < 256; ++v)
            seen[v] += mine[v];
    });
    for (int v = 0; v < 256; ++v) {
        int expected = v == 0 || v > 254 ? 0 : stored / 254 + (v - 1 < stored % 254 ? 1 : 0);
        EXPECT_EQ(expected, seen[v]) << "byte " << v << " read " << seen[v] << " times";
    }
}

TEST_F(LibTest, ResetsDuringReadsLeaveNoStaleBytes)
{
    ASSERT_EQ(1, mx.OpenSynth());
    /* Slots beyond what each round fills hold a marker that must never be read. */
    FillRing(shared, MX_RING_SLOTS - 1, [](int) { return 0xEE; });
    FillRing(shared, 0, nullptr);
    const int rounds = MX_IS_32BIT ? 20 : 100, per_round = 2000;
    std::atomic<bool> done{false};
    std::atomic<int> total{0}, markers{0};
    std::thread resetter([&] {
        for (int r = 0; r < rounds; ++r) {
            FillRing(shared, per_round, [](int i) { return i % 200 + 1; });
            Sleep(r % 3);
            mx.HaltIndexes(1); /* empties the ring while the readers take bytes */
            Sleep(1);
        }
        done = true;
    });
    RunCallers([&] {
        while (!done.load()) {
            int b = mx.ReadByte();
            if (b == 0xEE)
                markers++;
            else if (b != -1)
                total++;
        }
    });
    resetter.join();
    EXPECT_EQ(0, markers.load()) << "bytes read from slots no round filled";
    EXPECT_LE(total.load(), rounds * per_round) << "more bytes read than were stored";
    EXPECT_EQ(-1, mx.ReadByte()) << "the last reset must leave the ring empty";
}

TEST_F(LibTest, ParallelWritersLoseNoByte)
{
    ASSERT_EQ(1, mx.OpenSynth());
    const int per_thread = 150;
    std::atomic<int> next_letter{0};
    RunCallers([&] {
        int letter = 'A' + next_letter++;
        for (int i = 0; i < per_thread; ++i)
            EXPECT_EQ(1, mx.WriteByte(letter));
    });
    ASSERT_TRUE(MxWaitUntil([] { return MxSentData().size() >= (size_t)(kCallers * per_thread); }, 20000))
        << "got " << MxSentData().size() << " bytes";
    std::string sent = MxSentData();
    for (int t = 0; t < kCallers; ++t)
        EXPECT_EQ(per_thread, (int)std::count(sent.begin(), sent.end(), 'A' + t)) << "thread " << t;
}

TEST_F(LibTest, ConcurrentReconnectsLeakNoHandle)
{
    ASSERT_EQ(1, mx.OpenSynth());
    mx.ResumeIndexes(0); /* the reader thread requests too */
    std::atomic<bool> done{false};
    std::thread failer([&] {
        for (int i = 0; i < 60; ++i) {
            inproc_fail_next(1);
            Sleep(2);
        }
        done = true;
    });
    RunCallers([&] {
        while (!done.load()) {
            mx.GetFirmwareVersion();
            mx.RawWriteByte('q');
        }
    });
    failer.join();
    mx.GetFirmwareVersion();
    EXPECT_EQ(1, mx.CheckWdmStatus());
    EXPECT_EQ(1u, inproc_open_handles()) << "every reconnect must close what it replaces";
}
