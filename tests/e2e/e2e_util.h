/*
 * e2e_util.h - what the end-to-end programs share: the driver host's control
 * device, the shipped library loaded with LoadLibrary (so that a test decides
 * when process attach runs), bounded waits, named events between processes.
 */
#ifndef E2E_UTIL_H
#define E2E_UTIL_H

#include <windows.h>
#include <tlhelp32.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "mxsim_control.h"
#include "mxusb_protocol.h"
#include "mxusbd.h"

namespace e2e {

/* One request on \\.\mxsim-control; the success flag. */
inline bool control(uint32_t code, const void *in = nullptr, DWORD in_len = 0,
                    void *out = nullptr, DWORD out_len = 0, DWORD *returned = nullptr)
{
    HANDLE h = CreateFileA(MXSIM_CONTROL_PATH_A, GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD got = 0;
    BOOL ok = DeviceIoControl(h, code, const_cast<void *>(in), in_len, out, out_len, &got, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        printf("e2e: no %s: is the driver host up?\n", MXSIM_CONTROL_PATH_A);
    CloseHandle(h);
    if (returned)
        *returned = got;
    return ok != FALSE;
}

/* The model's counters; all zero when the request fails. */
inline MxsimState state()
{
    MxsimState s = {};
    control(MXSIM_IOCTL_GET_STATE, nullptr, 0, &s, sizeof(s));
    return s;
}

/* The spoken texts, each ended by '\n' (the buffer holds the whole transcript). */
inline std::string transcript()
{
    std::vector<char> buffer(MXSIM_BLOB_HEADER + SIM_TRANSCRIPT_CAPACITY);
    DWORD got = 0;
    control(MXSIM_IOCTL_GET_TRANSCRIPT, "\0\0\0\0", 4, buffer.data(), (DWORD)buffer.size(), &got);
    return got < MXSIM_BLOB_HEADER ? "" : std::string(&buffer[MXSIM_BLOB_HEADER], got - MXSIM_BLOB_HEADER);
}

/* Polls cond() every step_ms; the ms it took, or -1 after timeout_ms. */
template <typename Cond> long wait_for(Cond cond, DWORD timeout_ms, DWORD step_ms = 5)
{
    for (const DWORD start = GetTickCount();; Sleep(step_ms)) {
        if (cond())
            return (long)(GetTickCount() - start);
        if (GetTickCount() - start > timeout_ms)
            return -1;
    }
}

/* The named manual-reset event TAG_name of one run, never closed: a signal
 * made before the other process opens the event is kept. */
inline HANDLE event(const std::string &tag, const std::string &name)
{
    return CreateEventA(nullptr, TRUE, FALSE, ("mx_e2e_" + tag + "_" + name).c_str());
}

/* Threads of this process now. */
inline int thread_count()
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 t = {sizeof(t), 0, 0, 0, 0, 0, 0};
    int n = 0;
    for (BOOL ok = Thread32First(snap, &t); ok; ok = Thread32Next(snap, &t))
        n += t.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snap);
    return n;
}

/* The shipped library of this bitness from this program's folder. */
#define E2E_EXPORTS(X)                                                                         \
    X(OpenSynth) X(CloseSynth) X(CheckWdmStatus) X(GetFirmwareVersion) X(ReadyCheck)           \
    X(WriteByte) X(WriteString) X(ReadByte) X(ResumeIndexes)
struct Mxusbd {
    HMODULE module = nullptr;
#define E2E_FIELD(name) decltype(&USBMX_##name) name = nullptr;
    E2E_EXPORTS(E2E_FIELD)

    /* Loads it (process attach runs now); false when it or an export is missing. */
    bool load()
    {
        char path[MAX_PATH];
        std::string s(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
        s = s.substr(0, s.find_last_of('\\') + 1) + (sizeof(void *) == 8 ? "mxusbd64.dll" : "mxusbd.dll");
        bool ok = (module = LoadLibraryA(s.c_str())) != nullptr;
#define E2E_RESOLVE(name) \
    ok = ok && (name = (decltype(name))(void *)GetProcAddress(module, "USBMX_" #name)) != nullptr;
        E2E_EXPORTS(E2E_RESOLVE)
        return ok;
    }
    void unload()
    {
        module = module && FreeLibrary(module) ? nullptr : module;
    }
    /* Each byte through USBMX_WriteByte; how many calls returned 1. */
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
