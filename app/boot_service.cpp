/*
 * boot_service.cpp - moving the unit between normal, boot monitor and boot
 * strap mode, and loading its boot monitor from "bootinit.b" and
 * "bootmon.b" in the current directory.
 */
#include "boot_service.h"

#include <stdio.h>

#include "app_state.h"
#include "boot_stream.h"
#include "dialog_common.h"
#include "mxusb_protocol.h"
#include "mxusbd.h"
#include "resource.h"
#include "send_text_dialog.h"
#include "text_commands.h"

/* The prompt is looked for once at once and then at most 49 more times. */
#define PROMPT_RETRIES      49
#define PROMPT_RETRY_MS     100

/* Boot files from this firmware version on accept the download. */
#define BOOT_MIN_FIRMWARE   260

#define BOOT_INIT_FILE      "bootinit.b"
#define BOOT_MONITOR_FILE   "bootmon.b"

static int Show(HWND dialog, const char *text, UINT style = MB_OK)
{
    return ShowMessage(dialog, SEND_TEXT_CAPTION, text, style);
}

static void EmptyTextField(HWND dialog)
{
    SetDlgItemTextA(dialog, IDC_TEXT_EDIT, "");
}

/* A service sequence: 0x01 0x02 code. */
static void SendService(unsigned char code)
{
    USBMX_RawWriteByte(SYNTH_CMD_LEAD);
    USBMX_RawWriteByte(SYNTH_CMD_SERVICE);
    USBMX_RawWriteByte(code);
}

void RunBootMonitorCommand(HWND dialog)
{
    SendService(SYNTH_SVC_BOOT_MONITOR);
    Sleep(400);
    USBMX_RawWriteByteImmediate(SYNTH_OOB_RESET);
    Sleep(2000);
    USBMX_RawWriteByteImmediate(SYNTH_OOB_BAUD_57600);
    Sleep(400);
    USBMX_ResumeIndexes(1);
    SendService(SYNTH_SVC_BOOT_MONITOR);
    Sleep(100);
    EmptyTextField(dialog);
    BootMonitorMode = 1;
    Show(dialog, "Entering boot monitor mode.");
}

void RunNormalCommand(HWND dialog)
{
    USBMX_RawWriteByteImmediate(SYNTH_OOB_BAUD_57600);
    Sleep(400);
    SendService(SYNTH_SVC_NORMAL);
    Sleep(1000);
    USBMX_RawWriteByteImmediate(SYNTH_OOB_RESET);
    Sleep(2000);
    USBMX_RawWriteByteImmediate(SYNTH_OOB_BAUD_19200);
    Sleep(400);
    BootMonitorMode = 0;
    Show(dialog, "Morvox USB reset to normal mode.");
    EmptyTextField(dialog);
}

void RunReadCommand(HWND dialog, const char *text)
{
    USBMX_ShutUp();
    if (!BootMonitorMode) {
        Show(dialog, "You must be in boot monitor mode to use this command.");
        EmptyTextField(dialog);
        return;
    }
    /* A short operand would send whatever lies past the end of the text. Only
     * the length is checked: any character converts to a value and is sent
     * unchecked, so the message asks for digits, not hexadecimal ones. */
    if (!ReadOperandComplete(text)) {
        Show(dialog, "***Error: The {read} command needs eight digits after {read}.");
        EmptyTextField(dialog);
        return;
    }
    unsigned char values[READ_OPERAND_DIGITS];
    ReadOperandValues(text, values);
    SendService(SYNTH_SVC_READ);
    for (unsigned char value : values)
        USBMX_RawWriteByte(value);
    Sleep(500);
    EndDialog(dialog, 0);
}

/* One value now and at most 49 more, each after 100 ms and a beep; every
 * value that is not the prompt, -1 included, is dropped. */
static bool WaitForPrompt(void)
{
    if ((GetLocalIndex() & 0xFF) == SYNTH_REPLY_PROMPT)
        return true;
    for (int retry = 0; retry < PROMPT_RETRIES; retry++) {
        Sleep(PROMPT_RETRY_MS);
        SimpleBeep();
        if ((GetLocalIndex() & 0xFF) == SYNTH_REPLY_PROMPT)
            return true;
    }
    return false;
}

static void SendRawByte(unsigned char byte, void *)
{
    USBMX_RawWriteByte(byte);
}

static void StreamBeep(void *)
{
    SimpleBeep();
}

/* Opens and streams one boot file. On failure shows the message naming the
 * file and returns false; the caller ends the exchange. */
static bool DownloadBootFile(HWND dialog, const char *name)
{
    char message[128];
    FILE *file = fopen(name, "rb");
    if (!file) {
        snprintf(message, sizeof message, "***Error: Unable to open %s file.", name);
        Show(dialog, message);
        return false;
    }
    const BootStreamSink sink = { SendRawByte, StreamBeep, NULL };
    int complete = StreamBootFile(ReadFileByte, file, &sink);
    fclose(file);
    if (!complete) {
        snprintf(message, sizeof message, "***Error: Unable to read %s file.", name);
        Show(dialog, message);
        return false;
    }
    return true;
}

/* Every way out of "{bootstrap}" after the prompt ends the dialog with the
 * display shown again. */
static void EndBootstrap(HWND dialog)
{
    DisplaySuppressed = 0;
    EndDialog(dialog, 0);
}

void RunBootstrapCommand(HWND dialog)
{
    USBMX_RawWriteByteImmediate(SYNTH_OOB_BAUD_57600);
    Sleep(400);
    USBMX_RawWriteByteImmediate(SYNTH_OOB_RESET);
    Sleep(2000);
    /* The monitor is held while the ring is emptied, so that no byte it took
     * before passes for the prompt. */
    HoldMonitor();
    ClearIndexDisplay();
    DisplaySuppressed = 1;
    USBMX_ResumeIndexes(1);
    ReleaseMonitor();
    USBMX_RawWriteByte(SYNTH_CMD_BOOTSTRAP);
    Sleep(100);
    EmptyTextField(dialog);

    if (!WaitForPrompt()) {
        Show(dialog, "***Error: Unable to enter boot strap mode. \n"
                     "Make sure jumpers are positioned correctly on circuit board.");
        DisplaySuppressed = 0;
        return;
    }

    if (Show(dialog, "Would you like to download the boot monitor initialization files?",
             MB_YESNO | MB_ICONINFORMATION) != IDYES) {
        Show(dialog, "Boot strap mode initiated.");
        USBMX_RawWriteByteImmediate(SYNTH_OOB_BOOT_END);
        EndBootstrap(dialog);
        return;
    }

    /* A failed query (-1) is refused like an old firmware. */
    if (USBMX_GetFirmwareVersion() < BOOT_MIN_FIRMWARE) {
        Show(dialog, "***Error: Eprom firmware needs to be updated before you can download boot monitor.");
        EndBootstrap(dialog);
        return;
    }

    USBMX_RawWriteByteImmediate(SYNTH_OOB_BOOT_BEGIN);
    if (!DownloadBootFile(dialog, BOOT_INIT_FILE)) {
        EndBootstrap(dialog);
        return;
    }
    SimpleBeep();
    Sleep(1000);
    if (!DownloadBootFile(dialog, BOOT_MONITOR_FILE)) {
        EndBootstrap(dialog);
        return;
    }

    Show(dialog, "Boot monitor and initialization files downloaded successfully.",
         MB_OK | MB_ICONINFORMATION);
    DisplaySuppressed = 0;
    USBMX_RawWriteByteImmediate(SYNTH_OOB_BOOT_END);
    EndDialog(dialog, 0);
}
