/*
 * inproc_host.cpp - the in-process host: one SimModel per process, reached
 * through the patched import address table of a loaded library.
 *
 * Lock: g_lock (a critical section, created once) guards g_model and
 * g_handles. Every hook that touches the simulator holds it for the whole
 * request (a test's request hook runs before that, without it); calls passed on to the real kernel32 functions do not take it.
 */
#include "inproc_host.h"

#include "mxusb_protocol.h"

namespace {

/* Fake handles: values far above the handle values Windows hands out, so
 * that they never collide with a real handle. Slots are handed out round
 * robin, so a closed handle stays invalid for as long as possible. */
const uintptr_t FAKE_HANDLE_BASE = 0x4D580000;
const unsigned FAKE_HANDLE_SLOTS = 256;

struct FakeHandle {
    bool open;
    bool before_reset;  /* opened before an inproc_reset: the model no longer counts it */
    uint32_t generation;
};

INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;
CRITICAL_SECTION g_lock;            /* guards everything below */
SimModel g_model;
FakeHandle g_handles[FAKE_HANDLE_SLOTS];
unsigned g_next_slot;
LARGE_INTEGER g_frequency;
InprocRequestHook g_hook;
void *g_hook_context;

BOOL CALLBACK init_once(PINIT_ONCE, PVOID, PVOID *)
{
    InitializeCriticalSection(&g_lock);
    QueryPerformanceFrequency(&g_frequency);
    sim_init(&g_model);
    return TRUE;
}

void ensure_init()
{
    InitOnceExecuteOnce(&g_once, init_once, nullptr, nullptr);
}

struct Guard {
    Guard() { inproc_lock(); }
    ~Guard() { inproc_unlock(); }
    Guard(const Guard &) = delete;
    Guard &operator=(const Guard &) = delete;
};

uint64_t now_us()
{
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    uint64_t f = (uint64_t)g_frequency.QuadPart, v = (uint64_t)c.QuadPart;
    return v / f * 1000000u + v % f * 1000000u / f;
}

/* The slot of a fake handle value, or -1 for any other value. */
int fake_slot(HANDLE h)
{
    uintptr_t v = (uintptr_t)h;
    if (v < FAKE_HANDLE_BASE || v >= FAKE_HANDLE_BASE + 4 * FAKE_HANDLE_SLOTS || (v & 3))
        return -1;
    return (int)((v - FAKE_HANDLE_BASE) / 4);
}

bool is_product_ioctl(DWORD code)
{
    return code == IOCTL_SYNTH_GET_INFO || code == IOCTL_SYNTH_TRANSFER ||
           code == IOCTL_SYNTH_READ || code == IOCTL_SYNTH_READY;
}

/* Case-insensitive comparison with the device path, for either character width. */
template <typename C> bool is_device_path(const C *path)
{
    if (!path)
        return false;
    const char *want = MXUSB_DEVICE_PATH_A;
    for (size_t i = 0;; i++) {
        unsigned c = (unsigned)path[i], w = (unsigned char)want[i];
        if (c >= 'A' && c <= 'Z')
            c += 'a' - 'A';
        if (c != w)
            return false;
        if (w == 0)
            return true;
    }
}

HANDLE open_fake()
{
    Guard g;
    uint32_t generation = 0;
    if (!sim_open(&g_model, now_us(), &generation)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    for (unsigned k = 0; k < FAKE_HANDLE_SLOTS; k++) {
        unsigned i = (g_next_slot + k) % FAKE_HANDLE_SLOTS;
        if (!g_handles[i].open) {
            g_handles[i].open = true;
            g_handles[i].before_reset = false;
            g_handles[i].generation = generation;
            g_next_slot = (i + 1) % FAKE_HANDLE_SLOTS;
            return (HANDLE)(FAKE_HANDLE_BASE + 4 * i);
        }
    }
    sim_close(&g_model, now_us(), generation);
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    return INVALID_HANDLE_VALUE;
}

HANDLE WINAPI hook_CreateFileW(LPCWSTR name, DWORD access, DWORD share,
                               LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                               DWORD flags, HANDLE tmpl)
{
    if (is_device_path(name))
        return open_fake();
    return CreateFileW(name, access, share, sa, disposition, flags, tmpl);
}

HANDLE WINAPI hook_CreateFileA(LPCSTR name, DWORD access, DWORD share,
                               LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                               DWORD flags, HANDLE tmpl)
{
    if (is_device_path(name))
        return open_fake();
    return CreateFileA(name, access, share, sa, disposition, flags, tmpl);
}

BOOL WINAPI hook_DeviceIoControl(HANDLE h, DWORD code, LPVOID in, DWORD in_len,
                                 LPVOID out, DWORD out_len, LPDWORD returned,
                                 LPOVERLAPPED overlapped)
{
    int slot = fake_slot(h);
    if (slot < 0 && h != nullptr && h != INVALID_HANDLE_VALUE && !is_product_ioctl(code))
        return DeviceIoControl(h, code, in, in_len, out, out_len, returned, overlapped);
    if (returned)
        *returned = 0;
    /* The product's codes never go to a real handle: in this process the
     * simulator is the device (a handle opened before the patch, say to the
     * driver host, fails so that the library reconnects to the simulator). */
    if (slot < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    InprocRequestHook hook;
    void *hook_context;
    {
        Guard g;
        hook = g_handles[slot].open ? g_hook : nullptr;
        hook_context = g_hook_context;
    }
    if (hook)
        hook(code, in && in_len >= sizeof(uint32_t) ? *(const uint32_t *)in : 0, hook_context);
    Guard g;
    if (!g_handles[slot].open) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (overlapped) { /* the device is opened for synchronous requests only */
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    SimResult r = sim_request(&g_model, now_us(), g_handles[slot].generation, code, in,
                              in_len, 1, out, out_len);
    if (!r.ok) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    if (returned)
        *returned = r.bytes_returned;
    return TRUE;
}

BOOL WINAPI hook_CloseHandle(HANDLE h)
{
    int slot = fake_slot(h);
    if (slot < 0)
        return CloseHandle(h);
    Guard g;
    if (!g_handles[slot].open) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    g_handles[slot].open = false;
    if (!g_handles[slot].before_reset)
        sim_close(&g_model, now_us(), g_handles[slot].generation);
    return TRUE;
}

/* The import slots to replace: the function's name, the hook, and the
 * addresses the slot may hold (kernel32's export may forward to kernelbase). */
struct Target {
    const char *name;
    void *hook;
    void *real[2];
};

bool names_equal(const char *a, const char *b)
{
    while (*a && *a == *b)
        a++, b++;
    return *a == *b;
}

bool write_slot(void **slot, void *value)
{
    DWORD old;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old))
        return false;
    *slot = value;
    VirtualProtect(slot, sizeof *slot, old, &old);
    return true;
}

} // namespace

bool inproc_patch_module(HMODULE module)
{
    ensure_init();
    if (!module)
        return false;
    HMODULE k32 = GetModuleHandleW(L"kernel32.dll");
    HMODULE kbase = GetModuleHandleW(L"kernelbase.dll");
    Target targets[4] = {
        {"CreateFileW", (void *)hook_CreateFileW, {}},
        {"CreateFileA", (void *)hook_CreateFileA, {}},
        {"DeviceIoControl", (void *)hook_DeviceIoControl, {}},
        {"CloseHandle", (void *)hook_CloseHandle, {}},
    };
    for (Target &t : targets) {
        t.real[0] = k32 ? (void *)GetProcAddress(k32, t.name) : nullptr;
        t.real[1] = kbase ? (void *)GetProcAddress(kbase, t.name) : nullptr;
    }

    BYTE *base = (BYTE *)module;
    IMAGE_DOS_HEADER *dos = (IMAGE_DOS_HEADER *)base;
    if (dos->e_magic != IMAGE_DOS_SIGNATURE)
        return false;
    IMAGE_NT_HEADERS *nt = (IMAGE_NT_HEADERS *)(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE)
        return false;
    IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress || !dir.Size)
        return false;

