/* The in-process host's import patching, through inproc_probe.dll: the device
 * path opens fake handles served by the model, failures carry the host's error
 * codes, stale and closed handles fail, everything else reaches Windows. */
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "inproc_host.h"
#include "mxusb_protocol.h"

namespace {

HANDLE (*open_w)(const wchar_t *);
HANDLE (*open_a)(const char *);
BOOL (*probe_ioctl)(HANDLE, DWORD, void *, DWORD, void *, DWORD, DWORD *);
BOOL (*close)(HANDLE);

BOOL ioctl(HANDLE h, uint32_t code, uint32_t mode, const char *data, DWORD len, uint32_t *busy = nullptr)
{
    TransferHeader header = {mode, 0};
    DWORD returned = 0;
    BOOL ok = probe_ioctl(h, code, &header, sizeof header, (void *)data, len, &returned);
    return busy ? (*busy = header.busy, ok) : ok;
}

DWORD error_of(BOOL ok) { return ok ? 0 : GetLastError(); }

TEST(InprocHost, PatchedImportsServeTheDeviceAndPassTheRestThrough)
{
    wchar_t path[MAX_PATH];
    std::wstring dll(path, GetModuleFileNameW(nullptr, path, MAX_PATH)); /* beside this program */
    HMODULE probe = inproc_load_library((dll.substr(0, dll.find_last_of(L"\\/") + 1) + L"inproc_probe.dll").c_str());
    ASSERT_NE(probe, nullptr);
    open_w = (decltype(open_w))(void *)GetProcAddress(probe, "probe_open_w");
    open_a = (decltype(open_a))(void *)GetProcAddress(probe, "probe_open_a");
    probe_ioctl = (decltype(probe_ioctl))(void *)GetProcAddress(probe, "probe_ioctl");
    close = (decltype(close))(void *)GetProcAddress(probe, "probe_close");
    ASSERT_TRUE(open_w && open_a && probe_ioctl && close);
    EXPECT_FALSE(inproc_patch_module(GetModuleHandleW(L"ntdll.dll"))) << "it imports none of the calls";
    inproc_reset();
    HANDLE w = open_w(L"\\\\.\\MXUSB-0"), a = open_a(MXUSB_DEVICE_PATH_A);
    ASSERT_TRUE(inproc_open_handles() == 2 && w != a);
    EXPECT_EQ(open_w(L"\\\\.\\mxusb-01"), INVALID_HANDLE_VALUE) << "a near miss goes to the real CreateFileW";

    uint32_t busy = 7;
    inproc_busy_next(1);
    EXPECT_TRUE(ioctl(w, IOCTL_SYNTH_TRANSFER, TRANSFER_DATA, "hi\x0b", 3, &busy));
    EXPECT_EQ(busy, 1u) << "busy written into the caller's header";
    EXPECT_TRUE(ioctl(a, IOCTL_SYNTH_TRANSFER, TRANSFER_DATA, "hi\x0b", 3, &busy) && busy == 0);
    EXPECT_EQ(inproc_model()->texts_spoken, 1u);

    inproc_fail_next(1);
    EXPECT_EQ(error_of(ioctl(w, IOCTL_SYNTH_READY, 0, nullptr, 0)), (DWORD)ERROR_GEN_FAILURE);
    inproc_unplug();
    EXPECT_EQ(error_of(open_a(MXUSB_DEVICE_PATH_A) != INVALID_HANDLE_VALUE), (DWORD)ERROR_FILE_NOT_FOUND);
    inproc_replug();
    EXPECT_EQ(error_of(ioctl(w, IOCTL_SYNTH_TRANSFER, TRANSFER_DATA, "x", 1)), (DWORD)ERROR_GEN_FAILURE) << "stale";
    EXPECT_TRUE(close(w));
    inproc_clear_log();
    for (HANDLE bad : {w, (HANDLE) nullptr, INVALID_HANDLE_VALUE})
        EXPECT_EQ(error_of(ioctl(bad, IOCTL_SYNTH_TRANSFER, TRANSFER_DATA, "x", 1)), (DWORD)ERROR_INVALID_HANDLE);
    EXPECT_EQ(error_of(close(w)), (DWORD)ERROR_INVALID_HANDLE) << "closed twice";
    EXPECT_EQ(inproc_model()->log_count, 0u) << "requests on no device are not logged";
    inproc_reset();
    EXPECT_TRUE(close(a)) << "a handle from before a reset still closes";
    EXPECT_EQ(inproc_model()->open_handles + inproc_open_handles(), 0u);

    HANDLE event /* a real handle: the product's codes refused, the real CloseHandle */ = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    EXPECT_EQ(error_of(ioctl(event, IOCTL_SYNTH_READY, 0, nullptr, 0)), (DWORD)ERROR_INVALID_HANDLE);
    EXPECT_TRUE(close(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED) << "not closed";
    FreeLibrary(probe);
}

} // namespace
