/*
 * send_text_dialog.h - the Send Text dialog (IicSendTextUsb, command 101).
 */
#ifndef MXUAPP_SEND_TEXT_DIALOG_H
#define MXUAPP_SEND_TEXT_DIALOG_H

#include <windows.h>

/* The caption of the dialog and of every message box it and the boot
 * service show (two blanks on each side of the hyphen). */
#define SEND_TEXT_CAPTION "Morvox USB  -  Send Text"

INT_PTR CALLBACK SendTextDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif /* MXUAPP_SEND_TEXT_DIALOG_H */