    bool found[4] = {false, false, false, false};
    bool ok = true;
    for (IMAGE_IMPORT_DESCRIPTOR *d = (IMAGE_IMPORT_DESCRIPTOR *)(base + dir.VirtualAddress);
         d->Name || d->FirstThunk; d++) {
        IMAGE_THUNK_DATA *iat = (IMAGE_THUNK_DATA *)(base + d->FirstThunk);
        IMAGE_THUNK_DATA *names =
            d->OriginalFirstThunk ? (IMAGE_THUNK_DATA *)(base + d->OriginalFirstThunk) : nullptr;
        for (size_t i = 0; iat[i].u1.Function; i++) {
            void **slot = (void **)&iat[i].u1.Function;
            const char *import_name = nullptr;
            if (names && !IMAGE_SNAP_BY_ORDINAL(names[i].u1.Ordinal))
                import_name =
                    (const char *)((IMAGE_IMPORT_BY_NAME *)(base + names[i].u1.AddressOfData))->Name;
            for (int k = 0; k < 4; k++) {
                Target &t = targets[k];
                bool match = (*slot == t.real[0] && t.real[0]) || (*slot == t.real[1] && t.real[1]) ||
                             (import_name && names_equal(import_name, t.name));
                if (!match)
                    continue;
                if (*slot != t.hook && !write_slot(slot, t.hook))
                    ok = false;
                found[k] = true;
                break;
            }
        }
    }
    /* The 64-bit library opens with CreateFileW, the 32-bit one with CreateFileA. */
    return ok && (found[0] || found[1]) && found[2] && found[3];
}

