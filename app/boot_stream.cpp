#include "boot_stream.h"

int StreamBootFile(FILE *file, const BootStreamSink *sink)
{
    int counter = 0;
    while (!feof(file)) {
        int c = fgetc(file);
        if (c == EOF && ferror(file))
            return 0; /* a read error sets no end-of-file indicator */
        if (!feof(file))
            sink->send((unsigned char)c, sink->context);
        if (counter == BOOT_STREAM_BEEP_EVERY) {
            sink->beep(sink->context);
            counter = 0;
        }
        counter++;
    }
    return 1;
}
