// How the maker's windows, laid out in pixels at 96 DPI, grow with the screen's DPI.
#pragma once

constexpr int kBaseDpi = 96;

// A position or length of the 96-DPI layout at `dpi`, rounded to the nearest pixel.
int ScaleToDpi(int pixels, int dpi);
// A span [start, start + length) of the layout at `dpi`: its length is taken between the
// scaled edges, so that controls that touch at 96 DPI still touch.
int ScaledLength(int start, int length, int dpi);
// A font's pixel height at `dpi`, rounded down, so that a text that fits its control at
// 96 DPI still fits it at any other setting.
int ScaleFontHeight(int pixels, int dpi);

// The pictures come drawn at 100, 125, 150, 175 and 200 per cent of their 96-DPI size.
constexpr int kPictureVariants = 5;
// Which of those to show in a square of `wanted` pixels for a picture of `baseSize` pixels
// at 96 DPI: the largest that fits (it is centred, never stretched), at least the first.
// Gives its index and stores its size.
int ChoosePictureVariant(int baseSize, int wanted, int* size);
// The size of variant `index` of a picture of `baseSize` pixels at 96 DPI.
int PictureVariantSize(int baseSize, int index);
