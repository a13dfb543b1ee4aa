#include "dpi_scale.h"

int ScaleToDpi(int pixels, int dpi) {
  // Halves round up, as the system's own MulDiv does for the layout's non-negative values.
  return static_cast<int>((static_cast<long long>(pixels) * dpi + kBaseDpi / 2) / kBaseDpi);
}

int ScaledLength(int start, int length, int dpi) {
  return ScaleToDpi(start + length, dpi) - ScaleToDpi(start, dpi);
}

int ScaleFontHeight(int pixels, int dpi) {
  return static_cast<int>(static_cast<long long>(pixels) * dpi / kBaseDpi);
}

int PictureVariantSize(int baseSize, int index) { return baseSize * (4 + index) / 4; }

int ChoosePictureVariant(int baseSize, int wanted, int* size) {
  int chosen = 0;
  for (int i = 1; i < kPictureVariants; ++i) {
    if (PictureVariantSize(baseSize, i) <= wanted) chosen = i;
  }
  *size = PictureVariantSize(baseSize, chosen);
  return chosen;
}
