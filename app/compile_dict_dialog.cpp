/*
 * compile_dict_dialog.cpp - the Compile Dictionary dialog (IicCompileDict,
 * command 105, no menu item): takes a path, checks the driver channel and
 * lower-cases the path. It opens no file and sends nothing.
 */
#include <windows.h>

#include "dictionary_check.h"
#include "mxusbd.h"
#include "resource.h"
#include "services.h"

#define COMPILE_DICT_CAPTION "Morvox USB  -  Compile User Dictionary"
#define DRIVER_NOT_LOADED "***Error: Morvox USB driver mxusb.sys is not loaded."

static void CompileFile(HWND dialog)
{
    char path[256];

    GetDlgItemTextA(dialog, IDC_TEXT_EDIT, path, sizeof path);
    if (!USBMX_CheckWdmStatus()) {
        MessageBoxA(dialog, DRIVER_NOT_LOADED, COMPILE_DICT_CAPTION, MB_OK);
        return;
    }
    LowerCasePath(path);
    /* Nothing more: the unit compiles no dictionary from here. */
}

INT_PTR CALLBACK CompileDictDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextA(dialog, IDC_TEXT_EDIT, "");
        SetFocus(GetDlgItem(dialog, IDC_TEXT_EDIT));
        break;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            CompileFile(dialog);
            break;
        case IDCANCEL:
            EndDialog(dialog, 0);
            break;
        }
        break;
    }
    return FALSE;
}
