// The forms other systems and unpackers give a code-page-932 name: its bytes read as another
// code page, decomposed (NFD), with the other of a twin character, in another letter case.
#pragma once
#include <string>

// The single-byte code pages that unpackers, and Windows outside Japan, take Japanese names
// for: 437 (zip's own default, the US OEM code page), 850 (Western Europe's OEM code page)
// and 1252 (Western Europe's and the Americas' ANSI code page).
enum SingleByteCodePage { kCodePage437, kCodePage850, kCodePage1252 };

// The bytes read as `page`, as UTF-8: what an unpacker that writes UTF-8 names makes of them.
std::string ReadAsCodePage(const std::string& bytes, SingleByteCodePage page);
// What Debian's unzip writes on Linux for the name of a zip entry made on FAT (host 0, as
// Windows makes them): every byte above 0x7F through unzip's fixed table (code page 437 read
// and written in Latin-1, a stand-in byte for each character Latin-1 lacks, 0x98 dropped).
// Several bytes share a stand-in (ｱ, ｲ and ｳ all become 0xA6), so several names can give
// the same result; each name gives exactly one.
std::string UnzipFatName(const std::string& bytes);

// UTF-8 `text` with every letter and kana that has a canonical decomposition decomposed into
// its base and combining marks, as macOS stores names (ガ becomes カ and U+3099). Bytes that
// are not UTF-8 pass unchanged.
std::string Decomposed(const std::string& utf8);
// UTF-8 `text` with every character of the pairs that Windows's code page 932 and JIS map
// differently (〜/～, ―/—, ‖/∥, －/−, ￠/¢, ￡/£, ￢/¬) as the one Windows gives.
std::string TwinsFolded(const std::string& utf8);
// UTF-8 `text` with the letters that Windows compares without regard to case (Latin,
// Greek, Cyrillic, full-width Latin, Roman numerals) in lower case.
std::string CaseFolded(const std::string& utf8);
