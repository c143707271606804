/*
 * compile_dict_dialog.cpp - the Compile Dictionary dialog (IicCompileDict,
 * command 105, no menu item): takes a path, checks the driver channel and
 * lower-cases the path. It opens no file and sends nothing.
 */
#include <windows.h>

#include "dialog_common.h"
#include "services.h"

#define COMPILE_DICT_CAPTION "Morvox USB  -  Compile User Dictionary"

static void CompileFile(HWND dialog)
{
    char path[PATH_DIALOG_PATH_SIZE];

    if (!ReadDialogPath(dialog, COMPILE_DICT_CAPTION, path))
        return;
    /* Nothing more: the unit compiles no dictionary from here. */
}

INT_PTR CALLBACK CompileDictDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    return PathDialogMessage(dialog, message, wParam, CompileFile);
}
