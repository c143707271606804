/*
 * idle_cpu.cpp - the CPU that the library's threads use while an application
 * that has called USBMX_OpenSynth does nothing, against bare threads of the
 * same cadence in the same process, in alternating phases of one run:
 *   halted   (as USBMX_OpenSynth leaves it): the reader waits 20 ms at a
 *            time; the bare thread does the same.
 *   polling  an idle device through the driver host (after
 *            USBMX_ResumeIndexes): wait 20 ms, one poll request, sleep 5 ms;
 *            the bare thread makes the same poll with DeviceIoControl, and a
 *            second bare thread keeps the cadence without the poll, so the
 *            polls' own cost shows.
 * In the 32-bit build the writer thread (waiting 100 ms at a time) counts on
 * the library's side and a bare 100 ms waiter on the other.
 * No two threads of like cadence run at once: threads whose 20 ms timers
 * fall due together disturb each other, and not evenly. Each round measures the
 * library (opened afresh, halted, then polling) and the bare threads
 * (started afresh), one after the other, the order turning each round,
 * after a round that does not count; the figures and ratios are the medians
 * of the rounds'. The spread of the rounds' ratios shows how much other work
 * on the machine moved them.
 * Wine's process clock moves in 10 ms ticks, so the figures come from the
 * kernel's per-thread clock (schedstat), which resolves nanoseconds.
 */
#include "bench_common.h"

#include "mxusb_protocol.h"

