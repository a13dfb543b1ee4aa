// The zip directory reader against archives no real writer makes: bytes before the archive, a
// directory that points outside the file, counts and sizes that cannot be, a Unicode Path field
// whose CRC does not match its name, a ZIP64 field that is not there. And the entries as a
// check names them, handing a reader elsewhere (the page's) the facts of an entry it asks for.
#include "zip_directory.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "platform.h"
#include "zip_entries.h"

namespace {

class Bytes : public ByteSource {
 public:
  explicit Bytes(std::string bytes) : bytes_(std::move(bytes)) {}
  uint64_t Size() override { return bytes_.size(); }
  bool ReadAt(uint64_t offset, void* buffer, size_t size) override {
    if (offset > bytes_.size() || bytes_.size() - offset < size) return false;
    memcpy(buffer, bytes_.data() + offset, size);
    return true;
  }

 private:
  std::string bytes_;
};

void Put16(std::string* s, uint32_t v) { s->append({char(v & 0xFF), char(v >> 8 & 0xFF)}); }
void Put32(std::string* s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}

// One stored entry `name` holding `data`, its directory record carrying `extra`; `count` in the
// end record.
std::string OneEntryZip(const std::string& name, const std::string& data, const std::string& extra,
                        uint32_t count = 1, uint32_t size32 = 0) {
  uint32_t crc = ZipCrc32(0, data.data(), data.size());
  std::string zip;
  Put32(&zip, 0x04034b50);
  Put16(&zip, 20), Put16(&zip, 0), Put16(&zip, 0), Put32(&zip, 0);
  Put32(&zip, crc), Put32(&zip, static_cast<uint32_t>(data.size())),
      Put32(&zip, static_cast<uint32_t>(data.size()));
  Put16(&zip, static_cast<uint32_t>(name.size())), Put16(&zip, 0);
  zip += name + data;
  size_t directory = zip.size();
  Put32(&zip, 0x02014b50);
  Put16(&zip, 20), Put16(&zip, 20), Put16(&zip, 0), Put16(&zip, 0), Put32(&zip, 0);
  Put32(&zip, crc), Put32(&zip, static_cast<uint32_t>(data.size()));
  Put32(&zip, size32 ? size32 : static_cast<uint32_t>(data.size()));
  Put16(&zip, static_cast<uint32_t>(name.size())), Put16(&zip, static_cast<uint32_t>(extra.size()));
  Put16(&zip, 0), Put16(&zip, 0), Put16(&zip, 0), Put32(&zip, 0), Put32(&zip, 0);
  zip += name + extra;
  size_t end = zip.size();
  Put32(&zip, 0x06054b50);
  Put16(&zip, 0), Put16(&zip, 0), Put16(&zip, count), Put16(&zip, count);
  Put32(&zip, static_cast<uint32_t>(end - directory)),
      Put32(&zip, static_cast<uint32_t>(directory));
  Put16(&zip, 0);
  return zip;
}

std::string UnicodePathField(const std::string& storedName, const std::string& utf8,
                             uint32_t crcDelta = 0) {
  std::string field;
  Put16(&field, 0x7075), Put16(&field, static_cast<uint32_t>(5 + utf8.size()));
  field += '\1';
  Put32(&field, ZipCrc32(0, storedName.data(), storedName.size()) + crcDelta);
  return field + utf8;
}

// Stored entries: {name, data, general-purpose flags}, in this order.
struct Stored {
  std::string name, data;
  uint16_t flags;
};
std::string StoredZip(const std::vector<Stored>& files) {
  std::string zip, directory;
  for (const Stored& f : files) {
    uint32_t crc = ZipCrc32(0, f.data.data(), f.data.size());
    uint32_t offset = static_cast<uint32_t>(zip.size()),
             size = static_cast<uint32_t>(f.data.size());
    Put32(&zip, 0x04034b50);
    Put16(&zip, 20), Put16(&zip, f.flags), Put16(&zip, 0), Put32(&zip, 0);
    Put32(&zip, crc), Put32(&zip, size), Put32(&zip, size);
    Put16(&zip, static_cast<uint32_t>(f.name.size())), Put16(&zip, 0);
    zip += f.name + f.data;
    Put32(&directory, 0x02014b50);
    Put16(&directory, 20), Put16(&directory, 20), Put16(&directory, f.flags), Put16(&directory, 0);
    Put32(&directory, 0), Put32(&directory, crc), Put32(&directory, size), Put32(&directory, size);
    Put16(&directory, static_cast<uint32_t>(f.name.size())), Put16(&directory, 0);
    Put16(&directory, 0), Put16(&directory, 0), Put16(&directory, 0), Put32(&directory, 0);
    Put32(&directory, offset);
    directory += f.name;
  }
  uint32_t at = static_cast<uint32_t>(zip.size());
  zip += directory;
  Put32(&zip, 0x06054b50);
  Put16(&zip, 0), Put16(&zip, 0);
  Put16(&zip, static_cast<uint32_t>(files.size())),
      Put16(&zip, static_cast<uint32_t>(files.size()));
  Put32(&zip, static_cast<uint32_t>(directory.size())), Put32(&zip, at), Put16(&zip, 0);
  return zip;
}

ZipStatus Read(const std::string& zip, std::vector<ZipEntry>* entries) {
  Bytes source(zip);
  return ReadZipDirectory(source, entries);
}

// The CRC-32 against its catalogue's check value and against the polynomial worked bit by bit,
// for every length up to past several steps of eight bytes, at every alignment, whole and
// continued from any cut.
TEST(ZipCrc32, IsTheZipPolynomialWhateverTheLengthAlignmentAndCuts) {
  EXPECT_EQ(ZipCrc32(0, "123456789", 9), 0xCBF43926u);
  auto bitwise = [](const unsigned char* p, size_t n) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
      crc ^= p[i];
      for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
  };
  std::vector<unsigned char> data(80);
  uint32_t seed = 12345;
  for (unsigned char& byte : data)
    byte = static_cast<unsigned char>((seed = seed * 1103515245u + 12345u) >> 16);
  for (size_t start = 0; start < 8; ++start) {
    for (size_t n = 0; start + n <= data.size(); ++n) {
      const unsigned char* p = data.data() + start;
      uint32_t want = bitwise(p, n);
      ASSERT_EQ(ZipCrc32(0, p, n), want) << start << " " << n;
      for (size_t cut = 0; cut <= n; ++cut)
        ASSERT_EQ(ZipCrc32(ZipCrc32(0, p, cut), p + cut, n - cut), want) << cut;
    }
  }
}

