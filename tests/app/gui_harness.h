/*
 * gui_harness.h - the utility's GUI scenarios as data, played by the runner
 * (gui_harness.cpp) on mxuapp64.exe in a real window against the driver host
 * (run_gui_tests.sh gives them both). A scenario is a list of steps: what the
 * user does, what the unit must have received, which box shows with which
 * caption, text, icon and owner, what the index line shows.
 */
#ifndef MXUAPP_GUI_HARNESS_H
#define MXUAPP_GUI_HARNESS_H

#include <windows.h>

#include <string>
#include <vector>

#include "mxsim_control.h"
#include "mxusb_protocol.h"

namespace gui {

enum Op {
    kStart, kCommand, kMenu, kDialog, kType, kPress, kClick, kRadio, kBox, kNoBox, kSent, kEdit, kGone, kAlive,
    kNoDialog, kLine, kShot, kControl, kState, kAwait, kFile, kPipe, kExit
};
enum Owner { kAutoOwner, kNoOwner, kMainOwner }; // auto: the dialog in front, else the main window

struct Step {
    Op op;
    std::string text, name; // typed or shown text, bytes; caption, file or pipe name
    long value;             // command or button id, milliseconds, value
    uint32_t code, MxsimState::*field = nullptr; // message or control code; model state
    // A box: its answer, icon and owner, the least ms after the user's last
    // action and the most, what edit 202 holds meanwhile.
    int answer = IDOK;
    bool icon = false, check_edit = false;
    Owner owner = kAutoOwner;
    long min_ms = 0, timeout_ms = 20000;
    std::string edit;

    Step(Op o, std::string t = "", long v = 0, std::string n = "", uint32_t c = 0)
        : op(o), text(std::move(t)), name(std::move(n)), value(v), code(c) {}
    Step &Answer(int id) { answer = id; return *this; }
    Step &Icon() { icon = true; return *this; }
    Step &Owned(Owner o) { owner = o; return *this; }
    Step &After(long ms) { min_ms = ms; return *this; }
    Step &Within(long ms) { timeout_ms = ms; return *this; }
    Step &Editing(const std::string &t) { check_edit = true, edit = t; return *this; }
};

struct Scenario { // own: in a fresh utility, stopped afterwards
    const char *name;
    bool own;
    std::vector<Step> steps;
};

// The user.
inline Step Start(bool wait_main = true) { return Step(kStart, "", wait_main); }
inline Step Command(long id) { return Step(kCommand, "", id, "", WM_COMMAND); } // to the main window
inline Step SysCommand(long sc) { return Step(kCommand, "", sc, "", WM_SYSCOMMAND); }
inline Step Menu() { return Step(kMenu); } // opens File for a screenshot, leaves it
inline Step Dialog(const char *caption) { return Step(kDialog, "", 0, caption); } // it comes in front
inline Step Type(const std::string &t) { return Step(kType, t); } // into edit 202, then button 1
inline Step Press(long id) { return Step(kPress, "", id); }
inline Step Click(long id) { return Step(kClick, "", id); }
// What the user sees. A box has the caption of the dialog in front unless named.
inline Step Box(const std::string &t, const char *caption = "") { return Step(kBox, t, 0, caption); }
inline Step NoBox(long ms) { return Step(kNoBox, "", ms); }
inline Step Edit(const std::string &t) { return Step(kEdit, t); }
inline Step Radio(long id) { return Step(kRadio, "", id); } // of 220 to 225 only id is checked
inline Step Gone() { return Step(kGone); }                  // the dialog in front has ended
inline Step Alive() { return Step(kAlive); }
inline Step NoDialog(long ms) { return Step(kNoDialog, "", ms); }
inline Step Line(const std::string &t) { return Step(kLine, t); } // the index line shows t
inline Step Shot(const char *name) { return Step(kShot, "", 0, name); }
inline Step Exit(long code) { return Step(kExit, "", code); }
// The unit: bytes received since the last check, "d:41" in-band, "i:07" out
// of band, "+400" a pause of at least about 400 ms before the next byte.
inline Step Sent(const std::string &t) { return Step(kSent, t); }
inline Step Control(uint32_t code, const std::string &in = "") { return Step(kControl, in, 0, "", code); }
inline Step Report(const std::string &bytes) { return Control(MXSIM_IOCTL_REPORT, bytes); }
inline Step Set(uint32_t code, uint32_t v) { return Control(code, std::string((const char *)&v, sizeof v)); }
inline Step State(uint32_t MxsimState::*f, long v) { Step s(kState, "", v); s.field = f; return s; }
inline Step Await(uint32_t MxsimState::*f, long v) { Step s(kAwait, "", v); s.field = f; return s; }
// Files in the utility's folder (deleted after the scenario); a pipe that it
// may open, and that then serves bytes and breaks (a read error).
inline Step File(const char *name, const std::string &bytes) { return Step(kFile, bytes, 0, name); }
inline Step Pipe(const char *path) { return Step(kPipe, "", 0, path); }
inline Step Break(const std::string &bytes) { return Step(kPipe, bytes); }

std::string Data(const std::string &bytes); // the notation of in-band text
std::vector<Scenario> Scenarios();          // gui_scenarios.cpp

} // namespace gui

#endif /* MXUAPP_GUI_HARNESS_H */
