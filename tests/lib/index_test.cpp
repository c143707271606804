/* Collection, halt, resume, overflow, window notification, resets during requests. */
#include "mx_test_support.h"

TEST_F(LibTest, CollectionHaltResumeAndOverflow)
{
    ASSERT_EQ(1, mx.OpenSynth());
    inproc_report((const uint8_t *)"\x05\xFF\x07", 3);
    Sleep(150);
    EXPECT_EQ(-1, mx.ReadByte());
    EXPECT_EQ(3u, sim_pending(inproc_model())) << "nothing is polled while halted";
    mx.ResumeIndexes(0);
    EXPECT_EQ((std::vector<int>{0x05, 0x07}), ReadAll(2));
    Sleep(60);
    EXPECT_EQ(-1, mx.ReadByte());

    /* Halt without clearing keeps the stored bytes; with clearing empties them. */
    inproc_report((const uint8_t *)"\x01\x02", 2);
    ASSERT_TRUE(MxWaitUntil([&] { return sim_pending(inproc_model()) == 0; }, 3000));
    Sleep(10);
    mx.HaltIndexes(0);
    EXPECT_EQ(1, mx.ReadByte());
    mx.HaltIndexes(1);
    EXPECT_EQ(-1, mx.ReadByte());
    inproc_report((const uint8_t *)"\x04", 1);
    mx.ResumeIndexes(1);
    EXPECT_EQ(std::vector<int>{4}, ReadAll(1));

    mx.HaltIndexes(0);
    FillRing(MX_RING_SLOTS - 1, [](int) { return 0x11; }); /* full: 65535 stored */
    inproc_report((const uint8_t *)"\x42", 1);
    mx.ResumeIndexes(0);
    ASSERT_TRUE(MxWaitUntil([&] { return shared->index_ring.write.load() == 1; }, 3000));
    EXPECT_EQ(std::vector<int>{0x42}, ReadAll(2, 100)) << "the new byte alone";
}

/* Posts received: window, message + (wParam << 16) + 0x1000 for a nonzero lParam. */
static std::vector<std::pair<HWND, UINT>> g_posts;

static LRESULT CALLBACK RecordProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg < WM_APP || msg >= WM_APP + 16)
        return DefWindowProcW(hwnd, msg, wp, lp);
    return g_posts.push_back({hwnd, msg + (UINT)(wp << 16) + (UINT)(lp ? 0x1000 : 0)}), 0;
}

/* Dispatches posts until `count` have come or timeout_ms passed. */
static void Pump(size_t count, DWORD timeout_ms)
{
    MxWaitUntil([&] {
        for (MSG m; PeekMessageW(&m, NULL, 0, 0, PM_REMOVE);)
            DispatchMessageW(&m);
        return g_posts.size() >= count;
    }, timeout_ms);
}

TEST_F(LibTest, WindowNotification)
{
    WNDCLASSW wc = {0, RecordProc, 0, 0, NULL, NULL, NULL, NULL, NULL, L"MxNotifyTest"};
    RegisterClassW(&wc);
    HWND w[2];
    for (HWND &h : w)
        h = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
    ASSERT_EQ(1, mx.OpenSynth());

    /* Each byte in order in wParam, lParam 0, at most 16 per ~25 ms cycle: 40 need three. */
    EXPECT_EQ(1, mx.RegisterWindowIndexes(w[0], WM_APP));
    uint8_t burst[480];
    FillRing(40, [](int i) { return i + 1; });
    std::atomic<int> polls{0}; /* the second cycle's poll is held: the first cycle's posts alone */
    MxOnRequest([&](DWORD, uint32_t mode) { mode == TRANSFER_POLL && polls++ == 1 ? Sleep(600) : (void)0; });
    mx.ResumeIndexes(0);
    Pump(17, 400);
    EXPECT_EQ(16u, g_posts.size()) << "at most 16 posts in one cycle";
    Pump(40, 5000);
    MxOnRequest(nullptr);
    ASSERT_EQ(40u, g_posts.size());
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(WM_APP + ((i + 1) << 16), g_posts[i].second) << "post " << i;

    /* A NULL window, and HWND_BROADCAST, stop the posts: the bytes stay for ReadByte. */
    for (HWND none : {(HWND)NULL, HWND_BROADCAST}) {
        EXPECT_EQ(1, mx.RegisterWindowIndexes(none, WM_APP + 3));
        inproc_report((const uint8_t *)"\x51\x52", 2);
        EXPECT_EQ((std::vector<int>{0x51, 0x52}), ReadAll(2));
    }

    /* Registrations changing while the reader posts: each post pairs one
     * registration's window with that registration's message. */
    g_posts.clear();
    std::atomic<bool> stop{false};
    std::thread toggler([&] {
        for (unsigned i = 0; !stop.load(); ++i)
            mx.RegisterWindowIndexes(w[i & 1], WM_APP + (i & 1));
    });
    memset(burst, 0x33, sizeof burst);
    inproc_report(burst, sizeof burst);
    Pump(sizeof burst, 5000);
    stop = true;
    toggler.join();
    int mixed = 0;
    for (auto &p : g_posts)
        mixed += (p.second & 0xFFFF) != WM_APP + (p.first == w[1] ? 1 : 0);
    EXPECT_EQ(0, mixed) << "posts that paired one registration's window with another's message";
    for (HWND h : w)
        DestroyWindow(h);
}

/* A reset inside a positive poll leaves the READ's bytes; one inside the READ drops them. */
TEST_F(LibTest, OnlyBytesFetchedBeforeAResetAreDropped)
{
    struct Case { DWORD code; int delivered; } cases[] = {
        {IOCTL_SYNTH_TRANSFER, 0x61}, {IOCTL_SYNTH_READ, -1}};
    ASSERT_EQ(1, mx.OpenSynth());
    mx.ResumeIndexes(0);
    for (const Case &c : cases) {
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
        EXPECT_EQ(c.delivered, mx.ReadByte()) << "reset inside request " << std::hex << c.code;
    }
}
