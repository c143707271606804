/* The index input path: collection, halt and resume, window notification,
 * overflow, and reading with the channel closed. */
#include "mx_test_support.h"

static void Report(std::initializer_list<uint8_t> bytes)
{
    inproc_report(bytes.begin(), (uint32_t)bytes.size());
}

static std::vector<int> ReadAll(MxApi &mx, size_t want, DWORD timeout_ms)
{
    std::vector<int> got;
    MxWaitUntil([&] {
        for (int b; (b = mx.ReadByte()) != -1;)
            got.push_back(b);
        return got.size() >= want;
    }, timeout_ms);
    return got;
}

TEST_F(LibTest, CollectionStartsHaltedAndDropsFF)
{
    ASSERT_EQ(1, mx.OpenSynth());
    Report({0x05, 0xFF, 0x07});
    Sleep(150);
    EXPECT_EQ(-1, mx.ReadByte());
    EXPECT_EQ(3u, sim_pending(inproc_model())) << "nothing is polled while halted";
    mx.ResumeIndexes(0);
    EXPECT_EQ((std::vector<int>{0x05, 0x07}), ReadAll(mx, 2, 3000));
    Sleep(60);
    EXPECT_EQ(-1, mx.ReadByte());

    /* Halt without clearing keeps the stored bytes; with clearing empties them. */
    Report({1, 2, 3});
    ASSERT_TRUE(MxWaitUntil([&] { return sim_pending(inproc_model()) == 0; }, 3000));
    Sleep(10);
    mx.HaltIndexes(0);
    EXPECT_EQ(1, mx.ReadByte());
    mx.HaltIndexes(1);
    EXPECT_EQ(-1, mx.ReadByte());
    Report({4});
    mx.ResumeIndexes(1);
    EXPECT_EQ(std::vector<int>{4}, ReadAll(mx, 1, 3000));
}

TEST_F(LibTest, ReadByteWithChannelClosedReopensFirst)
{
    ASSERT_EQ(1, mx.OpenSynth());
    mx.ResumeIndexes(0);
    Report({9});
    ASSERT_TRUE(MxWaitUntil([&] { return shared->index_ring.write.load() == 1; }, 3000));
    mx.HaltIndexes(0);
    inproc_unplug();
    EXPECT_EQ(-1, mx.GetFirmwareVersion()); /* fails; the reopen fails too */
    EXPECT_EQ(0, mx.CheckWdmStatus());
    EXPECT_EQ(-1, mx.ReadByte()) << "closed channel: -1 even with a byte stored";
    inproc_replug();
    EXPECT_EQ(-1, mx.ReadByte()) << "this call reopens";
    EXPECT_EQ(9, mx.ReadByte());
}

TEST_F(LibTest, OverflowEmptiesTheRing)
{
    ASSERT_EQ(1, mx.OpenSynth());
    /* Make the ring full (65535 stored) while collection is halted. */
    shared->index_ring.read.store(0);
    shared->index_ring.write.store(MX_RING_SLOTS - 1);
    Report({0x42});
    mx.ResumeIndexes(0);
    ASSERT_TRUE(MxWaitUntil([&] { return shared->index_ring.write.load() == 1; }, 3000))
        << "write position " << shared->index_ring.write.load() << ", expected 1";
    EXPECT_EQ(0, shared->index_ring.read.load());
    EXPECT_EQ(0x42, mx.ReadByte());
    EXPECT_EQ(-1, mx.ReadByte());
}

static std::vector<std::pair<WPARAM, LPARAM>> g_messages;
static std::vector<LARGE_INTEGER> g_message_times;

static LRESULT CALLBACK NotifyProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_USER + 256) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        g_messages.push_back({wp, lp});
        g_message_times.push_back(now);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

TEST_F(LibTest, WindowNotificationPostsEachByteInOrder)
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = NotifyProc;
    wc.lpszClassName = L"MxNotifyTest";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
    ASSERT_TRUE(window != NULL);
    g_messages.clear();
    g_message_times.clear();
    auto pump = [](DWORD ms) {
        MxWaitUntil([] {
            MSG m;
            while (PeekMessageW(&m, NULL, 0, 0, PM_REMOVE))
                DispatchMessageW(&m);
            return false;
        }, ms);
    };

    ASSERT_EQ(1, mx.OpenSynth());
    EXPECT_EQ(1, mx.RegisterWindowIndexes(window, WM_USER + 256));
    uint8_t burst[40];
    for (int i = 0; i < 40; ++i)
        burst[i] = (uint8_t)(i + 1);
    inproc_report(burst, 40);
    mx.ResumeIndexes(0);
    MxWaitUntil([&] {
        pump(5);
        return g_messages.size() >= 40;
    }, 5000);
    ASSERT_EQ(40u, g_messages.size());
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ((WPARAM)(i + 1), g_messages[i].first) << "message " << i;
        EXPECT_EQ(0, g_messages[i].second);
    }
    /* At most 16 per cycle of ~25 ms: 40 bytes need three cycles. */
    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    double spread_ms = (g_message_times[39].QuadPart - g_message_times[0].QuadPart) * 1000.0 / freq.QuadPart;
    EXPECT_GE(spread_ms, 30.0) << "40 notifications should span at least two cycle gaps";

    /* A NULL window stops the posts; the bytes stay for ReadByte. */
    EXPECT_EQ(1, mx.RegisterWindowIndexes(NULL, WM_USER + 256));
    Report({0x11, 0x12});
    EXPECT_EQ((std::vector<int>{0x11, 0x12}), ReadAll(mx, 2, 3000));
    pump(50);
    EXPECT_EQ(40u, g_messages.size());
    DestroyWindow(window);
}
