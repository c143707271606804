/*
 * send_file_dialog.cpp - the Send File dialog (IicSendFileUsb, command 102):
 * streams a file byte by byte through the speech output and closes the text
 * with 0x0B; the dialog stays open for the next file.
 */
#include <windows.h>
#include <stdio.h>

#include "app_state.h"
#include "dialog_common.h"
#include "byte_reader.h"
#include "mxusb_protocol.h"
#include "mxusbd.h"
#include "resource.h"
#include "services.h"

#define SEND_FILE_CAPTION "Morvox USB  -  Send Text File"

static void SendFile(HWND dialog)
{
    char path[PATH_DIALOG_PATH_SIZE];
    char message[512];

    if (!ReadDialogPath(dialog, SEND_FILE_CAPTION, path))
        return;

    FILE *file = fopen(path, "rb");
    if (!file) {
        snprintf(message, sizeof message, "The file %s could not be found.", path);
        ShowMessage(dialog, SEND_FILE_CAPTION, message, MB_OK);
        return;
    }
    DisplaySuppressed = 0;

    /* Each byte goes to the library as soon as it is read, unbuffered and
     * uninspected; the library's filter decides what reaches the unit. */
    int c;
    while ((c = ReadFileByte(file)) >= 0)
        USBMX_WriteByte(c);
    fclose(file);
    USBMX_WriteByte(SYNTH_END_OF_TEXT);

    if (c == BYTE_READ_ERROR) {
        /* What was read has been spoken and closed; the path stays in the
         * edit so the user can try again. */
        snprintf(message, sizeof message, "***Error: The file %s could not be read.", path);
        ShowMessage(dialog, SEND_FILE_CAPTION, message, MB_OK);
        return;
    }
    SetDlgItemTextA(dialog, IDC_TEXT_EDIT, "");
}

INT_PTR CALLBACK SendFileDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    return PathDialogMessage(dialog, message, wParam, SendFile);
}
