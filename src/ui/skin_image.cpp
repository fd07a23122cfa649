#include "ui/skin_image.h"

#include <stdexcept>
#include <vector>

#include "ui/gdi_objects.h"
#include "ui/raster_ops.h"

namespace vard {

DibSection CreateDib(HDC dc, int width, int height, int bits_per_pixel) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // positive: bottom-up
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = static_cast<WORD>(bits_per_pixel);
  info.bmiHeader.biCompression = BI_RGB;
  DibSection dib;
  dib.stride = DibStride(width, bits_per_pixel);
  info.bmiHeader.biSizeImage = static_cast<DWORD>(dib.stride) * height;
  void* bits = nullptr;
  dib.bitmap.reset(CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (dib.bitmap && bits) {
    dib.bits = static_cast<uint8_t*>(bits);
    ZeroMemory(bits, info.bmiHeader.biSizeImage);
  }
  return dib;
}

void LoadSkinImage(CxImage& image, int id) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), "DATA");
  if (found == nullptr) throw std::runtime_error("Cannot load internal resource");
  const DWORD size = SizeofResource(module, found);
  HGLOBAL loaded = LoadResource(module, found);
  if (loaded == nullptr) throw std::runtime_error("Cannot create GUI");
  const void* bytes = LockResource(loaded);
  if (bytes == nullptr || !DecodePng(image, static_cast<const uint8_t*>(bytes), size)) {
    throw std::runtime_error("Cannot create GUI");
  }
}

namespace {

BITMAPINFO Bgr24Info(int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  info.bmiHeader.biSizeImage = static_cast<DWORD>(DibStride(width, 24)) * height;
  return info;
}

}  // namespace

void RenderText(CxImage& image, HDC dc, int x, int y, const std::wstring& text, COLORREF colour,
                int font_height, int font_weight, int alignment) {
  if (image.Empty()) return;
  MemoryDc memory(CreateCompatibleDC(dc));
  if (!memory) return;

  LOGFONTA face{};
  face.lfHeight = font_height;
  face.lfWeight = font_weight;
  face.lfQuality = CLEARTYPE_QUALITY;
  lstrcpyA(face.lfFaceName, "Courier");
  GdiObject font(CreateFontIndirectA(&face));
  // The stock font is not ours to delete, so it is selected without an owner.
  HGDIOBJ selected_font = font ? font.get() : GetStockObject(DEFAULT_GUI_FONT);
  SelectGuard font_selection(memory.get(), selected_font);
  SetTextColor(memory.get(), RGB(255, 255, 255));
  SetBkColor(memory.get(), RGB(0, 0, 0));
  SetBkMode(memory.get(), OPAQUE);

  RECT measured{0, 0, 0, 0};
  DrawTextW(memory.get(), text.c_str(), static_cast<int>(text.size()), &measured, DT_CALCRECT);
  const int h0 = measured.bottom - measured.top;
  const int width = (measured.right - measured.left) + h0;
  const int height = h0;
  if (width <= 0 || height <= 0) return;

  DibSection dib = CreateDib(memory.get(), width, height, 24);
  if (!dib.bits) return;
  std::vector<uint8_t> raster(static_cast<size_t>(dib.stride) * height);
  {
    SelectGuard dib_selection(memory.get(), dib.bitmap.get());
    RECT box{0, 0, width, height};
    DrawTextW(memory.get(), text.c_str(), static_cast<int>(text.size()), &box, 0);
    GdiFlush();
  }
  // Read back once the DIB is no longer selected, as GetDIBits asks.
  BITMAP described{};
  GetObjectA(dib.bitmap.get(), sizeof(described), &described);
  BITMAPINFO info = Bgr24Info(described.bmWidth, described.bmHeight);
  if (GetDIBits(memory.get(), static_cast<HBITMAP>(dib.bitmap.get()), 0, height, raster.data(),
                &info, DIB_RGB_COLORS) == 0) {
    return;
  }
  const BgrRaster box{raster.data(), width, height, dib.stride};
  const BgrColour fill{GetBValue(colour), GetGValue(colour), GetRValue(colour)};
  StampTextBox(image, box, x, y, alignment, fill);
}

void DrawImage(const CxImage& image, HDC dc, int x, int y, const RECT* clip) {
  if (image.Empty() || dc == nullptr) return;
  RECT previous_clip{};
  if (clip) {
    GetClipBox(dc, &previous_clip);
    GdiObject region(CreateRectRgnIndirect(clip));
    ExtSelectClipRgn(dc, static_cast<HRGN>(region.get()), RGN_AND);
  }

  RECT bounds{x, y, x + image.width, y + image.height};
  RECT clip_box{};
  GetClipBox(dc, &clip_box);
  RECT area{};
  if (IntersectRect(&area, &bounds, &clip_box)) {
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (image.HasAlpha()) {
      MemoryDc memory(CreateCompatibleDC(dc));
      DibSection copy = memory ? CreateDib(memory.get(), width, height, 24) : DibSection{};
      if (copy.bits) {
        {
          SelectGuard selection(memory.get(), copy.bitmap.get());
          BitBlt(memory.get(), 0, 0, width, height, dc, area.left, area.top, SRCCOPY);
          GdiFlush();
        }
        BlendImageOver(image, area.left - x, area.top - y,
                       BgrRaster{copy.bits, width, height, copy.stride});
        BITMAPINFO info = Bgr24Info(width, height);
        SetDIBitsToDevice(dc, area.left, area.top, width, height, 0, 0, 0, height, copy.bits,
                          &info, DIB_RGB_COLORS);
      }
    } else {
      BITMAPINFO info = Bgr24Info(image.width, image.height);
      SetDIBitsToDevice(dc, x, y, image.width, image.height, 0, 0, 0, image.height,
                        image.pixels.data(), &info, DIB_RGB_COLORS);
    }
  }

  if (clip) {
    GdiObject region(CreateRectRgnIndirect(&previous_clip));
    ExtSelectClipRgn(dc, static_cast<HRGN>(region.get()), RGN_OR);
  }
}

}  // namespace vard