namespace {

const DWORD kPhaseMs = 1000; /* one phase */
const int kRounds = 9;

struct Bare {
    DWORD wait_ms;  /* longest wait for its event */
    DWORD sleep_ms; /* sleep after each wait (0: none) */
    HANDLE device;  /* poll this device after each wait (INVALID_HANDLE_VALUE: no poll) */
    HANDLE event;   /* set only to end the thread: every other wait runs out */
    HANDLE started;
    HANDLE thread;
    int tid;
    volatile LONG quit;
    volatile LONG polls;
};

DWORD WINAPI BareThread(LPVOID param)
{
    Bare *b = (Bare *)param;
    SetEvent(b->started);
    while (!b->quit) {
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
        b->quit = 1;
        SetEvent(b->event);
        WaitForSingleObject(b->thread, 10000);
        CloseHandle(b->thread);
        b->thread = NULL;
    }
    if (b->event)
        CloseHandle(b->event);
    if (b->started)
        CloseHandle(b->started);
    b->event = b->started = NULL;
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

/* What one side used over its phases: CPU ns of each group of threads
 * measured together, the phases' seconds, the device requests made. */
struct Use {
    std::vector<double> ns;
    double seconds = 0, requests = 0;
    double MsPerSecond(size_t group) const { return ns[group] / 1e6 / seconds; }
};

/* One phase: the groups' CPU over the same second, added to *total; the
 * phase alone (ns per second of each group) returned in *phase. */
bool MeasurePhase(const std::vector<std::vector<int>> &groups, Use *total, std::vector<double> *phase)
{
    std::vector<int64_t> start;
    for (const auto &g : groups)
        start.push_back(CpuNs(g));
    uint32_t requests = BenchRequests();
    double t0 = BenchSeconds();
    Sleep(kPhaseMs);
    double seconds = BenchSeconds() - t0;
    total->seconds += seconds;
    total->requests += (double)(BenchRequests() - requests);
    total->ns.resize(groups.size());
    phase->clear();
    for (size_t i = 0; i < groups.size(); ++i) {
        int64_t end = CpuNs(groups[i]);
        if (start[i] < 0 || end < 0)
            return false;
        total->ns[i] += (double)(end - start[i]);
        phase->push_back((double)(end - start[i]) / seconds);
    }
    return true;
}

std::vector<int> With(std::vector<int> tids, int tid)
{
    if (tid)
        tids.push_back(tid);
    return tids;
}

/* Everything measured, and each round's own figures (ms per second) and
 * ratios of library to bare. */
struct Totals {
    Use lib_halted, lib_polling, bare_halted, bare_polling, bare_cadence;
    double bare_polls = 0;
    std::vector<double> lib_halted_ms, bare_halted_ms, lib_polling_ms, bare_polling_ms;
    std::vector<double> halted_ratio, polling_ratio;
};

/* The library's phases: opened afresh, halted, then polling an idle device.
 * *halted and *polling: its ns per second in each. */
bool LibraryPhases(const BenchApi &api, Totals *t, double *halted, double *polling)
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
    std::vector<double> phase;
    bool ok = MeasurePhase({library}, &t->lib_halted, &phase);
    *halted = ok ? phase[0] : 0;
    api.resume_indexes(0);
    Sleep(50);
    ok = ok && MeasurePhase({library}, &t->lib_polling, &phase);
    *polling = ok ? phase[0] : 0;
    api.close();
    return ok;
}

/* The bare phases, one thread of each kind alone as the library's reader
 * is: a 20 ms waiter; a thread of the polling cadence with the same polls;
 * one of the same cadence without them. 32-bit: beside each, a 100 ms
 * waiter as the writer thread. */
bool BarePhases(HANDLE device, Totals *t, double *halted, double *polling)
{
    const bool has_writer = sizeof(void *) == 4;
    Bare waiter20 = {}, waiter100 = {}, cadence = {}, cadence_poll = {};
    std::vector<double> phase;
    bool ok = StartBare(&waiter20, 20, 0, INVALID_HANDLE_VALUE) &&
              (!has_writer || StartBare(&waiter100, 100, 0, INVALID_HANDLE_VALUE)) &&
              MeasurePhase({With({waiter20.tid}, waiter100.tid)}, &t->bare_halted, &phase);
    *halted = ok ? phase[0] : 0;
    StopBare(&waiter20);
    if (ok && StartBare(&cadence_poll, 20, 5, device)) {
        LONG polls = cadence_poll.polls;
        ok = MeasurePhase({With({cadence_poll.tid}, waiter100.tid)}, &t->bare_polling, &phase);
        t->bare_polls += cadence_poll.polls - polls;
        *polling = ok ? phase[0] : 0;
    } else {
        ok = false;
    }
    StopBare(&cadence_poll);
    ok = ok && StartBare(&cadence, 20, 5, INVALID_HANDLE_VALUE) &&
         MeasurePhase({With({cadence.tid}, waiter100.tid)}, &t->bare_cadence, &phase);
    StopBare(&cadence);
    StopBare(&waiter100);
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
    /* A first round that does not count: code runs for the first time there
     * (under an emulator it is translated then), on both sides. */
    Totals warm_up, t;
    bool ok = true;
    for (int round = -1; round < kRounds && ok; ++round) {
        Totals *into = round < 0 ? &warm_up : &t;
        double lib_halted = 0, lib_polling = 0, bare_halted = 0, bare_polling = 0;
        if (round % 2 == 0)
            ok = LibraryPhases(api, into, &lib_halted, &lib_polling) &&
                 BarePhases(device, into, &bare_halted, &bare_polling);
        else
            ok = BarePhases(device, into, &bare_halted, &bare_polling) &&
                 LibraryPhases(api, into, &lib_halted, &lib_polling);
        if (ok) {
            into->lib_halted_ms.push_back(lib_halted / 1e6);
            into->bare_halted_ms.push_back(bare_halted / 1e6);
            into->lib_polling_ms.push_back(lib_polling / 1e6);
            into->bare_polling_ms.push_back(bare_polling / 1e6);
            into->halted_ratio.push_back(lib_halted / bare_halted);
            into->polling_ratio.push_back(lib_polling / bare_polling);
        }
    }
    CloseHandle(device);
    if (!ok) {
        fprintf(stderr, "idle CPU: cannot read the threads' CPU clocks\n");
        return 1;
    }

    const bool has_writer = sizeof(void *) == 4;
    const char *threads = has_writer ? "reader + writer" : "reader";
    /* Medians: now and then a burst of other work on the machine lands in
     * one phase and makes that round's figures several times the others. */
    double r = BenchQuantile(t.halted_ratio, 0.5);
    BenchRow(BenchFormat("idle CPU halted, ms/s (%s)", threads).c_str(),
             BenchFormat("%.3f", BenchQuantile(t.lib_halted_ms, 0.5)).c_str(),
             BenchFormat("%.3f bare thread%s of the same waits", BenchQuantile(t.bare_halted_ms, 0.5),
                         has_writer ? "s" : "")
                 .c_str(),
             BenchFormat("%.3f", r).c_str(), "<= 1.05", r <= 1.05 ? "met" : "NOT MET");
    r = BenchQuantile(t.polling_ratio, 0.5);
    BenchRow(BenchFormat("idle CPU polling an idle device, ms/s (%s)", threads).c_str(),
             BenchFormat("%.3f", BenchQuantile(t.lib_polling_ms, 0.5)).c_str(),
             BenchFormat("%.3f bare cadence with the same polls", BenchQuantile(t.bare_polling_ms, 0.5)).c_str(),
             BenchFormat("%.3f", r).c_str(), "<= 1.05", r <= 1.05 ? "met" : "NOT MET");
    BenchNote("idle CPU: medians of %d rounds of alternating %.0f s phases after one not counted; the rounds' ratios: halted %.2f / %.2f / %.2f, "
              "polling %.2f / %.2f / %.2f (min / median / max)",
              kRounds, kPhaseMs / 1000.0, BenchQuantile(t.halted_ratio, 0), BenchQuantile(t.halted_ratio, 0.5),
              BenchQuantile(t.halted_ratio, 1), BenchQuantile(t.polling_ratio, 0), BenchQuantile(t.polling_ratio, 0.5),
              BenchQuantile(t.polling_ratio, 1));
    const double bare_polls = t.bare_polls / t.bare_polling.seconds;
    const double cadence = t.bare_cadence.MsPerSecond(0);
    BenchNote("idle CPU polling, over all rounds: the library %.3f ms/s on %.1f polls a second, the bare thread with "
              "the same polls %.3f ms/s on %.1f, one of the same cadence without polls %.3f ms/s",
              t.lib_polling.MsPerSecond(0), t.lib_polling.requests / t.lib_polling.seconds,
              t.bare_polling.MsPerSecond(0), bare_polls, cadence);
    return 0;
}
