// Archives signed with Authenticode, under Wine: make_signing_fixtures.py builds them with the
// host's selfx build --unattended, signs them with osslsigncode (once, nested, again, after a
// removal, and from a signed stub) and checks each with osslsigncode verify. The stub leaves
// the signature out of its archive and extracts every file byte for byte without a question;
// a table that does not end the file, or a removed signature's padding, leaves the file as
// damaged as any file with bytes behind its end record.
#include <gtest/gtest.h>

#include "extraction_support.h"

namespace e2e {
namespace {

struct SignedCase {
  const char* fixture;  // make_signing_fixtures.py writes <fixture>.exe
  bool signed_at_end;   // a certificate table that ends exactly at the end of the file
  bool extracts;        // else "Cannot unzip: file is corrupt."
};
std::ostream& operator<<(std::ostream& out, const SignedCase& c) { return out << c.fixture; }

// Whether data directory 4 of the file's PE headers records a certificate table that ends
// exactly where the file ends, read here independently of the stub.
bool SignatureEndsTheFile(const std::vector<std::uint8_t>& file) {
  auto le32 = [&file](std::size_t at) -> std::uint32_t {
    if (at + 4 > file.size()) return 0;
    return file[at] | file[at + 1] << 8 | file[at + 2] << 16 | std::uint32_t{file[at + 3]} << 24;
  };
  // The data directories begin 96 bytes into a PE32 optional header, 112 into a PE32+ one
  // (the 64-bit test build of the stub).
  const std::size_t optional_header = le32(0x3C) + 24;
  const bool pe32_plus = (le32(optional_header) & 0xFFFF) == 0x20B;
  const std::size_t directory = optional_header + (pe32_plus ? 112 : 96) + 4 * 8;
  const std::uint32_t address = le32(directory), size = le32(directory + 4);
  return size != 0 && address <= file.size() && file.size() - address == size;
}

class SignedArchive : public ExtractionTest, public testing::WithParamInterface<SignedCase> {};

TEST_P(SignedArchive, RunsUnattendedAsIfUnsigned) {
  const SignedCase& c = GetParam();
  const auto bytes = ReadFileBytes(FixturesFolder() + "\\" + c.fixture + ".exe");
  ASSERT_FALSE(bytes.empty()) << "missing fixture " << c.fixture << " in " << FixturesFolder();
  ASSERT_EQ(c.signed_at_end, SignatureEndsTheFile(bytes));

  if (!c.extracts) {
    Process stub = Run(bytes, c.fixture);
    ExpectCorruptFileEnd(stub, false);
    return;
  }
  // Built --unattended: it extracts into its working folder and ends without a window.
  const std::string target = NewFolder("target");
  ASSERT_TRUE(MakeFolders(target));
  const std::string program = ProgramPath(c.fixture);
  ASSERT_TRUE(WriteFileBytes(program, bytes));
  Process stub = Process::Start(program, "", target);
  ASSERT_TRUE(stub.started()) << stub.error();
  EXPECT_EQ(0u, stub.WaitForExit(60000).value_or(kNoExitCode)) << DescribeWindows(stub.id());
  ExpectExtracted(bytes, FixturesFolder() + "\\signing_tree", target);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, SignedArchive,
                         testing::Values(SignedCase{"signed_padded", true, true},
                                         SignedCase{"signed_aligned", true, true},
                                         SignedCase{"signed_twice", true, true},
                                         SignedCase{"signed_again", true, true},
                                         SignedCase{"signed_after_removal", true, true},
                                         SignedCase{"signed_stub_build", true, true},
                                         SignedCase{"signature_not_at_end", false, false},
                                         SignedCase{"signature_removed", false, false}),
                         [](const testing::TestParamInfo<SignedCase>& info) {
                           return std::string(info.param.fixture);
                         });

}  // namespace
}  // namespace e2e
