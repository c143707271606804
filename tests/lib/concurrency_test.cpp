/* Several threads at once: readers, writers, reconnects. */
#include "mx_test_support.h"

/* Runs `body` in four threads at once and waits for them. */
static void RunCallers(const std::function<void()> &body)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back(body);
    std::for_each(threads.begin(), threads.end(), [](std::thread &t) { t.join(); });
}

TEST_F(LibTest, ParallelReadersTakeEachByteOnceAndWritersLoseNone)
{
    ASSERT_EQ(1, mx.OpenSynth()); /* collection halted: only the readers touch the ring */
    const int stored = MX_IS_32BIT ? 4000 : 20000;
    FillRing(stored, [](int i) { return i % 254 + 1; });
    std::mutex lock;
    std::vector<int> seen(256, 0); /* times each value was read */
    RunCallers([&] {
        for (int b; (b = mx.ReadByte()) != -1;) {
            std::lock_guard<std::mutex> g(lock);
            seen[b & 0xFF]++;
        }
    });
    for (int v = 0; v < 256; ++v)
        EXPECT_EQ(v == 0 || v > 254 ? 0 : stored / 254 + (v - 1 < stored % 254), seen[v]) << "byte " << v;

    const int per_thread = 150; /* and writers: no byte lost */
    std::atomic<int> next_letter{'A'};
    RunCallers([&] {
        int letter = next_letter++;
        for (int i = 0; i < per_thread; ++i)
            EXPECT_EQ(1, mx.WriteByte(letter));
    });
    ASSERT_TRUE(MxWaitUntil([] { return MxSent().size() >= 4 * per_thread; }, 20000));
    std::string sent = MxSent();
    for (char letter : {'A', 'B', 'C', 'D'})
        EXPECT_EQ(per_thread, (int)std::count(sent.begin(), sent.end(), letter)) << letter;
}

TEST_F(LibTest, ConcurrentReconnectsLeakNoHandle)
{
    ASSERT_EQ(1, mx.OpenSynth());
    mx.ResumeIndexes(0); /* the reader thread requests too */
    RunCallers([&] {
        for (int i = 0; i < 30; ++i, inproc_fail_next(1))
            mx.GetFirmwareVersion(), mx.RawWriteByte('q');
    });
    mx.GetFirmwareVersion();
    EXPECT_EQ(1, mx.CheckWdmStatus());
    EXPECT_EQ(1u, inproc_open_handles()) << "every reconnect must close what it replaces";
}
