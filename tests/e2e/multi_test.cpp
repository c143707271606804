/*
 * multi_test.cpp - several processes on one device through the driver host:
 * two 32-bit processes with mxusbd.dll (its rings and write queue are shared
 * between processes) and this 64-bit process with mxusbd64.dll at the same
 * time. The 32-bit children (e2e_child.cpp) start in parallel (a 32-bit
 * process may start slowly where its code runs under an emulator) and follow
 * this program's named events.
 *
 *   e2e_multi X86_BIN    X86_BIN: the i686 tree's bin folder (e2e_child32.exe
 *                        and mxusbd.dll); exit 77 (skipped) when it is missing
 */
#include <gtest/gtest.h>

#include "e2e_util.h"
#include "mxusbd_loader.h"

#include <thread>

namespace {

std::string g_x86_bin;

std::string windows_path(std::string path)
{
    if (!path.empty() && path[0] == '/')
        path = "Z:" + path;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    if (!path.empty() && path.back() != '\\')
        path += '\\';
    return path;
}

struct Child {
    PROCESS_INFORMATION pi = {};
    bool start(const std::string &exe, const char *role, const std::string &tag)
    {
        std::string cmd = "\"" + exe + "\" " + role + " " + tag;
        STARTUPINFOA si = {};
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        std::vector<char> line(cmd.begin(), cmd.end());
        line.push_back(0);
        return CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                              &si, &pi) != FALSE;
    }
    /* The exit code, or -1 when it did not end in time. */
    long finish(DWORD timeout_ms)
    {
        if (!pi.hProcess)
            return -1;
        DWORD code = 0;
        if (WaitForSingleObject(pi.hProcess, timeout_ms) != WAIT_OBJECT_0) {
            TerminateProcess(pi.hProcess, 99);
            WaitForSingleObject(pi.hProcess, 5000);
            code = (DWORD)-1;
        } else {
            GetExitCodeProcess(pi.hProcess, &code);
        }
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        pi = {};
        return (long)code;
    }
    ~Child() { finish(1000); }
};

class Multi : public ::testing::Test {
protected:
    std::string tag;
    Child a, b;

    std::string step(const char *name) { return tag + "_" + name; }
    void signal(const char *name) { e2e::signal(step(name).c_str()); }

    /* Waits for a child's event; false when it fails or the child ends. */
    bool wait(const char *name, Child &child, DWORD timeout_ms = 120000)
    {
        HANDLE ev = e2e::event(step(name).c_str());
        HANDLE both[2] = {ev, child.pi.hProcess};
        DWORD r = WaitForMultipleObjects(2, both, FALSE, timeout_ms);
        CloseHandle(ev);
        if (r != WAIT_OBJECT_0)
            printf("e2e_multi: no %s (%s)\n", name, r == WAIT_OBJECT_0 + 1 ? "child ended" : "timed out");
        return r == WAIT_OBJECT_0;
    }
};

