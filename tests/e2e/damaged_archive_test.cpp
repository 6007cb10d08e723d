// Damaged combined files under Wine: every one ends with "Cannot unzip: file is corrupt."
// in an error box and exit code 1, never with a crash or a hang.
#include <gtest/gtest.h>

#include <functional>

#include "archive_maker.h"

namespace e2e {
namespace {

struct Sound {
  BlockSettings settings;
  ZipImage zip;
  CombinedFile file;
};

Sound MakeSound(std::vector<ZipMember> members = {{"one.txt", "first"}, {"two.txt", "second"}},
                const std::string& archive_comment = "note") {
  Sound sound;
  sound.settings.caption = "Damaged";
  sound.zip = MakeStoredZip(members, 0, archive_comment);
  sound.file = Combine(StubBytes(), sound.settings, sound.zip.bytes);
  return sound;
}

struct DamageCase {
  const char* name;
  bool in_block;  // found while the block is read, before the main dialog exists
  std::function<std::vector<std::uint8_t>()> make;
};
std::ostream& operator<<(std::ostream& out, const DamageCase& c) { return out << c.name; }

std::vector<std::uint8_t> Truncated(std::vector<std::uint8_t> bytes, std::size_t size) {
  bytes.resize(size);
  return bytes;
}

std::size_t ZipAt(const Sound& sound, std::size_t position) {
  return sound.file.archive_start + position;
}

const DamageCase kDamages[] = {
    {"EndsInsideFixedPart", true,
     [] {
       const Sound s = MakeSound();
       return Truncated(s.file.bytes, s.file.block_start + 10);
     }},
    {"EndsInsideCaption", true,
     [] {
       const Sound s = MakeSound();
       return Truncated(s.file.bytes, s.file.block_start + kBlockFixedSize + 3);
     }},
    {"BlockSignatureXQ0002", true,
     [] {
       Sound s = MakeSound();
       s.file.bytes[s.file.block_start + 3] = 0x02;
       return s.file.bytes;
     }},
    {"TrailerSignatureWrong", true,
     [] {
       Sound s = MakeSound();
       s.file.bytes[s.file.trailer_start] = 'Y';
       return s.file.bytes;
     }},
    {"EndsInsideTrailer", true,
     [] {
       const Sound s = MakeSound();
       return Truncated(s.file.bytes, s.file.trailer_start + 3);
     }},
    {"BlockLengthPastTheEnd", true,
     [] {
       Sound s = MakeSound({}, "");
       PutLe16(s.file.bytes, s.file.block_start + kBlockLength, 0xFFFF);
       return s.file.bytes;
     }},
    {"NothingBehindTrailer", false,
     [] {
       const Sound s = MakeSound();
       return Truncated(s.file.bytes, s.file.archive_start);
     }},
    {"OnlyAnEndRecordWithoutComment", false, [] { return MakeSound({}, "").file.bytes; }},
    {"OneByteAfterTheComment", false,
     [] {
       Sound s = MakeSound();
       s.file.bytes.push_back(0);
       return s.file.bytes;
     }},
    {"CommentLengthTooShort", false,
     [] {
       Sound s = MakeSound();
       PutLe16(s.file.bytes, ZipAt(s, s.zip.end_record + kEndCommentLength), 3);
       return s.file.bytes;
     }},
    {"EndRecordCut", false,
     [] {
       const Sound s = MakeSound({{"one.txt", "first"}}, "");
       return Truncated(s.file.bytes, s.file.bytes.size() - 5);
     }},
    {"CentralHeaderWithWrongSignature", false,
     [] {
       Sound s = MakeSound();
       s.file.bytes[ZipAt(s, s.zip.central_headers[1]) + 3] = 0x03;  // PK 01 03
       return s.file.bytes;
     }},
    {"NameLengthZero", false,
     [] {
       Sound s = MakeSound();
       PutLe16(s.file.bytes, ZipAt(s, s.zip.central_headers[0] + kCentralNameLength), 0);
       return s.file.bytes;
     }},
    {"NameLongerThan520Bytes", false,
     [] {
       return MakeSound({{std::string(600, 'n'), "long"}}).file.bytes;
     }},
    {"MoreEntriesThanTheDirectoryHolds", false,
     [] {
       Sound s = MakeSound();
       PutLe16(s.file.bytes, ZipAt(s, s.zip.end_record + kEndTotalEntries), 3);
       return s.file.bytes;
     }},
    {"DirectorySizeTooLarge", false,
     [] {
       Sound s = MakeSound();
       const std::size_t at = ZipAt(s, s.zip.end_record + 12);
       PutLe32(s.file.bytes, at,
               static_cast<std::uint32_t>(s.zip.end_record - s.zip.central_directory + 1));
       return s.file.bytes;
     }},
    {"NameRunsPastTheEnd", false,
     [] {
       Sound s = MakeSound({{"one.txt", "first"}}, "");
       PutLe16(s.file.bytes, ZipAt(s, s.zip.central_headers[0] + kCentralNameLength), 500);
       return s.file.bytes;
     }},
};

class DamagedArchive : public StubTest, public testing::WithParamInterface<DamageCase> {};

TEST_P(DamagedArchive, EndsWithTheCorruptMessageAndExitCodeOne) {
  Process stub = Run(GetParam().make());
  ExpectCorruptFileEnd(stub, GetParam().in_block);
}

INSTANTIATE_TEST_SUITE_P(Damages, DamagedArchive, testing::ValuesIn(kDamages),
                         [](const testing::TestParamInfo<DamageCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace e2e
