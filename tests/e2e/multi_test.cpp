/*
 * multi_test.cpp - two 32-bit processes with mxusbd.dll (one IndexRing and one
 * WriteQueue for all processes) beside this 64-bit one with mxusbd64.dll. One
 * source, two programs: the coordinator "e2e_multi X86_BIN" (exit 77 when the
 * i686 tree lacks them) and "e2e_child32 a|b TAG", which runs the steps a_...
 * or b_... each when TAG_<step> is signalled, then signals TAG_<step>_done.
 */
#include <gtest/gtest.h>

#include <algorithm>

#include "e2e_util.h"

namespace {

const int ROUNDS = 6; /* texts per writer and phase */
const std::string LOWER = "abcdefghijklmnopqrstuvwxyz", UPPER = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
static const unsigned char DIGITS[] = "0123456789\x0b"; /* read-only memory */

/* The 32-bit children: A runs the a_ steps, B the b_ steps. */

int g_failures = 0, g_threads_before = 0;
e2e::Mxusbd g_lib;

void check(long long got, long long expected, const char *what)
{
    printf("child: %s %s: got %lld, expected %lld\n", got == expected ? "ok" : "FAIL", what, got, expected);
    g_failures += got != expected;
}

/* ROUNDS texts of the alphabet, each closed by 0x0B, through USBMX_WriteByte. */
void write_texts(const std::string &alphabet)
{
    std::string all;
    for (int i = 0; i < ROUNDS; ++i)
        all += alphabet + '\x0b';
    check(g_lib.write(all), (long long)all.size(), "bytes queued");
}

const struct {
    const char *name;
    void (*run)();
} STEPS[] = {
    {"a_open", [] {
         g_threads_before = e2e::thread_count();
         check(g_lib.load() && g_lib.OpenSynth() == 1, 1, "load and USBMX_OpenSynth");
         g_lib.ResumeIndexes(0);
     }},
    {"a_collect", [] { check(g_lib.read_within(10000), 0x21, "first reported byte"); }},
    {"b_load", [] { check(g_lib.load() && g_lib.CheckWdmStatus() == 1, 1, "load, device open"); }},
    {"a_emptied", [] { check(g_lib.ReadByte(), -1, "ring emptied by the other process's load"); }},
    {"b_read", [] { /* collected by A's reader only */
         int first = g_lib.read_within(10000), second = g_lib.read_within(2000);
         check(first << 8 | second, 0x3132, "bytes from the shared ring");
     }},
    {"a_write1", [] { write_texts(LOWER); }},
    {"b_write1", [] { write_texts(UPPER); }}, /* queued; A's writer sends them */
    {"b_open", [] { check(g_lib.OpenSynth(), 1, "USBMX_OpenSynth"); }},
    {"a_write2", [] { write_texts(LOWER); }},
    {"b_write2", [] { write_texts(UPPER); }}, /* two writers drain the one queue */
    {"a_unload", [] { /* no USBMX_CloseSynth */
         check(e2e::thread_count() > g_threads_before, 1, "reader and writer running");
         g_lib.unload();
         check(e2e::wait_for([] { return e2e::thread_count() == g_threads_before; }, 3000) >= 0, 1,
               "threads ended by the unload");
     }},
    {"b_close", [] { g_lib.CloseSynth(); }}, /* exiting with a writer running could drop its byte */
};

int run_child(char role, const std::string &tag)
{
    for (const auto &step : STEPS) {
        if (step.name[0] != role)
            continue;
        if (WaitForSingleObject(e2e::event(tag, step.name), 60000) != WAIT_OBJECT_0) {
            printf("child: no signal for %s\n", step.name);
            return 100;
        }
        step.run();
        SetEvent(e2e::event(tag, std::string(step.name) + "_done"));
    }
    return g_failures;
}

std::string g_x86_bin; /* the coordinator's: ends in a slash */

class Multi : public ::testing::Test {
protected:
    std::string tag = "run" + std::to_string(GetCurrentProcessId());
    PROCESS_INFORMATION child[2] = {}; /* a, b */
    e2e::Mxusbd lib64;

    void TearDown() override
    {
        finish('a', 0);
        finish('b', 0);
    }
    bool start(char role)
    {
        std::string line = "\"" + g_x86_bin + "e2e_child32.exe\" " + role + " " + tag;
        STARTUPINFOA si = {};
        si.cb = sizeof(si);
        return CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                              &child[role - 'a']) != FALSE;
    }
    /* The child's exit code (failed checks); -1, and killed, when it does not end in time. */
    long finish(char role, DWORD timeout_ms = 30000)
    {
        PROCESS_INFORMATION &pi = child[role - 'a'];
        DWORD code = (DWORD)-1;
        if (!pi.hProcess)
            return -1;
        if (WaitForSingleObject(pi.hProcess, timeout_ms) == WAIT_OBJECT_0)
            GetExitCodeProcess(pi.hProcess, &code);
        TerminateProcess(pi.hProcess, code);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        pi = {};
        return (long)code;
    }

