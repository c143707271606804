// mxuapp64.exe driven through its windows under Xvfb, against the driver
// host: menu commands, the Send Text dialog and its brace commands, the boot
// service, start-up failure and shutdown. Checks what the user saw (captions,
// message texts, the index line) and the bytes that reached the simulated
// unit (request log, transcript, state). Run by run_gui_tests.sh app, which
// brings the driver host up in a private Wine prefix under a virtual display.
//
// MXUAPP_SCREENS names the folder for the screenshots (.bmp).
#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

#include "e2e_util.h"
#include "gui_harness.h"

namespace {

const char kSendTextCaption[] = "Morvox USB  -  Send Text";
const char kUtilityCaption[] = "Morvox USB Utility";
const char kDriverNotLoaded[] = "***Error: Morvox USB driver mxusb.sys is not loaded.";

// The index line's rectangle in the main window's client area.
const int kIndexRect[4] = {10, 10, 400, 30};

std::string Join(std::initializer_list<std::string> parts)
{
    std::string out;
    for (const std::string &p : parts)
        if (!p.empty())
            out += (out.empty() ? "" : " ") + p;
    return out;
}

bool Report(const std::vector<uint8_t> &bytes)
{
    return e2e::control(MXSIM_IOCTL_REPORT, bytes.data(), (DWORD)bytes.size());
}

class AppGui : public ::testing::Test {
protected:
    gui::App app;
    std::string folder; // the program's current directory
    HWND dialog = nullptr;

    void SetUp() override
    {
        ASSERT_TRUE(e2e::reset()) << "is the driver host up?";
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        folder = std::string(temp) + "mxuapp-gui-" + std::to_string(GetTickCount());
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
    }

    void TearDown() override
    {
        if (app.process.hProcess) {
            // Dismiss whatever box is left so that the program can close.
            for (int i = 0; i < 5; i++) {
                HWND box = gui::WaitMessageBox(&app, 0);
                if (!box)
                    break;
                printf("gui: a message box was left open: \"%s\"\n", gui::MessageText(box).c_str());
                gui::Press(box, gui::HasButton(box, IDNO) ? IDNO : IDOK);
                gui::WaitGone(box, 2000);
            }
            gui::Stop(&app);
        }
        e2e::replug();
        DeleteFileA((folder + "\\bootinit.b").c_str());
        DeleteFileA((folder + "\\bootmon.b").c_str());
        RemoveDirectoryA(folder.c_str());
    }

    void StartApp()
    {
        ASSERT_TRUE(gui::Start(&app, e2e::program_folder() + "mxuapp64.exe", folder));
    }

