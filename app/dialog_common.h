/*
 * dialog_common.h - what the utility's dialogs share: the driver message, the
 * message box and the beep, and for the path dialogs (Send File, Compile
 * Dictionary, Download User Dictionary) reading the path from edit 202 with
 * the driver check and the dialog procedure's handling of WM_INITDIALOG, OK
 * and Cancel.
 */
#ifndef MXUAPP_DIALOG_COMMON_H
#define MXUAPP_DIALOG_COMMON_H

#include <windows.h>

/* Every failed driver check, in every dialog and at start-up, says this. */
#define DRIVER_NOT_LOADED_TEXT "***Error: Morvox USB driver mxusb.sys is not loaded."

/* The longest path the dialogs read, with its terminating NUL. */
#define PATH_DIALOG_PATH_SIZE 256

/* A message box owned by owner (NULL: none) under caption; returns the
 * button pressed. */
int ShowMessage(HWND owner, const char *caption, const char *text, UINT style);

/* The simple beep of the long waits and transfers. */
void SimpleBeep(void);

/* Reads edit 202 into path (PATH_DIALOG_PATH_SIZE bytes) and checks the
 * driver channel; when the driver is not loaded, says so in a box owned by
 * the dialog under its caption and returns false. Otherwise lower-cases the
 * path in place (the edit keeps what the user typed) and returns true. */
bool ReadDialogPath(HWND dialog, const char *caption, char *path);

/* The shared part of a path dialog's procedure: WM_INITDIALOG empties edit
 * 202 and gives it the focus, IDOK calls on_ok, IDCANCEL ends the dialog with
 * 0. Always returns FALSE, as the dialog procedures do. */
INT_PTR PathDialogMessage(HWND dialog, UINT message, WPARAM wParam, void (*on_ok)(HWND dialog));

#endif /* MXUAPP_DIALOG_COMMON_H */
