/*
 * throughput.cpp - how fast speech bytes go out through the driver host,
 * against what the unit's link takes (57,600 bps, 10 bits a byte: 5,760
 * bytes a second):
 *   USBMX_WriteString of long texts (64-byte transfers), and
 *   USBMX_WriteByte byte by byte (64-bit: one transfer per call in the
 *   caller's thread; 32-bit: the calls only queue, the writer thread sends).
 * A run ends when the simulated unit has received every byte (its transcript
 * has grown by all the texts), so the 32-bit writer's backlog counts. Bare
 * DeviceIoControl transfers of the same bytes, in blocks and one by one,
 * show what the library adds to the device's own cost.
 */
#include "bench_common.h"

#include "mxusb_protocol.h"
#include "mxsim_control.h"

namespace {

const double kLinkBytesPerSecond = 57600 / 10.0;

/* A text to speak of about `length` bytes (the simulated unit collects at
 * most 4096 a text): words and single spaces, no byte that the speech filter
 * drops, ended by 0x0B. */
std::vector<unsigned char> MakeText(size_t length)
{
    static const char *const words[] = {"index", "marks", "reach", "the", "application", "while", "speech",
                                        "bytes", "go", "out", "over", "a", "slow", "link"};
    std::vector<unsigned char> text;
    for (int i = 0; text.size() + 16 < length; ++i) {
        const char *w = words[i % (sizeof words / sizeof *words)];
        text.insert(text.end(), w, w + strlen(w));
        text.push_back(' ');
    }
    text.push_back(SYNTH_END_OF_TEXT);
    return text;
}

/* Waits until the unit's transcript holds `expected` bytes and no text is
 * half collected; the clock then, or -1 after 120 s. */
double WaitSpoken(uint32_t expected)
{
    double limit = BenchSeconds() + 120;
    for (;;) {
        uint32_t transcript = 0, text = 1;
        if (!BenchSpoken(&transcript, &text))
            return -1;
        if (transcript >= expected && text == 0)
            return BenchSeconds();
        if (BenchSeconds() > limit) {
            fprintf(stderr, "throughput: the unit holds %u of %u bytes\n", transcript, expected);
            return -1;
        }
        Sleep(1);
    }
}

typedef bool (*SendFn)(const BenchApi &api, HANDLE device, const std::vector<unsigned char> &text);

/* Seconds until the unit has all of `texts` copies of the text; -1 on
 * failure. */
double Time(const BenchApi &api, HANDLE device, SendFn send, const std::vector<unsigned char> &text, int texts)
{
    if (!BenchControl(MXSIM_IOCTL_CLEAR, NULL, 0)) /* an empty transcript and log */
        return -1;
    double t0 = BenchSeconds();
    for (int i = 0; i < texts; ++i)
        if (!send(api, device, text))
            return -1;
    /* The transcript keeps each text without its 0x0B and adds '\n'. */
    double t1 = WaitSpoken((uint32_t)(texts * text.size()));
    return t1 < 0 ? -1 : t1 - t0;
}

bool BareTransfer(HANDLE device, const unsigned char *bytes, DWORD count)
{
    TransferHeader header = {TRANSFER_DATA, 0};
    DWORD returned = 0;
    return DeviceIoControl(device, IOCTL_SYNTH_TRANSFER, &header, sizeof header, const_cast<unsigned char *>(bytes),
                           count, &returned, NULL) != FALSE;
}

bool LibraryBlocks(const BenchApi &api, HANDLE, const std::vector<unsigned char> &t)
{
    return api.write_string(t.data(), (int)t.size()) == 1;
}

bool BareBlocks(const BenchApi &, HANDLE device, const std::vector<unsigned char> &t)
{
    for (size_t at = 0; at < t.size(); at += SYNTH_MAX_TRANSFER) {
        DWORD n = (DWORD)(t.size() - at < SYNTH_MAX_TRANSFER ? t.size() - at : SYNTH_MAX_TRANSFER);
        if (!BareTransfer(device, t.data() + at, n))
            return false;
    }
    return true;
}

/* The 32-bit USBMX_WriteByte returns 1 once the byte is queued. */
bool LibraryBytes(const BenchApi &api, HANDLE, const std::vector<unsigned char> &t)
{
    for (unsigned char b : t)
        if (api.write_byte(b) != 1)
            return false;
    return true;
}

bool BareBytes(const BenchApi &, HANDLE device, const std::vector<unsigned char> &t)
{
    for (unsigned char b : t)
        if (!BareTransfer(device, &b, 1))
            return false;
    return true;
}

/* The library's path and the bare one in alternating short rounds (each
 * side goes first in turn), so that both meet the same moments of a loaded
 * machine; each side's rate is its bytes over its time in all rounds. A row
 * against the link and a note against the bare transfers; false on failure. */
bool Compare(const BenchApi &api, HANDLE device, const char *how, SendFn library, SendFn bare, size_t length,
             int rounds)
{
    const std::vector<unsigned char> text = MakeText(length);
    double seconds[2] = {0, 0};
    for (int round = 0; round < rounds; ++round) {
        for (int side = 0; side < 2; ++side) {
            int which = (side + round) % 2; /* 0: library, 1: bare */
            double took = Time(api, device, which == 0 ? library : bare, text, 1);
            if (took < 0) {
                fprintf(stderr, "throughput: %s failed\n", how);
                return false;
            }
            seconds[which] += took;
        }
    }
    const double bytes = (double)rounds * text.size();
    const double rate = bytes / seconds[0], bare_rate = bytes / seconds[1];
    double r = rate / kLinkBytesPerSecond;
    BenchRow(BenchFormat("speech throughput, %s, bytes/s", how).c_str(), BenchFormat("%.0f", rate).c_str(),
             BenchFormat("link %.0f", kLinkBytesPerSecond).c_str(), BenchFormat("%.1f x", r).c_str(), ">= 10 x",
             r >= 10 ? "met" : "NOT MET");
    BenchNote("speech throughput, %s: %.3f of bare DeviceIoControl transfers of the same bytes (%.0f bytes/s; %d "
              "alternating rounds of %u bytes each)",
              how, rate / bare_rate, bare_rate, rounds, (unsigned)text.size());
    return true;
}

} // namespace

int BenchThroughput(const BenchApi &api)
{
    HANDLE device = BenchOpenDevice();
    if (device == INVALID_HANDLE_VALUE || !api.open()) {
        fprintf(stderr, "throughput: cannot open the device\n");
        if (device != INVALID_HANDLE_VALUE)
            CloseHandle(device);
        return 1;
    }
    bool ok = Compare(api, device, "USBMX_WriteString", LibraryBlocks, BareBlocks, 4000, 30);
    ok = Compare(api, device,
                 sizeof(void *) == 8 ? "USBMX_WriteByte" : "USBMX_WriteByte (queue and writer thread)",
                 LibraryBytes, BareBytes, 250, 16) &&
         ok;
    api.close();
    CloseHandle(device);
    return ok ? 0 : 1;
}
