/*
 * driver_probe_test.cpp - the driver host through plain DeviceIoControl, as
 * any client process sees it: each control code of the product device with
 * its layout and result, opening while unplugged, stale handles, the control
 * device's scripting and reading, and the cost of one request.
 */
#include <gtest/gtest.h>

#include "e2e_util.h"

namespace {

HANDLE open_product()
{
    return CreateFileW(MXUSB_DEVICE_PATH_W, GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

/* TRANSFER with the given mode and data; returns the success flag. */
BOOL transfer(HANDLE h, uint32_t mode, const void *data, DWORD length, DWORD *returned,
              TransferHeader *header_out = nullptr)
{
    TransferHeader header = {mode, 0};
    *returned = 0;
    BOOL ok = DeviceIoControl(h, IOCTL_SYNTH_TRANSFER, &header, sizeof(header),
                              const_cast<void *>(data), length, returned, nullptr);
    if (header_out)
        *header_out = header;
    return ok;
}

BOOL speak(HANDLE h, const char *text)
{
    std::string bytes(text);
    bytes += (char)SYNTH_END_OF_TEXT;
    DWORD returned;
    return transfer(h, TRANSFER_DATA, bytes.data(), (DWORD)bytes.size(), &returned);
}

/* POLL: the pending count, or -1 when the request fails. */
int poll(HANDLE h)
{
    uint8_t poll_byte = SYNTH_POLL_BYTE;
    DWORD returned;
    if (!transfer(h, TRANSFER_POLL, &poll_byte, 1, &returned))
        return -1;
    return (int)returned;
}

std::vector<uint8_t> read(HANDLE h, DWORD size = SYNTH_MAX_READ)
{
    TransferHeader header = {TRANSFER_READ, 0};
    std::vector<uint8_t> buffer(size, 0xEE);
    DWORD returned = 0;
    if (!DeviceIoControl(h, IOCTL_SYNTH_READ, &header, sizeof(header), buffer.data(), size,
                         &returned, nullptr))
        return {};
    buffer.resize(returned);
    return buffer;
}

class DriverProbe : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(e2e::reset()) << "control device, error " << GetLastError();
        device = open_product();
        ASSERT_NE(device, INVALID_HANDLE_VALUE) << "open \\\\.\\mxusb-0, error " << GetLastError();
    }
    void TearDown() override
    {
        if (device != INVALID_HANDLE_VALUE)
            CloseHandle(device);
    }
    HANDLE device = INVALID_HANDLE_VALUE;
};

TEST_F(DriverProbe, InfoAndReadyWordsFollowTheScript)
{
    uint8_t info[SYNTH_INFO_SIZE + 4];
    memset(info, 0xEE, sizeof(info));
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(device, IOCTL_SYNTH_GET_INFO, nullptr, 0, info, SYNTH_INFO_SIZE,
                                &returned, nullptr));
    EXPECT_EQ(returned, (DWORD)SYNTH_INFO_SIZE);
    EXPECT_EQ(info[12] | info[13] << 8, 0x0104) << "default firmware word at byte 12";
    EXPECT_EQ(info[SYNTH_INFO_SIZE], 0xEE) << "byte past the 18-byte block written";

    ASSERT_TRUE(e2e::set_u32(MXSIM_IOCTL_SET_FIRMWARE, 0xBEEF));
    ASSERT_TRUE(DeviceIoControl(device, IOCTL_SYNTH_GET_INFO, nullptr, 0, info, SYNTH_INFO_SIZE,
                                &returned, nullptr));
    EXPECT_EQ(info[12] | info[13] << 8, 0xBEEF);

    uint32_t word = 0;
    ASSERT_TRUE(DeviceIoControl(device, IOCTL_SYNTH_READY, nullptr, 0, &word, 4, &returned,
                                nullptr));
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(word, 1u);
    ASSERT_TRUE(e2e::set_u32(MXSIM_IOCTL_SET_READY, 0x80000001u));
    ASSERT_TRUE(DeviceIoControl(device, IOCTL_SYNTH_READY, nullptr, 0, &word, 4, &returned,
                                nullptr));
    EXPECT_EQ(word, 0x80000001u);

