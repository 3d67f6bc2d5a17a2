// .dfu files and images (STDFUFILES_*). Portable. Calls run on the caller's thread, touch only
// the file system and memory, and return STDFU_NOERROR or a STDFUFILES_* code (dfuse_types.h).
// Handles are owned by the caller until the matching close or destroy call; an image is used by
// one thread at a time (an operation owns its context's image until it is stopped).
#pragma once

#include <cstdint>

#include "dfu/dfuse/dfuse_types.h"

// One element of an image. GetImageElement with Data null gives address and length; with
// Data set it copies dwDataLength bytes (the caller's buffer) from the element's start.
struct DfuElement {
  uint32_t dwAddress = 0;
  uint32_t dwDataLength = 0;
  uint8_t* Data = nullptr;
};

// Files larger than this are refused as not a package.
constexpr uint32_t kMaxDfuFileBytes = 64u * 1024 * 1024;

// Reads and checks the whole file (prefix, targets, elements, suffix, CRC). Each out pointer
// may be null. STDFUFILES_FILEOPENERROR when it cannot be read, STDFUFILES_BADFORMAT when any
// part is wrong; *file is null then.
uint32_t STDFUFILES_OpenExistingDFUFile(const char* path, DfuFileHandle* file, uint16_t* vendor,
                                        uint16_t* product, uint16_t* release, uint8_t* imageCount);
uint32_t STDFUFILES_CloseDFUFile(DfuFileHandle file);
// An independent copy of image `index`, for the caller to destroy.
uint32_t STDFUFILES_ReadImageFromDFUFile(DfuFileHandle file, int index, DfuImageHandle* image);

// A new, empty file in memory; images are appended, SaveDFUFile writes it to `path`.
uint32_t STDFUFILES_CreateNewDFUFile(const char* path, DfuFileHandle* file, uint16_t vendor,
                                     uint16_t product, uint16_t release);
uint32_t STDFUFILES_AppendImageToDFUFile(DfuFileHandle file, DfuImageHandle image);
uint32_t STDFUFILES_SaveDFUFile(DfuFileHandle file);

uint32_t STDFUFILES_CreateImage(DfuImageHandle* image, uint8_t alternate);
// An image without elements for the entry's alternate setting and name.
uint32_t STDFUFILES_CreateImageFromMapping(DfuImageHandle* image, const DfuMappingEntry* entry);
uint32_t STDFUFILES_DuplicateImage(DfuImageHandle source, DfuImageHandle* copy);
uint32_t STDFUFILES_DestroyImage(DfuImageHandle* image);

// Prepares the image for `operation` on the target `entry` describes: it remembers the entry
// and checks every element against its sectors (download: writeable, upload: readable, erase:
// inside the mapping). STDFUFILES_ELEMENTOUTOFMAP when an element does not fit; an operation
// launched on such an image then fails with STDFUPRT_ADDRESSOUTOFMAP. `flag` is reserved (0).
uint32_t STDFUFILES_FilterImageForOperation(DfuImageHandle image, const DfuMappingEntry* entry,
                                            uint32_t operation, uint32_t flag);

uint32_t STDFUFILES_GetImageAlternate(DfuImageHandle image, uint8_t* alternate);
// The name, NUL-terminated, into a 512-byte buffer.
uint32_t STDFUFILES_GetImageName(DfuImageHandle image, char* name);
uint32_t STDFUFILES_SetImageName(DfuImageHandle image, const char* name);
// The sum of the elements' lengths in bytes; 0 for a null image.
uint32_t STDFUFILES_GetImageSize(DfuImageHandle image);
uint32_t STDFUFILES_GetImageNbElement(DfuImageHandle image, uint32_t* count);
uint32_t STDFUFILES_GetImageElement(DfuImageHandle image, uint32_t index, DfuElement* element);
// Appends a copy of element->Data (dwDataLength bytes) at element->dwAddress.
uint32_t STDFUFILES_AppendImageElement(DfuImageHandle image, const DfuElement* element);