HMODULE inproc_load_library(const wchar_t *path)
{
    ensure_init();
    HMODULE module = LoadLibraryW(path);
    if (!module)
        return nullptr;
    if (!inproc_patch_module(module)) {
        FreeLibrary(module);
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return module;
}

SimModel *inproc_model(void)
{
    ensure_init();
    return &g_model;
}

void inproc_lock(void)
{
    ensure_init();
    EnterCriticalSection(&g_lock);
}

void inproc_unlock(void)
{
    LeaveCriticalSection(&g_lock);
}

void inproc_reset(void)
{
    Guard g;
    /* Keep the generation moving forward so that handles opened before the
     * reset fail like handles from before an unplug. */
    uint32_t generation = g_model.generation;
    sim_init(&g_model);
    g_model.generation = generation + 1;
    g_hook = nullptr;
    for (FakeHandle &h : g_handles)
        if (h.open)
            h.before_reset = true;
}

void inproc_set_request_hook(InprocRequestHook hook, void *context)
{
    Guard g;
    g_hook = hook;
    g_hook_context = context;
}

void inproc_unplug(void)
{
    Guard g;
    sim_unplug(&g_model);
}

void inproc_replug(void)
{
    Guard g;
    sim_replug(&g_model);
}

void inproc_report(const uint8_t *bytes, uint32_t count)
{
    Guard g;
    sim_report(&g_model, bytes, count);
}

void inproc_fail_next(uint32_t requests)
{
    Guard g;
    g_model.fail_next = requests;
}

void inproc_busy_next(uint32_t transfers)
{
    Guard g;
    g_model.busy_next = transfers;
}

uint32_t inproc_log_copy(SimLogEntry *out, uint32_t max)
{
    Guard g;
    uint32_t n = g_model.log_count < max ? g_model.log_count : max;
    for (uint32_t i = 0; i < n; i++)
        out[i] = g_model.log[i];
    return n;
}

void inproc_clear_log(void)
{
    Guard g;
    sim_clear_log(&g_model);
}

uint32_t inproc_open_handles(void)
{
    Guard g;
    uint32_t n = 0;
    for (const FakeHandle &h : g_handles)
        n += h.open ? 1 : 0;
    return n;
}