    /* Too small an output buffer fails instead of writing past it. */
    EXPECT_FALSE(DeviceIoControl(device, IOCTL_SYNTH_READY, nullptr, 0, &word, 2, &returned,
                                 nullptr));
}

TEST_F(DriverProbe, SpokenTextIsTranscribedAndAnsweredWithAnIndex)
{
    ASSERT_TRUE(speak(device, "Hello"));
    ASSERT_TRUE(speak(device, "world"));
    EXPECT_EQ(e2e::transcript(), "Hello\nworld\n");
    EXPECT_EQ(poll(device), 2);
    std::vector<uint8_t> got = read(device);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], 1);
    EXPECT_EQ(got[1], 2);
    EXPECT_EQ(poll(device), 0);

    /* busy is never set across processes: the header comes back as sent. */
    TransferHeader header;
    DWORD returned;
    char x = 'x';
    ASSERT_TRUE(transfer(device, TRANSFER_DATA, &x, 1, &returned, &header));
    EXPECT_EQ(header.busy, 0u);
    EXPECT_EQ(header.mode, (uint32_t)TRANSFER_DATA);
}

TEST_F(DriverProbe, ReportedBytesComeBackSixteenAtATimeUnfiltered)
{
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 20; ++i)
        bytes.push_back((uint8_t)(0x40 + i));
    bytes[1] = 0xFF; /* the driver passes 0xFF; dropping it is the library's job */
    ASSERT_TRUE(e2e::control(MXSIM_IOCTL_REPORT, bytes.data(), (DWORD)bytes.size()));
    EXPECT_EQ(e2e::state().pending, 20u);

    /* The poll's bytes-returned is a count, not a length: the one-byte data
     * buffer must not be written past. */
    uint8_t guarded[4] = {SYNTH_POLL_BYTE, 0xA5, 0xA5, 0xA5};
    DWORD returned;
    ASSERT_TRUE(transfer(device, TRANSFER_POLL, guarded, 1, &returned));
    EXPECT_EQ(returned, 16u);
    EXPECT_EQ(guarded[1], 0xA5);

    std::vector<uint8_t> first = read(device);
    ASSERT_EQ(first.size(), 16u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 16), first);
    std::vector<uint8_t> rest = read(device);
    ASSERT_EQ(rest.size(), 4u);
    EXPECT_EQ(rest[3], 0x40 + 19);
    EXPECT_EQ(read(device).size(), 0u) << "nothing left";

    /* A smaller read buffer gets fewer bytes and nothing past its end. */
    ASSERT_TRUE(e2e::report({1, 2, 3}));
    std::vector<uint8_t> two = read(device, 2);
    EXPECT_EQ(two, (std::vector<uint8_t>{1, 2}));
}

TEST_F(DriverProbe, OutOfBandAndServiceBytesReachTheFirmware)
{
    uint8_t reset = SYNTH_OOB_RESET;
    DWORD returned;
    ASSERT_TRUE(transfer(device, TRANSFER_IMMEDIATE, &reset, 1, &returned));
    EXPECT_EQ(e2e::state().resets, 1u);

    /* The version query: 0x01 0x02 '?' answers the scripted six bytes. */
    const uint8_t version[8] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0x09, 0x08};
    ASSERT_TRUE(e2e::control(MXSIM_IOCTL_SET_VERSION, version, 8));
    const uint8_t query[3] = {SYNTH_CMD_LEAD, SYNTH_CMD_SERVICE, SYNTH_SVC_VERSION};
    ASSERT_TRUE(transfer(device, TRANSFER_DATA, query, 3, &returned));
    EXPECT_EQ(read(device), std::vector<uint8_t>(version, version + 6));

    /* A user dictionary: the image is kept and its sum comes back. */
    const uint8_t dict[7] = {SYNTH_CMD_LEAD, SYNTH_CMD_USER_DICT, 4, 0, 10, 20, 30};
    ASSERT_TRUE(transfer(device, TRANSFER_DATA, dict, 7, &returned));
    const uint8_t last = 40;
    ASSERT_TRUE(transfer(device, TRANSFER_DATA, &last, 1, &returned));
    EXPECT_EQ(read(device), (std::vector<uint8_t>{100, 0}));
    EXPECT_EQ(e2e::image(MXSIM_IOCTL_GET_DICT), std::string("\x0a\x14\x1e\x28"));
    EXPECT_EQ(e2e::state().dict_length, 4u);

    /* Replies off: the same query stays unanswered. */
    ASSERT_TRUE(e2e::set_u32(MXSIM_IOCTL_SET_REPLIES, SIM_REPLIES_OFF));
    ASSERT_TRUE(transfer(device, TRANSFER_DATA, query, 3, &returned));
    EXPECT_EQ(poll(device), 0);
}

