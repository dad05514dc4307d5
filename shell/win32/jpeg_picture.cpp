// JPEG resources decoded with libjpeg into DIB sections.
#include "win32/jpeg_picture.h"

#include <csetjmp>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace shell::win32 {
namespace {

struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf escape;
};

void OnError(j_common_ptr info) { std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->escape, 1); }
void OnMessage(j_common_ptr) {}

// Decodes into RGB rows; false on a damaged stream.
bool Decode(const unsigned char* data, unsigned long size, int* width, int* height, std::vector<unsigned char>* rgb) {
  jpeg_decompress_struct info{};
  ErrorManager errors{};
  info.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = OnError;
  errors.base.output_message = OnMessage;
  if (setjmp(errors.escape)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, size);
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  *width = static_cast<int>(info.output_width);
  *height = static_cast<int>(info.output_height);
  rgb->resize(static_cast<std::size_t>(*width) * *height * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = rgb->data() + static_cast<std::size_t>(info.output_scanline) * *width * 3;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

}  // namespace

HBITMAP LoadJpegResource(const char* name) {
  HRSRC found = ::FindResourceA(nullptr, name, "JPG");
  if (found == nullptr) return nullptr;
  HGLOBAL loaded = ::LoadResource(nullptr, found);
  const auto* data = static_cast<const unsigned char*>(::LockResource(loaded));
  const DWORD size = ::SizeofResource(nullptr, found);
  if (data == nullptr || size == 0) return nullptr;
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
  if (!Decode(data, size, &width, &height, &rgb)) return nullptr;

  BITMAPINFO header{};
  header.bmiHeader.biSize = sizeof header.bmiHeader;
  header.bmiHeader.biWidth = width;
  header.bmiHeader.biHeight = -height;  // top-down
  header.bmiHeader.biPlanes = 1;
  header.bmiHeader.biBitCount = 32;
  header.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(nullptr, &header, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr) return nullptr;
  auto* out = static_cast<unsigned char*>(bits);
  for (std::size_t i = 0, n = static_cast<std::size_t>(width) * height; i < n; ++i) {
    out[i * 4 + 0] = rgb[i * 3 + 2];
    out[i * 4 + 1] = rgb[i * 3 + 1];
    out[i * 4 + 2] = rgb[i * 3 + 0];
    out[i * 4 + 3] = 0xFF;
  }
  return bitmap;
}

HBITMAP Picture(const char* name) {
  static std::map<std::string, HBITMAP> cache;
  auto it = cache.find(name);
  if (it == cache.end()) it = cache.emplace(name, LoadJpegResource(name)).first;
  return it->second;
}

void DrawPicture(HDC dc, const char* name, int width, int height) {
  HDC source = ::CreateCompatibleDC(dc);
  HGDIOBJ old = ::SelectObject(source, Picture(name));
  ::BitBlt(dc, 0, 0, width, height, source, 0, 0, SRCCOPY);
  ::SelectObject(source, old);
  ::DeleteDC(source);
}

}  // namespace shell::win32
