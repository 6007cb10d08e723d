// Archives signed with Authenticode by a real signer (osslsigncode, with a key and a
// self-signed certificate made by openssl), read back with selfx as its stub reads them; and a
// signed stub given to selfx build.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "test_support.h"

namespace selfx {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::RunResult;
using test::RunTool;

RunResult Shell(const std::string& command) { return test::RunShell(command); }

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// test::FakeStub records no data directories; osslsigncode signs only an image that has room
// for the certificate table's entry, as every real program has.
Bytes SignableStub() {
  Bytes stub = test::FakeStub();
  stub[0x80 + 24 + 92] = 16;  // NumberOfRvaAndSizes
  return stub;
}

// The files packed into every archive: text, bytes of every value, a nested folder.
const std::pair<const char*, std::string> kFiles[] = {
    {"readme.txt", "signed, and still an archive\n"},
    {"data/values.bin", std::string(3000, '\0') + "\x01\xFF\x80" + std::string(20, 'z')},
    {"data/deeper/empty.txt", ""},
};

class Signing : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Shell("command -v osslsigncode").status != 0) {
      GTEST_SKIP() << "osslsigncode is not installed (scripts/setup installs it)";
    }
    stub_ = std::make_unique<test::TempFile>(SignableStub(), "stub.exe");
    folder_ = stub_->folder();
    for (const auto& [name, data] : kFiles) {
      fs::create_directories(fs::path(Path("input/" + std::string(name))).parent_path());
      std::ofstream(Path("input/" + std::string(name)), std::ios::binary) << data;
    }
    RunResult made = Shell(
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=selfx-test"
        " -keyout " +
        Path("key.pem") + " -out " + Path("cert.pem"));
    ASSERT_EQ(made.status, 0) << made.output;
  }

  std::string Path(const std::string& name) const { return folder_ + "/" + name; }

  // selfx build of the input folder with the stub, with a caption of caption_length bytes
  // (which moves the archive's end by as much). Gives the output's size.
  std::uintmax_t Build(const std::string& output, std::size_t caption_length = 0,
                       const std::string& stub = "stub.exe") {
    std::string caption = caption_length == 0 ? ""
                                              : " --caption " + std::string(caption_length, 'c');
    RunResult built = RunTool("build -q --stub " + Path(stub) + caption + " -o " + Path(output) +
                              " " + Path("input"));
    EXPECT_EQ(built.status, 0) << built.output;
    return fs::file_size(Path(output));
  }

  RunResult Sign(const std::string& in, const std::string& out, const std::string& options = "") {
    fs::remove(Path(out));  // osslsigncode will not replace a file
    return Shell("osslsigncode sign " + options + " -certs " + Path("cert.pem") + " -key " +
                 Path("key.pem") + " -in " + Path(in) + " -out " + Path(out));
  }

  // osslsigncode's own check of the signatures, against the self-signed certificate.
  void ExpectVerified(const std::string& file, int signatures) {
    RunResult verified = Shell("osslsigncode verify -CAfile " + Path("cert.pem") + " -in " +
                               Path(file));
    EXPECT_EQ(verified.status, 0) << verified.output;
    EXPECT_TRUE(
        Contains(verified.output, "Number of verified signatures: " + std::to_string(signatures)))
        << verified.output;
  }

  // What the stub's reading gives on the file: info sound and signed, the files listed,
  // tested, and extracted byte for byte.
  void ExpectReadable(const std::string& file) {
    RunResult info = RunTool("info " + Path(file));
    EXPECT_EQ(info.status, 0) << info.output;
    EXPECT_TRUE(Contains(info.output, "(Authenticode; the archive ends before it)")) << info.output;
    EXPECT_TRUE(Contains(info.output, "zip end record  sound")) << info.output;
    RunResult listed = RunTool("list " + Path(file));
    EXPECT_EQ(listed.status, 0) << listed.output;
    EXPECT_TRUE(Contains(listed.output, "data/values.bin")) << listed.output;
    RunResult tested = RunTool("test " + Path(file));
    EXPECT_EQ(tested.status, 0) << tested.output;
    EXPECT_TRUE(Contains(tested.output, "3 files tested, 0 failed")) << tested.output;

    fs::remove_all(Path("out"));
    RunResult extracted = RunTool("extract -q -d " + Path("out") + " " + Path(file));
    EXPECT_EQ(extracted.status, 0) << extracted.output;
    for (const auto& [name, data] : kFiles) {
      EXPECT_EQ(test::ReadFileText(Path("out/" + std::string(name))), data) << name;
    }
  }

  // The certificate table's place and size, as info --json reports them.
  std::string TableJson(std::uintmax_t position, std::uintmax_t size) {
    return "\"certificate_table\":{\"position\":" + std::to_string(position) +
           ",\"size\":" + std::to_string(size) + "}";
  }

  std::unique_ptr<test::TempFile> stub_;
  std::string folder_;
};

