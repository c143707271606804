/*
 * multi_test.cpp - processes sharing one device through the driver host: two
 * 32-bit processes with mxusbd.dll (whose IndexRing and WriteQueue are one
 * copy for every process) and this 64-bit process with mxusbd64.dll beside
 * them. The same source builds both programs:
 *   e2e_multi X86_BIN            64-bit coordinator (GoogleTest); X86_BIN is
 *                                the i686 tree's bin folder; exit 77 (skipped)
 *                                when e2e_child32.exe or mxusbd.dll is missing
 *   e2e_child32 A|B TAG          a 32-bit child: runs its role's steps, each
 *                                when the coordinator signals TAG_<step>, and
 *                                signals TAG_<step>_done; exit code = failed
 *                                checks (100 and up: a step never came)
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <thread>

#include "e2e_util.h"

namespace {

const int ROUNDS = 12; /* texts per writer and phase */

/* ROUNDS texts of `alphabet` each, closed by 0x0B. */
std::string burst(const std::string &alphabet)
{
    std::string all;
    for (int i = 0; i < ROUNDS; ++i)
        all += alphabet + '\x0b';
    return all;
}
const std::string LOWER = "abcdefghijklmnopqrstuvwxyz", UPPER = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
static const unsigned char DIGITS[] = "0123456789\x0b"; /* read-only memory */

/* --- the 32-bit children --- */

int g_failures = 0;
e2e::Mxusbd g_lib;

void check(long long got, long long expected, const char *what)
{
    printf("child: %s %s: got %lld, expected %lld\n", got == expected ? "ok" : "FAIL", what, got,
           expected);
    g_failures += got != expected;
}

void child_write(const std::string &alphabet)
{
    const std::string all = burst(alphabet);
    check(g_lib.write(all), (long long)all.size(), "bytes queued");
}

struct Step {
    const char *name;
    void (*run)();
};
int g_threads_before;
const Step ROLE_A[] = {
    {"a_open", [] {
         g_threads_before = e2e::thread_count();
         check(g_lib.load() && g_lib.OpenSynth() == 1, 1, "load and USBMX_OpenSynth");
         g_lib.ResumeIndexes(0);
     }},
    {"a_collect", [] { check(g_lib.read_within(10000), 0x21, "first reported byte"); }},
    {"a_emptied", [] { check(g_lib.ReadByte(), -1, "ring emptied by the other process's load"); }},
    {"a_write1", [] { child_write(LOWER); }},
    {"a_write2", [] { child_write(LOWER); }},
    {"a_unload", [] {
         check(e2e::thread_count() > g_threads_before, 1, "reader and writer running");
         printf("child: unload took %.1f ms\n", e2e::timed_ms([] { g_lib.unload(); }));
         check(e2e::wait_for([] { return e2e::thread_count() == g_threads_before; }, 3000) >= 0, 1,
               "threads ended by the unload");
     }},
};
const Step ROLE_B[] = {
    {"b_load", [] {
         check(g_lib.load(), 1, "load");
         check(g_lib.CheckWdmStatus(), 1, "device open at load");
     }},
    {"b_read", [] { /* collected only by A's reader */
         int first = g_lib.read_within(10000), second = g_lib.read_within(2000);
         check(first << 8 | second, 0x3132, "bytes from the shared ring");
     }},
    {"b_write1", [] { child_write(UPPER); }}, /* queued; A's writer sends them */
    {"b_open", [] { check(g_lib.OpenSynth(), 1, "USBMX_OpenSynth"); }},
    {"b_write2", [] { child_write(UPPER); }}, /* two writers drain the one queue */
};

template <size_t N> int run_child(const Step (&steps)[N], const std::string &tag)
{
    for (size_t i = 0; i < N; ++i) {
        if (WaitForSingleObject(e2e::event(tag, steps[i].name), 60000) != WAIT_OBJECT_0) {
            printf("child: no signal for %s\n", steps[i].name);
            return 100 + (int)i;
        }
        steps[i].run();
        SetEvent(e2e::event(tag, std::string(steps[i].name) + "_done"));
    }
    return g_failures;
}

/* --- the 64-bit coordinator --- */

std::string g_x86_bin;

struct Child {
    PROCESS_INFORMATION pi = {};
    bool start(const char *role, const std::string &tag)
    {
        std::string line = "\"" + g_x86_bin + "e2e_child32.exe\" " + role + " " + tag;
        STARTUPINFOA si = {};
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        return CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                              &pi) != FALSE;
    }
    /* The exit code; -1 (and the process killed) when it does not end in time. */
    long finish(DWORD timeout_ms)
    {
        DWORD code = (DWORD)-1;
        if (!pi.hProcess)
            return -1;
        if (WaitForSingleObject(pi.hProcess, timeout_ms) == WAIT_OBJECT_0)
            GetExitCodeProcess(pi.hProcess, &code);
        else
            TerminateProcess(pi.hProcess, code);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        pi = {};
        return (long)code;
    }
    ~Child() { finish(1000); }
};

class Multi : public ::testing::Test {
protected:
    std::string tag = "run" + std::to_string(GetCurrentProcessId());
    Child a, b;
    e2e::Mxusbd lib64;