TEST_F(DriverProbe, MalformedProductRequestsFail)
{
    DWORD returned;
    uint8_t b = 'x';
    EXPECT_FALSE(transfer(device, 7, &b, 1, &returned)) << "unknown mode";
    uint8_t wrong_poll = 4;
    EXPECT_FALSE(transfer(device, TRANSFER_POLL, &wrong_poll, 1, &returned)) << "poll byte not 3";
    uint8_t big[SYNTH_MAX_TRANSFER + 1] = {};
    EXPECT_FALSE(transfer(device, TRANSFER_DATA, big, sizeof(big), &returned)) << "65 bytes";
    EXPECT_FALSE(DeviceIoControl(device, IOCTL_SYNTH_TRANSFER, nullptr, 0, &b, 1, &returned,
                                 nullptr)) << "no header";
    uint32_t word;
    EXPECT_FALSE(DeviceIoControl(device, 0x222008, nullptr, 0, &word, 4, &returned, nullptr))
        << "unknown code";
    EXPECT_EQ(e2e::transcript(), "") << "nothing reached the input stream";
}

TEST_F(DriverProbe, FailNextFailsExactlyThatManyRequests)
{
    ASSERT_TRUE(e2e::set_u32(MXSIM_IOCTL_FAIL_NEXT, 2));
    uint32_t word;
    DWORD returned;
    EXPECT_FALSE(DeviceIoControl(device, IOCTL_SYNTH_READY, nullptr, 0, &word, 4, &returned, nullptr));
    EXPECT_FALSE(DeviceIoControl(device, IOCTL_SYNTH_READY, nullptr, 0, &word, 4, &returned, nullptr));
    EXPECT_TRUE(DeviceIoControl(device, IOCTL_SYNTH_READY, nullptr, 0, &word, 4, &returned, nullptr));
    EXPECT_EQ(e2e::state().fail_next, 0u);
}

