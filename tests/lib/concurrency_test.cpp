/* Several threads at once: readers, writers, resets during puts, reconnects. */
#include "mx_test_support.h"

#include <thread>
#include <vector>
#include <atomic>
#include <mutex>
#include <algorithm>

TEST_F(LibTest, ParallelReadersTakeEachByteOnce)
{
    ASSERT_EQ(1, mx.OpenSynth());
    mx.ResumeIndexes(0);
    uint8_t bytes[200];
    for (int i = 0; i < 200; ++i)
        bytes[i] = (uint8_t)(i + 1);
    inproc_report(bytes, 200);
    std::mutex lock;
    std::vector<int> seen(256, 0);
    std::atomic<int> total{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t)
        readers.emplace_back([&] {
            DWORD start = GetTickCount();
            while (total.load() < 200 && GetTickCount() - start < 10000) {
                int b = mx.ReadByte();
                if (b == -1) {
                    Sleep(1);
                    continue;
                }
                std::lock_guard<std::mutex> g(lock);
                seen[b & 0xFF]++;
                total++;
            }
        });
    for (auto &r : readers)
        r.join();
    EXPECT_EQ(200, total.load());
    for (int v = 0; v < 256; ++v)
        EXPECT_EQ(v >= 1 && v <= 200 ? 1 : 0, seen[v]) << "byte " << v;
}

TEST_F(LibTest, ResetsDuringPutsNeverDeliverStaleBytes)
{
    ASSERT_EQ(1, mx.OpenSynth());
    /* Unwritten slots hold a marker that is never reported. */
    for (int i = 0; i < MX_RING_SLOTS; ++i)
        shared->index_ring.slots[i] = 0xEE;
    mx.ResumeIndexes(0);
    uint8_t bytes[200];
    for (int i = 0; i < 200; ++i)
        bytes[i] = (uint8_t)(i + 1);
    inproc_report(bytes, 200);
    std::atomic<bool> done{false};
    std::thread resetter([&] {
        while (!done.load()) {
            mx.HaltIndexes(1);
            Sleep(1);
            mx.ResumeIndexes(1);
            mx.ForceIndexRead();
            Sleep(3);
        }
    });
    int last = 0, count = 0;
    DWORD start = GetTickCount();
    while (sim_pending(inproc_model()) > 0 && GetTickCount() - start < 15000) {
        int b = mx.ReadByte();
        if (b == -1) {
            Sleep(1);
            continue;
        }
        ++count;
        EXPECT_GT(b, last) << "got " << b << " after " << last << ": stale or duplicated";
        EXPECT_LE(b, 200) << "an unwritten slot was delivered";
        last = b;
    }
    done = true;
    resetter.join();
    EXPECT_EQ(0u, sim_pending(inproc_model()));
    printf("read %d of 200 bytes while the ring was being reset\n", count);
}

TEST_F(LibTest, ParallelWritersLoseNoByte)
{
    ASSERT_EQ(1, mx.OpenSynth());
    const int per_thread = 150;
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < per_thread; ++i)
                EXPECT_EQ(1, mx.WriteByte('A' + t));
        });
    for (auto &w : writers)
        w.join();
    ASSERT_TRUE(MxWaitUntil([] { return MxSentData().size() >= 4 * per_thread; }, 20000))
        << "got " << MxSentData().size() << " bytes";
    std::string sent = MxSentData();
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(per_thread, (int)std::count(sent.begin(), sent.end(), 'A' + t)) << "thread " << t;
}

TEST_F(LibTest, ConcurrentReconnectsLeakNoHandle)
{
    ASSERT_EQ(1, mx.OpenSynth());
    mx.ResumeIndexes(0); /* the reader thread requests too */
    std::atomic<bool> done{false};
    std::vector<std::thread> users;
    for (int t = 0; t < 3; ++t)
        users.emplace_back([&] {
            while (!done.load()) {
                mx.GetFirmwareVersion();
                mx.RawWriteByte('q');
            }
        });
    for (int i = 0; i < 60; ++i) {
        inproc_fail_next(1);
        Sleep(2);
    }
    done = true;
    for (auto &u : users)
        u.join();
    mx.GetFirmwareVersion();
    EXPECT_EQ(1, mx.CheckWdmStatus());
    EXPECT_EQ(1u, inproc_open_handles()) << "every reconnect must close what it replaces";
}
