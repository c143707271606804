/*
 * driver_probe_test.cpp - the driver host as any client sees it, through plain
 * DeviceIoControl: a script of requests on \\.\mxusb-0 and the control device,
 * each with its result, bytes-returned and output, and nothing written past
 * an output buffer. What the model answers is proven by its own tests.
 */
#include <gtest/gtest.h>

#include <stddef.h>

#include "e2e_util.h"

namespace {

std::string u32(uint32_t v) { return std::string((const char *)&v, 4); }
std::string header(uint32_t mode) { return u32(mode) + u32(0); }
std::string blank(size_t n) { return std::string(n, '\xEE'); }

enum Target { PRODUCT, CONTROL, OPEN, CLOSE_ALL }; /* OPEN: a new product handle */

/* `out` is the output buffer as passed (the data of a TRANSFER); after the
 * request `expect` must stand at offset `at` in it. */
struct Row {
    Target target;
    uint32_t code;
    std::string in, out;
    bool ok;
    DWORD returned;
    size_t at;
    std::string expect;
};

const size_t STATE = sizeof(MxsimState);
const Row SCRIPT[] = {
    {CONTROL, MXSIM_IOCTL_SET_FIRMWARE, u32(0xBEEF), "", true, 0, 0, ""},
    {PRODUCT, IOCTL_SYNTH_GET_INFO, "", blank(18), true, 18, 12, "\xEF\xBE"},
    {CONTROL, MXSIM_IOCTL_SET_READY, u32(0x80000001u), "", true, 0, 0, ""},
    {PRODUCT, IOCTL_SYNTH_READY, "", blank(4), true, 4, 0, u32(0x80000001u)},
    {PRODUCT, IOCTL_SYNTH_READY, "", blank(2), false, 0, 0, ""},
    {PRODUCT, 0x222008, "", blank(4), false, 0, 0, ""},
    {PRODUCT, IOCTL_SYNTH_TRANSFER, header(TRANSFER_DATA), "Hi\x0b", true, 0, 0, "Hi"},
    {PRODUCT, IOCTL_SYNTH_TRANSFER, header(TRANSFER_POLL), "\x03", true, 1, 0, "\x03"}, /* a count, not a length */
    {CONTROL, MXSIM_IOCTL_REPORT, "\x40\xFF\x42", "", true, 0, 0, ""},
    {PRODUCT, IOCTL_SYNTH_READ, header(TRANSFER_READ), blank(2), true, 2, 0, "\x01\x40"},
    {PRODUCT, IOCTL_SYNTH_READ, header(TRANSFER_READ), blank(16), true, 2, 0, "\xFF\x42"},
    {PRODUCT, IOCTL_SYNTH_TRANSFER, header(TRANSFER_IMMEDIATE), "\x07", true, 0, 0, ""},
    {CONTROL, MXSIM_IOCTL_GET_TRANSCRIPT, u32(0), blank(MXSIM_BLOB_HEADER + 8), true,
     MXSIM_BLOB_HEADER + 3, MXSIM_BLOB_HEADER, "Hi\n"},
    {CONTROL, MXSIM_IOCTL_GET_LOG, u32(0), blank(MXSIM_LOG_CHUNK_SIZE(1)), true,
     MXSIM_LOG_CHUNK_SIZE(1), MXSIM_LOG_CHUNK_HEADER + offsetof(SimLogEntry, code), u32(SIM_LOG_OPEN)},
    {CONTROL, MXSIM_IOCTL_GET_STATE, "", blank(STATE), true, STATE, offsetof(MxsimState, resets), u32(1)},
    {CONTROL, MXSIM_IOCTL_GET_STATE, "", blank(8), false, 0, 0, ""},
    {CONTROL, MXSIM_IOCTL_FAIL_NEXT, u32(1), "", true, 0, 0, ""},
    {PRODUCT, IOCTL_SYNTH_READY, "", blank(4), false, 0, 0, ""},
    /* unplugged: opens and requests fail, the control device still answers */
    {CONTROL, MXSIM_IOCTL_UNPLUG, "", "", true, 0, 0, ""},
    {OPEN, 0, "", "", false, 0, 0, ""},
    {PRODUCT, IOCTL_SYNTH_READY, "", blank(4), false, 0, 0, ""},
    {CONTROL, MXSIM_IOCTL_REPLUG, "", "", true, 0, 0, ""},
    {PRODUCT, IOCTL_SYNTH_READY, "", blank(4), false, 0, 0, ""}, /* stale for good */
    {OPEN, 0, "", "", true, 0, 0, ""},
    {PRODUCT, IOCTL_SYNTH_READY, "", blank(4), true, 4, 0, u32(0x80000001u)},
    {CONTROL, MXSIM_IOCTL_GET_STATE, "", blank(STATE), true, STATE, offsetof(MxsimState, open_handles), u32(2)},
    /* each close counted once, also of the stale handle */
    {CLOSE_ALL, 0, "", "", true, 0, 0, ""},
    {CONTROL, MXSIM_IOCTL_GET_STATE, "", blank(STATE), true, STATE, offsetof(MxsimState, open_handles), u32(0)},
};

TEST(DriverProbe, ControlCodesAndControlDeviceThroughTheKernelsBuffers)
{
    auto open_product = [] {
        return CreateFileW(MXUSB_DEVICE_PATH_W, GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    };
    ASSERT_TRUE(e2e::control(MXSIM_IOCTL_RESET)) << "driver host not up";
    std::vector<HANDLE> handles = {open_product()};
    ASSERT_NE(handles.back(), INVALID_HANDLE_VALUE) << "open \\\\.\\mxusb-0: " << GetLastError();
    for (size_t i = 0; i < sizeof(SCRIPT) / sizeof(SCRIPT[0]); ++i) {
        const Row &r = SCRIPT[i];
        std::string out = r.out + "\xEE\xEE\xEE\xEE", in = r.in; /* out with a guard */
        DWORD returned = 0xDEAD, out_len = (DWORD)r.out.size();
        bool ok = true;
        if (r.target == OPEN) {
            handles.push_back(open_product());
            if (!(ok = handles.back() != INVALID_HANDLE_VALUE))
                handles.pop_back();
        } else if (r.target == CLOSE_ALL) {
            for (; !handles.empty(); handles.pop_back())
                ok = CloseHandle(handles.back()) && ok;
        } else if (r.target == CONTROL) {
            ok = e2e::control(r.code, r.in.data(), (DWORD)r.in.size(), &out[0], out_len, &returned);
        } else {
            ok = DeviceIoControl(handles.back(), r.code, &in[0], (DWORD)in.size(), &out[0], out_len,
                                 &returned, nullptr) != FALSE;
        }
        SCOPED_TRACE(testing::Message() << "step " << i << ", code 0x" << std::hex << r.code);
        EXPECT_EQ(ok, r.ok);
        EXPECT_EQ(out.substr(out_len), "\xEE\xEE\xEE\xEE") << "written past the output buffer";
        EXPECT_EQ(in, r.in) << "the input came back changed: busy is never set across processes";
        if (ok && r.target < OPEN) {
            EXPECT_EQ(returned, r.returned);
            EXPECT_EQ(out.substr(r.at, r.expect.size()), r.expect);
        }
    }
    EXPECT_EQ(e2e::transcript(), "Hi\n") << "malformed requests reached the input stream";
}

} // namespace
