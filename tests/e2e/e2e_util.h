/*
 * e2e_util.h - what the end-to-end programs share: scripting the driver host
 * through \\.\mxsim-control, the shipped library loaded with LoadLibrary (so
 * that a test decides when process attach runs), bounded waits, named events
 * between the test processes, and thread counting. Header-only.
 */
#ifndef E2E_UTIL_H
#define E2E_UTIL_H

#include <windows.h>
#include <tlhelp32.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "mxsim_control.h"
#include "mxusb_protocol.h"
#include "mxusbd.h"

namespace e2e {

/* One request on the control device; the success flag (error kept). */
inline bool control(uint32_t code, const void *in = nullptr, DWORD in_len = 0,
                    void *out = nullptr, DWORD out_len = 0, DWORD *returned = nullptr)
{
    HANDLE h = CreateFileA(MXSIM_CONTROL_PATH_A, GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        printf("e2e: cannot open %s (error %lu): is the driver host up?\n", MXSIM_CONTROL_PATH_A,
               GetLastError());
        return false;
    }
    DWORD got = 0;
    BOOL ok = DeviceIoControl(h, code, const_cast<void *>(in), in_len, out, out_len, &got, nullptr);
    DWORD error = GetLastError();
    CloseHandle(h);
    if (returned)
        *returned = got;
    SetLastError(error);
    return ok != FALSE;
}

inline bool report(const std::string &bytes)
{
    return control(MXSIM_IOCTL_REPORT, bytes.data(), (DWORD)bytes.size());
}

/* The model's counters; all zero when the request fails. */
inline MxsimState state()
{
    MxsimState s = {};
    DWORD got = 0;
    if (!control(MXSIM_IOCTL_GET_STATE, nullptr, 0, &s, sizeof(s), &got) || got != sizeof(s))
        s = MxsimState();
    return s;
}

/* The spoken texts, each ended by '\n' (one request: the buffer holds it all). */
inline std::string transcript()
{
    std::vector<char> buffer(MXSIM_BLOB_HEADER + SIM_TRANSCRIPT_CAPACITY);
    DWORD got = 0;
    if (!control(MXSIM_IOCTL_GET_TRANSCRIPT, "\0\0\0\0", 4, buffer.data(), (DWORD)buffer.size(),
                 &got) || got < MXSIM_BLOB_HEADER)
        return std::string();
    return std::string(buffer.data() + MXSIM_BLOB_HEADER, got - MXSIM_BLOB_HEADER);
}

/* Polls cond() every step_ms; the ms it took, or -1 after timeout_ms. */
template <typename Cond> long wait_for(Cond cond, DWORD timeout_ms, DWORD step_ms = 5)
{
    const DWORD start = GetTickCount();
    for (;;) {
        if (cond())
            return (long)(GetTickCount() - start);
        if (GetTickCount() - start > timeout_ms)
            return -1;
        Sleep(step_ms);
    }
}

/* A named manual-reset event of one run (TAG_name). Created, never closed:
 * a signal made before the other process opens the event is kept. */
inline HANDLE event(const std::string &tag, const std::string &name)
{
    return CreateEventA(nullptr, TRUE, FALSE, ("mx_e2e_" + tag + "_" + name).c_str());
}

inline std::string program_folder()
{
    char path[MAX_PATH];
    std::string s(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
    return s.substr(0, s.find_last_of("\\/") + 1);
}

/* Threads of this process now (Toolhelp). */
inline int thread_count()
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 t;
    t.dwSize = sizeof(t);
    int n = 0;
    for (BOOL ok = Thread32First(snap, &t); ok; ok = Thread32Next(snap, &t))
        n += t.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snap);
    return n;
}

/* Milliseconds that fn() took. */
template <typename Fn> double timed_ms(Fn fn)
{
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    fn();
    QueryPerformanceCounter(&b);
    return (double)(b.QuadPart - a.QuadPart) * 1000.0 / (double)f.QuadPart;
}

/* The shipped library of this bitness from this program's folder, and the
 * exports the end-to-end programs call. */
#define E2E_EXPORTS(X)                                                                         \
    X(OpenSynth) X(CloseSynth) X(CheckWdmStatus) X(GetFirmwareVersion) X(ReadyCheck)           \
    X(WriteByte) X(WriteString) X(ReadByte) X(HaltIndexes) X(ResumeIndexes)
struct Mxusbd {
    HMODULE module = nullptr;
#define E2E_FIELD(name) decltype(&USBMX_##name) name = nullptr;
    E2E_EXPORTS(E2E_FIELD)
#undef E2E_FIELD

    /* Loads it (process attach runs now); false when it or an export is missing. */
    bool load()
    {
        module = LoadLibraryA((program_folder() + (sizeof(void *) == 8 ? "mxusbd64.dll"
                                                                         : "mxusbd.dll")).c_str());
        bool ok = module != nullptr;
#define E2E_RESOLVE(name)                                                                      \
    ok = ok && (name = (decltype(name))(void *)GetProcAddress(module, "USBMX_" #name)) != nullptr;
        E2E_EXPORTS(E2E_RESOLVE)
#undef E2E_RESOLVE
        return ok;
    }
    void unload()
    {
        if (module)
            FreeLibrary(module);
        module = nullptr;
    }
    /* Each byte of text through USBMX_WriteByte; how many calls returned 1. */
    int write(const std::string &text)
    {
        int ok = 0;
        for (unsigned char c : text)
            ok += WriteByte(c) == 1;
        return ok;
    }
    /* USBMX_ReadByte until a byte comes; -1 after timeout_ms. */
    int read_within(DWORD timeout_ms)
    {
        int b = -1;
        wait_for([&] { return (b = ReadByte()) >= 0; }, timeout_ms);
        return b;
    }
};

} // namespace e2e

#endif /* E2E_UTIL_H */
