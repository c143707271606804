#include "text_commands.h"

#include <string.h>

/* The "C" locale's tolower and isdigit: only ASCII letters and digits. */
static unsigned char AsciiLower(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? (unsigned char)(c - 'A' + 'a') : c;
}

static bool AsciiDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

TextCommand MatchTextCommand(const char *text)
{
    static const struct {
        const char *word;
        TextCommand command;
    } table[] = {
        { "{baud=57600}",   TEXT_COMMAND_BAUD_57600 },
        { "{regindexes}",   TEXT_COMMAND_REGINDEXES },
        { "{unregindexes}", TEXT_COMMAND_UNREGINDEXES },
        { "{baud=19200}",   TEXT_COMMAND_BAUD_19200 },
        { READ_COMMAND_PREFIX, TEXT_COMMAND_READ },
        { "{bootmonitor}",  TEXT_COMMAND_BOOTMONITOR },
        { "{normal}",       TEXT_COMMAND_NORMAL },
        { "{bootstrap}",    TEXT_COMMAND_BOOTSTRAP },
        { "{reset}",        TEXT_COMMAND_RESET },
    };
    for (const auto &entry : table) {
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
