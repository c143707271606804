/*
 * index_text.h - the index display line (IndexText, IndexLineCounter).
 *
 * The text is "Indexes:" (or empty, after a service operation cleared it)
 * followed by one " %x," entry per byte shown. After an entry that brings the
 * text to 80 x IndexLineCounter characters or more, a line feed is appended
 * and the counter goes up by one; the line feeds already in the text count
 * towards the length. The counter is 1 from the start and after every reset.
 *
 * The text holds INDEX_TEXT_SIZE bytes with its terminating zero. When an
 * entry, or the line feed after it, would not fit, the text starts again:
 * from "Indexes:" if it began with that label, else from the empty text, with
 * the counter at 1.
 *
 * Threads: the monitor appends, the main thread resets and paints. Every
 * function runs under the display's lock, so a reset never falls between an
 * entry and its line feed or counter update.
 *
 * No Windows calls: built into the utility and into the native unit tests.
 */
#ifndef MXUAPP_INDEX_TEXT_H
#define MXUAPP_INDEX_TEXT_H

#include <stddef.h>

#include "small_lock.h"

#define INDEX_TEXT_SIZE  4096
#define INDEX_TEXT_LABEL "Indexes:"
#define INDEX_LINE_WIDTH 80

struct IndexDisplay {
    SmallLock lock;                    /* guards both fields */
    char text[INDEX_TEXT_SIZE] = {};   /* IndexText */
    int line_counter = 1;              /* IndexLineCounter: the line being filled */
};

/* Empty text, counter 1. */
void IndexTextClear(IndexDisplay *display);

/* Text = "Indexes:", counter 1: the display starts again under its label
 * (it always follows a clear; an entry appended in between is dropped with
 * its line feeds, so the counter must start again too). */
void IndexTextSetLabel(IndexDisplay *display);

/* Appends the entry " %x," for byte (0 to 255) and wraps (see above). */
void IndexTextAppendByte(IndexDisplay *display, unsigned int byte);

/* Copies the line to show into out (size bytes, without a line feed): the
 * line being filled, or, while that is still empty right after a wrap, the
 * line just completed. */
void IndexTextShownLine(IndexDisplay *display, char *out, size_t size);

/* Copies the whole text into out (size bytes) and returns the counter. */
int IndexTextCopy(IndexDisplay *display, char *out, size_t size);

#endif /* MXUAPP_INDEX_TEXT_H */
