// Pictures of Win32 windows for the suites under wine: what is on screen inside a rectangle of a
// device context, as a 24-bit bottom-up BMP file (the format a BITMAPINFOHEADER describes).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ui/win32/win32_include.h"

namespace apptest {

// The w x h pixels at the origin of `source` into `path`; false when any step fails.
inline bool SaveBmp(HDC source, int w, int h, const std::string& path) {
  if (!source || w <= 0 || h <= 0) return false;
  HDC memory = CreateCompatibleDC(source);
  HBITMAP bitmap = CreateCompatibleBitmap(source, w, h);
  HGDIOBJ old = SelectObject(memory, bitmap);
  bool ok = BitBlt(memory, 0, 0, w, h, source, 0, 0, SRCCOPY) != 0;
  SelectObject(memory, old);
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = w;
  info.biHeight = h;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const DWORD row = ((static_cast<DWORD>(w) * 3 + 3) / 4) * 4;
  std::vector<uint8_t> pixels(static_cast<size_t>(row) * static_cast<size_t>(h));
  ok = ok && GetDIBits(memory, bitmap, 0, static_cast<UINT>(h), pixels.data(),
                       reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS) == h;
  DeleteObject(bitmap);
  DeleteDC(memory);
  if (!ok) return false;
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  ok = std::fwrite(&file, sizeof file, 1, f) == 1 && std::fwrite(&info, sizeof info, 1, f) == 1 &&
       std::fwrite(pixels.data(), 1, pixels.size(), f) == pixels.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace apptest
