/*
 * index_text.h - the index display line (IndexText, IndexLineCounter).
 *
 * The text is "Indexes:" (or empty, after a service operation cleared it)
 * followed by one " %x," entry per byte shown. After an entry that brings the
 * text to 80 x IndexLineCounter characters or more, a line feed is appended
 * and the counter goes up by one; the line feeds already in the text count
 * towards the length.
 *
 * The text holds INDEX_TEXT_SIZE bytes with its terminating zero. When an
 * entry, or the line feed after it, would not fit, the text starts again:
 * from "Indexes:" if it began with that label, else from the empty text, with
 * the counter at 1. Nothing is ever written past the buffer and its last byte
 * is always zero, so a reader on another thread always finds a terminator.
 *
 * No Windows calls: built into the utility and into the native unit tests.
 */
#ifndef MXUAPP_INDEX_TEXT_H
#define MXUAPP_INDEX_TEXT_H

#include <stddef.h>

#define INDEX_TEXT_SIZE  4096
#define INDEX_TEXT_LABEL "Indexes:"
#define INDEX_LINE_WIDTH 80

struct IndexDisplay {
    char text[INDEX_TEXT_SIZE];
    int line_counter; /* number of the line being filled, 1 after every reset */
};

/* Empty text, counter 1. */
void IndexTextClear(IndexDisplay *display);

/* Text = "Indexes:" (the counter is left as it is). */
void IndexTextSetLabel(IndexDisplay *display);

/* Appends the entry " %x," for byte (0 to 255) and wraps (see above). */
void IndexTextAppendByte(IndexDisplay *display, unsigned int byte);

/* The line being filled: the text after its last line feed. */
const char *IndexTextCurrentLine(const char *text);

#endif /* MXUAPP_INDEX_TEXT_H */
