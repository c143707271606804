#include "index_text.h"

#include <stdio.h>
#include <string.h>

static void Clear(IndexDisplay *display)
{
    display->text[0] = '\0';
    display->line_counter = 1;
}

static void SetLabel(IndexDisplay *display)
{
    memcpy(display->text, INDEX_TEXT_LABEL, sizeof INDEX_TEXT_LABEL);
    display->line_counter = 1;
}

/* Starts the text again, keeping its label if it had one. */
static void Restart(IndexDisplay *display)
{
    bool labelled = strncmp(display->text, INDEX_TEXT_LABEL, sizeof INDEX_TEXT_LABEL - 1) == 0;
    Clear(display);
    if (labelled)
        SetLabel(display);
}

/* Copies at most size - 1 bytes of text[0, length) into out, terminated. */
static void CopyOut(const char *text, size_t length, char *out, size_t size)
{
    if (size == 0)
        return;
    if (length > size - 1)
        length = size - 1;
    memcpy(out, text, length);
    out[length] = '\0';
}

void IndexTextClear(IndexDisplay *display)
{
    SmallLockTake(&display->lock);
    Clear(display);
    SmallLockGive(&display->lock);
}

void IndexTextSetLabel(IndexDisplay *display)
{
    SmallLockTake(&display->lock);
    SetLabel(display);
    SmallLockGive(&display->lock);
}

void IndexTextAppendByte(IndexDisplay *display, unsigned int byte)
{
    char entry[8];
    size_t entry_length = (size_t)snprintf(entry, sizeof entry, " %x,", byte & 0xFFu);

    SmallLockTake(&display->lock);
    char *text = display->text;
    size_t length = strlen(text);
    if (length + entry_length + 1 > INDEX_TEXT_SIZE) { /* the entry and its zero must fit */
        Restart(display);
        length = strlen(text);
    }
    memcpy(text + length, entry, entry_length + 1);
    length += entry_length;

    if (length / ((size_t)INDEX_LINE_WIDTH * (size_t)display->line_counter) != 0) {
        if (length + 2 > INDEX_TEXT_SIZE) { /* no room for the line feed: this entry starts again */
            Restart(display);
            strcat(text, entry);
        } else {
            memcpy(text + length, "\n", 2);
            display->line_counter++;
        }
    }
    SmallLockGive(&display->lock);
}

void IndexTextShownLine(IndexDisplay *display, char *out, size_t size)
{
    SmallLockTake(&display->lock);
    const char *text = display->text;
    const char *end = text + strlen(text);
    if (end > text && end[-1] == '\n')
        end--; /* the new line is still empty: show the one just completed */
    const char *start = end;
    while (start > text && start[-1] != '\n')
        start--;
    CopyOut(start, (size_t)(end - start), out, size);
    SmallLockGive(&display->lock);
}

int IndexTextCopy(IndexDisplay *display, char *out, size_t size)
{
    SmallLockTake(&display->lock);
    CopyOut(display->text, strlen(display->text), out, size);
    int counter = display->line_counter;
    SmallLockGive(&display->lock);
    return counter;
}
