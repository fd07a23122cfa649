// The device-context side of the skin images: loading them from the executable's "DATA"
// resources, rendering text into them and compositing them onto a device context.
// Thread affinity: any thread, but one image is used by one thread at a time.
#pragma once

#include <windows.h>

#include <string>

#include "ui/cx_image.h"

namespace vard {

// Fills image from the "DATA" resource id of the executable. Throws std::runtime_error
// "Cannot load internal resource" when it does not exist and "Cannot create GUI" when it
// cannot be loaded or decoded.
void LoadSkinImage(CxImage& image, int id);

// Renders text in the "Courier" face of that height and weight into the image's pixels
// (any glyph coverage takes the full colour; the alpha plane is untouched). y is the
// top-down row of the text box's bottom line; alignment 0 left, 1 centred, 2 right at x.
// dc only serves to make a compatible memory context.
void RenderText(CxImage& image, HDC dc, int x, int y, const std::wstring& text, COLORREF colour,
                int font_height, int font_weight, int alignment);

// Composites image at its natural size with its top-left pixel at (x, y) onto dc, per-pixel
// alpha when it has an alpha plane, limited to clip when given. The clip region of dc is
// narrowed for the call and widened again with its former clip box afterwards.
void DrawImage(const CxImage& image, HDC dc, int x, int y, const RECT* clip = nullptr);

}  // namespace vard
