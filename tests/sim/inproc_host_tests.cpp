/*
 * The in-process host's import patching, through a tiny probe DLL whose
 * exports each make one kernel32 device call: fake handles reach the model,
 * stale and closed handles fail, real handles still reach Windows.
 */
#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

#include <string>
#include <thread>
#include <vector>

#include "inproc_host.h"
#include "mxusb_protocol.h"

namespace {

typedef HANDLE (*OpenW)(const wchar_t *);
typedef HANDLE (*OpenA)(const char *);
typedef BOOL (*Ioctl)(HANDLE, DWORD, void *, DWORD, void *, DWORD, DWORD *);
typedef BOOL (*Close)(HANDLE);

const uintptr_t FAKE_BASE = 0x4D580000;

std::wstring beside_exe(const wchar_t *name)
{
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.find_last_of(L"\\/") + 1) + name;
}

class InprocHost : public ::testing::Test {
protected:
    static HMODULE probe;
    static OpenW open_w;
    static OpenA open_a;
    static Ioctl ioctl;
    static Close close;

    static void SetUpTestSuite()
    {
        probe = inproc_load_library(beside_exe(L"inproc_probe.dll").c_str());
        ASSERT_NE(probe, nullptr) << "inproc_load_library failed, error " << GetLastError();
        open_w = (OpenW)(void *)GetProcAddress(probe, "probe_open_w");
        open_a = (OpenA)(void *)GetProcAddress(probe, "probe_open_a");
        ioctl = (Ioctl)(void *)GetProcAddress(probe, "probe_ioctl");
        close = (Close)(void *)GetProcAddress(probe, "probe_close");
    }
    static void TearDownTestSuite() { FreeLibrary(probe); }
    void SetUp() override
    {
        ASSERT_TRUE(open_w && open_a && ioctl && close);
        inproc_reset();
    }

    /* One TRANSFER request; returns the call's result, *busy the header word. */
    BOOL transfer(HANDLE h, uint32_t mode, const void *data, DWORD len, DWORD *returned,
                  uint32_t *busy = nullptr)
    {
        TransferHeader hdr = {mode, 0};
        BOOL ok = ioctl(h, IOCTL_SYNTH_TRANSFER, &hdr, sizeof hdr, (void *)data, len, returned);
        if (busy)
            *busy = hdr.busy;
        return ok;
    }
};
HMODULE InprocHost::probe;
OpenW InprocHost::open_w;
OpenA InprocHost::open_a;
Ioctl InprocHost::ioctl;
Close InprocHost::close;

TEST_F(InprocHost, DevicePathInEitherSpellingOpensFakeHandle)
{
    HANDLE a = open_w(L"\\\\.\\MXUSB-0");
    HANDLE b = open_a("\\\\.\\mxusb-0");
    for (HANDLE h : {a, b}) {
        uintptr_t v = (uintptr_t)h;
        EXPECT_TRUE(v >= FAKE_BASE && v < FAKE_BASE + 0x10000)
            << "got handle " << std::hex << v << ", expected one from 0x4D580000";
    }
    EXPECT_NE(a, b);
    EXPECT_EQ(inproc_open_handles(), 2u);
    EXPECT_EQ(inproc_model()->open_handles, 2u);
    EXPECT_TRUE(close(a));
    EXPECT_TRUE(close(b));
    EXPECT_EQ(inproc_open_handles(), 0u);
    EXPECT_EQ(inproc_model()->open_handles, 0u);

    /* Near misses are real paths and go to the real CreateFile. */
    SetLastError(0xdeadbeef);
    HANDLE c = open_w(L"\\\\.\\mxusb-01");
    EXPECT_EQ(c, INVALID_HANDLE_VALUE);
    EXPECT_NE(GetLastError(), 0xdeadbeefu);
    EXPECT_EQ(inproc_model()->open_count, 2u);
}