    // Opens Send Text and moves it off the index line.
    void OpenSendText()
    {
        gui::Command(&app, 101);
        dialog = gui::WaitDialog(&app, kSendTextCaption);
        ASSERT_NE(nullptr, dialog);
        SetWindowPos(dialog, nullptr, 450, 250, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    void Type(const std::string &text)
    {
        gui::SetControlText(dialog, 202, text);
        gui::Press(dialog, IDOK);
    }

    // Waits for the box, checks caption and text, optionally saves a
    // screenshot, answers it and waits until it has gone.
    void Answer(const std::string &text, int button = IDOK, const char *screenshot = nullptr,
                DWORD timeout_ms = 15000, const char *caption = kSendTextCaption)
    {
        HWND box = gui::WaitMessageBox(&app, timeout_ms);
        ASSERT_NE(nullptr, box) << "no message box after " << timeout_ms << " ms, expected \"" << text << "\"";
        EXPECT_EQ(caption, gui::Caption(box));
        EXPECT_EQ(text, gui::MessageText(box));
        if (screenshot) {
            EXPECT_TRUE(gui::Screenshot(box, gui::ScreensFolder(), screenshot)) << screenshot;
        }
        ASSERT_TRUE(gui::HasButton(box, button)) << "button " << button << " in box \"" << text << "\"";
        gui::Press(box, button);
        EXPECT_TRUE(gui::WaitGone(box, 5000));
    }

    // Waits until the sent bytes satisfy cond (the plain-text path shows no
    // box, so the log is what tells that it is done).
    template <typename Cond>
    std::string WaitSent(Cond cond, DWORD timeout_ms = 5000)
    {
        std::string sent;
        e2e::wait_for([&] { sent = gui::Sent(); return cond(sent); }, timeout_ms, 50);
        Sleep(200);
        return gui::Sent();
    }

    std::string SendPlain(const std::string &text)
    {
        gui::ClearLog();
        Type(text);
        std::string sent = WaitSent([](const std::string &s) {
            return s.size() >= 4 && s.compare(s.size() - 4, 4, "d:0b") == 0;
        });
        EXPECT_TRUE(gui::Alive(dialog)) << "text \"" << text << "\" ended the dialog";
        e2e::wait_for([&] { return gui::ControlText(dialog, 202).empty(); }, 2000);
        EXPECT_EQ("", gui::ControlText(dialog, 202)) << "text \"" << text << "\"";
        return sent;
    }

    long Ink()
    {
        return gui::InkInClientRect(app.main, kIndexRect[0], kIndexRect[1], kIndexRect[2], kIndexRect[3]);
    }

    // Runs "{bootstrap}" up to its question (the model answers ':').
    void BootstrapToQuestion()
    {
        OpenSendText();
        gui::ClearLog();
        Type("{bootstrap}");
        HWND box = gui::WaitMessageBox(&app, 20000);
        ASSERT_NE(nullptr, box);
        EXPECT_EQ("Would you like to download the boot monitor initialization files?", gui::MessageText(box));
        EXPECT_TRUE(gui::HasButton(box, IDYES) && gui::HasButton(box, IDNO)) << "a Yes/No question";
        EXPECT_EQ("i:04 i:07 d:61", gui::Sent());
    }
};

TEST_F(AppGui, StartupWithoutTheUnitSaysTheDriverIsNotLoaded)
{
    ASSERT_TRUE(e2e::unplug());
    ASSERT_TRUE(gui::Start(&app, e2e::program_folder() + "mxuapp64.exe", folder, false));
    Answer(kDriverNotLoaded, IDOK, "startup_driver_not_loaded", 20000, kUtilityCaption);
    long code = gui::WaitExit(&app, 10000);
    EXPECT_EQ(0, code) << "exit code after the start-up failure";
}

TEST_F(AppGui, TypedLineIsSpokenAndItsIndexShown)
{
    StartApp();
    EXPECT_TRUE(gui::Screenshot(app.main, gui::ScreensFolder(), "main_window"));
    OpenSendText();
    EXPECT_EQ("", gui::ControlText(dialog, 202));
    EXPECT_TRUE(gui::Screenshot(dialog, gui::ScreensFolder(), "send_text_dialog"));
    long ink_label = Ink();
    ASSERT_GT(ink_label, 0) << "\"Indexes:\" should show";

    // Repeated blanks reach the unit as one (the library's filter).
    EXPECT_EQ(gui::Data("Hello world.\x0b"), SendPlain("Hello  world."));
    EXPECT_NE(std::string::npos, e2e::transcript().find("Hello world.")) << "transcript: " << e2e::transcript();

    // The unit answers the text with index byte 1: the line grows by " 1,".
    long ink_entry = -1;
    EXPECT_GE(e2e::wait_for([&] { ink_entry = Ink(); return ink_entry > ink_label; }, 5000, 100), 0)
        << "the index line did not change: ink " << ink_entry << ", before " << ink_label;
    EXPECT_TRUE(gui::Screenshot(app.main, gui::ScreensFolder(), "main_window_index_shown"));

    // 17 more entries of 4 characters fill the first line to 79; the 18th
    // wraps it, and the display then shows the new line being filled.
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 17; i++)
        bytes.push_back((uint8_t)(0x20 + i));
    ASSERT_TRUE(Report(bytes));
    e2e::wait_for([] { return e2e::state().pending == 0; }, 5000, 50);
    Sleep(1500);
    long ink_full = Ink();
    EXPECT_GT(ink_full, 3 * ink_entry) << "full line";
    EXPECT_TRUE(gui::Screenshot(app.main, gui::ScreensFolder(), "main_window_index_line_full"));

    ASSERT_TRUE(Report({0x40}));
    long ink = -1;
    EXPECT_GE(e2e::wait_for([&] { ink = Ink(); return ink == 0; }, 5000, 100), 0)
        << "after the wrap the new line is empty: ink " << ink;
    ASSERT_TRUE(Report({0x41}));
    EXPECT_GE(e2e::wait_for([&] { ink = Ink(); return ink > 0; }, 5000, 100), 0);
    EXPECT_LT(ink, ink_full / 4) << "the second line shows one entry";
    EXPECT_TRUE(gui::Screenshot(app.main, gui::ScreensFolder(), "main_window_index_line_wrapped"));

    gui::Press(dialog, IDCANCEL);
    EXPECT_TRUE(gui::WaitGone(dialog, 5000));
}

TEST_F(AppGui, PlainTextEscapesAndLimits)
{
    StartApp();
    OpenSendText();
    // The escapes in detail are unit-tested; here they reach the unit.
    EXPECT_EQ("d:0b", SendPlain("")) << "an empty line";
    EXPECT_EQ(gui::Data("\x0b" "A\x0b"), SendPlain("^kA"));
    EXPECT_EQ(gui::Data(std::string("x\0\x0b", 3)), SendPlain("x^`y")) << "^` ends the text";
    EXPECT_EQ(gui::Data("{RESET}\x0b"), SendPlain("{RESET}")) << "commands match with case";

    std::string long_line;
    for (int i = 0; i < 300; i++)
        long_line += (char)('a' + i % 26);
    EXPECT_EQ(gui::Data(long_line.substr(0, 255) + "\x0b"), SendPlain(long_line)) << "255 characters at most";
}

TEST_F(AppGui, BaudResetAndIndexRegistration)
{
    StartApp();
    OpenSendText();
    const struct {
        const char *command, *sent, *message;
    } simple[] = {
        {"{baud=57600}", "i:04", "Baud rate reset to 57,600bps."},
        {"{baud=19200}", "i:05", "Baud rate reset to 19,200bps."},
        {"{reset}", "i:07", "Morvox USB has been reset."},
    };
    for (const auto &c : simple) {
        gui::ClearLog();
        DWORD start = GetTickCount();
        Type(c.command);
        HWND box = gui::WaitMessageBox(&app, 10000);
        ASSERT_NE(nullptr, box) << c.command;
        DWORD elapsed = GetTickCount() - start;
        EXPECT_EQ(c.sent, gui::Sent()) << c.command;
        EXPECT_EQ(dialog, GetWindow(box, GW_OWNER)) << c.command << ": owned by the dialog";
        EXPECT_EQ(c.command, gui::ControlText(dialog, 202)) << "emptied only after the box";
        if (c.sent == std::string("i:07")) {
            EXPECT_GE(elapsed, 1800u) << "{reset} waits 2000 ms before its box";
        }
        Answer(c.message, IDOK, c.sent == std::string("i:07") ? "box_reset" : nullptr);
        e2e::wait_for([&] { return gui::ControlText(dialog, 202).empty(); }, 2000);
        EXPECT_EQ("", gui::ControlText(dialog, 202)) << c.command;
    }

    // Registration: the boxes have no owner; bytes then come as message 1280.
    for (int round = 0; round < 2; round++) {
        Type("{regindexes}");
        HWND box = gui::WaitMessageBox(&app, 10000);
        ASSERT_NE(nullptr, box);
        EXPECT_EQ(nullptr, GetWindow(box, GW_OWNER));
        Answer("Index callback routine has been registered.", IDOK, round ? nullptr : "box_registered");
    }
    long before = Ink();
    SendPlain("hi");
    long ink = -1;
    EXPECT_GE(e2e::wait_for([&] { ink = Ink(); return ink > before; }, 5000, 100), 0)
        << "an index byte posted to the window should show: ink " << ink << ", before " << before;

    Type("{unregindexes}");
    Answer("Index callback routine has been unregistered.");
    before = Ink();
    SendPlain("ho");
    EXPECT_GE(e2e::wait_for([&] { ink = Ink(); return ink > before; }, 5000, 100), 0)
        << "after unregistering the monitor reads the library again";
}

TEST_F(AppGui, BootMonitorModeAndRead)
{
    StartApp();
    OpenSendText();

    gui::ClearLog();
    Type("{read}00000001");
    HWND box = gui::WaitMessageBox(&app, 10000);
    ASSERT_NE(nullptr, box);
    EXPECT_EQ("i:06", gui::Sent()) << "speech is stopped before the refusal";
    Answer("You must be in boot monitor mode to use this command.", IDOK, "box_read_refused");
    EXPECT_TRUE(gui::Alive(dialog));

    gui::ClearLog();
    Type("{bootmonitor}");
    box = gui::WaitMessageBox(&app, 15000);
    ASSERT_NE(nullptr, box);
    EXPECT_EQ("d:01 d:02 d:42 i:07 i:04 d:01 d:02 d:42", gui::Sent());
    EXPECT_EQ("", gui::ControlText(dialog, 202)) << "emptied before the box";
    EXPECT_EQ(1u, e2e::state().boot_monitor);
    Answer("Entering boot monitor mode.", IDOK, "box_boot_monitor");

    // Too short an operand is refused, with nothing sent after the stop byte.
    gui::ClearLog();
    Type("{read}123");
    box = gui::WaitMessageBox(&app, 10000);
    ASSERT_NE(nullptr, box);
    std::string text = gui::MessageText(box);
    EXPECT_EQ(0u, text.find("***Error: ")) << text;
    EXPECT_NE(std::string::npos, text.find("eight hexadecimal digits")) << text;
    EXPECT_EQ("i:06", gui::Sent());
    Answer(text, IDOK, "box_read_short");
    EXPECT_TRUE(gui::Alive(dialog));

    // "{reset}" keeps boot monitor mode.
    Type("{reset}");
    Answer("Morvox USB has been reset.");

    gui::ClearLog();
    Type("{read}0001A2F0");
    EXPECT_TRUE(gui::WaitGone(dialog, 5000)) << "an accepted {read} ends the dialog";
    EXPECT_EQ("i:06 d:01 d:02 d:52 d:00 d:0f d:02 d:0a d:01 d:00 d:00 d:00", gui::Sent());
    MxsimState s = e2e::state();
    EXPECT_EQ(1u, s.read_requests);
    EXPECT_EQ(nullptr, gui::WaitMessageBox(&app, 500)) << "no message after {read}";

    OpenSendText();
    gui::ClearLog();
    Type("{normal}");
    box = gui::WaitMessageBox(&app, 15000);
    ASSERT_NE(nullptr, box);
    EXPECT_EQ("i:04 d:01 d:02 d:4e i:07 i:05", gui::Sent());
    EXPECT_EQ("{normal}", gui::ControlText(dialog, 202)) << "emptied after the box";
    Answer("Morvox USB reset to normal mode.", IDOK, "box_normal");
    EXPECT_EQ(0u, e2e::state().boot_monitor);

    Type("{read}00000000");
    Answer("You must be in boot monitor mode to use this command.");
    gui::Press(dialog, IDCANCEL);
    EXPECT_TRUE(gui::WaitGone(dialog, 5000));
}

TEST_F(AppGui, BootstrapWithoutPromptGivesUpAfterFiveSeconds)
{
    ASSERT_TRUE(e2e::set_u32(MXSIM_IOCTL_SET_REPLIES, SIM_REPLIES_OFF));
    StartApp();
    OpenSendText();
    gui::ClearLog();
    DWORD start = GetTickCount();
    Type("{bootstrap}");
    HWND box = gui::WaitMessageBox(&app, 40000);
    ASSERT_NE(nullptr, box);
    DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 7000u) << "2.5 s of mode changes and 49 tries 100 ms apart";
    EXPECT_LE(elapsed, 30000u);
    EXPECT_EQ("i:04 i:07 d:61", gui::Sent());
    EXPECT_EQ("", gui::ControlText(dialog, 202));
    Answer("***Error: Unable to enter boot strap mode. \nMake sure jumpers are positioned correctly on circuit board.",
           IDOK, "box_bootstrap_no_prompt");
    EXPECT_TRUE(gui::Alive(dialog)) << "the dialog stays open";
}

TEST_F(AppGui, BootstrapAnsweredNoOrRefusedByFirmware)
{
    StartApp();
    BootstrapToQuestion();
    EXPECT_TRUE(gui::Screenshot(gui::WaitMessageBox(&app, 0), gui::ScreensFolder(), "box_bootstrap_question"));
    Answer("Would you like to download the boot monitor initialization files?", IDNO);
    Answer("Boot strap mode initiated.", IDOK, "box_bootstrap_initiated");
    EXPECT_TRUE(gui::WaitGone(dialog, 5000));
    EXPECT_EQ("i:04 i:07 d:61 i:0b", gui::Sent()) << "No ends the exchange with byte 11";

    ASSERT_TRUE(e2e::set_u32(MXSIM_IOCTL_SET_FIRMWARE, 259));
    BootstrapToQuestion();
    Answer("Would you like to download the boot monitor initialization files?", IDYES);
    Answer("***Error: Eprom firmware needs to be updated before you can download boot monitor.", IDOK,
           "box_bootstrap_old_firmware");
    EXPECT_TRUE(gui::WaitGone(dialog, 5000));
    EXPECT_EQ("i:04 i:07 d:61", gui::Sent()) << "firmware 259: neither byte 10 nor 11";
}

TEST_F(AppGui, BootstrapDownloadsTheBootFiles)
{
    std::string init, monitor;
    for (int i = 0; i < 600; i++)
        init += (char)(i * 13 % 256);
    for (int i = 0; i < 100; i++)
        monitor += (char)(255 - i);
    ASSERT_TRUE(e2e::set_u32(MXSIM_IOCTL_SET_FIRMWARE, 260));
    StartApp();

    BootstrapToQuestion();
    Answer("Would you like to download the boot monitor initialization files?", IDYES);
    Answer("***Error: Unable to open bootinit.b file.", IDOK, "box_bootinit_missing");
    EXPECT_TRUE(gui::WaitGone(dialog, 5000));
    EXPECT_EQ("i:04 i:07 d:61 i:0a", gui::Sent()) << "byte 10, no byte 11";

    gui::WriteBytes(folder + "\\bootinit.b", init);
    BootstrapToQuestion();
    Answer("Would you like to download the boot monitor initialization files?", IDYES);
    Answer("***Error: Unable to open bootmon.b file.", IDOK, nullptr, 20000);
    EXPECT_TRUE(gui::WaitGone(dialog, 5000));
    EXPECT_EQ(Join({"i:04 i:07 d:61 i:0a", gui::Data(init)}), gui::Sent());

    gui::WriteBytes(folder + "\\bootmon.b", monitor);
    BootstrapToQuestion();
    Answer("Would you like to download the boot monitor initialization files?", IDYES);
    Answer("Boot monitor and initialization files downloaded successfully.", IDOK, "box_boot_files_sent", 20000);
    EXPECT_TRUE(gui::WaitGone(dialog, 5000));
    EXPECT_EQ(Join({"i:04 i:07 d:61 i:0a", gui::Data(init), gui::Data(monitor), "i:0b"}), gui::Sent());
    std::string image = e2e::image(MXSIM_IOCTL_GET_BOOT);
    EXPECT_TRUE(image == init + monitor) << "boot image of " << image.size() << " bytes, expected "
                                         << init.size() + monitor.size();
}

TEST_F(AppGui, MenuCommandsAndClosing)
{
    StartApp();
    // The File menu, opened as Alt+F would, for the screenshot; Esc twice
    // leaves the menu.
    PostMessageA(app.main, WM_SYSCOMMAND, SC_KEYMENU, 'f');
    Sleep(700);
    EXPECT_TRUE(gui::Screenshot(app.main, gui::ScreensFolder(), "main_window_file_menu"));
    for (int i = 0; i < 2; i++) {
        PostMessageA(app.main, WM_KEYDOWN, VK_ESCAPE, 0);
        PostMessageA(app.main, WM_KEYUP, VK_ESCAPE, 0);
        Sleep(200);
    }

    gui::Command(&app, 103);
    Sleep(1000);
    EXPECT_TRUE(gui::Dialogs(&app).empty()) << "command 103 does nothing";

    gui::Command(&app, 105);
    HWND compile = gui::WaitDialog(&app, "Morvox USB  -  Compile User Dictionary");
    EXPECT_NE(nullptr, compile) << "command 105 opens Compile Dictionary although no menu item sends it";
    if (compile) {
        EXPECT_TRUE(gui::Screenshot(compile, gui::ScreensFolder(), "compile_dict_dialog"));
        gui::Press(compile, IDCANCEL);
        EXPECT_TRUE(gui::WaitGone(compile, 5000));
    }

    // The system close command ends the program; the library stops speech
    // and closes the device on the way out.
    gui::ClearLog();
    PostMessageA(app.main, WM_SYSCOMMAND, SC_CLOSE, 0);
    long code = gui::WaitExit(&app, 10000);
    EXPECT_EQ(0, code) << "exit code";
    std::string sent = gui::Sent();
    EXPECT_NE(std::string::npos, sent.find("i:06")) << "sent at the end: " << sent;
    gui::Stop(&app);

    StartApp();
    gui::Command(&app, 100);
    EXPECT_EQ(0, gui::WaitExit(&app, 10000)) << "Exit";
}

} // namespace