TEST(ZipDirectory, ReadsWhatTheDirectorySaysAndRefusesWhatCannotBe) {
  std::vector<ZipEntry> entries;
  const std::string name = "\x95\x5c.txt";  // 表.txt in code page 932, its second byte a 0x5C
  std::string zip = OneEntryZip(name, "hyou", UnicodePathField(name, "\xe8\xa1\xa8.txt"));
  ASSERT_EQ(Read(zip, &entries), kZipOk);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, name);
  EXPECT_EQ(entries[0].utf8Name, "\xe8\xa1\xa8.txt");  // the field's CRC matches the name
  EXPECT_EQ(entries[0].size, 4u);

  // Bytes before the archive (a self-extracting stub) move every offset: the entry is still
  // found where its local header really is.
  Bytes shifted(std::string(1000, 'M') + zip);
  ASSERT_EQ(ReadZipDirectory(shifted, &entries), kZipOk);
  uint64_t data = 0;
  ASSERT_EQ(LocateZipData(shifted, entries[0], &data), kZipOk);
  char got[4];
  ASSERT_TRUE(shifted.ReadAt(data, got, 4));
  EXPECT_EQ(std::string(got, 4), "hyou");

  // A Unicode Path field whose CRC is not its name's is another name's: not believed.
  ASSERT_EQ(Read(OneEntryZip(name, "hyou", UnicodePathField(name, "x.txt", 1)), &entries), kZipOk);
  EXPECT_EQ(entries[0].utf8Name, "");

  // A count the directory cannot hold is not believed; one that wrapped at 16 bits is not
  // taken for the end.
  ASSERT_EQ(Read(OneEntryZip("a", "b", "", 0xFFFF), &entries), kZipOk);
  EXPECT_EQ(entries.size(), 1u);
  ASSERT_EQ(Read(OneEntryZip("a", "b", "", 0), &entries), kZipOk);
  EXPECT_EQ(entries.size(), 1u);

  // A size that says "in the ZIP64 field" without that field.
  EXPECT_EQ(Read(OneEntryZip("a", "b", "", 1, 0xFFFFFFFF), &entries), kZipDamaged);
  // A directory that begins past its end record.
  std::string outside = zip;
  outside[outside.size() - 6] = '\x7f';
  EXPECT_EQ(Read(outside, &entries), kZipDamaged);
  // Cut short: the start of a zip without its end is a broken-off download; anything else is
  // no zip at all.
  EXPECT_EQ(Read(zip.substr(0, zip.size() - 30), &entries), kZipIncomplete);
  EXPECT_EQ(Read(std::string(100, 'x'), &entries), kZipNotZip);
  EXPECT_EQ(Read("", &entries), kZipNotZip);
}

