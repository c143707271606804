/*
 * lib64_test.cpp - mxusbd64.dll against the driver host in a real process:
 * the device opened at load, unplug and replug while the program speaks and
 * reads, and unloading without USBMX_CloseSynth.
 */
#include <gtest/gtest.h>

#include <atomic>

#include "e2e_util.h"
#include "mxusbd_loader.h"

namespace {

class Lib64 : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(e2e::reset()) << "driver host not up";
        ASSERT_EQ(e2e::state().open_handles, 0u) << "another program holds the device";
    }
    void TearDown() override { lib.unload(); }
    e2e::Mxusbd lib;
};

TEST_F(Lib64, DeviceOpenedAtLoadIsTheOneOpenSynthUses)
{
    const MxsimState before = e2e::state();
    ASSERT_TRUE(lib.load(e2e::program_folder())) << "load " << e2e::Mxusbd::file_name();
    EXPECT_EQ(lib.CheckWdmStatus(), 1) << "connected before USBMX_OpenSynth";
    MxsimState loaded = e2e::state();
    EXPECT_EQ(loaded.open_count, before.open_count + 1) << "process attach opened the device";
    EXPECT_EQ(loaded.open_handles, 1u);

    ASSERT_EQ(lib.OpenSynth(), 1);
    MxsimState opened = e2e::state();
    EXPECT_EQ(opened.open_count, loaded.open_count) << "USBMX_OpenSynth opened a second handle";
    EXPECT_EQ(opened.open_handles, 1u);
    EXPECT_EQ(lib.GetFirmwareVersion(), 0x0104);

    lib.CloseSynth();
    EXPECT_EQ(lib.CheckWdmStatus(), 0);
    EXPECT_EQ(e2e::state().open_handles, 0u) << "USBMX_CloseSynth closed the device";
}

TEST_F(Lib64, DeviceAbsentAtLoadLoadsClosedAndOpenSynthFails)
{
    ASSERT_TRUE(e2e::unplug());
    ASSERT_TRUE(lib.load(e2e::program_folder()));
    EXPECT_EQ(lib.CheckWdmStatus(), 0);
    EXPECT_EQ(lib.OpenSynth(), 0);
    EXPECT_EQ(lib.CheckWdmStatus(), 0);
    ASSERT_TRUE(e2e::replug());
    /* The first request after the replug reopens the channel. */
    EXPECT_EQ(lib.ReadyCheck(), 0u) << "closed channel: reopens, returns 0";
    EXPECT_EQ(lib.CheckWdmStatus(), 1);
    EXPECT_EQ(lib.ReadyCheck(), 1u);
}

/* A speaker thread writes texts without pause while the main thread reads
 * index bytes; the unit is unplugged and replugged under them. */
enum Phase { PLUGGED, UNPLUGGED, REPLUGGED, PHASES };

struct Speaker {
    e2e::Mxusbd *lib;
    std::atomic<int> phase{PLUGGED};
    std::atomic<bool> stop{false};
    std::atomic<int> sent[PHASES] = {}, failed[PHASES] = {};
    HANDLE thread = nullptr;

    static DWORD WINAPI run(void *arg)
    {
        Speaker *s = static_cast<Speaker *>(arg);
        while (!s->stop) {
            const int p = s->phase;
            const int taken = s->lib->speak("word"); /* 5 calls */
            if (s->phase == p) { /* a text that spans a plug change counts nowhere */
                s->sent[p] += taken;
                s->failed[p] += 5 - taken;
            }
            Sleep(10);
        }
        return 0;
    }
    void start()
    {
        stop = false;
        thread = CreateThread(nullptr, 0, run, this, 0, nullptr);
    }
    void join()
    {
        stop = true;
        WaitForSingleObject(thread, 10000);
        CloseHandle(thread);
        thread = nullptr;
    }
};

