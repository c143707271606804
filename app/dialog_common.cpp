/*
 * dialog_common.cpp - the path reading and the message handling that the
 * Send File, Compile Dictionary and Download User Dictionary dialogs share.
 */
#include "dialog_common.h"

#include "dictionary_check.h"
#include "mxusbd.h"
#include "resource.h"

#define DRIVER_NOT_LOADED "***Error: Morvox USB driver mxusb.sys is not loaded."

bool ReadDialogPath(HWND dialog, const char *caption, char *path)
{
    GetDlgItemTextA(dialog, IDC_TEXT_EDIT, path, PATH_DIALOG_PATH_SIZE);
    if (!USBMX_CheckWdmStatus()) {
        MessageBoxA(dialog, DRIVER_NOT_LOADED, caption, MB_OK);
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
