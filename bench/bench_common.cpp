/* bench_common.cpp - see bench_common.h. */
#include "bench_common.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>

#include "mxusb_protocol.h"
#include "mxsim_control.h"

std::wstring BenchLibraryPath(void)
{
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
    std::wstring dll(path, n);
    dll.resize(dll.find_last_of(L"\\/") + 1);
    dll += sizeof(void *) == 8 ? L"mxusbd64.dll" : L"mxusbd.dll";
    return dll;
}

bool BenchLoadApi(BenchApi *api)
{
    std::wstring dll = BenchLibraryPath();
    HMODULE m = LoadLibraryW(dll.c_str());
    if (!m) {
        fprintf(stderr, "cannot load %ls (error %lu)\n", dll.c_str(), GetLastError());
        return false;
    }
    api->module = m;
    api->open = BenchExport<decltype(api->open)>(m, "USBMX_OpenSynth");
    api->close = BenchExport<decltype(api->close)>(m, "USBMX_CloseSynth");
    api->write_byte = BenchExport<decltype(api->write_byte)>(m, "USBMX_WriteByte");
    api->write_string = BenchExport<decltype(api->write_string)>(m, "USBMX_WriteString");
    api->read_byte = BenchExport<decltype(api->read_byte)>(m, "USBMX_ReadByte");
    api->halt_indexes = BenchExport<decltype(api->halt_indexes)>(m, "USBMX_HaltIndexes");
    api->resume_indexes = BenchExport<decltype(api->resume_indexes)>(m, "USBMX_ResumeIndexes");
    api->register_window = BenchExport<decltype(api->register_window)>(m, "USBMX_RegisterWindowIndexes");
    return api->open && api->close && api->write_byte && api->write_string && api->read_byte &&
           api->halt_indexes && api->resume_indexes && api->register_window;
}

HANDLE BenchOpenDevice(void)
{
    return CreateFileW(MXUSB_DEVICE_PATH_W, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       NULL, OPEN_EXISTING, 0, NULL);
}

bool BenchControl(uint32_t code, const void *in, DWORD in_len, void *out, DWORD out_len, DWORD *returned)
{
    static HANDLE control = INVALID_HANDLE_VALUE; /* kept open for the whole run */
    if (control == INVALID_HANDLE_VALUE)
        control = CreateFileW(MXSIM_CONTROL_PATH_W, GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (control == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "the driver host does not answer (scripts/simdrv.sh up first)\n");
        return false;
    }
    DWORD got = 0;
    BOOL ok = DeviceIoControl(control, code, const_cast<void *>(in), in_len, out, out_len, &got, NULL);
    if (returned)
        *returned = got;
    return ok != FALSE;
}

bool BenchSpoken(uint32_t *transcript_length, uint32_t *text_length)
{
    MxsimState s;
    DWORD got = 0;
    if (!BenchControl(MXSIM_IOCTL_GET_STATE, NULL, 0, &s, sizeof s, &got) || got != sizeof s ||
        s.size != sizeof s)
        return false;
    *transcript_length = s.transcript_length;
    *text_length = s.text_length;
    return true;
}

uint32_t BenchRequests(void)
{
    MxsimState s;
    DWORD got = 0;
    if (!BenchControl(MXSIM_IOCTL_GET_STATE, NULL, 0, &s, sizeof s, &got) || got != sizeof s)
        return 0;
    return s.requests;
}

/* --- the Linux side --- */

static int g_linux_pid;

/* Reads a small /proc file (its size reads as 0, so read to the end). */
static std::string ReadProcFile(const std::string &path)
{
    std::string dos = "Z:" + path;
    std::replace(dos.begin(), dos.end(), '/', '\\');
    HANDLE f = CreateFileA(dos.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                           0, NULL);
    std::string text;
    if (f == INVALID_HANDLE_VALUE)
        return text;
    char buffer[512];
    DWORD got;
    while (ReadFile(f, buffer, sizeof buffer, &got, NULL) && got > 0)
        text.append(buffer, got);
    CloseHandle(f);
    return text;
}

bool BenchLinuxPidInit(void)
{
    const char *pid = getenv("MX_BENCH_PID");
    g_linux_pid = pid ? atoi(pid) : 0;
    if (g_linux_pid <= 0) {
        fprintf(stderr, "MX_BENCH_PID is not set: run this through scripts/bench.sh\n");
        return false;
    }
    /* The command line names this program (under qemu, after the emulator). */
    std::string cmdline = ReadProcFile(BenchFormat("/proc/%d/cmdline", g_linux_pid));
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, self, MAX_PATH);
    std::string name(self, n);
    name = name.substr(name.find_last_of("\\/") + 1);
    if (cmdline.find(name) == std::string::npos) {
        fprintf(stderr, "Linux process %d is not %s\n", g_linux_pid, name.c_str());
        g_linux_pid = 0;
        return false;
    }
    return true;
}

std::vector<int> BenchTasks(void)
{
    std::vector<int> tids;
    std::string pattern = BenchFormat("Z:\\proc\\%d\\task\\*", g_linux_pid);
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(pattern.c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return tids;
    do {
        int tid = atoi(found.cFileName);
        if (tid > 0)
            tids.push_back(tid);
    } while (FindNextFileA(h, &found));
    FindClose(h);
    std::sort(tids.begin(), tids.end());
    return tids;
}

std::vector<int> BenchNewTasks(const std::vector<int> &before, const std::vector<int> &after)
{
    std::vector<int> added;
    for (int tid : after)
        if (!std::binary_search(before.begin(), before.end(), tid))
            added.push_back(tid);
    return added;
}

int64_t BenchThreadCpuNs(int tid)
{
    std::string text = ReadProcFile(BenchFormat("/proc/%d/task/%d/schedstat", g_linux_pid, tid));
    if (text.empty())
        return -1;
    return strtoll(text.c_str(), NULL, 10);
}

/* --- results --- */

static std::string FormatV(const char *format, va_list args)
{
    char buffer[1024];
    vsnprintf(buffer, sizeof buffer, format, args);
    return buffer;
}

std::string BenchFormat(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::string s = FormatV(format, args);
    va_end(args);
    return s;
}

void BenchRow(const char *measure, const char *library, const char *reference, const char *ratio,
              const char *goal, const char *verdict)
{
    printf("ROW\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", measure, BenchBuild(), library, reference, ratio, goal, verdict);
    fflush(stdout);
}

void BenchNote(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    printf("NOTE\t%s-bit: %s\n", BenchBuild(), FormatV(format, args).c_str());
    va_end(args);
    fflush(stdout);
}

double BenchQuantile(std::vector<double> values, double q)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t rank = (size_t)(q * (double)values.size() + 0.999999); /* nearest rank, 1-based */
    if (rank < 1)
        rank = 1;
    if (rank > values.size())
        rank = values.size();
    return values[rank - 1];
}
