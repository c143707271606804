/*
 * text_commands.h - what the Send Text dialog makes of a typed line: one of
 * the nine brace commands, or plain text with caret escapes.
 *
 * No Windows calls: built into the utility and into the native unit tests.
 */
#ifndef MXUAPP_TEXT_COMMANDS_H
#define MXUAPP_TEXT_COMMANDS_H

#include <stddef.h>

/* The text buffer of the Send Text dialog: 255 characters and a zero. */
#define SEND_TEXT_BUFFER_SIZE 256

/* The brace commands, in the order they are tested. */
enum TextCommand {
    TEXT_COMMAND_NONE = 0,      /* plain text */
    TEXT_COMMAND_BAUD_57600,    /* "{baud=57600}" */
    TEXT_COMMAND_REGINDEXES,    /* "{regindexes}" */
    TEXT_COMMAND_UNREGINDEXES,  /* "{unregindexes}" */
    TEXT_COMMAND_BAUD_19200,    /* "{baud=19200}" */
    TEXT_COMMAND_READ,          /* "{read}" and its operand */
    TEXT_COMMAND_BOOTMONITOR,   /* "{bootmonitor}" */
    TEXT_COMMAND_NORMAL,        /* "{normal}" */
    TEXT_COMMAND_BOOTSTRAP,     /* "{bootstrap}" */
    TEXT_COMMAND_RESET          /* "{reset}" */
};

#define READ_COMMAND_PREFIX     "{read}"
#define READ_COMMAND_PREFIX_LEN 6
#define READ_OPERAND_DIGITS     8

/* The first command that text matches, or TEXT_COMMAND_NONE. Every command
 * but "{read}" must be the whole text, with case; "{read}" matches when the
 * text begins with it. */
TextCommand MatchTextCommand(const char *text);

/* The out-of-band byte a command sends before its message: 4 for
 * "{baud=57600}", 5 for "{baud=19200}", 7 for "{reset}"; -1 for the others. */
int TextCommandControlByte(TextCommand command);

/* Nonzero when the text of a "{read}" command has its eight operand
 * characters (positions 6 to 13). */
int ReadOperandComplete(const char *text);

/* The eight operand values of a complete "{read}" in the order they are
 * sent: last operand character first. A decimal digit gives its value; any
 * other character c gives (lower-case c - 87) modulo 256, so 'a'..'f' and
 * 'A'..'F' give 10 to 15 (and 'g' 16: nothing is refused). */
void ReadOperandValues(const char *text, unsigned char values[READ_OPERAND_DIGITS]);

/* Resolves the caret escapes of the plain text in buffer, in place, and
 * hands each byte to send(byte, context) in order (the closing 0x0B is the
 * caller's). A caret escapes the next character c, which becomes
 * (lower-case c - 96) modulo 256 ('^a' 0x01, '^k' 0x0B, '^`' 0x00); a caret
 * at the end is dropped. The length is measured again after every byte, so
 * an escape that yields 0x00 ends the text after that byte. Returns the
 * number of bytes handed over. */
int SendPlainText(char *buffer, void (*send)(unsigned char byte, void *context), void *context);

#endif /* MXUAPP_TEXT_COMMANDS_H */
