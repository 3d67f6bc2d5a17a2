// dfu-tool: prints a .dfu package's ids, targets, elements and CRC verdict, or packs a binary
// at an address into a package for a vendor and product id. Portable.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/exit_status.h"
#include "dfu/dfuse/dfu_file_format.h"
#include "ovra7_version.h"
#include "platform/paths.h"

namespace {

const char kUsage[] =
    "usage: dfu-tool info FILE.dfu\n"
    "       dfu-tool pack [--vid 0483] [--pid df11] [--release ffff] [--alt 0]\n"
    "                     [--name TEXT] ADDRESS FILE.bin OUT.dfu\n"
    "       dfu-tool --help | --version\n"
    "Numbers are hexadecimal (ADDRESS with or without 0x).\n"
    "info fails (exit 1) on a package whose CRC or layout is bad.\n";

void PrintUsage(std::FILE* to) {
  std::fputs(kUsage, to);
  std::fprintf(to, "%s.\n", app::kExitStatusHelp);
}

// Bad use: the usage on standard error.
int Usage() {
  PrintUsage(stderr);
  return app::kExitUsage;
}

bool ReadFile(const char* path, std::vector<uint8_t>* out) {
  std::FILE* f = platform::OpenFile(path, "rb");
  if (!f) return false;
  uint8_t chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    out->insert(out->end(), chunk, chunk + got);
    if (out->size() > 256u * 1024 * 1024) break;
  }
  bool ok = !std::ferror(f) && out->size() <= 256u * 1024 * 1024;
  std::fclose(f);
  return ok;
}

bool Hex(const char* text, uint32_t limit, uint32_t* out) {
  char* end = nullptr;
  unsigned long long v = std::strtoull(text, &end, 16);
  if (!*text || *end || v > limit) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

int Info(const char* path) {
  std::vector<uint8_t> bytes;
  if (!ReadFile(path, &bytes)) {
    std::fprintf(stderr, "cannot read %s\n", path);
    return app::kExitFailed;
  }
  std::printf("file:    %s (%zu bytes)\n", path, bytes.size());
  bool crcGood = false;
  if (bytes.size() >= kDfuSuffixSize) {
    const uint8_t* c = &bytes[bytes.size() - 4];
    uint32_t stored = c[0] | (c[1] << 8) | (c[2] << 16) | (static_cast<uint32_t>(c[3]) << 24);
    uint32_t computed = DfuCrc(bytes.data(), bytes.size() - 4);
    crcGood = stored == computed;
    std::printf("CRC:     %s (stored 0x%08X, computed 0x%08X)\n", crcGood ? "good" : "BAD",
                static_cast<unsigned>(stored), static_cast<unsigned>(computed));
    // Show the layout even under a bad CRC: check it as if the CRC were right.
    for (int i = 0; i < 4; ++i)
      bytes[bytes.size() - 4 + i] = static_cast<uint8_t>(computed >> (8 * i));
  }
  DfuFileData file;
  std::string why;
  if (!ParseDfuFile(bytes.data(), bytes.size(), &file, &why)) {
    std::printf("layout:  BAD (%s)\n", why.c_str());
    return app::kExitFailed;
  }
  std::printf("vendor:  0x%04X\nproduct: 0x%04X\nrelease: 0x%04X\nDFU:     0x%04X\n", file.idVendor,
              file.idProduct, file.bcdDevice, file.bcdDfu);
  std::printf("targets: %zu\n", file.images.size());
  for (size_t t = 0; t < file.images.size(); ++t) {
    const DfuImageData& image = file.images[t];
    std::printf("  target %zu: alternate %u, %s \"%s\", %zu element(s)\n", t, image.alternate,
                image.named ? "named" : "unnamed", image.name.c_str(), image.elements.size());
    for (size_t e = 0; e < image.elements.size(); ++e) {
      const DfuElementData& el = image.elements[e];
      std::printf("    element %zu: 0x%08X .. 0x%08X, %zu bytes\n", e,
                  static_cast<unsigned>(el.address),
                  static_cast<unsigned>(el.address + (el.data.empty() ? 0 : el.data.size() - 1)),
                  el.data.size());
    }
  }
  return crcGood ? app::kExitDone : app::kExitFailed;
}

int Pack(int argc, char** argv) {
  uint32_t vid = 0x0483, pid = 0xDF11, release = 0xFFFF, alt = 0;
  std::string name = "Internal Flash";
  int i = 2;
  for (; i + 1 < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
    bool ok = true;
    if (!std::strcmp(argv[i], "--vid"))
      ok = Hex(argv[i + 1], 0xFFFF, &vid);
    else if (!std::strcmp(argv[i], "--pid"))
      ok = Hex(argv[i + 1], 0xFFFF, &pid);
    else if (!std::strcmp(argv[i], "--release"))
      ok = Hex(argv[i + 1], 0xFFFF, &release);
    else if (!std::strcmp(argv[i], "--alt"))
      ok = Hex(argv[i + 1], 0xFF, &alt);
    else if (!std::strcmp(argv[i], "--name"))
      name = argv[i + 1];
    else
      ok = false;
    if (!ok) return Usage();
  }
  if (argc - i != 3) return Usage();
  uint32_t address = 0;
  const char* a = argv[i];
  if (!std::strncmp(a, "0x", 2) || !std::strncmp(a, "0X", 2)) a += 2;
  if (!Hex(a, 0xFFFFFFFF, &address)) return Usage();
  DfuElementData element;
  element.address = address;
  if (!ReadFile(argv[i + 1], &element.data)) {
    std::fprintf(stderr, "cannot read %s\n", argv[i + 1]);
    return app::kExitFailed;
  }
  if (element.data.empty() ||
      address + static_cast<uint64_t>(element.data.size()) > 0x100000000ull) {
    std::fprintf(stderr, "the binary is empty or runs past the 32-bit address space\n");
    return app::kExitFailed;
  }
  if (name.size() > kDfuTargetNameSize - 1) name.resize(kDfuTargetNameSize - 1);
  DfuFileData file;
  file.idVendor = static_cast<uint16_t>(vid);
  file.idProduct = static_cast<uint16_t>(pid);
  file.bcdDevice = static_cast<uint16_t>(release);
  DfuImageData image;
  image.alternate = static_cast<uint8_t>(alt);
  image.named = true;
  image.name = name;
  image.elements.push_back(std::move(element));
  file.images.push_back(std::move(image));
  std::vector<uint8_t> bytes = BuildDfuFile(file);
  std::FILE* out = platform::OpenFile(argv[i + 2], "wb");
  bool ok = out && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  if (out) ok = std::fclose(out) == 0 && ok;
  if (!ok) {
    std::fprintf(stderr, "cannot write %s\n", argv[i + 2]);
    return app::kExitFailed;
  }
  std::printf("wrote %s: %zu bytes, 0x%04X:0x%04X, alternate %u, at 0x%08X\n", argv[i + 2],
              bytes.size(), static_cast<unsigned>(vid), static_cast<unsigned>(pid),
              static_cast<unsigned>(alt), static_cast<unsigned>(address));
  return app::kExitDone;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
    PrintUsage(stdout);
    return app::kExitDone;
  }
  if (argc == 2 && !std::strcmp(argv[1], "--version")) {
    std::printf("dfu-tool %s\n", OVRA7_VERSION_TEXT);
    return app::kExitDone;
  }
  if (argc == 3 && !std::strcmp(argv[1], "info")) return Info(argv[2]);
  if (argc >= 5 && !std::strcmp(argv[1], "pack")) return Pack(argc, argv);
  return Usage();
}