TEST_F(Multi, TwoThirtyTwoBitProcessesShareRingsAndQueueBesideASixtyFourBitOne)
{
    const std::string child = g_x86_bin + "e2e_child32.exe";
    ASSERT_TRUE(e2e::reset()) << "driver host not up";
    tag = "run" + std::to_string(GetCurrentProcessId());

    /* This process: the 64-bit library on the same device, collection halted
     * so that its reader never takes the bytes meant for the children. */
    e2e::Mxusbd lib64;
    ASSERT_TRUE(lib64.load(e2e::program_folder()));
    ASSERT_EQ(lib64.OpenSynth(), 1);

    /* Held open for the whole run: Wine's CreateProcess returns only once
     * the child has started, and a child may signal before it returns. */
    e2e::hold_events(tag, {"a_open", "a_halt", "a_halted", "a_read", "a_resumed", "a_close",
                           "b_load", "b_loaded", "b_speak", "b_queued", "b_read", "b_done",
                           "a_failed", "b_failed"});
    const DWORD t0 = GetTickCount();
    /* Both children start at once (CreateProcess waits for each). */
    bool b_started = false;
    std::thread starter([&] { b_started = b.start(child, "B", tag); });
    const bool a_started = a.start(child, "A", tag);
    starter.join();
    ASSERT_TRUE(a_started) << "start " << child << ", error " << GetLastError();
    ASSERT_TRUE(b_started) << "start B";
    printf("e2e_multi: children started after %lu ms\n", GetTickCount() - t0);

    /* A: open, collect three bytes into the shared ring, halt. */
    ASSERT_TRUE(wait("a_open", a));
    printf("e2e_multi: child A running after %lu ms\n", GetTickCount() - t0);
    ASSERT_TRUE(e2e::report({0x21, 0x22, 0x23}));
    EXPECT_GE(e2e::wait_for([] { return e2e::state().pending == 0; }, 10000), 0)
        << "A's reader did not collect the reported bytes";
    Sleep(200);
    signal("a_halt");
    ASSERT_TRUE(wait("a_halted", a, 30000));

    /* B loads the library: the shared rings are emptied for A as well. */
    signal("b_load");
    ASSERT_TRUE(wait("b_loaded", b));
    printf("e2e_multi: child B loaded after %lu ms\n", GetTickCount() - t0);
    signal("a_read");
    ASSERT_TRUE(wait("a_resumed", a, 30000));

    /* 64-bit and 32-bit programs at once: three handles on one device. */
    EXPECT_EQ(e2e::state().open_handles, 3u) << "A, B and this process";
    EXPECT_EQ(lib64.speak("sixty four"), 11);
    lib64.HaltIndexes(0);
    EXPECT_EQ(lib64.GetFirmwareVersion(), 0x0104);
    EXPECT_GE(e2e::wait_for([] { return e2e::transcript().find("sixty four\n") != std::string::npos; },
                            5000), 0);

    /* B queues text without a writer of its own: A's writer sends it. */
    signal("b_speak");
    ASSERT_TRUE(wait("b_queued", b, 60000));
    const long sent_ms = e2e::wait_for(
        [] { return e2e::transcript().find("thirty two\n") != std::string::npos; }, 15000, 20);
    EXPECT_GE(sent_ms, 0) << "bytes B queued were not sent by A's writer thread; transcript: "
                          << e2e::transcript();

    /* Bytes only A's reader collects reach B's USBMX_ReadByte. */
    ASSERT_TRUE(e2e::report({0x31, 0x32}));
    signal("b_read");
    EXPECT_TRUE(wait("b_done", b, 60000));

    signal("a_close");
    const long a_code = a.finish(60000), b_code = b.finish(30000);
    EXPECT_EQ(a_code, 0) << "child A's failed checks (see its output)";
    EXPECT_EQ(b_code, 0) << "child B's failed checks (see its output)";
    printf("e2e_multi: done after %lu ms\n", GetTickCount() - t0);

    const std::string transcript = e2e::transcript();
    EXPECT_NE(transcript.find("sixty four\n"), std::string::npos) << transcript;
    EXPECT_NE(transcript.find("thirty two\n"), std::string::npos) << transcript;
    lib64.CloseSynth();
    lib64.unload();
    EXPECT_EQ(e2e::state().open_handles, 0u) << "a process left the device open";
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        fprintf(stderr, "usage: e2e_multi X86_BIN\n");
        return 2;
    }
    g_x86_bin = windows_path(argv[1]);
    if (GetFileAttributesA((g_x86_bin + "e2e_child32.exe").c_str()) == INVALID_FILE_ATTRIBUTES ||
        GetFileAttributesA((g_x86_bin + "mxusbd.dll").c_str()) == INVALID_FILE_ATTRIBUTES) {
        printf("e2e_multi: skipped: no e2e_child32.exe or mxusbd.dll in %s (build the i686 tree)\n",
               g_x86_bin.c_str());
        return 77;
    }
    return RUN_ALL_TESTS();
}