    /* Runs the steps one after the other (a_... in A, b_... in B): signals
     * each and waits until it is done; false when a child ends or hangs. */
    bool steps(std::initializer_list<const char *> names)
    {
        for (const char *name : names) {
            SetEvent(e2e::event(tag, name));
            HANDLE both[2] = {e2e::event(tag, std::string(name) + "_done"),
                              (name[0] == 'a' ? a : b).pi.hProcess};
            const DWORD r = WaitForMultipleObjects(2, both, FALSE, 60000);
            if (r != WAIT_OBJECT_0) {
                printf("e2e_multi: %s %s\n", name, r == WAIT_OBJECT_0 + 1 ? "child ended" : "timed out");
                return false;
            }
        }
        return true;
    }

    /* Both children write their bursts through the one WriteQueue while this
     * process speaks; every byte must reach the device exactly once. */
    void write_phase(const char *step_a, const char *step_b)
    {
        ASSERT_TRUE(e2e::control(MXSIM_IOCTL_CLEAR));
        SetEvent(e2e::event(tag, step_a)); /* both at once */
        SetEvent(e2e::event(tag, step_b));
        for (int i = 0; i < ROUNDS; ++i)
            EXPECT_EQ(lib64.WriteString(DIGITS, (int)sizeof(DIGITS) - 1), 1);
        ASSERT_TRUE(steps({step_a, step_b}));
        std::map<char, int> expected, got;
        for (char c : LOWER + UPPER + std::string((const char *)DIGITS, 10))
            expected[c] = ROUNDS;
        const size_t total = ROUNDS * (26 + 26 + 10);
        std::string spoken;
        e2e::wait_for([&] {
            spoken = e2e::transcript();
            return spoken.size() - (size_t)std::count(spoken.begin(), spoken.end(), '\n') >= total;
        }, 15000, 20);
        for (char c : spoken)
            if (c != '\n')
                ++got[c];
        EXPECT_EQ(got, expected) << "bytes lost or sent twice; transcript:\n" << spoken;
    }
};

TEST_F(Multi, TwoThirtyTwoBitProcessesShareRingsAndQueueBesideASixtyFourBitOne)
{
    ASSERT_TRUE(e2e::control(MXSIM_IOCTL_RESET)) << "driver host not up";
    /* Open, with collection halted until it writes: its reader takes nothing
     * that is meant for the children. */
    ASSERT_TRUE(lib64.load());
    ASSERT_EQ(lib64.OpenSynth(), 1);

    /* Both start at once (CreateProcess waits for each to start). */
    bool b_started = false;
    std::thread starter([&] { b_started = b.start("B", tag); });
    const bool a_started = a.start("A", tag);
    starter.join();
    ASSERT_TRUE(a_started && b_started) << "start " << g_x86_bin << "e2e_child32.exe";

    /* A's reader fills the shared ring; B's load empties it for A. */
    ASSERT_TRUE(steps({"a_open"}));
    ASSERT_TRUE(e2e::report("\x21\x22\x23"));
    ASSERT_TRUE(steps({"a_collect", "b_load", "a_emptied"}));
    EXPECT_EQ(e2e::state().open_handles, 3u) << "A, B and this process";

    /* Bytes only A's reader collects reach B's USBMX_ReadByte. */
    ASSERT_TRUE(e2e::report("\x31\x32"));
    ASSERT_TRUE(steps({"b_read"}));

    write_phase("a_write1", "b_write1"); /* one writer thread: A's */
    ASSERT_TRUE(steps({"b_open"}));
    write_phase("a_write2", "b_write2"); /* A's and B's writer threads */

    ASSERT_TRUE(steps({"a_unload"})); /* 32-bit unload with both threads running */
    EXPECT_EQ(a.finish(30000), 0) << "child A's failed checks (see its output)";
    EXPECT_EQ(b.finish(30000), 0) << "child B's failed checks (see its output)";
    lib64.CloseSynth();
    lib64.unload();
    EXPECT_EQ(e2e::state().open_handles, 0u) << "a process left the device open";
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc == 3 && (!strcmp(argv[1], "A") || !strcmp(argv[1], "B")))
        return argv[1][0] == 'A' ? run_child(ROLE_A, argv[2]) : run_child(ROLE_B, argv[2]);
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        fprintf(stderr, "usage: e2e_multi X86_BIN | e2e_child32 A|B TAG\n");
        return 2;
    }
    for (const char *p = argv[1]; *p; ++p) /* a Unix path as Wine sees it */
        g_x86_bin += *p == '/' ? '\\' : *p;
    if (argv[1][0] == '/')
        g_x86_bin = "Z:" + g_x86_bin;
    g_x86_bin += '\\';
    if (GetFileAttributesA((g_x86_bin + "e2e_child32.exe").c_str()) == INVALID_FILE_ATTRIBUTES ||
        GetFileAttributesA((g_x86_bin + "mxusbd.dll").c_str()) == INVALID_FILE_ATTRIBUTES) {
        printf("e2e_multi: skipped: no e2e_child32.exe or mxusbd.dll in %s\n", g_x86_bin.c_str());
        return 77;
    }
    return RUN_ALL_TESTS();
}