TEST_F(InprocHost, RequestsReachTheModelAndBusyIsWrittenBack)
{
    HANDLE h = open_w(MXUSB_DEVICE_PATH_W);
    DWORD ret = 99;
    const char text[] = "hi\x0B";
    uint32_t busy = 7;

    inproc_busy_next(1);
    ASSERT_TRUE(transfer(h, TRANSFER_DATA, text, 3, &ret, &busy));
    EXPECT_EQ(busy, 1u) << "first transfer should be answered busy";
    EXPECT_EQ(inproc_model()->transcript_length, 0u);
    ASSERT_TRUE(transfer(h, TRANSFER_DATA, text, 3, &ret, &busy));
    EXPECT_EQ(busy, 0u);
    EXPECT_EQ(std::string((char *)inproc_model()->transcript, inproc_model()->transcript_length),
              "hi\n");

    uint8_t info[SYNTH_INFO_SIZE] = {};
    inproc_model()->firmware = 0x0123;
    ASSERT_TRUE(ioctl(h, IOCTL_SYNTH_GET_INFO, nullptr, 0, info, sizeof info, &ret));
    EXPECT_EQ(ret, (DWORD)SYNTH_INFO_SIZE);
    EXPECT_EQ(info[12] | info[13] << 8, 0x0123);

    uint8_t poll = SYNTH_POLL_BYTE;
    ASSERT_TRUE(transfer(h, TRANSFER_POLL, &poll, 1, &ret));
    EXPECT_EQ(ret, 1u) << "bytes pending after one text";
    TransferHeader rh = {TRANSFER_READ, 0};
    uint8_t buf[16] = {};
    ASSERT_TRUE(ioctl(h, IOCTL_SYNTH_READ, &rh, sizeof rh, buf, sizeof buf, &ret));
    EXPECT_EQ(ret, 1u);
    EXPECT_EQ(buf[0], 1) << "first index byte";

    /* A failed request: FALSE, ERROR_GEN_FAILURE, nothing returned. */
    uint32_t word = 0;
    inproc_fail_next(1);
    ret = 99;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ioctl(h, IOCTL_SYNTH_READY, nullptr, 0, &word, 4, &ret));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_GEN_FAILURE);
    EXPECT_EQ(ret, 0u);

    SimLogEntry log[16];
    uint32_t n = inproc_log_copy(log, 16);
    ASSERT_EQ(n, 7u) << "open, 2 transfers, info, poll, read, failed ready";
    EXPECT_EQ(log[1].busy, 1);
    EXPECT_EQ(log[6].ok, 0);
    for (uint32_t i = 1; i < n; i++)
        EXPECT_GE(log[i].time_us, log[i - 1].time_us) << "entry " << i;
    close(h);
}

TEST_F(InprocHost, UnplugResetAndCloseMakeHandlesStale)
{
    HANDLE h = open_w(MXUSB_DEVICE_PATH_W);
    uint32_t word;
    DWORD ret;

    inproc_unplug();
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ioctl(h, IOCTL_SYNTH_READY, nullptr, 0, &word, 4, &ret));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_GEN_FAILURE);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(open_a(MXUSB_DEVICE_PATH_A), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);

    inproc_replug();
    EXPECT_FALSE(ioctl(h, IOCTL_SYNTH_READY, nullptr, 0, &word, 4, &ret))
        << "a handle from before the unplug must stay stale";
    HANDLE h2 = open_w(MXUSB_DEVICE_PATH_W);
    EXPECT_TRUE(ioctl(h2, IOCTL_SYNTH_READY, nullptr, 0, &word, 4, &ret));
    EXPECT_TRUE(close(h));
    EXPECT_EQ(inproc_model()->open_handles, 1u);

    /* After a reset the model counts no handle; the old one is stale. */
    inproc_reset();
    EXPECT_EQ(inproc_model()->open_handles, 0u);
    EXPECT_FALSE(ioctl(h2, IOCTL_SYNTH_READY, nullptr, 0, &word, 4, &ret));
    EXPECT_TRUE(close(h2));
    EXPECT_EQ(inproc_model()->open_handles, 0u) << "closing a pre-reset handle must not underflow";
    EXPECT_EQ(inproc_open_handles(), 0u);

    /* Closed, null and invalid handles: ERROR_INVALID_HANDLE, not logged. */
    inproc_clear_log();
    for (HANDLE bad : {h2, (HANDLE) nullptr, INVALID_HANDLE_VALUE}) {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(ioctl(bad, IOCTL_SYNTH_READY, nullptr, 0, &word, 4, &ret));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE) << "handle " << bad;
    }
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(close(h2)) << "double close";
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    EXPECT_EQ(inproc_model()->log_count, 0u);
}