    /* Runs the steps one after the other; false when a child ends or hangs. */
    bool steps(std::initializer_list<const char *> names)
    {
        for (const char *name : names) {
            SetEvent(e2e::event(tag, name));
            HANDLE both[2] = {e2e::event(tag, std::string(name) + "_done"),
                              child[name[0] - 'a'].hProcess};
            if (WaitForMultipleObjects(2, both, FALSE, 60000) != WAIT_OBJECT_0) {
                printf("e2e_multi: step %s never done\n", name);
                return false;
            }
        }
        return true;
    }

    /* Both children write their texts through the one WriteQueue while this
     * process speaks; every byte must reach the device exactly once. */
    void write_phase(const char *step_a, const char *step_b)
    {
        ASSERT_TRUE(e2e::control(MXSIM_IOCTL_CLEAR));
        SetEvent(e2e::event(tag, step_a)); /* both at once */
        SetEvent(e2e::event(tag, step_b));
        for (int i = 0; i < ROUNDS; ++i)
            EXPECT_EQ(lib64.WriteString(DIGITS, (int)sizeof(DIGITS) - 1), 1);
        ASSERT_TRUE(steps({step_a, step_b}));
        std::string expected, spoken;
        for (int i = 0; i < ROUNDS; ++i)
            expected += LOWER + UPPER + std::string((const char *)DIGITS, 10);
        e2e::wait_for([&] { /* two writers may send a byte after the last 0x0B: close it */
            lib64.WriteString(DIGITS + 10, 1);
            spoken = e2e::transcript();
            spoken.erase(std::remove(spoken.begin(), spoken.end(), '\n'), spoken.end());
            return spoken.size() >= expected.size();
        }, 15000, 20);
        std::sort(spoken.begin(), spoken.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(spoken, expected) << "bytes lost or sent twice";
    }
};

TEST_F(Multi, TwoThirtyTwoBitProcessesShareRingsAndQueueBesideASixtyFourBitOne)
{
    ASSERT_TRUE(e2e::control(MXSIM_IOCTL_RESET)) << "driver host not up";
    /* Opened with collection halted until it writes: its reader takes
     * nothing that is meant for the children. */
    ASSERT_TRUE(lib64.load());
    ASSERT_EQ(lib64.OpenSynth(), 1);
    for (const auto &step : STEPS) /* kept open: a child may end right after its signal */
        e2e::event(tag, std::string(step.name) + "_done");
    ASSERT_TRUE(start('a') && start('b')) << "start " << g_x86_bin << "e2e_child32.exe";

    /* A's reader fills the shared ring; B's load empties it for A. */
    ASSERT_TRUE(steps({"a_open"}));
    ASSERT_TRUE(e2e::control(MXSIM_IOCTL_REPORT, "\x21\x22\x23", 3));
    ASSERT_TRUE(steps({"a_collect", "b_load", "a_emptied"}));
    EXPECT_EQ(e2e::state().open_handles, 3u) << "A, B and this process";
    ASSERT_TRUE(e2e::control(MXSIM_IOCTL_REPORT, "\x31\x32", 2));
    ASSERT_TRUE(steps({"b_read"}));

    write_phase("a_write1", "b_write1"); /* one writer thread: A's */
    ASSERT_TRUE(steps({"b_open"}));
    write_phase("a_write2", "b_write2"); /* A's and B's writer threads */

    ASSERT_TRUE(steps({"a_unload", "b_close"}));
    EXPECT_EQ(finish('a'), 0) << "child A's failed checks (see its output)";
    EXPECT_EQ(finish('b'), 0) << "child B's failed checks (see its output)";
    lib64.unload(); /* closes the device, as USBMX_CloseSynth would */
    EXPECT_EQ(e2e::state().open_handles, 0u) << "a process left the device open";
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc == 3 && (!strcmp(argv[1], "a") || !strcmp(argv[1], "b")))
        return run_child(argv[1][0], argv[2]);
    ::testing::InitGoogleTest(&argc, argv);
    const char *bin = argc > 1 ? argv[1] : ".";
    g_x86_bin = std::string(bin[0] == '/' ? "Z:" : "") + bin + "/";
    if (GetFileAttributesA((g_x86_bin + "e2e_child32.exe").c_str()) == INVALID_FILE_ATTRIBUTES ||
        GetFileAttributesA((g_x86_bin + "mxusbd.dll").c_str()) == INVALID_FILE_ATTRIBUTES) {
        printf("e2e_multi: skipped: no e2e_child32.exe or mxusbd.dll in %s\n", bin);
        return 77;
    }
    return RUN_ALL_TESTS();
}
