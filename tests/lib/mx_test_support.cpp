#include "mx_test_support.h"

#include <tlhelp32.h>
#include <stdio.h>
#include <string.h>

/* Unbuffered output, so that a crash under Wine still shows the test it hit. */
static const int g_unbuffered = setvbuf(stdout, NULL, _IONBF, 0);

std::wstring MxLibraryPath(void)
{
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
    std::wstring dir(path, n);
    dir.resize(dir.find_last_of(L"\\/") + 1);
    return dir + (MX_IS_32BIT ? L"mxusbd.dll" : L"mxusbd64.dll");
}

bool MxResolve(HMODULE module, MxApi *api)
{
    bool ok = true;
#define MX_API_ENTRY(name)                                                                  \
    api->name = (decltype(api->name))(void *)GetProcAddress(module, "USBMX_" #name);         \
    if (!api->name) {                                                                        \
        ADD_FAILURE() << "export USBMX_" #name " not found";                                 \
        ok = false;                                                                          \
    }
#include "mx_api_entries.h"
#undef MX_API_ENTRY
    return ok;
}

const SimLogEntry *MxLog(uint32_t *n)
{
    static SimLogEntry entries[SIM_LOG_CAPACITY];
    *n = inproc_log_copy(entries, SIM_LOG_CAPACITY);
    return entries;
}

static std::string SentBytes(uint32_t mode)
{
    uint32_t n;
    const SimLogEntry *log = MxLog(&n);
    std::string out;
    for (uint32_t i = 0; i < n; ++i) {
        const SimLogEntry &e = log[i];
        if (e.code == IOCTL_SYNTH_TRANSFER && e.mode == mode && e.ok && !e.busy)
            out.append((const char *)e.data, e.length < SIM_LOG_DATA ? e.length : SIM_LOG_DATA);
    }
    return out;
}

std::string MxSentData(void) { return SentBytes(TRANSFER_DATA); }
std::string MxSentImmediate(void) { return SentBytes(TRANSFER_IMMEDIATE); }

int MxCountRequests(uint32_t code, int mode)
{
    uint32_t n;
    const SimLogEntry *log = MxLog(&n);
    int count = 0;
    for (uint32_t i = 0; i < n; ++i)
        if (log[i].code == code && (mode < 0 || log[i].mode == (uint32_t)mode))
            ++count;
    return count;
}

bool MxWaitUntil(const std::function<bool()> &cond, DWORD timeout_ms)
{
    DWORD start = GetTickCount();
    while (!cond()) {
        if (GetTickCount() - start > timeout_ms)
            return cond();
        Sleep(2);
    }
    return true;
}

int MxThreadCount(void)
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 te;
    te.dwSize = sizeof te;
    int count = 0;
    for (BOOL more = Thread32First(snap, &te); more; more = Thread32Next(snap, &te))
        if (te.th32OwnerProcessID == GetCurrentProcessId())
            ++count;
    CloseHandle(snap);
    return count;
}

static std::function<void(DWORD, uint32_t)> g_on_request;

static void OnRequestHook(DWORD code, uint32_t mode, void *)
{
    g_on_request(code, mode);
}

void MxOnRequest(std::function<void(DWORD code, uint32_t mode)> action)
{
    inproc_set_request_hook(NULL, NULL);
    g_on_request = action;
    if (action)
        inproc_set_request_hook(OnRequestHook, NULL);
}

static DWORD WINAPI RunAndDelete(LPVOID p)
{
    auto *body = (std::function<void()> *)p;
    (*body)();
    delete body;
    return 0;
}

bool MxReturnsWithin(DWORD timeout_ms, std::function<void()> body)
{
    HANDLE thread = CreateThread(NULL, 0, RunAndDelete, new std::function<void()>(body), 0, NULL);
    bool done = WaitForSingleObject(thread, timeout_ms) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return done;
}

int MxRingChild(const char *ready_event)
{
    inproc_reset();
    HMODULE module = inproc_load_library(MxLibraryPath().c_str());
    MxApi mx = {};
    if (!module || !MxResolve(module, &mx))
        return 2;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, ready_event);
    SetEvent(ready);
    for (unsigned i = 0;; ++i) {
        mx.WriteByte('c');
        mx.ReadByte();
        if (i % 512 == 0)
            mx.HaltIndexes(1);
        if (i % 4096 == 0)
            mx.ShutUp();
    }
}

int main(int argc, char **argv)
{
    if (argc == 3 && strcmp(argv[1], "--ring-child") == 0)
        return MxRingChild(argv[2]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

void LibTest::SetUp()
{
    inproc_reset();
    module = inproc_load_library(MxLibraryPath().c_str());
    ASSERT_TRUE(module != NULL) << "cannot load the library, error " << GetLastError();
    ASSERT_TRUE(MxResolve(module, &mx));
    shared = MxFindShared(module);
    ASSERT_TRUE(shared != NULL) << "no .shared section with the ring layout";
}

void LibTest::TearDown()
{
    if (module) {
        mx.CloseSynth();
        FreeLibrary(module);
    }
}

void LibTest::WriteAndWait(const std::string &bytes, size_t expect_sent)
{
    for (unsigned char c : bytes)
        mx.WriteByte(c);
    EXPECT_TRUE(MxWaitUntil([&] { return MxSentData().size() >= expect_sent; }, 5000))
        << "got " << MxSentData().size() << " data bytes, expected " << expect_sent;
}