TEST_F(DriverProbe, UnplugFailsOpensAndStalesHandlesUntilReopened)
{
    MxsimState before = e2e::state();
    EXPECT_EQ(before.open_handles, 1u);
    ASSERT_TRUE(e2e::unplug());

    SetLastError(0xdeadbeef);
    HANDLE refused = open_product();
    EXPECT_EQ(refused, INVALID_HANDLE_VALUE) << "open while unplugged";
    EXPECT_NE(GetLastError(), 0xdeadbeefu);
    uint32_t word;
    DWORD returned;
    EXPECT_FALSE(DeviceIoControl(device, IOCTL_SYNTH_READY, nullptr, 0, &word, 4, &returned, nullptr));

    ASSERT_TRUE(e2e::replug());
    EXPECT_FALSE(DeviceIoControl(device, IOCTL_SYNTH_READY, nullptr, 0, &word, 4, &returned, nullptr))
        << "a handle from before the unplug stays stale";
    HANDLE fresh = open_product();
    ASSERT_NE(fresh, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(DeviceIoControl(fresh, IOCTL_SYNTH_READY, nullptr, 0, &word, 4, &returned, nullptr));
    EXPECT_EQ(e2e::state().open_count, before.open_count + 1);
    EXPECT_EQ(e2e::state().open_handles, 2u);

    /* Each handle is closed in the model once (cleanup and close both arrive). */
    CloseHandle(fresh);
    CloseHandle(device);
    device = INVALID_HANDLE_VALUE;
    EXPECT_EQ(e2e::state().open_handles, 0u);
}

TEST_F(DriverProbe, LogRecordsEveryRequestInOrderAcrossChunks)
{
    ASSERT_TRUE(e2e::control(MXSIM_IOCTL_CLEAR, nullptr, 0));
    uint32_t word;
    DWORD returned;
    const int n = MXSIM_LOG_CHUNK * 2 + 5;
    for (int i = 0; i < n; ++i)
        DeviceIoControl(device, IOCTL_SYNTH_READY, nullptr, 0, &word, 4, &returned, nullptr);
    ASSERT_TRUE(speak(device, "ab"));
    std::vector<SimLogEntry> log = e2e::log();
    ASSERT_EQ(log.size(), (size_t)n + 1);
    for (int i = 0; i < n; ++i)
        ASSERT_EQ(log[i].code, IOCTL_SYNTH_READY) << "entry " << i;
    const SimLogEntry &last = log[n];
    EXPECT_EQ(last.code, IOCTL_SYNTH_TRANSFER);
    EXPECT_EQ(last.mode, (uint32_t)TRANSFER_DATA);
    ASSERT_EQ(last.length, 3u);
    EXPECT_EQ(memcmp(last.data, "ab\x0b", 3), 0);
    EXPECT_TRUE(last.ok);
    EXPECT_GE(last.time_us, log[0].time_us);

    /* Reading from past the end gives an empty chunk; clearing empties it. */
    uint32_t first = n + 10;
    std::vector<uint8_t> buffer(MXSIM_LOG_CHUNK_SIZE(4));
    ASSERT_TRUE(e2e::control(MXSIM_IOCTL_GET_LOG, &first, 4, buffer.data(), (DWORD)buffer.size(),
                             &returned));
    EXPECT_EQ(((MxsimLogChunk *)buffer.data())->count, 0u);
    ASSERT_TRUE(e2e::control(MXSIM_IOCTL_CLEAR, nullptr, 0));
    EXPECT_EQ(e2e::state().log_count, 0u);
    EXPECT_EQ(e2e::transcript(), "");
}

TEST(DriverControl, BadControlInputIsRefusedAndChangesNothing)
{
    ASSERT_TRUE(e2e::reset());
    uint32_t mode = 3;
    EXPECT_FALSE(e2e::control(MXSIM_IOCTL_SET_REPLIES, &mode, 4));
    uint8_t seven[7] = {};
    EXPECT_FALSE(e2e::control(MXSIM_IOCTL_SET_VERSION, seven, 7));
    EXPECT_FALSE(e2e::control(MXSIM_IOCTL_REPORT, nullptr, 0));
    EXPECT_FALSE(e2e::control(MXSIM_IOCTL_SET_FIRMWARE, seven, 2)) << "short input";
    EXPECT_FALSE(e2e::control(MXSIM_CTL(0x9FF), nullptr, 0)) << "unknown code";
    MxsimState small;
    DWORD returned;
    EXPECT_FALSE(e2e::control(MXSIM_IOCTL_GET_STATE, nullptr, 0, &small, 8, &returned));
    MxsimState s = e2e::state();
    EXPECT_EQ(s.size, sizeof(MxsimState));
    EXPECT_EQ(s.reply_mode, (uint32_t)SIM_REPLIES_ON);
    EXPECT_EQ(memcmp(s.version_reply, "\x10\x32\x54\x76\x05\x01", 6), 0);
    EXPECT_EQ(s.firmware, 0x0104u);
    EXPECT_EQ(s.pending, 0u);

    /* A reset leaves open handles stale, as an unplug does. */
    HANDLE h = open_product();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(e2e::reset());
    uint32_t word;
    EXPECT_FALSE(DeviceIoControl(h, IOCTL_SYNTH_READY, nullptr, 0, &word, 4, &returned, nullptr));
    EXPECT_EQ(e2e::state().open_handles, 1u);
    CloseHandle(h);
    EXPECT_EQ(e2e::state().open_handles, 0u);
}

/* Not a timed test: prints what one request costs through the driver. */
TEST_F(DriverProbe, RequestCostIsReported)
{
    const int n = 2000;
    uint32_t word;
    DWORD returned;
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    int ok = 0;
    for (int i = 0; i < n; ++i)
        ok += DeviceIoControl(device, IOCTL_SYNTH_READY, nullptr, 0, &word, 4, &returned, nullptr) ? 1 : 0;
    QueryPerformanceCounter(&b);
    EXPECT_EQ(ok, n);
    double us = (double)(b.QuadPart - a.QuadPart) * 1e6 / (double)f.QuadPart / n;
    printf("driver host: %.1f us per request (%d READY requests)\n", us, n);
}

} // namespace