TEST_F(Signing, SignedArchiveReadsAsBefore) {
  // The signer pads the file to a multiple of 8 with zero bytes before its table: once with
  // nothing to pad, once with the most it pads, 7 bytes.
  std::uintmax_t plain_size = Build("probe.exe");
  std::size_t aligning = (8 - plain_size % 8) % 8;
  for (std::size_t caption_length : {aligning, aligning + 1}) {
    SCOPED_TRACE("caption of " + std::to_string(caption_length) + " bytes");
    std::uintmax_t unsigned_size = Build("unsigned.exe", caption_length);
    RunResult signed_run = Sign("unsigned.exe", "signed.exe");
    ASSERT_EQ(signed_run.status, 0) << signed_run.output;
    ExpectVerified("signed.exe", 1);
    ExpectReadable("signed.exe");

    std::uintmax_t table_at = (unsigned_size + 7) / 8 * 8;
    std::uintmax_t table_size = fs::file_size(Path("signed.exe")) - table_at;
    RunResult info = RunTool("info " + Path("signed.exe"));
    EXPECT_TRUE(Contains(info.output, "signature       at " + std::to_string(table_at) + ", " +
                                          std::to_string(table_size) + " bytes"))
        << info.output;
    RunResult json = RunTool("info --json " + Path("signed.exe"));
    EXPECT_EQ(json.status, 0) << json.output;
    EXPECT_TRUE(Contains(json.output, "\"signed\":true," + TableJson(table_at, table_size)))
        << json.output;
    RunResult unsigned_info = RunTool("info --json " + Path("unsigned.exe"));
    EXPECT_TRUE(Contains(unsigned_info.output, "\"signed\":false,\"configuration_found\""))
        << unsigned_info.output;
  }
}

TEST_F(Signing, SignedTwiceAndSignedAgain) {
  // A caption that leaves 7 bytes of padding, so that every way of signing again meets it.
  std::uintmax_t plain_size = Build("probe.exe");
  Build("unsigned.exe", (8 - plain_size % 8) % 8 + 1);
  ASSERT_EQ(Sign("unsigned.exe", "signed.exe").status, 0);

  // A nested signature lives inside the one table.
  RunResult nested = Sign("signed.exe", "nested.exe", "-nest");
  ASSERT_EQ(nested.status, 0) << nested.output;
  ExpectVerified("nested.exe", 2);
  ExpectReadable("nested.exe");

  // Signing a signed file replaces its signature.
  RunResult again = Sign("signed.exe", "again.exe");
  ASSERT_EQ(again.status, 0) << again.output;
  ExpectVerified("again.exe", 1);
  ExpectReadable("again.exe");

  // Removing the signature leaves the signer's padding behind the end record: an unsigned
  // file with bytes behind its end record, damaged as ever. Signed again, it reads.
  RunResult removed = Shell("osslsigncode remove-signature -in " + Path("signed.exe") + " -out " +
                            Path("removed.exe"));
  ASSERT_EQ(removed.status, 0) << removed.output;
  RunResult removed_info = RunTool("info " + Path("removed.exe"));
  EXPECT_EQ(removed_info.status, 1) << removed_info.output;
  EXPECT_TRUE(Contains(removed_info.output, "signature       none\n")) << removed_info.output;
  EXPECT_TRUE(Contains(removed_info.output, "zip end record  MISSING")) << removed_info.output;
  EXPECT_EQ(RunTool("test " + Path("removed.exe")).status, 1);
  RunResult resigned = Sign("removed.exe", "resigned.exe");
  ASSERT_EQ(resigned.status, 0) << resigned.output;
  ExpectVerified("resigned.exe", 1);
  ExpectReadable("resigned.exe");
}

