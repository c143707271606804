/*
 * e2e_child.cpp - a 32-bit program with mxusbd.dll, started twice by the
 * 64-bit coordinator e2e_multi: e2e_child32 A|B TAG. Each role runs its
 * script step by step, waiting for the coordinator's named events
 * (TAG_<step>) and signalling its own; the exit code is the number of failed
 * checks (100 and up: a step timed out or the library did not load).
 *
 *   A: loads the library, USBMX_OpenSynth, resumes collection; its reader
 *      fills the shared ring; after B's load the ring must be empty; at the
 *      end it unloads the library without USBMX_CloseSynth (threads running).
 *   B: loads the library (emptying the shared rings), queues text with
 *      USBMX_WriteByte without ever opening (A's writer sends it), and takes
 *      with USBMX_ReadByte bytes that A's reader collected.
 */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "e2e_util.h"
#include "mxusbd_loader.h"

namespace {

const char *g_role = "?";
std::string g_tag;
int g_failures = 0;

#define CHECK_EQ(got, expected, what)                                                          \
    do {                                                                                       \
        long long got_ = (long long)(got), expected_ = (long long)(expected);                  \
        if (got_ != expected_) {                                                               \
            printf("child %s: FAIL %s: got %lld, expected %lld\n", g_role, what, got_,         \
                   expected_);                                                                 \
            ++g_failures;                                                                      \
        } else {                                                                               \
            printf("child %s: ok %s (%lld)\n", g_role, what, got_);                           \
        }                                                                                      \
        fflush(stdout);                                                                        \
    } while (0)

/* Every step event of a run (also held open by the coordinator). */
#define E2E_MULTI_STEPS "a_open", "a_halt", "a_halted", "a_read", "a_resumed", "a_close", \
    "b_load", "b_loaded", "b_speak", "b_queued", "b_read", "b_done", "a_failed", "b_failed"

std::string step(const char *name) { return g_tag + "_" + name; }

void signal(const char *name) { e2e::signal(step(name).c_str()); }

/* Steps wait long: the other 32-bit process may still be starting. */
bool wait(const char *name)
{
    if (e2e::wait_event(step(name).c_str(), 120000))
        return true;
    printf("child %s: gave up waiting for %s\n", g_role, name);
    fflush(stdout);
    return false;
}

int role_a(e2e::Mxusbd &lib)
{
    const int threads_before = e2e::thread_count();
    if (!lib.load(e2e::program_folder()))
        return 100;
    CHECK_EQ(lib.OpenSynth(), 1, "USBMX_OpenSynth");
    lib.ResumeIndexes(0);
    signal("a_open");

    /* The coordinator reported bytes; this process's reader took them. */
    if (!wait("a_halt"))
        return 101;
    lib.HaltIndexes(0);
    signal("a_halted");

    if (!wait("a_read"))
        return 102;
    CHECK_EQ(lib.ReadByte(), -1, "shared ring emptied by the other process's load");
    lib.ResumeIndexes(0);
    signal("a_resumed");

    if (!wait("a_close"))
        return 103;
    CHECK_EQ(e2e::thread_count() > threads_before, 1, "library threads running");
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    lib.unload(); /* no USBMX_CloseSynth: reader and writer still run */
    QueryPerformanceCounter(&t1);
    printf("child A: 32-bit FreeLibrary without USBMX_CloseSynth took %.1f ms\n",
           (double)(t1.QuadPart - t0.QuadPart) * 1000.0 / (double)f.QuadPart);
    CHECK_EQ(e2e::wait_for([&] { return e2e::thread_count() == threads_before; }, 3000) >= 0, 1,
             "library threads ended after unload");
    return g_failures;
}

int role_b(e2e::Mxusbd &lib)
{
    if (!wait("b_load"))
        return 100;
    if (!lib.load(e2e::program_folder()))
        return 101;
    CHECK_EQ(lib.CheckWdmStatus(), 1, "device open at load");
    signal("b_loaded");

    /* Queued only: this process never starts a writer thread. */
    if (!wait("b_speak"))
        return 102;
    int queued = 0;
    for (const char *p = "thirty two"; *p; ++p)
        queued += lib.WriteByte((unsigned char)*p);
    queued += lib.WriteByte(SYNTH_END_OF_TEXT);
    CHECK_EQ(queued, 11, "bytes queued");
    signal("b_queued");

    /* Bytes that only the other process's reader can have collected. */
    if (!wait("b_read"))
        return 103;
    std::vector<int> got;
    const DWORD start = GetTickCount();
    bool seen_31 = false, seen_32 = false;
    while (GetTickCount() - start < 15000 && !seen_32) {
        int b = lib.ReadByte();
        if (b >= 0) {
            got.push_back(b);
            seen_31 = seen_31 || b == 0x31;
            seen_32 = seen_32 || (seen_31 && b == 0x32);
        } else {
            Sleep(5);
        }
    }
    printf("child B: read");
    for (int b : got)
        printf(" %02x", b);
    printf("\n");
    CHECK_EQ(seen_31 && seen_32, 1, "0x31 then 0x32 taken from the shared ring");
    signal("b_done");
    lib.unload();
    return g_failures;
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc != 3 || (strcmp(argv[1], "A") && strcmp(argv[1], "B"))) {
        fprintf(stderr, "usage: e2e_child32 A|B TAG\n");
        return 2;
    }
    g_role = argv[1];
    g_tag = argv[2];
    e2e::hold_events(g_tag, {E2E_MULTI_STEPS});
    e2e::Mxusbd lib;
    printf("child %s: started\n", g_role);
    int rc = g_role[0] == 'A' ? role_a(lib) : role_b(lib);
    if (rc >= 100)
        signal(g_role[0] == 'A' ? "a_failed" : "b_failed");
    printf("child %s: exit %d\n", g_role, rc);
    return rc;
}
