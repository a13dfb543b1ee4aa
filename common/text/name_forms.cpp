#include "name_forms.h"

#include <stdint.h>

#include "name_forms_tables.h"
#include "text.h"

namespace {

void AppendUtf8(std::string* out, uint32_t c) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | (c >> 12));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (c >> 18));
    *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The code point of the UTF-8 sequence at `s[*i]`, advancing `*i` past it; a byte that starts
// no valid sequence is handed back alone as 0x110000 + its value, so it passes unchanged.
uint32_t NextCodePoint(const std::string& s, size_t* i) {
  uint32_t code = 0;
  size_t n = DecodeUtf8(s.data() + *i, s.size() - *i, &code);
  if (n == 0) return 0x110000 + static_cast<unsigned char>(s[(*i)++]);
  *i += n;
  return code;
}

// Applies `map` to every code point of UTF-8 `text`; bytes that are not UTF-8 pass unchanged.
template <typename Map>
std::string MapCodePoints(const std::string& text, Map map) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    uint32_t c = NextCodePoint(text, &i);
    if (c >= 0x110000) {
      out += static_cast<char>(c - 0x110000);
    } else {
      map(c, &out);
    }
  }
  return out;
}

const uint16_t* HighHalf(SingleByteCodePage page) {
  return page == kCodePage437 ? kCp437High : page == kCodePage850 ? kCp850High : kCp1252High;
}

const Decomposition* FindDecomposition(uint32_t c) {
  size_t lo = 0, hi = sizeof kDecompositions / sizeof kDecompositions[0];
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    if (kDecompositions[mid].code == c) return &kDecompositions[mid];
    if (kDecompositions[mid].code < c) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return nullptr;
}

void AppendDecomposed(uint32_t c, std::string* out) {
  // Hangul syllables decompose by rule into their leading consonant, vowel and trailing one.
  if (c >= 0xAC00 && c <= 0xD7A3) {
    uint32_t s = c - 0xAC00;
    AppendUtf8(out, 0x1100 + s / 588);
    AppendUtf8(out, 0x1161 + (s % 588) / 28);
    if (s % 28 != 0) AppendUtf8(out, 0x11A7 + s % 28);
    return;
  }
  const Decomposition* d = c <= 0xFFFF ? FindDecomposition(c) : nullptr;
  if (d == nullptr) {
    AppendUtf8(out, c);
    return;
  }
  AppendDecomposed(d->first, out);  // the first part may decompose again (Ǻ: Å, then A)
  if (d->second != 0) AppendUtf8(out, d->second);
}

// The pairs that JIS and Windows's code page 932 map differently: JIS's first, Windows's second.
const uint32_t kTwins[][2] = {{0x301C, 0xFF5E}, {0x2014, 0x2015}, {0x2016, 0x2225},
                              {0x2212, 0xFF0D}, {0x00A2, 0xFFE0}, {0x00A3, 0xFFE1},
                              {0x00AC, 0xFFE2}};

uint32_t LowerCase(uint32_t c) {
  bool latin1 = c >= 0xC0 && c <= 0xDE && c != 0xD7;
  if ((c >= 'A' && c <= 'Z') || latin1 || (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) ||
      (c >= 0x410 && c <= 0x42F)) {
    return c + 0x20;
  }
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;    // Ѐ-Џ
  if (c >= 0xFF21 && c <= 0xFF3A) return c + 0x20;  // full-width Ａ-Ｚ
  if (c >= 0x2160 && c <= 0x216F) return c + 0x10;  // Roman numerals Ⅰ-Ⅿ
  if (c == 0x178) return 0xFF;                      // Ÿ, whose small letter is in Latin-1
  if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 &&
      c != 0x17F) {
    // Latin Extended-A pairs its letters upper, lower; three runs are offset by one.
    bool odd = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    return (c % 2 == (odd ? 1u : 0u)) ? c + 1 : c;
  }
  return c;
}

}  // namespace

std::string ReadAsCodePage(const std::string& bytes, SingleByteCodePage page) {
  const uint16_t* high = HighHalf(page);
  std::string out;
  for (char ch : bytes) {
    unsigned char c = static_cast<unsigned char>(ch);
    AppendUtf8(&out, c < 0x80 ? c : high[c - 0x80]);
  }
  return out;
}

std::string UnzipFatName(const std::string& bytes) {
  std::string out;
  for (char ch : bytes) {
    unsigned char c = static_cast<unsigned char>(ch);
    unsigned char written = c < 0x80 ? c : kUnzipFatHigh[c - 0x80];
    if (written != 0) out += static_cast<char>(written);
  }
  return out;
}

std::string Decomposed(const std::string& utf8) {
  return MapCodePoints(utf8, [](uint32_t c, std::string* out) { AppendDecomposed(c, out); });
}

std::string TwinsFolded(const std::string& utf8) {
  return MapCodePoints(utf8, [](uint32_t c, std::string* out) {
    for (const auto& twin : kTwins) {
      if (c == twin[0]) c = twin[1];
    }
    AppendUtf8(out, c);
  });
}

std::string CaseFolded(const std::string& utf8) {
  return MapCodePoints(utf8, [](uint32_t c, std::string* out) { AppendUtf8(out, LowerCase(c)); });
}
