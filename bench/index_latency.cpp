/*
 * index_latency.cpp - how late an index byte reaches the application. The
 * driver host releases bytes at times it records (MXSIM_IOCTL_REPORT_TIMED),
 * one every 5 to 45 ms at random, so the bytes fall at every phase of the
 * reader's cycle; the application receives them
 *   - by calling USBMX_ReadByte every 1 ms (which also hurries the reader), or
 *   - as window messages posted by the reader thread,
 * and each byte's latency is the time it was received less the time the
 * unit had it ready. The design's floor, at worst: one reader cycle (20 ms
 * wait and 5 ms sleep) plus the 1 ms sleep before a read.
 * The driver's request log splits each latency in two: the wait for the
 * reader's next poll (the cadence, which Wine's timers stretch on a loaded
 * machine) and the time from that poll to the application (the 1 ms sleep,
 * the read, and the post or the next USBMX_ReadByte): the library's part.
 */
#include "bench_common.h"

#include <string.h>
#include <algorithm>

#include "mxusb_protocol.h"
#include "mxsim_control.h"

namespace {

const double kFloorMs = 20 + 5 + 1;  /* one reader cycle plus the read sleep */
const double kTwoCyclesMs = 2 * 25;  /* no byte later than this */
const UINT kIndexMessage = WM_USER + 256; /* 1280, as the utility registers it */

struct Run {
    std::vector<MxsimTimedByte> schedule;
    double base;                  /* the clock when the schedule was sent, s */
    bool same_clock;              /* base is the driver's clock (see Start) */
    std::vector<double> received; /* clock at each byte received, in order, s */
    std::vector<int> values;
};

Run *g_window_run; /* the run the window procedure records into */

/* Random gaps of 5..45 ms (a fixed seed: every run the same pattern). */
std::vector<MxsimTimedByte> MakeSchedule(int count)
{
    std::vector<MxsimTimedByte> s;
    uint32_t seed = 12345, at = 50000;
    for (int i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        at += 5000 + (seed >> 8) % 40000;
        s.push_back({at, (uint32_t)(1 + i % 254)}); /* never 0 and never 0xFF */
    }
    return s;
}

bool Start(Run *run, int count)
{
    run->schedule = MakeSchedule(count);
    run->received.clear();
    run->values.clear();
    /* The driver answers with its clock at the request's arrival. Under Wine
     * it is the same clock as this program's; when it falls between the
     * readings before and after the request it is the base, else (another
     * clock) the reading before, which makes each latency at most one request
     * longer than it is. */
    uint32_t mask = MXSIM_CLEAR_LOG; /* the log then holds this run's polls */
    if (!BenchControl(MXSIM_IOCTL_CLEAR, &mask, sizeof mask))
        return false;
    std::vector<MxsimTimedByte> buffer = run->schedule;
    double before = BenchSeconds();
    bool ok = BenchControl(MXSIM_IOCTL_REPORT_TIMED, buffer.data(), (DWORD)(buffer.size() * sizeof(MxsimTimedByte)),
                           buffer.data(), sizeof(uint64_t));
    double after = BenchSeconds();
    uint64_t arrival_us;
    memcpy(&arrival_us, buffer.data(), sizeof arrival_us);
    double arrival = arrival_us / 1e6;
    run->same_clock = arrival >= before && arrival <= after;
    run->base = run->same_clock ? arrival : before;
    return ok;
}

double Deadline(const Run &run)
{
    return run.base + run.schedule.back().delay_us / 1e6 + 1.0;
}

void Record(Run *run, int value)
{
    run->received.push_back(BenchSeconds());
    run->values.push_back(value);
}

void ByReadByte(const BenchApi &api, Run *run)
{
    while (run->received.size() < run->schedule.size() && BenchSeconds() < Deadline(*run)) {
        int b = api.read_byte();
        if (b != -1)
            Record(run, b); /* and read again at once */
        else
            Sleep(1);
    }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == kIndexMessage && g_window_run) {
        Record(g_window_run, (int)wparam);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

void ByWindow(Run *run)
{
    /* The messages arrive through the queue; this thread does nothing else. */
    while (run->received.size() < run->schedule.size()) {
        double left = Deadline(*run) - BenchSeconds();
        if (left <= 0)
            break;
        MsgWaitForMultipleObjects(0, NULL, FALSE, (DWORD)(left * 1000) + 1, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

/* The times of the poll requests in the driver's log, s, in order. */
std::vector<double> PollTimes(void)
{
    static uint8_t buffer[MXSIM_LOG_CHUNK_SIZE(MXSIM_LOG_CHUNK)];
    std::vector<double> polls;
    for (uint32_t first = 0;;) {
        DWORD got = 0;
        if (!BenchControl(MXSIM_IOCTL_GET_LOG, &first, sizeof first, buffer, sizeof buffer, &got))
            return polls;
        const MxsimLogChunk *chunk = (const MxsimLogChunk *)buffer;
        for (uint32_t i = 0; i < chunk->count; ++i)
            if (chunk->entries[i].code == IOCTL_SYNTH_TRANSFER && chunk->entries[i].mode == TRANSFER_POLL)
                polls.push_back(chunk->entries[i].time_us / 1e6);
        first += chunk->count;
        if (chunk->count == 0 || first >= chunk->total)
            return polls;
    }
}

/* A note on the run's cadence and the library's part of the latencies. */
void Breakdown(const Run &run, const char *how)
{
    std::vector<double> polls = PollTimes(), cycles, waits, delivery;
    for (size_t i = 1; i < polls.size(); ++i)
        cycles.push_back((polls[i] - polls[i - 1]) * 1000);
    for (size_t i = 0; i < run.received.size(); ++i) {
        double due = run.base + run.schedule[i].delay_us / 1e6;
        auto found = std::lower_bound(polls.begin(), polls.end(), due);
        if (found == polls.end())
            continue;
        waits.push_back((*found - due) * 1000);
        delivery.push_back((run.received[i] - *found) * 1000);
    }
    if (!run.same_clock || delivery.empty()) {
        BenchNote("index latency, %s: the driver's clock is not this program's, no breakdown", how);
        return;
    }
    BenchNote("index latency, %s: polls every %.1f ms (p50; max %.1f; design 25, or 5 when woken); a byte waited "
              "%.1f / %.1f ms (p50 / p99) for the poll that found it, then took %.1f / %.1f ms to the application",
              how, BenchQuantile(cycles, 0.5), BenchQuantile(cycles, 1), BenchQuantile(waits, 0.5),
              BenchQuantile(waits, 0.99), BenchQuantile(delivery, 0.5), BenchQuantile(delivery, 0.99));
}

/* One row from a run; false when bytes were lost or out of order. */
bool Report(const Run &run, const char *how)
{
    std::vector<double> ms;
    size_t wrong = 0;
    for (size_t i = 0; i < run.received.size(); ++i) {
        if (run.values[i] != (int)run.schedule[i].byte)
            ++wrong;
        ms.push_back((run.received[i] - run.base) * 1000 - run.schedule[i].delay_us / 1000.0);
    }
    const size_t lost = run.schedule.size() - run.received.size();
    double p50 = BenchQuantile(ms, 0.5), p99 = BenchQuantile(ms, 0.99), max = BenchQuantile(ms, 1);
    bool met = lost == 0 && wrong == 0 && p99 <= kFloorMs && max <= kTwoCyclesMs;
    BenchRow(BenchFormat("index latency, %s, ms p50 / p99 / max of %u bytes", how, (unsigned)ms.size()).c_str(),
             BenchFormat("%.1f / %.1f / %.1f", p50, p99, max).c_str(),
             BenchFormat("floor %.0f (cycle 25 + read sleep 1)", kFloorMs).c_str(),
             BenchFormat("%.2f", p99 / kFloorMs).c_str(), "p99 <= floor, max <= 50", met ? "met" : "NOT MET");
    Breakdown(run, how);
    if (lost || wrong)
        BenchNote("index latency, %s: %u bytes not received, %u not the byte expected in its place", how,
                  (unsigned)lost, (unsigned)wrong);
    return lost == 0 && wrong == 0;
}

} // namespace

int BenchIndexLatency(const BenchApi &api, int count)
{
    if (count < 1 || count > MXSIM_MAX_TIMED)
        count = 500;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(NULL);
    wc.lpszClassName = L"MxBenchIndexWindow";
    RegisterClassW(&wc);
    /* A message-only window: it needs no display, and its queue works as any
     * window's does. */
    HWND window = CreateWindowW(wc.lpszClassName, L"index latency", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                                wc.hInstance, NULL);
    if (!window) {
        fprintf(stderr, "index latency: cannot create a window (error %lu)\n", GetLastError());
        return 1;
    }
    if (!api.open()) {
        fprintf(stderr, "index latency: USBMX_OpenSynth failed\n");
        DestroyWindow(window);
        return 1;
    }
    api.resume_indexes(1); /* collect from now on, from an empty ring */
    Run run;
    int rc = 1;
    if (Start(&run, count)) {
        ByReadByte(api, &run);
        bool ok = Report(run, "USBMX_ReadByte every 1 ms");
        api.register_window(window, kIndexMessage);
        g_window_run = &run;
        if (Start(&run, count)) {
            ByWindow(&run);
            ok = Report(run, "window messages") && ok;
            rc = ok ? 0 : 1;
        }
        api.register_window(NULL, 0);
        g_window_run = NULL;
    }
    api.close();
    DestroyWindow(window);
    return rc;
}
