// The end-record search, the offset base and the directory reader.

#include <gtest/gtest.h>

#include "app/config_block.h"
#include "archive/archive_file.h"
#include "archive/directory.h"
#include "common/utf8_name_cases.h"
#include "scripted_ui.h"
#include "test_support.h"

namespace selfx {
namespace {

using test::Append;
using test::Bytes;
using test::MakeZip;
using test::ZipEntrySpec;
using test::ZipSpec;

Bytes WithPrefix(std::size_t prefix_size, const Bytes& zip) {
  Bytes file(prefix_size, 0xCC);
  Append(file, zip);
  return file;
}

// The bytes opened as an extraction's archive whose ZIP starts at start.
struct Opened {
  Extraction extraction;
  std::unique_ptr<test::TempFile> file;
  ArchiveFile& archive() { return extraction.archive; }
  // The end record's position, or 0 when there is none.
  std::uint32_t EndRecord() { return SearchEndRecord(archive()).value_or(0); }
  // Loads the directory; false when it is corrupt (and then the fault says so).
  bool Load() {
    bool loaded = LoadDirectory(extraction, false);
    EXPECT_EQ(loaded, extraction.fault == Fault::kNone);
    if (!loaded) {
      EXPECT_EQ(FaultMessage(extraction), "Cannot unzip: file is corrupt.");
    }
    return loaded;
  }
  const std::vector<EntryRow>& rows() const { return extraction.entries; }
};

std::unique_ptr<Opened> Open(const Bytes& bytes, std::uint32_t start = 0) {
  auto opened = std::make_unique<Opened>();
  opened->file = test::OpenAsArchive(bytes, opened->extraction);
  opened->extraction.archive.start = start;
  return opened;
}

TEST(EndRecord, CommentMustReachTheEndExactly) {
  Bytes zip = MakeZip({{{"a.txt", "data"}}, "a comment"});
  auto exact = Open(zip);
  exact->archive().Seek(7, platform::SeekOrigin::FromStart);
  EXPECT_EQ(exact->EndRecord(), zip.size() - 22 - 9);
  EXPECT_EQ(exact->archive().Seek(0, platform::SeekOrigin::FromCurrent), 7u);  // position kept

  Bytes one_more = zip;
  one_more.push_back('!');
  auto longer = Open(one_more);
  EXPECT_FALSE(SearchEndRecord(longer->archive()));
  EXPECT_FALSE(longer->Load());
}

TEST(EndRecord, NearestTheWindowStartWins) {
  // A fake end record inside the comment whose own comment length also reaches the end:
  // the real record, lower in the file, is taken.
  Bytes fake = test::Le32(0x06054B50);
  Append(fake, Bytes(16, 0));
  Append(fake, test::Le16(0));
  std::string comment(fake.begin(), fake.end());
  Bytes zip = MakeZip({{{"a.txt", "data"}}, comment});
  EXPECT_EQ(Open(zip)->EndRecord(), zip.size() - 22 - comment.size());
}

TEST(EndRecord, LongestCommentIsFoundAtWindowOffsetOne) {
  Bytes zip = MakeZip({{{"a.txt", "data"}}, std::string(65535, 'c')});
  Bytes file_bytes = WithPrefix(100, zip);
  std::uint32_t window_start = static_cast<std::uint32_t>(file_bytes.size()) - 65558;
  EXPECT_EQ(Open(file_bytes, 100)->EndRecord(), window_start + 1);
}

TEST(EndRecord, TooLittleBehindTheTrailerIsCorrupt) {
  // 22 bytes are a whole end record, but the search needs more than that behind its start.
  Bytes zip = MakeZip({{}, ""});
  ASSERT_EQ(zip.size(), 22u);
  EXPECT_FALSE(SearchEndRecord(Open(WithPrefix(40, zip), 40)->archive()));
  EXPECT_FALSE(Open(WithPrefix(40, zip), 40)->Load());
  EXPECT_EQ(Open(WithPrefix(40, zip), 39)->EndRecord(), 40u);
}

// A signed file: the ZIP, the signer's padding, and a certificate table that ends the file.
// The archive ends where the table begins.
TEST(EndRecord, SignedFileEndsBeforeItsCertificateTable) {
  Bytes zip = MakeZip({{{"a.txt", "data"}}, "a comment"});
  // A table whose bytes hold an end record that would end the file: only the archive's own
  // record may be found.
  Bytes table = test::Le32(0x06054B50);
  Append(table, Bytes(16, 0));
  Append(table, test::Le16(6));
  Append(table, Bytes(6, 0xAA));
  struct Case {
    const char* what;
    Bytes padding;
    bool signed_file;  // else the same bytes with nothing to say where a table starts
    bool found;
  };
  const Case cases[] = {
      {"no padding", {}, true, true},
      {"six zero bytes of padding", Bytes(6, 0), true, true},
      {"seven, the most a signer adds", Bytes(7, 0), true, true},
      {"eight zero bytes", Bytes(8, 0), true, false},
      {"padding that is not zero", {0, 0, 1, 0}, true, false},
      {"unsigned, zero bytes behind the record", Bytes(6, 0), false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes file_bytes = WithPrefix(300, zip);
    Append(file_bytes, c.padding);
    auto table_start = static_cast<std::uint32_t>(file_bytes.size());
    if (c.signed_file) Append(file_bytes, table);
    auto file = Open(file_bytes, 300);
    // Every file is taken as unsigned when opened.
    EXPECT_EQ(file->archive().end, file_bytes.size());
    file->archive().end = table_start;
    std::optional<std::uint32_t> found = SearchEndRecord(file->archive());
    ASSERT_EQ(found.has_value(), c.found);
    if (found) {
      EXPECT_EQ(*found, 300 + zip.size() - 22 - 9);
    }
  }

  // The directory is read as in an unsigned file.
  Bytes file_bytes = WithPrefix(300, zip);
  Append(file_bytes, Bytes(3, 0));
  auto table_start = static_cast<std::uint32_t>(file_bytes.size());
  Append(file_bytes, table);
  auto file = Open(file_bytes, 300);
  file->archive().end = table_start;
  ASSERT_TRUE(file->Load());
  EXPECT_EQ(file->archive().base, 300);
  ASSERT_EQ(file->rows().size(), 1u);
  EXPECT_EQ(file->rows()[0].name, "a.txt");
}

TEST(Directory, OffsetBaseFromTheEndRecord) {
  // Recorded offsets 13,312 below the true positions: end record at 54,032 of 54,054 bytes,
  // directory of 113 bytes (one entry with a 67-byte name), recorded at 40,607.
  std::string name(67, 'n');
  Bytes zip = MakeZip({{{name, std::string(40607 - 30 - 67, 'd')}}, ""});
  Bytes file_bytes = WithPrefix(13312, zip);
  ASSERT_EQ(file_bytes.size(), 54054u);
  auto file = Open(file_bytes, 13312);
  ASSERT_TRUE(file->Load());
  EXPECT_EQ(file->archive().base, 13312);
  ASSERT_EQ(file->rows().size(), 1u);
  EXPECT_EQ(file->rows()[0].name, name);
}

TEST(Directory, RelativeAndAbsoluteOffsets) {
  ZipSpec spec{{{"docs/readme.txt", "hello"}, {"docs/", ""}, {"a.bin", "12345"}}, ""};
  // Appended as it is: offsets count from the ZIP's own start.
  auto relative = Open(WithPrefix(5000, MakeZip(spec)), 5000);
  ASSERT_TRUE(relative->Load());
  EXPECT_EQ(relative->archive().base, 5000);
  // Fixed up for the combined file: offsets count from the file's start.
  spec.offset_base = 5000;
  auto absolute = Open(WithPrefix(5000, MakeZip(spec)), 5000);
  ASSERT_TRUE(absolute->Load());
  EXPECT_EQ(absolute->archive().base, 0);

  const std::vector<EntryRow>& rows = absolute->rows();
  ASSERT_EQ(rows.size(), 2u);  // the folder entry is not listed
  EXPECT_EQ(rows[0].name, "docs\\readme.txt");
  EXPECT_EQ(rows[1].name, "a.bin");
  EXPECT_EQ(rows[1].entry.UncompressedSize(), 5u);
  EXPECT_EQ(rows[1].entry.LocalHeaderOffset() + absolute->archive().base,
            5000u + 30 + 15 + 5 + 30 + 5);
}

TEST(Directory, EmptyDirectoryListsNothing) {
  auto file = Open(WithPrefix(10, MakeZip({{}, "no entries here"})), 10);
  ASSERT_TRUE(file->Load());
  EXPECT_TRUE(file->rows().empty());
  EXPECT_TRUE(TheScriptedUi.messages.empty());
}

TEST(Directory, NameLengths) {
  // 520 bytes is the longest name that fits; longer, or empty, is a damaged directory, never
  // a read past the name buffer.
  auto longest = Open(MakeZip({{{std::string(520, 'x'), "1"}}, ""}));
  ASSERT_TRUE(longest->Load());
  ASSERT_EQ(longest->rows().size(), 1u);
  EXPECT_EQ(longest->rows()[0].name.size(), 520u);

  for (std::size_t length : {std::size_t{0}, std::size_t{521}, std::size_t{65535}}) {
    SCOPED_TRACE(length);
    Bytes zip = MakeZip({{{std::string(length, 'x'), "1"}}, ""});
    EXPECT_FALSE(Open(zip)->Load());
  }
}

TEST(Directory, DamagedHeadersAreCorrupt) {
  Bytes good = MakeZip({{{"a.txt", "data"}, {"b.txt", "more"}}, ""});
  std::size_t second_header = good.size() - 22 - (46 + 5);
  Bytes wrong_signature = good;
  wrong_signature[second_header] = 'X';
  Bytes truncated_directory = good;
  // Claim one more entry than the directory holds: the third header would be the end record.
  truncated_directory[good.size() - 22 + 10] = 3;
  Bytes directory_too_large = good;
  directory_too_large[good.size() - 22 + 12] = 0xFF;
  directory_too_large[good.size() - 22 + 13] = 0xFF;
  for (const Bytes* damaged : {&wrong_signature, &truncated_directory, &directory_too_large}) {
    EXPECT_FALSE(Open(*damaged)->Load());
  }
}

struct NameCase {
  const char* what;
  std::uint8_t version;
  std::uint8_t host;
  std::uint16_t flags;
  std::string stored;
  std::string shown;
};

TEST(Directory, NameConversionByHost) {
  const NameCase cases[] = {
      {"MS-DOS host: OEM to ANSI", 20, 0, 0,
       "\x81"
       "ber.txt",
       "\xFC"
       "ber.txt"},
      {"OS/2 HPFS host", 20, 6, 0, "\x81", "\xFC"},
      {"NTFS host with version 50", 50, 11, 0, "\x81", "\xFC"},
      {"NTFS host with another version", 20, 11, 0, "\x81", "\x81"},
      {"Unix host: bytes kept", 20, 3, 0, "\x81", "\x81"},
      {"UTF-8 flag on a DOS host", 20, 0, 0x0800,
       "\xC3\xBC"
       "ber.txt",
       "\xFC"
       "ber.txt"},
      {"UTF-8 flag, beyond the code page", 63, 3, 0x0800,
       "\xE6\x97\xA5"
       ".txt",
       "_.txt"},
      {"UTF-8 flag, broken sequence", 63, 3, 0x0800, "a\xC3", "a_"},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.what);
    ZipEntrySpec entry{c.stored, "1", c.version, c.host, c.flags};
    auto file = Open(MakeZip({{entry}, ""}));
    ASSERT_TRUE(file->Load());
    ASSERT_EQ(file->rows().size(), 1u);
    EXPECT_EQ(file->rows()[0].name, c.shown);
  }
}

// Names flagged as UTF-8, invalid forms included, become the same ANSI names as in the
// Windows build, from the table its end-to-end test uses too.
TEST(Directory, Utf8NamesConvertAsOnWindows) {
  for (const name_cases::Utf8NameCase& c : name_cases::kUtf8NameCases) {
    SCOPED_TRACE(c.what);
    ZipEntrySpec entry{c.utf8, "1", 63, 3, 0x0800};
    auto file = Open(MakeZip({{entry}, ""}));
    ASSERT_TRUE(file->Load());
    ASSERT_EQ(file->rows().size(), 1u);
    EXPECT_EQ(file->rows()[0].name, c.ansi);
  }
}

}  // namespace
}  // namespace selfx
