/*
 * speak.c - speaks one line on the Morvox USB synthesizer and prints the
 * index bytes it reports.
 *
 *   mxspeak [text]        (default "Hello from Morvox.")
 *
 * Opens the synthesizer, sends the text through USBMX_WriteByte followed by
 * 0x0B (which closes a text), reads index bytes with USBMX_ReadByte for up
 * to about two seconds, closes, and exits 0; exits 1 with a message when the
 * synthesizer cannot be opened.
 *
 * Built normally it links the library through its import table. Built with
 * MX_SPEAK_DYNAMIC (the simulator demo) it takes the functions from a module
 * that the host program loaded, by name.
 */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "mxusbd.h"

#ifdef MX_SPEAK_DYNAMIC
static int(MXUSB_CALL *p_OpenSynth)(void);
static void(MXUSB_CALL *p_CloseSynth)(void);
static int(MXUSB_CALL *p_WriteByte)(int);
static int(MXUSB_CALL *p_ReadByte)(void);
#define MX(name) p_##name

/* Resolves the functions this example uses; returns 0 when one is missing. */
int speak_use_module(HMODULE module)
{
    p_OpenSynth = (int(MXUSB_CALL *)(void))(void *)GetProcAddress(module, "USBMX_OpenSynth");
    p_CloseSynth = (void(MXUSB_CALL *)(void))(void *)GetProcAddress(module, "USBMX_CloseSynth");
    p_WriteByte = (int(MXUSB_CALL *)(int))(void *)GetProcAddress(module, "USBMX_WriteByte");
    p_ReadByte = (int(MXUSB_CALL *)(void))(void *)GetProcAddress(module, "USBMX_ReadByte");
    return p_OpenSynth && p_CloseSynth && p_WriteByte && p_ReadByte;
}
#else
#define MX(name) USBMX_##name
#endif

#define END_OF_TEXT 0x0B
#define READ_TIME_MS 2000

int speak_main(int argc, char **argv)
{
    const char *text = argc > 1 ? argv[1] : "Hello from Morvox.";
    int indexes = 0;
    DWORD start;
    const char *p;

    if (!MX(OpenSynth)()) {
        fprintf(stderr, "mxspeak: cannot open the synthesizer (is the mxusb driver loaded "
                        "and the unit plugged in?)\n");
        return 1;
    }
    printf("speaking: %s\n", text);
    for (p = text; *p; ++p)
        MX(WriteByte)((unsigned char)*p);
    MX(WriteByte)(END_OF_TEXT);

    /* Index bytes arrive as the unit speaks; stop once one has come and the
     * line has had a moment, or after about two seconds. */
    start = GetTickCount();
    while (GetTickCount() - start < READ_TIME_MS) {
        int b = MX(ReadByte)();
        if (b == -1) {
            Sleep(20);
            continue;
        }
        printf("index byte 0x%02X\n", (unsigned)b);
        ++indexes;
    }
    printf("%d index byte%s received\n", indexes, indexes == 1 ? "" : "s");
    MX(CloseSynth)();
    return 0;
}

#ifndef MX_SPEAK_DYNAMIC
int main(int argc, char **argv)
{
    return speak_main(argc, argv);
}
#endif
