#include "mx_test_support.h"

#include <tlhelp32.h>
#include <stdio.h>
#include <string.h>

static const int g_unbuffered = setvbuf(stdout, NULL, _IONBF, 0); /* a crash still shows its test */

HMODULE MxLoad(MxApi *api)
{
    wchar_t path[MAX_PATH];
    std::wstring dll(path, GetModuleFileNameW(NULL, path, MAX_PATH));
    dll.resize(dll.find_last_of(L"\\/") + 1);
    HMODULE module = inproc_load_library((dll + (MX_IS_32BIT ? L"mxusbd.dll" : L"mxusbd64.dll")).c_str());
    EXPECT_TRUE(module != NULL) << "cannot load the library, error " << GetLastError();
#define MX_RESOLVE(name) \
    if (module && !(api->name = (decltype(api->name))(void *)GetProcAddress(module, "USBMX_" #name))) \
        return ADD_FAILURE() << "export USBMX_" #name " not found", (HMODULE)NULL;
    MX_EXPORTS(MX_RESOLVE)
    return module;
}

std::vector<SimLogEntry> MxLog(void)
{
    static SimLogEntry entries[SIM_LOG_CAPACITY];
    return std::vector<SimLogEntry>(entries, entries + inproc_log_copy(entries, SIM_LOG_CAPACITY));
}

std::string MxSent(uint32_t mode)
{
    std::string out;
    for (const SimLogEntry &e : MxLog())
        if (e.code == IOCTL_SYNTH_TRANSFER && e.mode == mode && e.ok && !e.busy)
            out.append((const char *)e.data, e.length < SIM_LOG_DATA ? e.length : SIM_LOG_DATA);
    return out;
}

int MxCountRequests(uint32_t code, int mode)
{
    int count = 0;
    for (const SimLogEntry &e : MxLog())
        count += e.code == code && (mode < 0 || e.mode == (uint32_t)mode);
    return count;
}

bool MxWaitUntil(const std::function<bool()> &cond, DWORD timeout_ms)
{
    for (DWORD start = GetTickCount(); !cond(); Sleep(2))
        if (GetTickCount() - start > timeout_ms)
            return cond();
    return true;
}

int MxThreadCount(void)
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 te = {sizeof te, 0, 0, 0, 0, 0, 0};
    int count = 0;
    for (BOOL more = Thread32First(snap, &te); more; more = Thread32Next(snap, &te))
        count += te.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snap);
    return count;
}

static std::function<void(DWORD, uint32_t)> g_on_request;

void MxOnRequest(std::function<void(DWORD code, uint32_t mode)> action)
{
    inproc_set_request_hook(NULL, NULL);
    g_on_request = action;
    if (action)
        inproc_set_request_hook([](DWORD code, uint32_t mode, void *) { g_on_request(code, mode); }, NULL);
}

bool MxReturnsWithin(DWORD timeout_ms, std::function<void()> body)
{
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread([=] { body(), *done = true; }).detach();
    return MxWaitUntil([&] { return done->load(); }, timeout_ms);
}

void LibTest::SetUp()
{
    inproc_reset();
    ASSERT_TRUE((module = MxLoad(&mx)) != NULL);
    DWORD flags = 0;
    ASSERT_TRUE((shared = MxFindShared(module, &flags)) != NULL) << "no .shared section with the ring layout";
    ASSERT_EQ(MX_IS_32BIT, (flags & IMAGE_SCN_MEM_SHARED) != 0) << "the ring section is shared in the 32-bit build only";
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
    EXPECT_TRUE(MxWaitUntil([&] { return MxSent().size() >= expect_sent; }, 5000))
        << "got " << MxSent().size() << " data bytes, expected " << expect_sent;
}

std::vector<int> LibTest::ReadAll(size_t want, DWORD timeout_ms)
{
    std::vector<int> got;
    MxWaitUntil([&] {
        for (int b; (b = mx.ReadByte()) != -1;)
            got.push_back(b);
        return got.size() >= want;
    }, timeout_ms);
    return got;
}

void LibTest::FillRing(int count, int (*value)(int))
{
    while (InterlockedCompareExchange(&shared->lock, (long)GetCurrentProcessId(), 0) != 0)
        Sleep(0);
    for (int i = 0; i < count; ++i)
        shared->index_ring.slots[i] = value(i);
    shared->index_ring.read.store(0);
    shared->index_ring.write.store(count);
    InterlockedExchange(&shared->lock, 0);
}
