/*
 * gui_harness.h - driving mxuapp64.exe from another process as a user would:
 * start it in a prepared folder, send menu commands, find its dialogs and
 * message boxes, type, press buttons, read texts, take screenshots, stop it.
 * Everything goes through ordinary window messages; every wait is bounded.
 * Also the test programs' common helpers on the driver host's side: the
 * bytes that reached the simulated unit, and files and screenshots.
 */
#ifndef MXUAPP_GUI_HARNESS_H
#define MXUAPP_GUI_HARNESS_H

#include <windows.h>

#include <string>
#include <vector>

namespace gui {

/* The program under test and the folder it runs in. */
struct App {
    PROCESS_INFORMATION process = {};
    HWND main = nullptr;
};

/* Starts exe with current directory folder; waits up to timeout_ms for its
 * main window (class TEST_CLASS) unless wait_main is false. */
bool Start(App *app, const std::string &exe, const std::string &folder, bool wait_main = true,
           DWORD timeout_ms = 20000);

/* Closes the main window (WM_CLOSE), waits up to timeout_ms for the process
 * to end, then terminates it. Returns the exit code, or -1 when it had to be
 * terminated. */
long Stop(App *app, DWORD timeout_ms = 5000);

/* Waits up to timeout_ms for the process to end by itself; its exit code, or
 * -1 after the time-out (the process is left running). */
long WaitExit(App *app, DWORD timeout_ms);

/* Posts WM_COMMAND id to the main window (the dialogs are modal, so the
 * command is posted, never sent). */
void Command(App *app, WORD id);

/* Visible top-level dialog-class windows (#32770) of the process. */
std::vector<HWND> Dialogs(const App *app);

/* The dialog with caption and an edit control 202, within timeout_ms. */
HWND WaitDialog(const App *app, const char *caption, DWORD timeout_ms = 10000);

/* A message box of the process (a #32770 window without control 202),
 * within timeout_ms; nullptr after the time-out. */
HWND WaitMessageBox(const App *app, DWORD timeout_ms);

/* Its caption and its text (the static control that carries text). */
std::string Caption(HWND window);
std::string MessageText(HWND box);

/* True when the box has a button with this id (IDOK, IDYES, IDNO). */
bool HasButton(HWND box, int id);

/* Presses a button of a dialog or a box by posting WM_COMMAND. */
void Press(HWND dialog, int id);

/* Text of a dialog control, and setting it (WM_SETTEXT). */
std::string ControlText(HWND dialog, int id);
void SetControlText(HWND dialog, int id, const std::string &text);

/* True while the window exists. */
bool Alive(HWND window);

/* Waits until the window is gone, at most timeout_ms. */
bool WaitGone(HWND window, DWORD timeout_ms);

/* Saves the screen area of the window as a 24-bit .bmp in folder. */
bool Screenshot(HWND window, const std::string &folder, const std::string &name);

/* Counts the pixels of the main window's client rectangle (x0,y0)-(x1,y1)
 * that differ from the window's background colour; -1 on failure. */
long InkInClientRect(HWND window, int x0, int y0, int x1, int y1);

/* The folder for screenshots: MXUAPP_SCREENS, or "." when it is not set. */
std::string ScreensFolder();

/* Bytes that reached the unit since the log was last cleared: "d:41" for an
 * in-band byte, "i:07" for an out-of-band one, separated by blanks. */
std::string Sent();

/* The same notation for expected in-band text. */
std::string Data(const std::string &bytes);

/* Clears the driver host's request log; a fatal test failure if it cannot. */
void ClearLog();

/* Writes bytes to the file at path; a fatal test failure if it cannot. */
void WriteBytes(const std::string &path, const std::string &bytes);

} // namespace gui

#endif /* MXUAPP_GUI_HARNESS_H */
