/*
 * inproc_probe.dll - a stand-in for the access library in the host's own
 * tests: each export makes one kernel32 device call through this DLL's
 * import table, which the in-process host patches.
 */
#include <windows.h>

extern "C" {

__declspec(dllexport) HANDLE probe_open_w(const wchar_t *path)
{
    return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
}

__declspec(dllexport) HANDLE probe_open_a(const char *path)
{
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
}

__declspec(dllexport) BOOL probe_ioctl(HANDLE h, DWORD code, void *in, DWORD in_len, void *out,
                                       DWORD out_len, DWORD *returned)
{
    return DeviceIoControl(h, code, in, in_len, out, out_len, returned, nullptr);
}

__declspec(dllexport) BOOL probe_close(HANDLE h)
{
    return CloseHandle(h);
}

}
