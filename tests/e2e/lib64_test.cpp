/* lib64_test.cpp - mxusbd64.dll in a real process against the driver host:
 * the device at load, unplug and replug while speaking and reading, unload. */
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "e2e_util.h"

namespace {

class Lib64 : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(e2e::control(MXSIM_IOCTL_RESET)) << "driver host not up";
        ASSERT_TRUE(lib.load());
    }
    void TearDown() override { lib.unload(); }
    e2e::Mxusbd lib;
};

TEST_F(Lib64, DevicePresentAtLoadIsTheHandleOpenSynthKeeps)
{
    EXPECT_EQ(lib.CheckWdmStatus(), 1) << "process attach opened the device";
    EXPECT_EQ(e2e::state().open_count, 1u);
    ASSERT_EQ(lib.OpenSynth(), 1);
    EXPECT_EQ(e2e::state().open_count, 1u) << "USBMX_OpenSynth opened a second handle";
    EXPECT_EQ(e2e::state().open_handles, 1u);
    EXPECT_EQ(lib.GetFirmwareVersion(), 0x0104);
    lib.CloseSynth();
    EXPECT_EQ(e2e::state().open_handles, 0u);
}

TEST_F(Lib64, DeviceAbsentAtLoadLoadsClosedUntilARequestAfterTheReplug)
{
    lib.unload();
    ASSERT_TRUE(e2e::control(MXSIM_IOCTL_UNPLUG));
    ASSERT_TRUE(lib.load()) << "the library loads without the device";
    EXPECT_EQ(lib.CheckWdmStatus(), 0);
    EXPECT_EQ(lib.OpenSynth(), 0);
    EXPECT_EQ(lib.CheckWdmStatus(), 0);
    ASSERT_TRUE(e2e::control(MXSIM_IOCTL_REPLUG));
    EXPECT_EQ(lib.ReadyCheck(), 0u) << "a closed channel answers 0 and reopens";
    EXPECT_EQ(lib.CheckWdmStatus(), 1);
    EXPECT_EQ(lib.ReadyCheck(), 1u);
}

/* A speaker thread writes texts while this one reads; the unit is unplugged and replugged under them. */
TEST_F(Lib64, UnplugAndReplugWhileSpeakingAndReading)
{
    enum { PLUGGED, UNPLUGGED, REPLUGGED, PHASES };
    std::atomic<int> phase{PLUGGED}, failed[PHASES] = {};
    std::atomic<bool> speaking{true};
    int indexes[PHASES] = {}, connected_while_unplugged = 0;
    ASSERT_EQ(lib.OpenSynth(), 1);

    auto speak = [&] {
        while (speaking) {
            const int p = phase, ok = lib.write("word\x0b");
            if (phase == p) /* a text that spans a plug change counts nowhere */
                failed[p] += 5 - ok;
            Sleep(10);
        }
    };
    auto read_for = [&](int p, DWORD ms) {
        for (const DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(5)) {
            indexes[p] += lib.ReadByte() > 0;
            if (p == UNPLUGGED)
                connected_while_unplugged += lib.CheckWdmStatus();
        }
    };

    std::thread speaker(speak);
    read_for(PLUGGED, 400);
    phase = UNPLUGGED;
    ASSERT_TRUE(e2e::control(MXSIM_IOCTL_UNPLUG));
    Sleep(100); /* requests under way at the unplug end first */
    read_for(UNPLUGGED, 300);
    speaking = false;
    speaker.join();

    /* Replugged: the reader's next cycle reopens, with no call by the program. */
    ASSERT_TRUE(e2e::control(MXSIM_IOCTL_REPLUG));
    const long reopened_ms = e2e::wait_for([&] { return lib.CheckWdmStatus() == 1; }, 2000, 1);
    EXPECT_GE(reopened_ms, 0) << "the library did not reopen by itself";
    EXPECT_LE(reopened_ms, 1000) << "the reader cycles about every 25 ms";

    phase = REPLUGGED;
    speaking = true;
    speaker = std::thread(speak);
    read_for(REPLUGGED, 400);
    speaking = false;
    speaker.join();
    read_for(REPLUGGED, 200);
    lib.CloseSynth();

    for (int p = PLUGGED; p < PHASES; ++p) {
        printf("phase %d: %d writes failed, %d index bytes read\n", p, failed[p].load(), indexes[p]);
        EXPECT_EQ(failed[p] > 0, p == UNPLUGGED) << "phase " << p << ": writes failed";
        EXPECT_EQ(indexes[p] > 0, p != UNPLUGGED) << "phase " << p << ": index bytes read";
    }
    EXPECT_EQ(connected_while_unplugged, 0) << "USBMX_CheckWdmStatus was 1 while unplugged";
}

TEST_F(Lib64, UnloadWithThreadsRunningEndsThemAndClosesTheDevice)
{
    const int threads_before = e2e::thread_count(); /* none of the library's before the open */
    ASSERT_EQ(lib.OpenSynth(), 1);
    EXPECT_EQ(lib.write("bye\x0b"), 4);
    EXPECT_EQ(lib.read_within(2000), 1) << "the reader collects";
    EXPECT_GT(e2e::thread_count(), threads_before) << "no reader thread seen";

    DWORD ms = GetTickCount();
    lib.unload(); /* no USBMX_CloseSynth */
    ms = GetTickCount() - ms;
    printf("FreeLibrary with the reader running took %lu ms\n", ms);
    EXPECT_LT(ms, 5500u) << "detach waits at most 5000 ms for the reader";
    EXPECT_GE(e2e::wait_for([&] { return e2e::thread_count() == threads_before; }, 2000), 0)
        << e2e::thread_count() << " threads after unload, " << threads_before << " before";
    EXPECT_EQ(e2e::state().open_handles, 0u) << "detach closes the device";
}

} // namespace
