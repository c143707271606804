#include "boot_stream.h"

int StreamBootFile(ByteReader read, void *source, const BootStreamSink *sink)
{
    int counter = 0;
    for (;;) {
        int c = read(source);
        if (c == BYTE_READ_ERROR)
            return 0;
        if (c >= 0)
            sink->send((unsigned char)c, sink->context);
        if (counter == BOOT_STREAM_BEEP_EVERY) {
            sink->beep(sink->context);
            counter = 0;
        }
        counter++;
        if (c == BYTE_READ_END)
            return 1;
    }
}
