/*
 * idle_cpu.cpp - the CPU that the library's threads use while an application
 * that has called USBMX_OpenSynth does nothing, against bare threads of the
 * same cadence running beside them in the same process over the same
 * seconds:
 *   halted   (as USBMX_OpenSynth leaves it): the reader waits 20 ms at a
 *            time; the bare thread does the same.
 *   polling  an idle device through the driver host (after
 *            USBMX_ResumeIndexes): wait 20 ms, one poll request, sleep 5 ms;
 *            the bare thread makes the same poll with DeviceIoControl, and a
 *            second bare thread keeps the cadence without the poll, so the
 *            polls' own cost shows.
 * In the 32-bit build the writer thread (waiting 100 ms at a time) counts on
 * the library's side and a bare 100 ms waiter on the other. Each round opens
 * the library and starts the bare threads afresh; the figures add up all
 * rounds. A second bare 20 ms waiter beside the first shows how far two
 * identical threads differ on this machine at this time.
 * Wine's process clock moves in 10 ms ticks, so the figures come from the
 * kernel's per-thread clock (schedstat), which resolves nanoseconds.
 */
#include "bench_common.h"

#include "mxusb_protocol.h"

namespace {

const DWORD kPhaseMs = 2500; /* one phase of a round */
const int kRounds = 6;

volatile LONG g_quit;

struct Bare {
    DWORD wait_ms;  /* longest wait for its event */
    DWORD sleep_ms; /* sleep after each wait (0: none) */
    HANDLE device;  /* poll this device after each wait (INVALID_HANDLE_VALUE: no poll) */
    HANDLE event;   /* never set until the end: every wait runs out */
    HANDLE started;
    HANDLE thread;
    int tid;
    volatile LONG polls;
};

DWORD WINAPI BareThread(LPVOID param)
{
    Bare *b = (Bare *)param;
    SetEvent(b->started);
    while (!g_quit) {
        WaitForSingleObject(b->event, b->wait_ms);
        if (b->device != INVALID_HANDLE_VALUE) {
            TransferHeader header = {TRANSFER_POLL, 0};
            unsigned char byte = SYNTH_POLL_BYTE;
            DWORD pending = 0;
            DeviceIoControl(b->device, IOCTL_SYNTH_TRANSFER, &header, sizeof header, &byte, 1, &pending, NULL);
            ++b->polls;
        }
        if (b->sleep_ms)
            Sleep(b->sleep_ms);
    }
    return 0;
}

/* Starts a bare thread and finds its Linux TID; false if it cannot tell. */
bool StartBare(Bare *b, DWORD wait_ms, DWORD sleep_ms, HANDLE device)
{
    b->wait_ms = wait_ms;
    b->sleep_ms = sleep_ms;
    b->device = device;
    b->event = CreateEventW(NULL, TRUE, FALSE, NULL);
    b->started = CreateEventW(NULL, TRUE, FALSE, NULL);
    std::vector<int> before = BenchTasks();
    b->thread = CreateThread(NULL, 0, BareThread, b, 0, NULL);
    if (!b->thread || WaitForSingleObject(b->started, 10000) != WAIT_OBJECT_0)
        return false;
    std::vector<int> added = BenchNewTasks(before, BenchTasks());
    b->tid = added.size() == 1 ? added[0] : 0;
    if (!b->tid)
        fprintf(stderr, "idle CPU: %u new threads for one bare thread\n", (unsigned)added.size());
    return b->tid != 0;
}

void StopBare(Bare *b)
{
    if (b->thread) {
        SetEvent(b->event);
        WaitForSingleObject(b->thread, 10000);
        CloseHandle(b->thread);
    }
    CloseHandle(b->event);
    CloseHandle(b->started);
}

int64_t CpuNs(const std::vector<int> &tids)
{
    int64_t sum = 0;
    for (int tid : tids) {
        int64_t ns = BenchThreadCpuNs(tid);
        if (ns < 0)
            return -1;
        sum += ns;
    }
    return sum;
}

/* CPU time of each group of threads over one phase, all groups over the
 * same seconds, added to *ns; the phase's length is added to *seconds and
 * the device requests made meanwhile (by every thread) to *requests. */
bool MeasurePhase(const std::vector<std::vector<int>> &groups, std::vector<double> *ns, double *seconds,
                  double *requests)
{
    std::vector<int64_t> start;
    for (const auto &g : groups)
        start.push_back(CpuNs(g));
    uint32_t requests0 = BenchRequests();
    double t0 = BenchSeconds();
    Sleep(kPhaseMs);
    *seconds += BenchSeconds() - t0;
    *requests += (double)(BenchRequests() - requests0);
    ns->resize(groups.size());
    for (size_t i = 0; i < groups.size(); ++i) {
        int64_t end = CpuNs(groups[i]);
        if (start[i] < 0 || end < 0)
            return false;
        (*ns)[i] += (double)(end - start[i]);
    }
    return true;
}

std::vector<int> With(std::vector<int> tids, int tid)
{
    if (tid)
        tids.push_back(tid);
    return tids;
}

/* The figures of all rounds: CPU ns of each group, seconds and device
 * requests of each phase, the bare thread's polls. */
struct Totals {
    std::vector<double> halted, polling;
    double halted_s = 0, polling_s = 0, halted_requests = 0, polling_requests = 0, bare_polls = 0;
};

/* One round: the library's threads started afresh, bare threads beside
 * them, a halted phase, then a polling phase. */
bool Round(const BenchApi &api, HANDLE device, Totals *t)
{
    const bool has_writer = sizeof(void *) == 4;
    std::vector<int> before = BenchTasks();
    if (!api.open()) {
        fprintf(stderr, "idle CPU: USBMX_OpenSynth failed\n");
        return false;
    }
    Sleep(100);
    std::vector<int> library = BenchNewTasks(before, BenchTasks());
    if (library.size() != (has_writer ? 2u : 1u))
        BenchNote("idle CPU: USBMX_OpenSynth added %u threads (all counted as the library's)",
                  (unsigned)library.size());
    /* twin20 is a second bare waiter: its ratio to the first shows how far
     * two identical threads differ in this run. */
    Bare waiter20 = {}, twin20 = {}, waiter100 = {}, cadence = {}, cadence_poll = {};
    g_quit = 0;
    bool ok = StartBare(&waiter20, 20, 0, INVALID_HANDLE_VALUE) && StartBare(&twin20, 20, 0, INVALID_HANDLE_VALUE) &&
              (!has_writer || StartBare(&waiter100, 100, 0, INVALID_HANDLE_VALUE)) &&
              MeasurePhase({library, With({waiter20.tid}, waiter100.tid), {twin20.tid}, {waiter20.tid}}, &t->halted,
                           &t->halted_s, &t->halted_requests);
    if (ok) {
        api.resume_indexes(0);
        ok = StartBare(&cadence, 20, 5, INVALID_HANDLE_VALUE) && StartBare(&cadence_poll, 20, 5, device);
        LONG polls = cadence_poll.polls;
        ok = ok && MeasurePhase({library, With({cadence_poll.tid}, waiter100.tid), With({cadence.tid}, waiter100.tid)},
                                &t->polling, &t->polling_s, &t->polling_requests);
        t->bare_polls += cadence_poll.polls - polls;
    }
    g_quit = 1;
    StopBare(&cadence_poll);
    StopBare(&cadence);
    StopBare(&waiter100);
    StopBare(&twin20);
    StopBare(&waiter20);
    api.close();
    return ok;
}

} // namespace

