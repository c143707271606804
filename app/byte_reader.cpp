#include "byte_reader.h"

#include <stdio.h>

int ReadFileByte(void *file)
{
    FILE *f = static_cast<FILE *>(file);
    int c = fgetc(f);
    if (c != EOF)
        return c & 0xFF;
    return ferror(f) ? BYTE_READ_ERROR : BYTE_READ_END;
}