TEST_F(Signing, TableThatDoesNotEndTheFileChangesNothing) {
  std::uintmax_t unsigned_size = Build("unsigned.exe");
  ASSERT_EQ(Sign("unsigned.exe", "signed.exe").status, 0);
  std::uintmax_t table_at = (unsigned_size + 7) / 8 * 8;
  // A byte behind the table: the table no longer ends the file, so the file is read as an
  // unsigned one with bytes behind its end record, which is damaged.
  std::ofstream(Path("signed.exe"), std::ios::binary | std::ios::app) << 'x';
  RunResult info = RunTool("info " + Path("signed.exe"));
  EXPECT_EQ(info.status, 1) << info.output;
  EXPECT_TRUE(Contains(info.output, "signature       none (a certificate table at " +
                                        std::to_string(table_at) + ", "))
      << info.output;
  EXPECT_TRUE(Contains(info.output, "zip end record  MISSING")) << info.output;
  RunResult listed = RunTool("list " + Path("signed.exe"));
  EXPECT_EQ(listed.status, 1) << listed.output;
  EXPECT_TRUE(Contains(listed.output, "no end of central directory record")) << listed.output;
}

TEST_F(Signing, SignedStubIsBuiltWithoutItsSignature) {
  ASSERT_EQ(Sign("stub.exe", "signed-stub.exe").status, 0);
  ASSERT_EQ(Sign("signed-stub.exe", "nested-stub.exe", "-nest").status, 0);
  // osslsigncode's own removal is the reference: the stub as it was, its checksum made anew.
  RunResult removed = Shell("osslsigncode remove-signature -in " + Path("signed-stub.exe") +
                            " -out " + Path("removed-stub.exe"));
  ASSERT_EQ(removed.status, 0) << removed.output;
  std::string plain_stub = test::ReadFileText(Path("removed-stub.exe"));
  ASSERT_EQ(plain_stub.size(), SignableStub().size());

  for (const char* stub : {"signed-stub.exe", "nested-stub.exe"}) {
    SCOPED_TRACE(stub);
    RunResult built = RunTool("build --stub " + Path(stub) + " -o " + Path("built.exe") + " " +
                              Path("input"));
    ASSERT_EQ(built.status, 0) << built.output;
    EXPECT_TRUE(Contains(built.output, "warning: " + Path(stub) +
                                           ": its signature was left out; sign the built file "
                                           "again (build first, then sign)"))
        << built.output;
    EXPECT_EQ(test::ReadFileText(Path("built.exe")).substr(0, plain_stub.size()), plain_stub);

    RunResult json = RunTool(
        "build --json --stub " + Path(stub) + " -o " + Path("built.exe") + " " + Path("input"),
        {"", false});
    EXPECT_TRUE(Contains(json.output, "\"warnings\":[\"" + Path(stub) + ": its signature"))
        << json.output;

    ASSERT_EQ(Sign("built.exe", "built-signed.exe").status, 0);
    ExpectVerified("built-signed.exe", 1);
    ExpectReadable("built-signed.exe");
  }
}

}  // namespace
}  // namespace selfx
