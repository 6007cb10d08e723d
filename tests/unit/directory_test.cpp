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

TEST(EndRecord, CommentMustReachTheEndExactly) {
  Bytes zip = MakeZip({{{"a.txt", "data"}}, "a comment"});
  auto exact = test::OpenAsArchive(zip);
  ArchiveStart = 0;
  SeekArchive(7, platform::SeekOrigin::FromStart);
  EXPECT_EQ(FindEndRecord(), zip.size() - 22 - 9);
  EXPECT_EQ(SeekArchive(0, platform::SeekOrigin::FromCurrent), 7u);  // position kept

  Bytes one_more = zip;
  one_more.push_back('!');
  EXPECT_EXIT(
      {
        auto file = test::OpenAsArchive(one_more);
        FindEndRecord();
      },
      ::testing::ExitedWithCode(1), "\\[Error\\] Cannot unzip: file is corrupt.");
}

TEST(EndRecord, NearestTheWindowStartWins) {
  // A fake end record inside the comment whose own comment length also reaches the end:
  // the real record, lower in the file, is taken.
  Bytes fake = test::Le32(0x06054B50);
  Append(fake, Bytes(16, 0));
  Append(fake, test::Le16(0));
  std::string comment(fake.begin(), fake.end());
  Bytes zip = MakeZip({{{"a.txt", "data"}}, comment});
  auto file = test::OpenAsArchive(zip);
  ArchiveStart = 0;
  EXPECT_EQ(FindEndRecord(), zip.size() - 22 - comment.size());
}

TEST(EndRecord, LongestCommentIsFoundAtWindowOffsetOne) {
  Bytes zip = MakeZip({{{"a.txt", "data"}}, std::string(65535, 'c')});
  Bytes file_bytes = WithPrefix(100, zip);
  auto file = test::OpenAsArchive(file_bytes);
  ArchiveStart = 100;
  std::uint32_t window_start = static_cast<std::uint32_t>(file_bytes.size()) - 65558;
  EXPECT_EQ(FindEndRecord(), window_start + 1);
}

TEST(EndRecord, TooLittleBehindTheTrailerIsCorrupt) {
  // 22 bytes are a whole end record, but the search needs more than that behind its start.
  Bytes zip = MakeZip({{}, ""});
  ASSERT_EQ(zip.size(), 22u);
  EXPECT_EXIT(
      {
        auto file = test::OpenAsArchive(WithPrefix(40, zip));
        ArchiveStart = 40;
        FindEndRecord();
      },
      ::testing::ExitedWithCode(1), "Cannot unzip: file is corrupt.");
  auto file = test::OpenAsArchive(WithPrefix(40, zip));
  ArchiveStart = 39;
  EXPECT_EQ(FindEndRecord(), 40u);
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
    auto file = test::OpenAsArchive(file_bytes);
    EXPECT_EQ(ArchiveEnd, file_bytes.size());  // every file is taken as unsigned when opened
    ArchiveStart = 300;
    ArchiveEnd = table_start;
    std::optional<std::uint32_t> found = SearchEndRecord(ArchiveStart);
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
  auto file = test::OpenAsArchive(file_bytes);
  ArchiveStart = 300;
  ArchiveEnd = table_start;
  LoadDirectory(nullptr);
  EXPECT_EQ(ArchiveBase, 300);
  ASSERT_EQ(TheScriptedUi.rows.size(), 1u);
  EXPECT_EQ(TheScriptedUi.rows[0].row.name, "a.txt");
}

TEST(Directory, OffsetBaseFromTheEndRecord) {
  // Recorded offsets 13,312 below the true positions: end record at 54,032 of 54,054 bytes,
  // directory of 113 bytes (one entry with a 67-byte name), recorded at 40,607.
  std::string name(67, 'n');
  Bytes zip = MakeZip({{{name, std::string(40607 - 30 - 67, 'd')}}, ""});
  Bytes file_bytes = WithPrefix(13312, zip);
  ASSERT_EQ(file_bytes.size(), 54054u);
  auto file = test::OpenAsArchive(file_bytes);
  ArchiveStart = 13312;
  LoadDirectory(nullptr);
  EXPECT_EQ(ArchiveBase, 13312);
  ASSERT_EQ(TheScriptedUi.rows.size(), 1u);
  EXPECT_EQ(TheScriptedUi.rows[0].row.name, name);
}

