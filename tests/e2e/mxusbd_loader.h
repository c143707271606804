/*
 * mxusbd_loader.h - loads the shipped access library (mxusbd64.dll or
 * mxusbd.dll from the program's folder) with LoadLibrary, so that a test
 * decides when process attach runs, and resolves the exports it uses.
 */
#ifndef MXUSBD_LOADER_H
#define MXUSBD_LOADER_H

#include <windows.h>

#include <string>
#include <type_traits>

#include "mxusbd.h"

namespace e2e {

struct Mxusbd {
    HMODULE module = nullptr;
    decltype(&USBMX_OpenSynth) OpenSynth = nullptr;
    decltype(&USBMX_CloseSynth) CloseSynth = nullptr;
    decltype(&USBMX_CheckWdmStatus) CheckWdmStatus = nullptr;
    decltype(&USBMX_GetFirmwareVersion) GetFirmwareVersion = nullptr;
    decltype(&USBMX_ReadyCheck) ReadyCheck = nullptr;
    decltype(&USBMX_WriteByte) WriteByte = nullptr;
    decltype(&USBMX_WriteString) WriteString = nullptr;
    decltype(&USBMX_RawWriteByte) RawWriteByte = nullptr;
    decltype(&USBMX_ShutUp) ShutUp = nullptr;
    decltype(&USBMX_ReadByte) ReadByte = nullptr;
    decltype(&USBMX_HaltIndexes) HaltIndexes = nullptr;
    decltype(&USBMX_ResumeIndexes) ResumeIndexes = nullptr;

    static const char *file_name() { return sizeof(void *) == 8 ? "mxusbd64.dll" : "mxusbd.dll"; }

    /* Loads the library from `folder`; false (module null) when it or an
     * export is missing. */
    bool load(const std::string &folder)
    {
        module = LoadLibraryA((folder + file_name()).c_str());
        if (!module)
            return false;
        bool ok = true;
        auto get = [&](auto &fn, const char *name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(
                reinterpret_cast<void *>(GetProcAddress(module, name)));
            ok = ok && fn != nullptr;
        };
        get(OpenSynth, "USBMX_OpenSynth");
        get(CloseSynth, "USBMX_CloseSynth");
        get(CheckWdmStatus, "USBMX_CheckWdmStatus");
        get(GetFirmwareVersion, "USBMX_GetFirmwareVersion");
        get(ReadyCheck, "USBMX_ReadyCheck");
        get(WriteByte, "USBMX_WriteByte");
        get(WriteString, "USBMX_WriteString");
        get(RawWriteByte, "USBMX_RawWriteByte");
        get(ShutUp, "USBMX_ShutUp");
        get(ReadByte, "USBMX_ReadByte");
        get(HaltIndexes, "USBMX_HaltIndexes");
        get(ResumeIndexes, "USBMX_ResumeIndexes");
        if (!ok)
            unload();
        return ok;
    }

    void unload()
    {
        if (module)
            FreeLibrary(module);
        module = nullptr;
    }

    /* Speaks text through USBMX_WriteByte and closes it with 0x0B; returns
     * how many of the calls returned 1. */
    int speak(const char *text)
    {
        int ok = 0;
        for (const char *p = text; *p; ++p)
            ok += WriteByte((unsigned char)*p) == 1;
        ok += WriteByte(SYNTH_END_OF_TEXT) == 1;
        return ok;
    }

    /* Polls USBMX_ReadByte until a byte comes or timeout_ms passes; -1 then. */
    int read_within(DWORD timeout_ms)
    {
        const DWORD start = GetTickCount();
        for (;;) {
            int b = ReadByte();
            if (b >= 0)
                return b;
            if (GetTickCount() - start > timeout_ms)
                return -1;
            Sleep(5);
        }
    }
};

} // namespace e2e

#endif /* MXUSBD_LOADER_H */