TEST(ZipDirectory, DataThatRunsPastTheEndIsIncomplete) {
  std::string zip = OneEntryZip("a.txt", std::string(100, 'a'), "");
  Bytes source(zip);
  std::vector<ZipEntry> entries;
  ASSERT_EQ(ReadZipDirectory(source, &entries), kZipOk);
  entries[0].compressedSize = zip.size();  // as a directory that lies would say
  uint64_t data = 0;
  EXPECT_EQ(LocateZipData(source, entries[0], &data), kZipIncomplete);
  entries[0].localHeaderOffset = 5;  // no local header there
  entries[0].compressedSize = 1;
  EXPECT_EQ(LocateZipData(source, entries[0], &data), kZipDamaged);
}

// What a reader elsewhere gets for a path the check asks for: the entry that an unpacker would
// leave under that name (the later of two), where it really stands in a file with bytes before
// the archive, and whether it can be read at all; and what it hands back is kept.
TEST(ZipEntries, GiveTheFactsOfTheEntryAPathNamesAndKeepTheStateHandedBack) {
  const std::string cp932 = "sub\\\x95\x5c.txt";  // sub\表.txt: the 0x5C is 表's second byte
  Bytes source(std::string(1000, 'M') + StoredZip({{"pack/Vexorin.exe", "MZ", 0},
                                                   {"pack/a.txt", "first", 0},
                                                   {"pack\\" + cp932, "hyou", 0},
                                                   {"pack/a.txt", "second", 0},
                                                   {"pack/secret.txt", "s", 1}}));
  ZipEntries zip(source);
  ASSERT_EQ(zip.status(), kZipOk);
  ASSERT_EQ(zip.ExeEntries(), std::vector<std::string>{"pack/Vexorin.exe"});
  ASSERT_TRUE(zip.UseChecker("pack/Vexorin.exe"));
  auto path = [](const std::string& below) {
    return std::string(1, kExecutableFolderMark) + "\\" + below;
  };

  ZipEntryFacts facts;
  ASSERT_TRUE(zip.FactsOf(path(cp932).c_str(), &facts));
  EXPECT_EQ(facts.index, 2u);
  EXPECT_EQ(facts.size, 4u);
  EXPECT_EQ(facts.compressedSize, 4u);
  EXPECT_EQ(facts.method, kZipStored);
  EXPECT_EQ(facts.crc, ZipCrc32(0, "hyou", 4));
  EXPECT_TRUE(facts.readable);
  EXPECT_FALSE(facts.encrypted);
  // The local header where the facts say, its data behind it.
  char signature[4];
  ASSERT_TRUE(source.ReadAt(facts.localHeaderOffset, signature, 4));
  EXPECT_EQ(std::string(signature, 4), "PK\3\4");
  uint64_t data = 0;
  char got[4];
  ASSERT_EQ(LocateZipData(source, zip.entry(facts.index), &data), kZipOk);
  ASSERT_TRUE(source.ReadAt(data, got, 4));
  EXPECT_EQ(std::string(got, 4), "hyou");

  ASSERT_TRUE(zip.FactsOf(path("a.txt").c_str(), &facts));
  EXPECT_EQ(facts.index, 3u);  // the later one
  EXPECT_EQ(facts.crc, ZipCrc32(0, "second", 6));
  EXPECT_EQ(zip.duplicates(), std::vector<std::string>{"pack/a.txt"});
  ASSERT_TRUE(zip.FactsOf(path("secret.txt").c_str(), &facts));
  EXPECT_TRUE(facts.encrypted);
  EXPECT_FALSE(facts.readable);
  EXPECT_FALSE(zip.FactsOf(path("nothing.txt").c_str(), &facts));
  EXPECT_FALSE(zip.FactsOf(path("sub").c_str(), &facts));  // a folder is no file entry
  EXPECT_FALSE(zip.FactsOf(cp932.c_str(), &facts));        // not below the checker's folder

  // What the reader found, handed back: whole only at the declared size and CRC.
  const std::string hyou = path(cp932);
  EXPECT_EQ(zip.StateOf(hyou.c_str()), kZipEntryUnread);
  EXPECT_EQ(zip.Finished(2, 4, ZipCrc32(0, "hyov", 4)), kZipEntryCorrupt);
  EXPECT_EQ(zip.Finished(2, 3, ZipCrc32(0, "hyo", 3)), kZipEntryCorrupt);
  EXPECT_EQ(zip.StateOf(hyou.c_str()), kZipEntryCorrupt);
  EXPECT_EQ(zip.Finished(2, 4, ZipCrc32(0, "hyou", 4)), kZipEntryWhole);
  EXPECT_EQ(zip.StateOf(hyou.c_str()), kZipEntryWhole);
  EXPECT_FALSE(zip.AnyEntryIncomplete());
  zip.SetState(4, kZipEntryIncomplete);
  EXPECT_TRUE(zip.AnyEntryIncomplete());
  EXPECT_EQ(zip.StateOf(path("secret.txt").c_str()), kZipEntryIncomplete);
}

}  // namespace
