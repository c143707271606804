// libFuzzer target for the dictionary checks: any input is a file. The read,
// the length test and the sum must agree with a plain 64-bit recomputation
// and never touch memory outside the image.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "dictionary_check.h"

namespace {
struct Source { const uint8_t *data; size_t size, pos; };
int ReadSource(void *p)
{
    Source *s = static_cast<Source *>(p);
    return s->pos < s->size ? s->data[s->pos++] : BYTE_READ_END;
}
unsigned char image[DICT_IMAGE_SIZE];
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Source s = {data, size, 0};
    uint32_t count = 0;
    DictReadResult r = ReadDictionaryImage(ReadSource, &s, image, &count);
    if (size > DICT_MAX_BYTES) {
        if (r != DICT_READ_TOO_LARGE || count != DICT_MAX_BYTES + 1) abort();
        return 0;
    }
    if (r != DICT_READ_OK || count != size) abort();
    int matches = DictLengthMatches(image, count);
    if (size >= 8) {
        uint64_t n = data[0] | data[1] << 8 | data[2] << 16 | (uint64_t)data[3] << 24;
        uint64_t m = data[4] | data[5] << 8 | data[6] << 16 | (uint64_t)data[7] << 24;
        if (matches != (((8 + 4 * n + m) & 0xFFFFFFFFu) == size)) abort();
    } else if (matches) {
        abort();
    }
    uint32_t sum = 0;
    for (size_t i = 0; i < size; ++i) sum += data[i];
    if (DictSum(image, count) != (sum & 0xFFFF)) abort();
    return 0;
}
