/*
 * send_text_dialog.cpp - the Send Text dialog: one typed line is either a
 * brace command or text to be spoken.
 */
#include "send_text_dialog.h"

#include "app_state.h"
#include "boot_service.h"
#include "dialog_common.h"
#include "mxusb_protocol.h"
#include "mxusbd.h"
#include "resource.h"
#include "text_commands.h"

static void ShowOwned(HWND dialog, const char *text)
{
    ShowMessage(dialog, SEND_TEXT_CAPTION, text, MB_OK);
}

static void EmptyTextField(HWND dialog)
{
    SetDlgItemTextA(dialog, IDC_TEXT_EDIT, "");
}

/* The command's out-of-band byte, its settling time, the message, then an
 * empty field. */
static void RunControlByteCommand(HWND dialog, TextCommand command, DWORD settle_ms, const char *message)
{
    USBMX_RawWriteByteImmediate(TextCommandControlByte(command));
    Sleep(settle_ms);
    ShowOwned(dialog, message);
    EmptyTextField(dialog);
}

/* The registration messages have no owner window. */
static void RunRegistrationCommand(HWND dialog, HWND target, int32_t flag_on_success,
                                   const char *success, const char *failure)
{
    if (USBMX_RegisterWindowIndexes(target, MX_INDEX_NOTIFY_MESSAGE)) {
        NotifyRegistered = flag_on_success;
        ShowMessage(NULL, SEND_TEXT_CAPTION, success, MB_OK);
    } else {
        ShowMessage(NULL, SEND_TEXT_CAPTION, failure, MB_OK);
    }
    EmptyTextField(dialog);
}

static void WriteSpeechByte(unsigned char byte, void *)
{
    USBMX_WriteByte(byte);
}

static void SendText(HWND dialog)
{
    char text[SEND_TEXT_BUFFER_SIZE] = "";
    GetDlgItemTextA(dialog, IDC_TEXT_EDIT, text, sizeof text);

    if (!USBMX_CheckWdmStatus()) {
        ShowOwned(dialog, DRIVER_NOT_LOADED_TEXT);
        return;
    }

    TextCommand command = MatchTextCommand(text);
    switch (command) {
    case TEXT_COMMAND_BAUD_57600:
        RunControlByteCommand(dialog, command, 400, "Baud rate reset to 57,600bps.");
        return;
    case TEXT_COMMAND_REGINDEXES:
        RunRegistrationCommand(dialog, MainWindow, 1,
                               "Index callback routine has been registered.",
                               "***Error: Unable to register index callback routine.");
        return;
    case TEXT_COMMAND_UNREGINDEXES:
        RunRegistrationCommand(dialog, NULL, 0,
                               "Index callback routine has been unregistered.",
                               "***Error: Unable to disable registered index callback routine.");
        return;
    case TEXT_COMMAND_BAUD_19200:
        RunControlByteCommand(dialog, command, 400, "Baud rate reset to 19,200bps.");
        return;
    case TEXT_COMMAND_READ:
        RunReadCommand(dialog, text);
        return;
    case TEXT_COMMAND_BOOTMONITOR:
        RunBootMonitorCommand(dialog);
        return;
    case TEXT_COMMAND_NORMAL:
        RunNormalCommand(dialog);
        return;
    case TEXT_COMMAND_BOOTSTRAP:
        RunBootstrapCommand(dialog);
        return;
    case TEXT_COMMAND_RESET:
        RunControlByteCommand(dialog, command, 2000, "Morvox USB has been reset.");
        return;
    case TEXT_COMMAND_NONE:
        break;
    }

    SendPlainText(text, WriteSpeechByte, NULL);
    USBMX_WriteByte(SYNTH_END_OF_TEXT);
    EmptyTextField(dialog);
    DisplaySuppressed = 0;
    Sleep(100);
}

INT_PTR CALLBACK SendTextDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextA(dialog, IDC_TEXT_EDIT, "");
        SetFocus(GetDlgItem(dialog, IDC_TEXT_EDIT));
        return FALSE; /* the focus stays on the edit field */
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK)
            SendText(dialog);
        else if (LOWORD(wParam) == IDCANCEL)
            EndDialog(dialog, 0);
        return FALSE;
    default:
        return FALSE;
    }
}
