// Package side of the flashing dialog: loading and matching a .dfu file, the image for a
// target, and the choice of the newest matching package in the cache. Portable.
#include <cctype>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>

#include "dfu/dfu_upgrade_dialog.h"
#include "dfu/dfuse/stdfufiles.h"
#include "dfu/package_cache_folder.h"
#include "log/log.h"

namespace fs = std::filesystem;

bool DFUpgradeDialog::LoadDfuFile(const std::string& path) {
  DfuFileHandle file = nullptr;
  uint16_t vendor = 0, product = 0, release = 0;
  uint8_t count = 0;
  if (STDFUFILES_OpenExistingDFUFile(path.c_str(), &file, &vendor, &product, &release, &count) !=
      STDFU_NOERROR) {
    WriteLog("This file doesn't have a correct format...");
    return false;
  }
  char text[8];
  std::snprintf(text, sizeof text, "%04X", vendor);
  m_FileVid = text;
  std::snprintf(text, sizeof text, "%04X", product);
  m_FilePid = text;
  bool ok = true;
  for (int i = 0; i < count; ++i) {
    DfuImageHandle image = nullptr;
    if (STDFUFILES_ReadImageFromDFUFile(file, i, &image) != STDFU_NOERROR) {
      WriteLog("Bad file format...");
      ok = false;
      break;
    }
    uint8_t alternate = 0;
    if (STDFUFILES_GetImageAlternate(image, &alternate) != STDFU_NOERROR) {
      WriteLog("Unable to get data from image...");
      STDFUFILES_DestroyImage(&image);
      ok = false;
      break;
    }
    char name[512] = {};
    STDFUFILES_GetImageName(image, name);
    STDFUFILES_DestroyImage(&image);
  }
  STDFUFILES_CloseDFUFile(file);
  if (ok) WriteLog("File correctly loaded.");
  return ok;
}

bool DFUpgradeDialog::MatchDevice() {
  if (m_DevicePid.empty() || m_DeviceVid.empty()) return false;
  return m_DevicePid == m_FilePid && m_DeviceVid == m_FileVid;
}

bool DFUpgradeDialog::FindImage(uint8_t alternate, DfuImageHandle* image, uint32_t* openResult) {
  *image = nullptr;
  DfuFileHandle file = nullptr;
  uint8_t count = 0;
  *openResult = STDFUFILES_OpenExistingDFUFile(m_UpgradeFilePath.c_str(), &file, nullptr, nullptr,
                                               nullptr, &count);
  if (*openResult != STDFU_NOERROR) return false;
  for (int i = 0; i < count && !*image; ++i) {
    DfuImageHandle candidate = nullptr;
    if (STDFUFILES_ReadImageFromDFUFile(file, i, &candidate) != STDFU_NOERROR) continue;
    uint8_t a = 0;
    if (STDFUFILES_GetImageAlternate(candidate, &a) == STDFU_NOERROR && a == alternate)
      *image = candidate;
    else
      STDFUFILES_DestroyImage(&candidate);
  }
  STDFUFILES_CloseDFUFile(file);
  return *image != nullptr;
}

bool DFUpgradeDialog::FindUpgradeImage(uint8_t alternate, DfuImageHandle* image) {
  uint32_t openResult = STDFU_NOERROR;
  bool found = FindImage(alternate, image, &openResult);
  if (openResult != STDFU_NOERROR) WriteLog("error: %d", static_cast<int>(openResult));
  if (!found) WriteLog("Unable to find data for that device/target from the file ...");
  return found;
}

bool DFUpgradeDialog::FindVerifyImage(uint8_t alternate, DfuImageHandle* image) {
  uint32_t openResult = STDFU_NOERROR;
  bool found = FindImage(alternate, image, &openResult);
  if (!found) WriteLog("Unable to find data for that target in the dfu file...");
  return found;
}

namespace {

struct CachedPackage {
  std::string path;
  std::time_t time;
};

bool HasDfuExtension(const fs::path& p) {
  std::string ext = p.extension().u8string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".dfu";
}

}  // namespace

bool DFUpgradeDialog::autoSelectDfuFile() {
  const std::string folder = DfuPackageCacheFolder();
  if (folder.empty()) return false;
  std::vector<CachedPackage> list;
  // One offset for every file, so that equal file times stay equal after the conversion.
  const auto offset = std::chrono::system_clock::now().time_since_epoch() -
                      fs::file_time_type::clock::now().time_since_epoch();
  std::error_code ec;
  for (fs::directory_iterator it(fs::u8path(folder), ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code fileEc;
    if (!it->is_regular_file(fileEc) || !HasDfuExtension(it->path())) continue;
    fs::file_time_type t = it->last_write_time(fileEc);
    if (fileEc) continue;
    auto since = std::chrono::duration_cast<std::chrono::seconds>(
        t.time_since_epoch() + std::chrono::duration_cast<fs::file_time_type::duration>(offset));
    list.push_back(CachedPackage{it->path().u8string(), static_cast<std::time_t>(since.count())});
  }
  // Newest first, by exchanges: a later time at j moves ahead of i.
  for (size_t i = 0; i < list.size(); ++i)
    for (size_t j = i + 1; j < list.size(); ++j)
      if (list[j].time > list[i].time) std::swap(list[i], list[j]);
  static std::mutex localTimeLock;  // std::localtime shares one buffer
  for (const CachedPackage& p : list) {
    std::tm local = {};
    {
      std::lock_guard<std::mutex> hold(localTimeLock);
      if (const std::tm* t = std::localtime(&p.time)) local = *t;
    }
    WriteLog("Check File: %s time: %04d-%02d-%02d %02d:%02d:%02d", p.path.c_str(),
             local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
             local.tm_sec);
    if (!LoadDfuFile(p.path)) continue;
    if (MatchDevice()) {
      m_UpgradeFilePath = p.path;
      return true;
    }
  }
  return false;
}