TEST_F(InprocHost, RealHandlesPassThrough)
{
    /* CloseHandle of a real event really closes it. */
    HANDLE ev = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    ASSERT_NE(ev, nullptr);
    EXPECT_TRUE(close(ev));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_FAILED) << "event should be closed";

    /* A file system request on a pipe reaches the real DeviceIoControl. */
    HANDLE rd, wr;
    ASSERT_TRUE(CreatePipe(&rd, &wr, nullptr, 0));
    DWORD written;
    ASSERT_TRUE(WriteFile(wr, "abc", 3, &written, nullptr));
    const DWORD fsctl_pipe_peek = CTL_CODE(FILE_DEVICE_NAMED_PIPE, 3, METHOD_BUFFERED, FILE_READ_DATA);
    struct {
        ULONG state, available, messages, message_length;
        char data[16];
    } peek = {};
    DWORD ret = 0;
    EXPECT_TRUE(ioctl(rd, fsctl_pipe_peek, nullptr, 0, &peek, sizeof peek, &ret))
        << "error " << GetLastError();
    EXPECT_EQ(peek.available, 3u);

    /* The product's codes never reach a real handle. */
    uint32_t word;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ioctl(rd, IOCTL_SYNTH_READY, nullptr, 0, &word, 4, &ret));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    EXPECT_TRUE(close(rd));
    EXPECT_TRUE(close(wr));

    /* A real file opens through the real CreateFileW. */
    wchar_t dir[MAX_PATH], file[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, L"mx", 0, file);
    HANDLE f = open_w(file);
    EXPECT_NE(f, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    EXPECT_LT((uintptr_t)f, FAKE_BASE);
    EXPECT_TRUE(close(f));
    DeleteFileW(file);
    EXPECT_EQ(inproc_model()->open_count, 0u);
}

TEST_F(InprocHost, PatchingTwiceIsHarmlessAndNeedsTheImports)
{
    EXPECT_TRUE(inproc_patch_module(probe)) << "patching twice must succeed";
    HANDLE h = open_w(MXUSB_DEVICE_PATH_W);
    EXPECT_EQ(inproc_open_handles(), 1u);
    EXPECT_TRUE(close(h));
    EXPECT_FALSE(inproc_patch_module(GetModuleHandleW(L"ntdll.dll")))
        << "ntdll imports none of the device calls";
}

TEST_F(InprocHost, ConcurrentRequestsAreSerialised)
{
    HANDLE h = open_w(MXUSB_DEVICE_PATH_W);
    const int threads = 4, per_thread = 200;
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; t++)
        pool.emplace_back([&] {
            for (int i = 0; i < per_thread; i++) {
                DWORD ret;
                transfer(h, TRANSFER_DATA, "x\x0B", 2, &ret);
            }
        });
    for (auto &t : pool)
        t.join();
    EXPECT_EQ(inproc_model()->texts_spoken, (uint32_t)(threads * per_thread));
    EXPECT_EQ(inproc_model()->log_count, (uint32_t)(1 + threads * per_thread));
    EXPECT_EQ(sim_pending(inproc_model()), (uint32_t)(threads * per_thread));
    close(h);
}

} // namespace