int BenchIdleCpu(const BenchApi &api)
{
    if (!BenchLinuxPidInit())
        return 1;
    HANDLE device = BenchOpenDevice();
    if (device == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "idle CPU: cannot open the device\n");
        return 1;
    }
    /* Every round starts the threads at new moments, so that no alignment of
     * one thread's timer with other work of the machine lasts the run. */
    Totals t;
    bool ok = true;
    for (int round = 0; round < kRounds && ok; ++round)
        ok = Round(api, device, &t);
    CloseHandle(device);
    if (!ok) {
        fprintf(stderr, "idle CPU: cannot read the threads' CPU clocks\n");
        return 1;
    }

    const bool has_writer = sizeof(void *) == 4;
    const char *threads = has_writer ? "reader + writer" : "reader";
    std::vector<double> halted, polling; /* ms per second */
    for (double ns : t.halted)
        halted.push_back(ns / 1e6 / t.halted_s);
    for (double ns : t.polling)
        polling.push_back(ns / 1e6 / t.polling_s);
    double r = halted[0] / halted[1];
    BenchRow(BenchFormat("idle CPU halted, ms/s (%s)", threads).c_str(), BenchFormat("%.3f", halted[0]).c_str(),
             BenchFormat("%.3f bare thread%s of the same waits", halted[1], has_writer ? "s" : "").c_str(),
             BenchFormat("%.3f", r).c_str(), "<= 1.05", r <= 1.05 ? "met" : "NOT MET");
    BenchNote("idle CPU halted: two identical bare threads waiting 20 ms at a time differ by a ratio of %.3f here "
              "(%d rounds of %.0f s)",
              halted[2] / halted[3], kRounds, kPhaseMs / 1000.0);
    r = polling[0] / polling[1];
    BenchRow(BenchFormat("idle CPU polling an idle device, ms/s (%s)", threads).c_str(),
             BenchFormat("%.3f", polling[0]).c_str(),
             BenchFormat("%.3f bare cadence with the same polls", polling[1]).c_str(), BenchFormat("%.3f", r).c_str(),
             "<= 1.05", r <= 1.05 ? "met" : "NOT MET");
    const double bare_polls = t.bare_polls / t.polling_s;
    BenchNote("idle CPU polling: above the bare cadence (%.3f ms/s) the library spends %.3f ms/s on %.1f polls "
              "a second, the bare thread %.3f ms/s on %.1f",
              polling[2], polling[0] - polling[2], t.polling_requests / t.polling_s - bare_polls,
              polling[1] - polling[2], bare_polls);
    return 0;
}
