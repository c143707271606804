/* pe_image.h - finding things inside a loaded library image (tests, benchmarks). */
#ifndef MX_PE_IMAGE_H
#define MX_PE_IMAGE_H

#include <windows.h>
#include "rings.h"

/* The image's `.shared` section, or NULL when absent or without MX_SHARED_MAGIC. */
MxSharedSection *MxFindShared(HMODULE module, DWORD *characteristics = NULL);
/* The module's import slot for `name` (from any DLL), or NULL. */
void **MxFindImportSlot(HMODULE module, const char *name);

#endif
