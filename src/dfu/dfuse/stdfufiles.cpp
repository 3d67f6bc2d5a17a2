// .dfu files and images behind handles. Portable (std::filesystem for sizes, stdio for bytes).
#include "dfu/dfuse/stdfufiles.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "dfu/dfuse/dfu_file_format.h"
#include "dfu/dfuse/dfu_image.h"
#include "platform/paths.h"

struct DfuFile {
  std::string path;  // where SaveDFUFile writes; "" for a file read from disk
  DfuFileData data;
};

namespace {

bool ReadWholeFile(const char* path, std::vector<uint8_t>* out) {
  std::FILE* f = platform::OpenFile(path, "rb");
  if (!f) return false;
  out->clear();
  uint8_t chunk[65536];
  bool ok = true;
  for (;;) {
    size_t got = std::fread(chunk, 1, sizeof chunk, f);
    if (got == 0) break;
    if (out->size() + got > kMaxDfuFileBytes) {
      ok = false;
      break;
    }
    out->insert(out->end(), chunk, chunk + got);
  }
  if (std::ferror(f)) ok = false;
  std::fclose(f);
  return ok;
}

// Does [address, address + size) lie in sectors that all carry `need`?
bool Covered(const DfuMappingEntry& entry, uint32_t address, uint32_t size, uint8_t need) {
  uint64_t at = address;
  const uint64_t end = static_cast<uint64_t>(address) + size;
  while (at < end) {
    bool found = false;
    for (const DfuSector& s : entry.sectors) {
      uint64_t sEnd = static_cast<uint64_t>(s.address) + s.size;
      if (at >= s.address && at < sEnd) {
        if ((s.attributes & need) != need) return false;
        at = sEnd;
        found = true;
        break;
      }
    }
    if (!found) return false;
  }
  return true;
}

}  // namespace

uint32_t STDFUFILES_OpenExistingDFUFile(const char* path, DfuFileHandle* file, uint16_t* vendor,
                                        uint16_t* product, uint16_t* release, uint8_t* imageCount) {
  if (!path || !file) return STDFUFILES_BADPARAMETER;
  *file = nullptr;
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, &bytes)) return STDFUFILES_FILEOPENERROR;
  std::unique_ptr<DfuFile> f(new DfuFile);
  if (!ParseDfuFile(bytes.data(), bytes.size(), &f->data)) return STDFUFILES_BADFORMAT;
  if (vendor) *vendor = f->data.idVendor;
  if (product) *product = f->data.idProduct;
  if (release) *release = f->data.bcdDevice;
  if (imageCount) *imageCount = static_cast<uint8_t>(f->data.images.size());
  *file = f.release();
  return STDFU_NOERROR;
}

uint32_t STDFUFILES_CloseDFUFile(DfuFileHandle file) {
  if (!file) return STDFUFILES_BADPARAMETER;
  delete file;
  return STDFU_NOERROR;
}

uint32_t STDFUFILES_ReadImageFromDFUFile(DfuFileHandle file, int index, DfuImageHandle* image) {
  if (!file || !image || index < 0 || static_cast<size_t>(index) >= file->data.images.size())
    return STDFUFILES_BADPARAMETER;
  *image = new DfuImage;
  (*image)->data = file->data.images[static_cast<size_t>(index)];
  return STDFU_NOERROR;
}

uint32_t STDFUFILES_CreateNewDFUFile(const char* path, DfuFileHandle* file, uint16_t vendor,
                                     uint16_t product, uint16_t release) {
  if (!path || !*path || !file) return STDFUFILES_BADPARAMETER;
  *file = new DfuFile;
  (*file)->path = path;
  (*file)->data.idVendor = vendor;
  (*file)->data.idProduct = product;
  (*file)->data.bcdDevice = release;
  return STDFU_NOERROR;
}

uint32_t STDFUFILES_AppendImageToDFUFile(DfuFileHandle file, DfuImageHandle image) {
  if (!file || !image || file->data.images.size() >= 255) return STDFUFILES_BADPARAMETER;
  file->data.images.push_back(image->data);
  return STDFU_NOERROR;
}

uint32_t STDFUFILES_SaveDFUFile(DfuFileHandle file) {
  if (!file || file->path.empty()) return STDFUFILES_BADPARAMETER;
  std::vector<uint8_t> bytes = BuildDfuFile(file->data);
  std::FILE* f = platform::OpenFile(file->path, "wb");
  if (!f) return STDFUFILES_FILEOPENERROR;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = (std::fclose(f) == 0) && ok;
  return ok ? STDFU_NOERROR : STDFUFILES_FILEOPENERROR;
}

uint32_t STDFUFILES_CreateImage(DfuImageHandle* image, uint8_t alternate) {
  if (!image) return STDFUFILES_BADPARAMETER;
  *image = new DfuImage;
  (*image)->data.alternate = alternate;
  return STDFU_NOERROR;
}