TEST(Directory, RelativeAndAbsoluteOffsets) {
  ZipSpec spec{{{"docs/readme.txt", "hello"}, {"docs/", ""}, {"a.bin", "12345"}}, ""};
  // Appended as it is: offsets count from the ZIP's own start.
  auto relative = test::OpenAsArchive(WithPrefix(5000, MakeZip(spec)));
  ArchiveStart = 5000;
  LoadDirectory(nullptr);
  EXPECT_EQ(ArchiveBase, 5000);
  // Fixed up for the combined file: offsets count from the file's start.
  spec.offset_base = 5000;
  auto absolute = test::OpenAsArchive(WithPrefix(5000, MakeZip(spec)));
  LoadDirectory(nullptr);
  EXPECT_EQ(ArchiveBase, 0);

  ASSERT_EQ(TheScriptedUi.rows.size(), 2u);  // the folder entry is not listed
  EXPECT_EQ(TheScriptedUi.rows[0].row.name, "docs\\readme.txt");
  EXPECT_EQ(TheScriptedUi.rows[1].row.name, "a.bin");
  EXPECT_EQ(TheScriptedUi.rows[1].row.entry.UncompressedSize(), 5u);
  EXPECT_EQ(TheScriptedUi.rows[1].row.entry.LocalHeaderOffset() + ArchiveBase,
            5000u + 30 + 15 + 5 + 30 + 5);
}

TEST(Directory, EmptyDirectoryListsNothing) {
  auto file = test::OpenAsArchive(WithPrefix(10, MakeZip({{}, "no entries here"})));
  ArchiveStart = 10;
  LoadDirectory(nullptr);
  EXPECT_TRUE(TheScriptedUi.rows.empty());
  EXPECT_TRUE(TheScriptedUi.messages.empty());
}

TEST(Directory, NameLengths) {
  // 520 bytes is the longest name that fits; longer, or empty, is a damaged directory, never
  // a read past the name buffer.
  auto longest = test::OpenAsArchive(MakeZip({{{std::string(520, 'x'), "1"}}, ""}));
  ArchiveStart = 0;
  LoadDirectory(nullptr);
  ASSERT_EQ(TheScriptedUi.rows.size(), 1u);
  EXPECT_EQ(TheScriptedUi.rows[0].row.name.size(), 520u);

  for (std::size_t length : {std::size_t{0}, std::size_t{521}, std::size_t{65535}}) {
    SCOPED_TRACE(length);
    Bytes zip = MakeZip({{{std::string(length, 'x'), "1"}}, ""});
    EXPECT_EXIT(
        {
          auto file = test::OpenAsArchive(zip);
          ArchiveStart = 0;
          LoadDirectory(nullptr);
        },
        ::testing::ExitedWithCode(1), "Cannot unzip: file is corrupt.");
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
    EXPECT_EXIT(
        {
          auto file = test::OpenAsArchive(*damaged);
          ArchiveStart = 0;
          LoadDirectory(nullptr);
        },
        ::testing::ExitedWithCode(1), "Cannot unzip: file is corrupt.");
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
    auto file = test::OpenAsArchive(MakeZip({{entry}, ""}));
    ArchiveStart = 0;
    LoadDirectory(nullptr);
    ASSERT_EQ(TheScriptedUi.rows.size(), 1u);
    EXPECT_EQ(TheScriptedUi.rows[0].row.name, c.shown);
  }
}

// Names flagged as UTF-8, invalid forms included, become the same ANSI names as in the
// Windows build, from the table its end-to-end test uses too.
TEST(Directory, Utf8NamesConvertAsOnWindows) {
  for (const name_cases::Utf8NameCase& c : name_cases::kUtf8NameCases) {
    SCOPED_TRACE(c.what);
    ZipEntrySpec entry{c.utf8, "1", 63, 3, 0x0800};
    auto file = test::OpenAsArchive(MakeZip({{entry}, ""}));
    ArchiveStart = 0;
    LoadDirectory(nullptr);
    ASSERT_EQ(TheScriptedUi.rows.size(), 1u);
    EXPECT_EQ(TheScriptedUi.rows[0].row.name, c.ansi);
  }
}

}  // namespace
}  // namespace selfx
