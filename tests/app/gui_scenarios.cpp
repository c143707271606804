// What a user does with mxuapp64.exe and what must follow, scenario by
// scenario: boxes, the bytes the unit receives with the pauses between them,
// the index line. Played in this order by the runner (gui_harness.cpp).
#include "gui_harness.h"

namespace gui {
namespace {

const char kSendText[] = "Morvox USB  -  Send Text", kSendFile[] = "Morvox USB  -  Send Text File";
const char kCompile[] = "Morvox USB  -  Compile User Dictionary";
const char kDownload[] = "Morvox USB  -  Download User Dictionary";
const char kVersionInfo[] = "Morvox Utility - Version Info";
const char kDriver[] = "***Error: Morvox USB driver mxusb.sys is not loaded.";
const char kDownloaded[] = "Dictionary downloaded successfully.";
const char kCrc[] = "***Error: 16 bit CRC Failed. Dictionary download aborted.";
const char kQuestion[] = "Would you like to download the boot monitor initialization files?";
const char kNotInBootMonitor[] = "You must be in boot monitor mode to use this command.";

// A user dictionary: the header N, M, then bytes from fill(k) up to length.
std::string Dictionary(uint32_t n, uint32_t m, size_t length, unsigned char (*fill)(size_t))
{
    std::string d(length, '\0');
    for (size_t k = 0; k < length; k++)
        d[k] = (char)(k < 8 ? (k < 4 ? n : m) >> (8 * (k % 4)) : fill(k));
    return d;
}
unsigned char Pattern(size_t k) { return (unsigned char)(k * 37 + 11); }
std::string Bytes(unsigned from, unsigned count, unsigned step = 1)
{
    std::string out;
    for (unsigned i = 0; i < count; i++)
        out += (char)(from + i * step);
    return out;
}
unsigned Sum(const std::string &bytes)
{
    unsigned sum = 0;
    for (unsigned char c : bytes)
        sum += c;
    return sum & 0xFFFF;
}
// A download in language d up to the file's last byte.
std::string Download(int d, const std::string &file)
{
    char head[64];
    snprintf(head, sizeof head, "i:06 d:01 d:6c d:%02x +3000 i:06 d:01 d:75 +50 d:%02x d:%02x ", '0' + d,
             (unsigned)file.size() & 0xFF, (unsigned)file.size() >> 8);
    return head + Data(file);
}
std::vector<Step> Join(std::initializer_list<std::vector<Step>> parts)
{
    std::vector<Step> all;
    for (const std::vector<Step> &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}
std::vector<Step> Bootstrap(int answer) // in a new Send Text dialog, up to the question
{
    return {Command(101), Dialog(kSendText), Type("{bootstrap}"), Box(kQuestion).Icon().Answer(answer)};
}

} // namespace

std::vector<Scenario> Scenarios()
{
    const std::string init = Bytes(0, 600, 13), monitor = Bytes(255, 100, 255);
    std::string longLine;
    for (int i = 0; i < 300; i++)
        longLine += (char)('a' + i % 26);
    const std::string dict = Dictionary(3, 20, 40, Pattern), dict300 = Dictionary(1, 288, 300, Pattern),
                      dict4k = Dictionary(10, 3952, 4000, Pattern);
    // Its sum 0xFFFF matches a reply that never comes (0xFF, 0xFF): 'p' goes out.
    const std::string ffff = Dictionary(0, 257, 265, [](size_t k) { return (unsigned char)(k < 263 ? 0xFF : 0xFE); });
    // The reply to the 4000 bytes, then 499 bytes that the wait for 'f' drops:
    // 'f' comes on its 500th and last try.
    const std::string lastTry = std::string{(char)(Sum(dict4k) & 0xFF), (char)(Sum(dict4k) >> 8)} +
                                std::string(499, 'g') + "f";
    std::string eighteen = "Indexes:"; // 18 entries of 4 characters make 80: the line wraps
    for (unsigned b = 0x20; b < 0x32; b++)
        eighteen += " " + Data(std::string(1, (char)b)).substr(2) + ",";
    const char *pipeText = "\\\\.\\pipe\\mxgui-broken.txt", *pipeDict = "\\\\.\\pipe\\mxgui-broken.dic";
    const Step cancel = Press(IDCANCEL), off = Set(MXSIM_IOCTL_SET_REPLIES, SIM_REPLIES_OFF);
    const Step registered = Box("Index callback routine has been registered.").Owned(kNoOwner);

    return {
        {"StartupWithoutTheUnit", true, {Control(MXSIM_IOCTL_UNPLUG), Start(false),
            Box(kDriver, "Morvox USB Utility").Owned(kNoOwner), Exit(0)}},
        {"TypedLineIsSpokenAndItsIndexShown", true, {Start(), Shot("main_window"), Command(101), Dialog(kSendText),
            Edit(""), Line("Indexes:"), Type("Hello  world."), Sent(Data("Hello world.\x0b")), Edit(""), Alive(),
            Line("Indexes: 1,"), Shot("main_window_index_shown")}},
        // The line drawn is the newest: the completed one until the next has an entry.
        {"IndexLineWraps", false, {Command(101), Dialog(kSendText), Type(""), Sent("d:0b"), // resumes collection
            Line("Indexes:"), Report(Bytes(0x20, 18)), Line(eighteen), Shot("main_window_index_line_full"),
            Report("\x32"), Line(" 32,"), Shot("main_window_index_line_wrapped")}},
        {"PlainTextEscapesAndLimits", false, {Command(101), Dialog(kSendText), Type(""), Sent("d:0b"), Edit(""),
            Type("^kA"), Sent(Data("\x0b" "A\x0b")), Edit(""), Type("x^`y"), Sent(Data(std::string("x\0\x0b", 3))),
            Type("{RESET}"), Sent(Data("{RESET}\x0b")), Type(longLine), Sent(Data(longLine.substr(0, 255) + "\x0b")),
            Edit(""), Alive()}},
        {"BaudResetAndIndexRegistration", false, {Command(101), Dialog(kSendText), Type(""), Sent("d:0b"),
            Type("{baud=57600}"), Box("Baud rate reset to 57,600bps.").Editing("{baud=57600}"), Edit(""), Sent("i:04"),
            Type("{baud=19200}"), Box("Baud rate reset to 19,200bps.").Editing("{baud=19200}"), Edit(""), Sent("i:05"),
            Type("{reset}"), Box("Morvox USB has been reset.").Editing("{reset}").After(1800), Edit(""), Sent("i:07"),
            Type("{regindexes}"), registered, Type("{regindexes}"), registered,
            Report("\x5a"), Line("Indexes: 5a,"), // posted to the window as message 1280
            Type("{unregindexes}"), Box("Index callback routine has been unregistered.").Owned(kNoOwner),
            Report("\x5b"), Line("Indexes: 5a, 5b,"), Edit("")}},
        {"BootMonitorModeAndRead", false, {Command(101), Dialog(kSendText),
            Type("{read}00000001"), Box(kNotInBootMonitor), Sent("i:06"), Alive(),
            Type("{bootmonitor}"), Box("Entering boot monitor mode.").Editing("").After(2700),
            Sent("d:01 d:02 d:42 +400 i:07 +2000 i:04 +400 d:01 d:02 d:42"),
            Type("{read}123"), Box("***Error: The {read} command needs eight digits after {read}."), Sent("i:06"),
            Type("{reset}"), Box("Morvox USB has been reset."), Sent("i:07"), // keeps boot monitor mode
            Type("{read}0001A2F0"), Gone(), NoBox(500),
            Sent("i:06 d:01 d:02 d:52 d:00 d:0f d:02 d:0a d:01 d:00 d:00 d:00"), Command(101), Dialog(kSendText),
            Type("{normal}"), Box("Morvox USB reset to normal mode.").Editing("{normal}").After(3400),
            Sent("i:04 +400 d:01 d:02 d:4e +1000 i:07 +2000 i:05"),
            Type("{read}00000000"), Box(kNotInBootMonitor), Edit(""), Sent("i:06")}},
        {"BootstrapWithoutPrompt", false, {off, Command(101), Dialog(kSendText), Type("{bootstrap}"),
            Box("***Error: Unable to enter boot strap mode. \nMake sure jumpers are positioned correctly on circuit "
                "board.").After(7000).Within(40000), Sent("i:04 +400 i:07 +2000 d:61"), Edit(""), Alive()}},
        {"BootstrapAnsweredNo", false, Join({Bootstrap(IDNO), {
            Box("Boot strap mode initiated."), Gone(), Sent("i:04 i:07 d:61 i:0b")}})},
        {"BootstrapRefusedByFirmware259", false, Join({{Set(MXSIM_IOCTL_SET_FIRMWARE, 259)}, Bootstrap(IDYES), {
            Box("***Error: Eprom firmware needs to be updated before you can download boot monitor."), Gone(),
            Sent("i:04 i:07 d:61")}})},
        {"BootstrapDownloadsTheBootFiles", false, Join({{Set(MXSIM_IOCTL_SET_FIRMWARE, 260)}, Bootstrap(IDYES),
            {Box("***Error: Unable to open bootinit.b file."), Gone(), Sent("i:04 i:07 d:61 i:0a"),
             File("bootinit.b", init)}, Bootstrap(IDYES),
            {Box("***Error: Unable to open bootmon.b file."), Gone(), Sent("i:04 i:07 d:61 i:0a " + Data(init)),
             File("bootmon.b", monitor)}, Bootstrap(IDYES),
            {Box("Boot monitor and initialization files downloaded successfully.").Icon(), Gone(),
             Sent("i:04 i:07 d:61 i:0a " + Data(init) + " " + Data(monitor) + " i:0b")}})},
        {"SendFileSpeaksFilesAndStaysOpen", false, {File("hello.txt", "Hello there, unit"),
            File("second.txt", "Second"), File("high.txt", "caf\xe9 ok\x80\xff!"), File("empty.txt", ""), Command(102),
            Dialog(kSendFile), Edit(""),
            Type("HELLO.TXT"), Sent(Data("Hello there, unit\x0b")), Edit(""), Alive(),
            Type("high.txt"), Sent(Data("caf ok!\x0b")), // the library's filter keeps 0x80 and above back
            Type("hello.txt"), Edit(""), Type("second.txt"), Sent(Data("Hello there, unit\x0bSecond\x0b")),
            Type("empty.txt"), Sent("d:0b"), Edit(""), Type("C:\\NoSuch\\MISSING.TXT"),
            Box("The file c:\\nosuch\\missing.txt could not be found."), Edit("C:\\NoSuch\\MISSING.TXT"),
            Type(""), Box("The file  could not be found."), Sent(""), Pipe(pipeText), Type(pipeText), Break("abc"),
            Box("***Error: The file " + std::string(pipeText) + " could not be read."), Sent(Data("abc\x0b")),
            Edit(pipeText), Alive()}},
        {"CompileDictionaryDoesNothingVisible", false, {File("mydict.dic", Dictionary(0, 0, 8, Pattern)),
            Command(105), Dialog(kCompile), Type("MYDICT.DIC"), NoBox(1500), Type(""), NoBox(1000), Alive(), Sent("")}},
        {"EveryDialogRefusesWithTheDriverClosed", true, {Start(), File("t.txt", "x"), File("d.dic", Bytes(0, 8, 0)),
            Control(MXSIM_IOCTL_UNPLUG), Command(102), Dialog(kSendFile), Type("t.txt"), Edit(""), // finds it broken
            Type("t.txt"), Box(kDriver), Edit("t.txt"), cancel, Gone(),
            Command(105), Dialog(kCompile), Type("d.dic"), Box(kDriver), cancel, Gone(),
            Command(106), Dialog(kDownload), Type("d.dic"), Box(kDriver), Alive(), Sent("")}},
        {"DownloadSucceeds", false, {File("lang.dic", dict), Command(106), Dialog(kDownload), Radio(220),
            Type("LANG.DIC"), Box(kDownloaded).Icon().After(2700).Within(30000), Gone().After(1300),
            Sent(Download(0, dict) + " d:70 i:07"),
            // 300 bytes are announced low byte first, 0x2C 0x01; the radio buttons are one group.
            File("small.dic", dict300), Command(106), Dialog(kDownload), Click(223), Radio(223),
            Shot("download_latin_american"), Type("small.dic"), Box(kDownloaded).Icon().Within(30000), Gone(),
            Sent(Download(3, dict300) + " d:70 i:07")}},
        {"DownloadConfirmedOnTheLastTry", false, {off, File("big.dic", dict4k), Command(106), Dialog(kDownload),
            Click(222), Type("big.dic"), Await(&MxsimState::dict_length, 1000), // no other scenario sends 1000 bytes
            Report(lastTry), Box(kDownloaded).Icon().After(50000).Within(150000), Gone(),
            State(&MxsimState::language, 2), State(&MxsimState::dict_length, 4000),
            State(&MxsimState::dict_committed, 1)}},
        {"DownloadRefusesFilesThatAreNotDictionaries", false, {File("words.txt", Dictionary(0, 0, 8, Pattern)),
            File("wrong.dic", Dictionary(2, 5, 22, Pattern)), File("empty.dic", ""), File("a.dict.txt", Bytes(2, 21)),
            // 65534 bytes are read whole (and fail the header); 65535 are too many.
            File("largest.dic", Dictionary(0, 0, 65534, Pattern)),
            File("toolarge.dic", Dictionary(0, 65535 - 8, 65535, Pattern)), Pipe(pipeDict), Command(106),
            Dialog(kDownload), Type("words.txt"), Box("***File Error: File is not a dictionary file (.DIC)."),
            Edit("words.txt"), Type("C:\\NoSuch\\GONE.DIC"), Box("The file c:\\nosuch\\gone.dic could not be found."),
            Edit("C:\\NoSuch\\GONE.DIC"), Type("WRONG.DIC"),
            Box("***Error: The file wrong.dic is not a Morvox USB dictionary file."), Edit(""), Alive(),
            Type("empty.dic"), Box("***Error: The file empty.dic is not a Morvox USB dictionary file."), Edit(""),
            Type("A.DICT.TXT"),
            Box("***Error: The file a.dict.txt is not a Morvox USB dictionary file."), Edit(""), Type("largest.dic"),
            Box("***Error: The file largest.dic is not a Morvox USB dictionary file."), Type(pipeDict), Break("abc"),
            Box("***Error: The file " + std::string(pipeDict) + " could not be read."), Alive(), Type("toolarge.dic"),
            Box("***Error: Dictionary file size is to large. (Max=64K Bytes)"), Gone(), Sent("")}},
        {"DownloadFailsOnWrongOrMissingReplies", false, {File("replies.dic", dict), File("silent.dic", ffff),
            Set(MXSIM_IOCTL_SET_REPLIES, SIM_REPLIES_WRONG), Command(106), Dialog(kDownload), Click(225),
            Type("replies.dic"), Box(kCrc).Within(30000), Gone(), Sent(Download(5, dict) + " i:07"), off,
            Command(106), Dialog(kDownload), Click(224), Type("replies.dic"), Box(kCrc).After(7500).Within(40000),
            Gone(), Sent(Download(4, dict) + " i:07"), Command(106), Dialog(kDownload), Click(221), Type("silent.dic"),
            Box("***Error: Program timed out waiting for download confirmation.").After(58000).Within(150000),
            Gone(), Sent(Download(1, ffff) + " d:70")}},
        {"VersionInfo", false, {Set(MXSIM_IOCTL_SET_FIRMWARE, 0x259),
            Control(MXSIM_IOCTL_SET_VERSION, "\xEF\xBE\xAD\xDE\x34\x12\x07\x02"), Command(104),
            Box("Morvox USB Firmware: 0x1234\nMorvox Engine: 0xdeadbeef\nEprom Firmware: 0x259", kVersionInfo).Icon(),
            Sent("i:06 d:01 d:02 d:3f"), off, Command(104), Sent("i:06 d:01 d:02 d:3f"), Report("\x10\x32\x54\x76\x05"),
            Box("Eprom Firmware: 0x259", kVersionInfo).Icon(), // five of the six bytes
            Command(104), Box("Eprom Firmware: 0x259", kVersionInfo).Icon().After(1700)}},
        {"VersionInfoInBootMonitorModeAndWithNotification", false, {Set(MXSIM_IOCTL_SET_FIRMWARE, 0x104), Command(101),
            Dialog(kSendText), Type("{bootmonitor}"), Box("Entering boot monitor mode."), cancel, Gone(),
            Sent("d:01 d:02 d:42 i:07 i:04 d:01 d:02 d:42"), Command(104),
            Box("Boot Monitor: 0x207\nEprom Firmware: 0x104", kVersionInfo).Icon(), Sent("i:06 d:01 d:02 d:51"), off,
            Command(104), Sent("i:06 d:01 d:02 d:51"), Report("\x07"), // one of the two bytes
            Box("Eprom Firmware: 0x104", kVersionInfo).Icon(),
            Set(MXSIM_IOCTL_SET_REPLIES, SIM_REPLIES_ON), Command(101), Dialog(kSendText), Type("{normal}"),
            Box("Morvox USB reset to normal mode."), Type("{regindexes}"), registered, cancel,
            Gone(), Sent("i:04 d:01 d:02 d:4e i:07 i:05"), // the replies now go to the sleeping main window:
            Command(104), Box("Eprom Firmware: 0x104", kVersionInfo).Icon(), Sent("i:06 d:01 d:02 d:3f"),
            Command(101), Dialog(kSendText), Type("{unregindexes}"),
            Box("Index callback routine has been unregistered.").Owned(kNoOwner)}},
        {"MenuCommandsAndClosing", true, {Start(), Menu(), Command(103), NoDialog(1000), Command(105),
            Dialog(kCompile), cancel, Gone(), Sent(""), SysCommand(SC_CLOSE), Exit(0),
            Sent("i:06"), // the library stops speech on the way out
            Start(), Command(100), Exit(0)}},
    };
}

} // namespace gui