uint32_t STDFUFILES_CreateImageFromMapping(DfuImageHandle* image, const DfuMappingEntry* entry) {
  if (!image || !entry) return STDFUFILES_BADPARAMETER;
  *image = new DfuImage;
  (*image)->data.alternate = entry->alternate;
  (*image)->data.named = true;
  (*image)->data.name = entry->name;
  return STDFU_NOERROR;
}

uint32_t STDFUFILES_DuplicateImage(DfuImageHandle source, DfuImageHandle* copy) {
  if (!source || !copy) return STDFUFILES_BADPARAMETER;
  *copy = new DfuImage(*source);
  return STDFU_NOERROR;
}

uint32_t STDFUFILES_DestroyImage(DfuImageHandle* image) {
  if (!image || !*image) return STDFUFILES_BADPARAMETER;
  delete *image;
  *image = nullptr;
  return STDFU_NOERROR;
}

uint32_t STDFUFILES_FilterImageForOperation(DfuImageHandle image, const DfuMappingEntry* entry,
                                            uint32_t operation, uint32_t flag) {
  if (!image || !entry || flag != 0 || operation > kOperationDownload)
    return STDFUFILES_BADPARAMETER;
  uint8_t need = operation == kOperationDownload ? kSectorWriteable
                 : operation == kOperationUpload ? kSectorReadable
                                                 : 0;
  uint32_t result = STDFU_NOERROR;
  if (operation >= kOperationUpload) {
    for (const DfuElementData& e : image->data.elements) {
      if (!Covered(*entry, e.address, static_cast<uint32_t>(e.data.size()), need))
        result = STDFUFILES_ELEMENTOUTOFMAP;
    }
  }
  image->filtered = true;
  image->filterOperation = operation;
  image->filterResult = result;
  image->target = *entry;
  return result;
}

uint32_t STDFUFILES_GetImageAlternate(DfuImageHandle image, uint8_t* alternate) {
  if (!image || !alternate) return STDFUFILES_BADPARAMETER;
  *alternate = image->data.alternate;
  return STDFU_NOERROR;
}

uint32_t STDFUFILES_GetImageName(DfuImageHandle image, char* name) {
  if (!image || !name) return STDFUFILES_BADPARAMETER;
  size_t n = image->data.name.size() < 511 ? image->data.name.size() : 511;
  std::memcpy(name, image->data.name.data(), n);
  name[n] = '\0';
  return STDFU_NOERROR;
}

uint32_t STDFUFILES_SetImageName(DfuImageHandle image, const char* name) {
  if (!image || !name) return STDFUFILES_BADPARAMETER;
  image->data.name = name;
  if (image->data.name.size() > kDfuTargetNameSize - 1)
    image->data.name.resize(kDfuTargetNameSize - 1);
  image->data.named = true;
  return STDFU_NOERROR;
}

uint32_t STDFUFILES_GetImageSize(DfuImageHandle image) {
  if (!image) return 0;
  uint64_t total = 0;
  for (const DfuElementData& e : image->data.elements) total += e.data.size();
  return total > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(total);
}

uint32_t STDFUFILES_GetImageNbElement(DfuImageHandle image, uint32_t* count) {
  if (!image || !count) return STDFUFILES_BADPARAMETER;
  *count = static_cast<uint32_t>(image->data.elements.size());
  return STDFU_NOERROR;
}

uint32_t STDFUFILES_GetImageElement(DfuImageHandle image, uint32_t index, DfuElement* element) {
  if (!image || !element || index >= image->data.elements.size()) return STDFUFILES_BADPARAMETER;
  const DfuElementData& e = image->data.elements[index];
  if (!element->Data) {
    element->dwAddress = e.address;
    element->dwDataLength = static_cast<uint32_t>(e.data.size());
    return STDFU_NOERROR;
  }
  if (element->dwDataLength > e.data.size()) return STDFUFILES_NOTENOUGHDATA;
  element->dwAddress = e.address;
  if (element->dwDataLength > 0) std::memcpy(element->Data, e.data.data(), element->dwDataLength);
  return STDFU_NOERROR;
}

uint32_t STDFUFILES_AppendImageElement(DfuImageHandle image, const DfuElement* element) {
  if (!image || !element || (element->dwDataLength > 0 && !element->Data))
    return STDFUFILES_BADPARAMETER;
  if (element->dwDataLength > 0 &&
      static_cast<uint64_t>(element->dwAddress) + element->dwDataLength - 1 > 0xFFFFFFFFull)
    return STDFUFILES_BADPARAMETER;
  DfuElementData e;
  e.address = element->dwAddress;
  e.data.assign(element->Data, element->Data + element->dwDataLength);
  image->data.elements.push_back(std::move(e));
  image->filtered = false;
  return STDFU_NOERROR;
}
