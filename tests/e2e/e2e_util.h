/*
 * e2e_util.h - helpers of the end-to-end tests: scripting the driver host
 * through \\.\mxsim-control, named events between test processes, and the
 * program's own folder. Header-only; every test program includes it once.
 */
#ifndef E2E_UTIL_H
#define E2E_UTIL_H

#include <windows.h>
#include <tlhelp32.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "mxusb_protocol.h"
#include "mxsim_control.h"

namespace e2e {

/* One request on the control device; false (and a message) on failure. */
inline bool control(uint32_t code, const void *in, DWORD in_len, void *out = nullptr,
                    DWORD out_len = 0, DWORD *returned = nullptr)
{
    HANDLE h = CreateFileA(MXSIM_CONTROL_PATH_A, GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        printf("e2e: cannot open %s (error %lu): is the driver host up?\n",
               MXSIM_CONTROL_PATH_A, GetLastError());
        return false;
    }
    DWORD got = 0;
    BOOL ok = DeviceIoControl(h, code, const_cast<void *>(in), in_len, out, out_len, &got,
                              nullptr);
    DWORD error = GetLastError();
    CloseHandle(h);
    if (returned)
        *returned = got;
    SetLastError(error);
    return ok != FALSE;
}

inline bool reset() { return control(MXSIM_IOCTL_RESET, nullptr, 0); }
inline bool unplug() { return control(MXSIM_IOCTL_UNPLUG, nullptr, 0); }
inline bool replug() { return control(MXSIM_IOCTL_REPLUG, nullptr, 0); }

inline bool report(std::initializer_list<uint8_t> bytes)
{
    std::vector<uint8_t> v(bytes);
    return control(MXSIM_IOCTL_REPORT, v.data(), (DWORD)v.size());
}

inline bool set_u32(uint32_t code, uint32_t value)
{
    return control(code, &value, sizeof(value));
}

/* The model's state; a zeroed state (size 0) when the request fails. */
inline MxsimState state()
{
    MxsimState s;
    memset(&s, 0, sizeof(s));
    DWORD got = 0;
    if (!control(MXSIM_IOCTL_GET_STATE, nullptr, 0, &s, sizeof(s), &got) || got != sizeof(s))
        memset(&s, 0, sizeof(s));
    return s;
}

/* A whole byte image (transcript, dictionary, boot image). */
inline std::string image(uint32_t code)
{
    std::string all;
    std::vector<uint8_t> buffer(MXSIM_BLOB_HEADER + 1024);
    for (uint32_t offset = 0;;) {
        DWORD got = 0;
        if (!control(code, &offset, sizeof(offset), buffer.data(), (DWORD)buffer.size(), &got))
            return all;
        const MxsimBlob *blob = (const MxsimBlob *)buffer.data();
        all.append((const char *)buffer.data() + MXSIM_BLOB_HEADER, blob->count);
        offset += blob->count;
        if (blob->count == 0 || offset >= blob->total)
            return all;
    }
}

inline std::string transcript() { return image(MXSIM_IOCTL_GET_TRANSCRIPT); }

/* The whole request log. */
inline std::vector<SimLogEntry> log()
{
    std::vector<SimLogEntry> all;
    std::vector<uint8_t> buffer(MXSIM_LOG_CHUNK_SIZE(MXSIM_LOG_CHUNK));
    for (uint32_t first = 0;;) {
        DWORD got = 0;
        if (!control(MXSIM_IOCTL_GET_LOG, &first, sizeof(first), buffer.data(),
                     (DWORD)buffer.size(), &got))
            return all;
        const MxsimLogChunk *chunk = (const MxsimLogChunk *)buffer.data();
        all.insert(all.end(), chunk->entries, chunk->entries + chunk->count);
        first += chunk->count;
        if (chunk->count == 0 || first >= chunk->total)
            return all;
    }
}

/* Waits until cond() holds, at most timeout_ms; returns the ms waited or -1. */
template <typename Cond>
long wait_for(Cond cond, DWORD timeout_ms, DWORD step_ms = 5)
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

/* Named manual-reset events shared by the processes of one test run. */
inline HANDLE event(const char *name)
{
    char full[128];
    snprintf(full, sizeof(full), "mx_e2e_%s", name);
    return CreateEventA(nullptr, TRUE, FALSE, full);
}

inline void signal(const char *name)
{
    HANDLE h = event(name);
    SetEvent(h);
    CloseHandle(h); /* the other side holds it open */
}

inline bool wait_event(const char *name, DWORD timeout_ms)
{
    HANDLE h = event(name);
    DWORD r = WaitForSingleObject(h, timeout_ms);
    CloseHandle(h);
    if (r != WAIT_OBJECT_0)
        printf("e2e: timed out after %lu ms waiting for event %s\n", timeout_ms, name);
    return r == WAIT_OBJECT_0;
}

/* Keeps the named events of one run open in this process for its whole
 * life, so that a signal made before the other side opens the event is not
 * lost with the last handle. */
inline void hold_events(const std::string &tag, std::initializer_list<const char *> steps)
{
    static std::vector<HANDLE> held;
    for (const char *step : steps)
        held.push_back(event((tag + "_" + step).c_str()));
}

/* The folder of this program, with a trailing backslash. */
inline std::string program_folder()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    size_t slash = s.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : s.substr(0, slash + 1);
}

/* Threads of this process now (Toolhelp). */
inline int thread_count()
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return -1;
    THREADENTRY32 t;
    t.dwSize = sizeof(t);
    int n = 0;
    for (BOOL ok = Thread32First(snap, &t); ok; ok = Thread32Next(snap, &t))
        if (t.th32OwnerProcessID == GetCurrentProcessId())
            ++n;
    CloseHandle(snap);
    return n;
}

} // namespace e2e

#endif /* E2E_UTIL_H */
