#include "text_commands.h"

#include <string.h>

#include "mxusb_protocol.h"

/* The "C" locale's tolower and isdigit: only ASCII letters and digits. */
static unsigned char AsciiLower(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? (unsigned char)(c - 'A' + 'a') : c;
}

static bool AsciiDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

/* The commands in the order they are tested, with their out-of-band byte. */
static const struct {
    const char *word;
    TextCommand command;
    int control_byte;
} CommandTable[] = {
    { "{baud=57600}",      TEXT_COMMAND_BAUD_57600,   SYNTH_OOB_BAUD_57600 },
    { "{regindexes}",      TEXT_COMMAND_REGINDEXES,   -1 },
    { "{unregindexes}",    TEXT_COMMAND_UNREGINDEXES, -1 },
    { "{baud=19200}",      TEXT_COMMAND_BAUD_19200,   SYNTH_OOB_BAUD_19200 },
    { READ_COMMAND_PREFIX, TEXT_COMMAND_READ,         -1 },
    { "{bootmonitor}",     TEXT_COMMAND_BOOTMONITOR,  -1 },
    { "{normal}",          TEXT_COMMAND_NORMAL,       -1 },
    { "{bootstrap}",       TEXT_COMMAND_BOOTSTRAP,    -1 },
    { "{reset}",           TEXT_COMMAND_RESET,        SYNTH_OOB_RESET },
};

int TextCommandControlByte(TextCommand command)
{
    for (const auto &entry : CommandTable) {
        if (entry.command == command)
            return entry.control_byte;
    }
    return -1;
}

TextCommand MatchTextCommand(const char *text)
{
    for (const auto &entry : CommandTable) {
        if (entry.command == TEXT_COMMAND_READ) {
            if (strncmp(text, READ_COMMAND_PREFIX, READ_COMMAND_PREFIX_LEN) == 0)
                return entry.command;
        } else if (strcmp(text, entry.word) == 0) {
            return entry.command;
        }
    }
    return TEXT_COMMAND_NONE;
}

int ReadOperandComplete(const char *text)
{
    return strnlen(text, READ_COMMAND_PREFIX_LEN + READ_OPERAND_DIGITS) ==
           READ_COMMAND_PREFIX_LEN + READ_OPERAND_DIGITS;
}

void ReadOperandValues(const char *text, unsigned char values[READ_OPERAND_DIGITS])
{
    const unsigned char *operand = (const unsigned char *)text + READ_COMMAND_PREFIX_LEN;
    for (int i = 0; i < READ_OPERAND_DIGITS; i++) {
        unsigned char c = operand[READ_OPERAND_DIGITS - 1 - i];
        values[i] = AsciiDigit(c) ? (unsigned char)(c - '0')
                                  : (unsigned char)(AsciiLower(c) - 87);
    }
}

int SendPlainText(char *buffer, void (*send)(unsigned char byte, void *context), void *context)
{
    size_t n = strlen(buffer);
    size_t i = 0;
    int sent = 0;
    while (i < n) {
        if (buffer[i] == '^') {
            i++;
            if (i >= n)
                break; /* a caret at the end is not sent */
            buffer[i] = (char)(unsigned char)(AsciiLower((unsigned char)buffer[i]) - 96);
        }
        send((unsigned char)buffer[i], context);
        sent++;
        i++;
        n = strlen(buffer);
    }
    return sent;
}
