/* Finding things inside a loaded library image through its PE headers. */
#include "pe_image.h"

#include <string.h>

#define NtHeaders(module) ((IMAGE_NT_HEADERS *)((BYTE *)(module) + ((IMAGE_DOS_HEADER *)(module))->e_lfanew))

MxSharedSection *MxFindShared(HMODULE module, DWORD *characteristics)
{
    IMAGE_NT_HEADERS *nt = NtHeaders(module);
    IMAGE_SECTION_HEADER *s = IMAGE_FIRST_SECTION(nt);
    for (unsigned i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++s) {
        if (strncmp((const char *)s->Name, ".shared", 8) == 0) {
            MxSharedSection *shared = (MxSharedSection *)((BYTE *)module + s->VirtualAddress);
            if (characteristics)
                *characteristics = s->Characteristics;
            return shared->magic == MX_SHARED_MAGIC ? shared : NULL;
        }
    }
    return NULL;
}

void **MxFindImportSlot(HMODULE module, const char *name)
{
    BYTE *base = (BYTE *)module;
    IMAGE_DATA_DIRECTORY dir = NtHeaders(module)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (IMAGE_IMPORT_DESCRIPTOR *d = (IMAGE_IMPORT_DESCRIPTOR *)(base + dir.VirtualAddress); d->Name; d++) {
        IMAGE_THUNK_DATA *iat = (IMAGE_THUNK_DATA *)(base + d->FirstThunk);
        IMAGE_THUNK_DATA *names = (IMAGE_THUNK_DATA *)(base + d->OriginalFirstThunk);
        for (size_t i = 0; iat[i].u1.Function; i++) {
            if (IMAGE_SNAP_BY_ORDINAL(names[i].u1.Ordinal))
                continue;
            const char *n = (const char *)((IMAGE_IMPORT_BY_NAME *)(base + names[i].u1.AddressOfData))->Name;
            if (strcmp(n, name) == 0)
                return (void **)&iat[i].u1.Function;
        }
    }
    return NULL;
}