TEST_F(Lib64, UnplugAndReplugWhileSpeakingAndReading)
{
    ASSERT_TRUE(lib.load(e2e::program_folder()));
    ASSERT_EQ(lib.OpenSynth(), 1);

    Speaker speaker;
    speaker.lib = &lib;
    int indexes[PHASES] = {};
    int connected_while_unplugged = 0;
    auto read_for = [&](int p, DWORD ms) {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < ms) {
            if (lib.ReadByte() > 0)
                ++indexes[p];
            if (p == UNPLUGGED)
                connected_while_unplugged += lib.CheckWdmStatus();
            Sleep(5);
        }
    };

    speaker.start();
    read_for(PLUGGED, 500);

    speaker.phase = UNPLUGGED; /* texts begun before this count nowhere */
    ASSERT_TRUE(e2e::unplug());
    Sleep(100); /* requests under way at the unplug end first */
    read_for(UNPLUGGED, 400);
    speaker.join();
    EXPECT_EQ(lib.ReadyCheck(), 0u);
    EXPECT_EQ(lib.GetFirmwareVersion(), -1);
    EXPECT_EQ(lib.CheckWdmStatus(), 0);

    /* Replugged: with index collection resumed, the reader's next cycle
     * reopens the channel, with no other call by the program. */
    ASSERT_TRUE(e2e::replug());
    lib.ResumeIndexes(0);
    const long reopened_ms = e2e::wait_for([&] { return lib.CheckWdmStatus() == 1; }, 3000, 1);
    printf("reopened %ld ms after the replug (reader cycle about 25 ms)\n", reopened_ms);
    EXPECT_GE(reopened_ms, 0) << "the library did not reopen by itself";
    EXPECT_LE(reopened_ms, 1000);

    speaker.phase = REPLUGGED;
    speaker.start();
    read_for(REPLUGGED, 500);
    speaker.join();
    read_for(REPLUGGED, 200);

    printf("plugged: %d sent, %d failed, %d indexes; unplugged: %d sent, %d failed; "
           "replugged: %d sent, %d failed, %d indexes\n",
           speaker.sent[PLUGGED].load(), speaker.failed[PLUGGED].load(), indexes[PLUGGED],
           speaker.sent[UNPLUGGED].load(), speaker.failed[UNPLUGGED].load(),
           speaker.sent[REPLUGGED].load(), speaker.failed[REPLUGGED].load(), indexes[REPLUGGED]);
    EXPECT_GT(indexes[PLUGGED], 0);
    EXPECT_EQ(speaker.failed[PLUGGED], 0);
    EXPECT_GT(speaker.failed[UNPLUGGED], 0) << "writes while unplugged reported no failure";
    EXPECT_EQ(indexes[UNPLUGGED], 0) << "bytes read while unplugged";
    EXPECT_EQ(connected_while_unplugged, 0) << "USBMX_CheckWdmStatus was 1 while unplugged";
    EXPECT_GT(speaker.sent[REPLUGGED], 0);
    EXPECT_EQ(speaker.failed[REPLUGGED], 0) << "writes failed after the library reopened";
    EXPECT_GT(indexes[REPLUGGED], 0) << "no index bytes after the replug";
    lib.CloseSynth();
}

TEST_F(Lib64, WriteStringSendsBytesFromReadOnlyMemory)
{
    ASSERT_TRUE(lib.load(e2e::program_folder()));
    static const unsigned char text[] = "constant text\x0b";
    EXPECT_EQ(lib.WriteString(text, (int)sizeof(text) - 1), 1);
    EXPECT_EQ(e2e::transcript(), "constant text\n");
}

TEST_F(Lib64, UnloadWithoutCloseSynthEndsTheThreads)
{
    const int threads_before = e2e::thread_count();
    ASSERT_TRUE(lib.load(e2e::program_folder()));
    ASSERT_EQ(lib.OpenSynth(), 1);
    lib.ResumeIndexes(0);
    EXPECT_EQ(lib.speak("bye"), 4);
    EXPECT_EQ(lib.read_within(2000), 1);
    EXPECT_GT(e2e::thread_count(), threads_before) << "no reader thread seen";

    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    lib.unload();
    QueryPerformanceCounter(&b);
    const double ms = (double)(b.QuadPart - a.QuadPart) * 1000.0 / (double)f.QuadPart;
    printf("64-bit FreeLibrary without USBMX_CloseSynth took %.1f ms\n", ms);
    EXPECT_LT(ms, 5500.0) << "detach waits at most 5000 ms for the reader";
    EXPECT_GE(e2e::wait_for([&] { return e2e::thread_count() == threads_before; }, 2000), 0)
        << "library threads still running after unload: " << e2e::thread_count() << " vs "
        << threads_before;
    EXPECT_EQ(e2e::state().open_handles, 0u) << "detach closed the device";
}

} // namespace
