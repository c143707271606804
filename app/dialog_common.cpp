/*
 * dialog_common.cpp - what the utility's dialogs share (dialog_common.h).
 */
#include "dialog_common.h"

#include "dictionary_check.h"
#include "mxusbd.h"
#include "resource.h"

int ShowMessage(HWND owner, const char *caption, const char *text, UINT style)
{
    return MessageBoxA(owner, text, caption, style);
}

void SimpleBeep(void)
{
    MessageBeep(0xFFFFFFFF);
}

bool ReadDialogPath(HWND dialog, const char *caption, char *path)
{
    GetDlgItemTextA(dialog, IDC_TEXT_EDIT, path, PATH_DIALOG_PATH_SIZE);
    if (!USBMX_CheckWdmStatus()) {
        ShowMessage(dialog, caption, DRIVER_NOT_LOADED_TEXT, MB_OK);
        return false;
    }
    LowerCasePath(path);
    return true;
}

INT_PTR PathDialogMessage(HWND dialog, UINT message, WPARAM wParam, void (*on_ok)(HWND dialog))
{
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextA(dialog, IDC_TEXT_EDIT, "");
        SetFocus(GetDlgItem(dialog, IDC_TEXT_EDIT));
        break;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            on_ok(dialog);
            break;
        case IDCANCEL:
            EndDialog(dialog, 0);
            break;
        }
        break;
    }
    return FALSE;
}
