/* inproc_probe.dll - a stand-in library for the host to patch: each export
 * makes one kernel32 device call through this DLL's import table. */
#include <windows.h>
#define EXPORT extern "C" __declspec(dllexport)
#define ACCESS GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr

EXPORT HANDLE probe_open_w(const wchar_t *path) { return CreateFileW(path, ACCESS); }
EXPORT HANDLE probe_open_a(const char *path) { return CreateFileA(path, ACCESS); }
EXPORT BOOL probe_ioctl(HANDLE h, DWORD code, void *in, DWORD in_len, void *out, DWORD out_len, DWORD *returned)
{
    return DeviceIoControl(h, code, in, in_len, out, out_len, returned, nullptr);
}
EXPORT BOOL probe_close(HANDLE h) { return CloseHandle(h); }
