#include "index_text.h"

#include <stdio.h>
#include <string.h>

#include <atomic>

/* Writes piece (with its terminator) at text + at so that a reader on
 * another thread finds a terminated text at every moment: the new terminator
 * and the tail go first, the character over the old terminator last. */
static void PutAt(char *text, size_t at, const char *piece, size_t length)
{
    memcpy(text + at + 1, piece + 1, length); /* piece[1..length-1] and the zero */
    std::atomic_thread_fence(std::memory_order_release);
    text[at] = piece[0];
}

void IndexTextClear(IndexDisplay *display)
{
    display->text[0] = '\0';
    display->text[INDEX_TEXT_SIZE - 1] = '\0';
    display->line_counter = 1;
}

void IndexTextSetLabel(IndexDisplay *display)
{
    memcpy(display->text, INDEX_TEXT_LABEL, sizeof INDEX_TEXT_LABEL);
    display->text[INDEX_TEXT_SIZE - 1] = '\0';
}

/* Starts the text again, keeping its label if it had one. */
static void IndexTextRestart(IndexDisplay *display)
{
    bool labelled = strncmp(display->text, INDEX_TEXT_LABEL, sizeof INDEX_TEXT_LABEL - 1) == 0;
    IndexTextClear(display);
    if (labelled)
        IndexTextSetLabel(display);
}

void IndexTextAppendByte(IndexDisplay *display, unsigned int byte)
{
    char entry[8];
    int entry_length = snprintf(entry, sizeof entry, " %x,", byte & 0xFFu);
    size_t length = strnlen(display->text, INDEX_TEXT_SIZE - 1);

    /* The entry and its terminator must fit. */
    if (length + (size_t)entry_length + 1 > INDEX_TEXT_SIZE) {
        IndexTextRestart(display);
        length = strlen(display->text);
    }
    PutAt(display->text, length, entry, (size_t)entry_length);
    length += (size_t)entry_length;

    if (length / ((size_t)INDEX_LINE_WIDTH * (size_t)display->line_counter) != 0) {
        if (length + 2 > INDEX_TEXT_SIZE) {
            /* No room for the line feed: start again with this entry. */
            IndexTextRestart(display);
            length = strlen(display->text);
            PutAt(display->text, length, entry, (size_t)entry_length);
            return;
        }
        PutAt(display->text, length, "\n", 1);
        display->line_counter++;
    }
}

const char *IndexTextCurrentLine(const char *text)
{
    const char *line_feed = strrchr(text, '\n');
    return line_feed ? line_feed + 1 : text;
}
