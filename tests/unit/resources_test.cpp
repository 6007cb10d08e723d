// The maker's icon, version information and execution level in the stub's resources: the
// resource tree read and written anew, icon files checked, and selfx build --icon,
// --version-info and --admin read back with Debian's icoutils and Python's XML parser.
//
// The stub built by the win32 preset may be missing in a host build; these tests rewrite a
// small program linked from the stub's own resource script (SELFX_RESOURCE_FIXTURE), which
// has the stub's layout: the resources, then the base relocations, as the last sections.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

#include "archive/pe_image.h"
#include "base/byte_order.h"
#include "cli/pe/resource_section.h"
#include "cli/pe/stub_identity.h"
#include "cli/pe/stub_image.h"
#include "test_support.h"

namespace selfx {
namespace {

using cli::Resource;
using cli::ResourceKey;
using test::Bytes;
using test::RunResult;
using test::RunTool;

Bytes ReadBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), {});
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// Runs a shell command; its status and what it printed on both streams.
RunResult Shell(const std::string& command) { return test::RunShell(command); }

Bytes Fixture() {
  std::string path = SELFX_RESOURCE_FIXTURE;
  return path.empty() ? Bytes() : ReadBytes(path);
}

#define REQUIRE_FIXTURE(image)                                       \
  if ((image).empty())                                               \
  GTEST_SKIP() << "no resource fixture: mingw-w64 was not found at " \
                  "configuration (scripts/setup installs it)"

// Header fields, read independently of the code under test.
std::uint32_t PeOffset(const Bytes& image) { return LoadLe32(image.data() + 0x3C); }
std::uint32_t Optional(const Bytes& image, int field) {
  return LoadLe32(image.data() + PeOffset(image) + 24 + field);
}
struct SectionFacts {
  std::string name;
  std::uint32_t virtual_size, address, raw_size, raw_pointer;
};
std::vector<SectionFacts> Sections(const Bytes& image) {
  std::vector<SectionFacts> sections;
  std::uint16_t count = LoadLe16(image.data() + PeOffset(image) + 6);
  for (std::uint16_t i = 0; i < count; ++i) {
    const std::uint8_t* header = image.data() + PeOffset(image) + 248 + 40 * i;
    sections.push_back({std::string(reinterpret_cast<const char*>(header), 8).c_str(),
                        LoadLe32(header + 8), LoadLe32(header + 12), LoadLe32(header + 16),
                        LoadLe32(header + 20)});
  }
  return sections;
}
SectionFacts SectionNamed(const std::vector<SectionFacts>& sections, const char* name) {
  for (const SectionFacts& section : sections) {
    if (section.name == name) return section;
  }
  throw std::runtime_error(std::string("no section ") + name);
}

// Icon images: bitmaps (header, palette, colour rows, mask rows) and PNG files.
Bytes Bitmap(std::uint32_t size, std::uint16_t bits) {
  Bytes bitmap;
  for (std::uint32_t field : {40u, size, 2 * size}) test::Append(bitmap, test::Le32(field));
  test::Append(bitmap, test::Le16(1));
  test::Append(bitmap, test::Le16(bits));
  bitmap.resize(40, 0);
  std::uint32_t palette = bits <= 8 ? 1u << bits : 0;
  std::uint32_t color_row = (size * bits + 31) / 32 * 4;
  std::uint32_t mask_row = (size + 31) / 32 * 4;
  std::size_t pixels = palette * 4 + (color_row + mask_row) * size;
  for (std::size_t i = 0; i < pixels; ++i)
    bitmap.push_back(static_cast<std::uint8_t>(i * 7 + size));
  return bitmap;
}

Bytes Png(std::uint32_t size) {
  auto chunk = [](Bytes& png, const char* type, const Bytes& data) {
    Bytes typed(type, type + 4);
    test::Append(typed, data);
    for (int shift : {24, 16, 8, 0}) png.push_back(static_cast<std::uint8_t>(data.size() >> shift));
    test::Append(png, typed);
    uLong crc = crc32(0, typed.data(), static_cast<uInt>(typed.size()));
    for (int shift : {24, 16, 8, 0}) png.push_back(static_cast<std::uint8_t>(crc >> shift));
  };
  Bytes header;
  for (std::uint32_t value : {size, size}) {
    for (int shift : {24, 16, 8, 0}) header.push_back(static_cast<std::uint8_t>(value >> shift));
  }
  test::Append(header, Bytes{8, 6, 0, 0, 0});  // 8 bits per channel, RGBA
  Bytes rows;
  for (std::uint32_t y = 0; y < size; ++y) {
    rows.push_back(0);  // no filter
    for (std::uint32_t x = 0; x < size; ++x)
      test::Append(rows, Bytes{200, 40, static_cast<std::uint8_t>(x), 255});
  }
  Bytes deflated(compressBound(static_cast<uLong>(rows.size())));
  uLongf deflated_size = static_cast<uLongf>(deflated.size());
  compress(deflated.data(), &deflated_size, rows.data(), static_cast<uLong>(rows.size()));
  deflated.resize(deflated_size);
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  chunk(png, "IHDR", header);
  chunk(png, "IDAT", deflated);
  chunk(png, "IEND", {});
  return png;
}

struct IconSpec {
  std::uint32_t size;
  std::uint16_t bits;  // 0: a PNG image
};
// An .ico file: the header, a 16-byte entry per image, then the images in order.
Bytes IconFile(const std::vector<IconSpec>& specs, std::vector<Bytes>* images = nullptr) {
  std::vector<Bytes> made;
  for (const IconSpec& spec : specs)
    made.push_back(spec.bits ? Bitmap(spec.size, spec.bits) : Png(spec.size));
  Bytes file;
  for (std::uint16_t field : {0, 1, static_cast<int>(specs.size())})
    test::Append(file, test::Le16(field));
  std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * specs.size());
  for (std::size_t i = 0; i < specs.size(); ++i) {
    auto side = static_cast<std::uint8_t>(specs[i].size % 256);
    std::uint8_t colors = specs[i].bits && specs[i].bits < 8 ? 1 << specs[i].bits : 0;
    test::Append(file, Bytes{side, side, colors, 0});
    // PNG entries leave planes and bits 0, as some icon editors write them.
    test::Append(file, test::Le16(specs[i].bits ? 1 : 0));
    test::Append(file, test::Le16(specs[i].bits));
    test::Append(file, test::Le32(static_cast<std::uint32_t>(made[i].size())));
    test::Append(file, test::Le32(offset));
    offset += static_cast<std::uint32_t>(made[i].size());
  }
  for (const Bytes& image : made) test::Append(file, image);
  if (images) *images = made;
  return file;
}

// ---- The resource tree -----------------------------------------------------------------

// Rewriting the tree keeps every resource and moves the base relocations behind the grown or
// shrunk section, with the headers telling the same story as the bytes.
TEST(ResourceSection, RewrittenImagesKeepResourcesAndConsistentHeaders) {
  const Bytes original = Fixture();
  REQUIRE_FIXTURE(original);
  std::string error_text;
  std::optional<std::vector<Resource>> resources = cli::ReadResources(original, error_text);
  ASSERT_TRUE(resources) << error_text;
  ASSERT_GE(resources->size(), 6u);
  // The checksum as the linker computed it, reproduced: the rewriter's recomputed one is
  // then trustworthy.
  ASSERT_NE(Optional(original, 64), 0u);
  EXPECT_EQ(cli::ImageChecksum(original), Optional(original, 64));

  const SectionFacts old_relocations = SectionNamed(Sections(original), ".reloc");
  const Bytes relocation_bytes(
      original.begin() + old_relocations.raw_pointer,
      original.begin() + old_relocations.raw_pointer + old_relocations.raw_size);
  Resource big{ResourceKey::Number(10), ResourceKey::Text(u"BLOB"), 0x0409, 0, Bytes(150000, 0x11)};
  struct Case {
    const char* name;
    std::vector<Resource> resources;
  };
  std::vector<Resource> grown = *resources;
  grown.push_back(big);
  std::vector<Resource> shrunk(resources->end() - 1, resources->end());
  for (const Case& change :
       {Case{"same", *resources}, Case{"grown", grown}, Case{"shrunk", shrunk}}) {
    SCOPED_TRACE(change.name);
    Bytes image = original;
    ASSERT_TRUE(cli::ReplaceResources(image, change.resources, error_text)) << error_text;

    std::optional<std::vector<Resource>> again = cli::ReadResources(image, error_text);
    ASSERT_TRUE(again) << error_text;
    ASSERT_EQ(again->size(), change.resources.size());
    for (const Resource& resource : change.resources) {
      bool found = false;
      for (const Resource& read : *again) {
        found |= read.type == resource.type && read.name == resource.name &&
                 read.language == resource.language && read.data == resource.data;
      }
      EXPECT_TRUE(found) << resource.type.number << " " << resource.name.number;
    }

    std::vector<SectionFacts> sections = Sections(image);
    const SectionFacts& rsrc = SectionNamed(sections, ".rsrc");
    const SectionFacts& relocations = SectionNamed(sections, ".reloc");
    std::uint32_t file_alignment = Optional(image, 36);
    std::uint32_t section_alignment = Optional(image, 32);
    EXPECT_EQ(rsrc.raw_size % file_alignment, 0u);
    EXPECT_GE(rsrc.raw_size, rsrc.virtual_size);
    EXPECT_EQ(relocations.raw_pointer, rsrc.raw_pointer + rsrc.raw_size);
    EXPECT_EQ(relocations.address, (rsrc.address + rsrc.virtual_size + section_alignment - 1) /
                                       section_alignment * section_alignment);
    EXPECT_EQ(Bytes(image.begin() + relocations.raw_pointer,
                    image.begin() + relocations.raw_pointer + relocations.raw_size),
              relocation_bytes);
    EXPECT_EQ(relocations.raw_pointer + relocations.raw_size, image.size());
    EXPECT_EQ(pe::OverlayStart(image.data()), image.size());
    EXPECT_EQ(Optional(image, 56),
              (relocations.address + relocations.virtual_size + section_alignment - 1) /
                  section_alignment * section_alignment);
    EXPECT_EQ(Optional(image, 96 + 2 * 8), rsrc.address);
    EXPECT_EQ(Optional(image, 96 + 2 * 8 + 4), rsrc.virtual_size);
    EXPECT_EQ(Optional(image, 96 + 5 * 8), relocations.address);
    EXPECT_EQ(Optional(image, 96 + 5 * 8 + 4), old_relocations.virtual_size);
    EXPECT_EQ(Optional(image, 8) - Optional(original, 8),
              rsrc.raw_size - SectionNamed(Sections(original), ".rsrc").raw_size);
    EXPECT_EQ(Optional(image, 64), cli::ImageChecksum(image));
    // Everything in front of the resources is untouched, apart from the header fields.
    std::uint32_t headers_end = PeOffset(original) + 248 +
                                40 * static_cast<std::uint32_t>(sections.size());
    EXPECT_TRUE(std::equal(original.begin() + headers_end, original.begin() + rsrc.raw_pointer,
                           image.begin() + headers_end));
  }
  // The same resources give the same bytes: nothing else is made up along the way.
  Bytes once = original, twice = original;
  ASSERT_TRUE(cli::ReplaceResources(once, *resources, error_text));
  ASSERT_TRUE(cli::ReplaceResources(twice, *cli::ReadResources(once, error_text), error_text));
  EXPECT_EQ(once, twice);
}

// Where the tree's parts lie in the fixture: the root, the first type's name directory, its
// first language directory and that one's data entry (file offsets).
struct TreeOffsets {
  std::size_t root, names, languages, data_entry;
};
TreeOffsets FindTree(const Bytes& image) {
  const SectionFacts& rsrc = SectionNamed(Sections(image), ".rsrc");
  TreeOffsets offsets{};
  offsets.root = rsrc.raw_pointer;
  offsets.names = rsrc.raw_pointer + (LoadLe32(image.data() + offsets.root + 20) & 0x7FFFFFFF);
  offsets.languages = rsrc.raw_pointer + (LoadLe32(image.data() + offsets.names + 20) & 0x7FFFFFFF);
  offsets.data_entry = rsrc.raw_pointer + LoadLe32(image.data() + offsets.languages + 20);
  return offsets;
}

TEST(ResourceSection, DamagedTreesAndLayoutsAreRefused) {
  const Bytes original = Fixture();
  REQUIRE_FIXTURE(original);
  const TreeOffsets tree = FindTree(original);
  const std::uint32_t optional = PeOffset(original) + 24;
  const std::uint32_t resource_address = LoadLe32(original.data() + optional + 96 + 16);
  struct Case {
    const char* name;
    std::size_t offset;
    std::uint32_t value;  // stored little-endian, 32 bits
    const char* expected;
    bool when_writing = false;
  };
  const Case cases[] = {
      {"root entry count", tree.root + 12, 0xFFFF0000, "entries run past"},
      {"type points back to the root", tree.root + 20, 0x80000000, "reached twice"},
      {"language holds a directory", tree.languages + 20, 0x80000000 | 0x10, "three levels"},
      {"name text outside", tree.names + 16, 0x80FFFFF0, "a name lies outside"},
      {"data before the section", tree.data_entry, 0x1000, "data lies outside"},
      {"data past the section", tree.data_entry + 4, 0x7FFFFFFF, "data lies outside"},
      {"no resource directory", optional + 96 + 16, 0, "no resources"},
      {"resources mid-section", optional + 96 + 16, resource_address + 0x10, "of their own"},
      {"no base relocation directory", optional + 96 + 40, 0, "other than the base relocations",
       true},
      {"signed", optional + 96 + 36, 0x100, "signed", true},
  };
  for (const Case& damage : cases) {
    SCOPED_TRACE(damage.name);
    Bytes image = original;
    StoreLe32(image.data() + damage.offset, damage.value);
    std::string error_text;
    std::optional<std::vector<Resource>> resources = cli::ReadResources(image, error_text);
    if (damage.when_writing) {
      ASSERT_TRUE(resources) << error_text;
      Bytes before = image;
      EXPECT_FALSE(cli::ReplaceResources(image, *resources, error_text));
      EXPECT_EQ(image, before);
    } else {
      EXPECT_FALSE(resources);
    }
    EXPECT_NE(error_text.find(damage.expected), std::string::npos) << error_text;
  }
}

// ---- Icon files and version numbers ----------------------------------------------------------

TEST(IconFile, SoundFilesGiveEveryImage) {
  std::vector<Bytes> made;
  Bytes file = IconFile({{16, 4}, {32, 8}, {48, 24}, {64, 32}, {256, 0}}, &made);
  std::string error_text;
  std::optional<std::vector<cli::IconImage>> images = cli::ParseIconFile(file, error_text);
  ASSERT_TRUE(images) << error_text;
  ASSERT_EQ(images->size(), 5u);
  EXPECT_EQ((*images)[0].width, 16);
  EXPECT_EQ((*images)[0].color_count, 16);
  EXPECT_EQ((*images)[2].bit_count, 24);
  EXPECT_EQ((*images)[4].width, 0);  // 256
  EXPECT_EQ((*images)[4].planes, 1);
  EXPECT_EQ((*images)[4].bit_count, 32);
  for (std::size_t i = 0; i < made.size(); ++i) EXPECT_EQ((*images)[i].data, made[i]) << i;
}

TEST(IconFile, HostileFilesAreRefusedWithTheReason) {
  const Bytes sound = IconFile({{16, 8}, {32, 32}, {256, 0}});
  const std::size_t first = 6, second = 6 + 16, third = 6 + 32;  // the entries
  struct Case {
    const char* name;
    std::function<void(Bytes&)> damage;
    const char* expected;
  };
  const Case cases[] = {
      {"empty file", [](Bytes& file) { file.clear(); }, "not an icon file"},
      {"cursor", [](Bytes& file) { file[2] = 2; }, "cursor"},
      {"no images", [](Bytes& file) { file[4] = 0; }, "0 images"},
      {"directory past the end", [](Bytes& file) { file.resize(30); }, "runs past the end"},
      {"image inside the directory", [&](Bytes& file) { StoreLe32(file.data() + second + 12, 20); },
       "behind its directory"},
      {"image past the end",
       [&](Bytes& file) {
         StoreLe32(file.data() + third + 8, LoadLe32(file.data() + third + 8) + 1);
       },
       "does not lie inside"},
      {"offset and size wrap around",
       [&](Bytes& file) {
         StoreLe32(file.data() + first + 8, 0x100);
         StoreLe32(file.data() + first + 12, 0xFFFFFFF0);
       },
       "does not lie inside"},
      {"empty image", [&](Bytes& file) { StoreLe32(file.data() + first + 8, 0); }, "0 bytes"},
      {"overlapping images",
       [&](Bytes& file) { std::copy_n(file.begin() + second, 16, file.begin() + third); },
       "images 2 and 3 overlap"},
      {"PNG of another size", [&](Bytes& file) { file[third] = 128; }, "256 x 256 pixels, while"},
      {"bitmap of another size", [&](Bytes& file) { file[first] = 32; }, "16 x 16 pixels, while"},
      {"bitmap cut short",
       [&](Bytes& file) {
         StoreLe32(file.data() + second + 8, LoadLe32(file.data() + second + 8) - 200);
       },
       "cut short"},
      {"neither PNG nor bitmap",
       [&](Bytes& file) { file[LoadLe32(file.data() + first + 12)] = 0x99; }, "neither"},
      {"bitmap of three bits",
       [&](Bytes& file) { file[LoadLe32(file.data() + first + 12) + 14] = 3; }, "3 bits per pixel"},
  };
  for (const Case& hostile : cases) {
    SCOPED_TRACE(hostile.name);
    Bytes file = sound;
    hostile.damage(file);
    std::string error_text;
    EXPECT_FALSE(cli::ParseIconFile(file, error_text));
    EXPECT_NE(error_text.find(hostile.expected), std::string::npos) << error_text;
  }
}

TEST(VersionNumber, LeadingNumbersBecomeFourParts) {
  using Version = std::array<std::uint16_t, 4>;
  EXPECT_EQ(cli::ParseVersionNumber("1.2.3"), (Version{1, 2, 3, 0}));
  EXPECT_EQ(cli::ParseVersionNumber("7"), (Version{7, 0, 0, 0}));
  EXPECT_EQ(cli::ParseVersionNumber("10.0.65535.4 (beta)"), (Version{10, 0, 65535, 4}));
  EXPECT_EQ(cli::ParseVersionNumber("2.1-rc1"), (Version{2, 1, 0, 0}));
  for (const char* bad :
       {"", "v1.2", "1..2", "1.2.", "1.2.3.4.5", "65536", "1.2.3.4.", "0000001"}) {
    EXPECT_FALSE(cli::ParseVersionNumber(bad)) << bad;
  }
}

// ---- selfx build, read back with independent tools -------------------------------------

// A version resource's blocks: key, value and children, as the system's reader walks them.
struct VersionNode {
  std::u16string key;
  Bytes value;
  std::uint16_t value_length = 0;
  std::vector<VersionNode> children;
};
std::size_t Align4(std::size_t at) { return (at + 3) / 4 * 4; }
VersionNode ParseVersionBlock(const Bytes& bytes, std::size_t at, bool text_is_units) {
  VersionNode node;
  std::size_t end = at + LoadLe16(bytes.data() + at);
  node.value_length = LoadLe16(bytes.data() + at + 2);
  bool text = LoadLe16(bytes.data() + at + 4) == 1;
  std::size_t cursor = at + 6;
  for (; LoadLe16(bytes.data() + cursor) != 0; cursor += 2) {
    node.key += static_cast<char16_t>(LoadLe16(bytes.data() + cursor));
  }
  cursor = Align4(cursor + 2);
  std::size_t value_bytes = text && text_is_units ? node.value_length * 2u : node.value_length;
  node.value.assign(bytes.begin() + cursor, bytes.begin() + cursor + value_bytes);
  cursor = Align4(cursor + value_bytes);
  while (cursor < end) {
    node.children.push_back(ParseVersionBlock(bytes, cursor, text_is_units));
    cursor = Align4(cursor + LoadLe16(bytes.data() + cursor));
  }
  return node;
}
std::u16string Utf16Value(const Bytes& value) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < value.size(); i += 2)
    text += static_cast<char16_t>(LoadLe16(value.data() + i));
  while (!text.empty() && text.back() == 0) text.pop_back();
  return text;
}

class BuildIdentity : public ::testing::Test {
 protected:
  void SetUp() override {
    stub_ = Fixture();
    if (stub_.empty()) GTEST_SKIP() << "no resource fixture: mingw-w64 was not found";
    folder_ = std::make_unique<test::TempFile>(stub_, "stub.exe");
    std::filesystem::create_directory(Path("in"));
    WriteBytes(Path("in/readme.txt"), Bytes(300, 'r'));
  }
  std::string Path(const std::string& name) const { return folder_->folder() + "/" + name; }
  RunResult Build(const std::string& options) const {
    return RunTool("build --stub " + Path("stub.exe") + " -o " + Path("out.exe") + " " + options +
                   " " + Path("in"));
  }
  RunResult Wrestool(const std::string& arguments) const {
    return Shell("wrestool " + arguments + " " + Path("out.exe"));
  }
  // The level the manifest of out.exe asks for, read with Python's XML parser (which also
  // shows the manifest to be well-formed), with the names of the supported systems counted.
  std::string ManifestFacts() const {
    RunResult extracted = Shell("wrestool -x -R --type=24 " + Path("out.exe") + " > " +
                                Path("manifest.xml"));
    if (extracted.status != 0) return "wrestool failed: " + extracted.output;
    return Shell(
               "python3 -c '"
               "import sys, xml.etree.ElementTree as tree\n"
               "root = tree.parse(sys.argv[1]).getroot()\n"
               "levels = [e.get(\"level\") + \" \" + e.get(\"uiAccess\") for e in root.iter() "
               "if e.tag.endswith(\"}requestedExecutionLevel\")]\n"
               "systems = [e for e in root.iter() if e.tag.endswith(\"}supportedOS\")]\n"
               "controls = [e for e in root.iter() if e.get(\"name\") == "
               "\"Microsoft.Windows.Common-Controls\" and e.get(\"version\") == \"6.0.0.0\"]\n"
               "print(levels, len(systems), len(controls))' " +
               Path("manifest.xml"))
        .output;
  }

  Bytes stub_;
  std::unique_ptr<test::TempFile> folder_;
};

TEST_F(BuildIdentity, IconAndVersionInfoAreWhatIcoutilsRead) {
  std::vector<Bytes> images;
  WriteBytes(Path("maker.ico"), IconFile({{16, 4}, {32, 8}, {48, 32}, {256, 0}}, &images));
  RunResult built = Build("--icon " + Path("maker.ico") +
                          " --version-info 'FileDescription=Grüße, ☃ and 𝄞'"
                          " --version-info CompanyName=Example --version-info FileVersion=1.2.3"
                          " --version-info 'ProductVersion=2.0 beta' --version-info Comments=");
  ASSERT_EQ(built.status, 0) << built.output;

  RunResult listed = Wrestool("-l");
  ASSERT_EQ(listed.status, 0) << listed.output;
  EXPECT_NE(listed.output.find("--type=14 --name='UNZIP' --language=1033"), std::string::npos)
      << listed.output;
  EXPECT_NE(listed.output.find("--type=16 --name=1 --language=1033"), std::string::npos)
      << listed.output;
  // The stub's own image gave way: four images, numbered from 1.
  for (int number = 1; number <= 5; ++number) {
    bool listed_icon = listed.output.find("--type=3 --name=" + std::to_string(number) + " ") !=
                       std::string::npos;
    EXPECT_EQ(listed_icon, number <= 4) << number << "\n" << listed.output;
  }
  RunResult group = Shell("wrestool -x --type=14 --name=UNZIP " + Path("out.exe") + " -o " +
                          Path("group.ico") + " && icotool -l " + Path("group.ico"));
  ASSERT_EQ(group.status, 0) << group.output;
  for (const char* expected :
       {"--width=16 --height=16 --bit-depth=4 --palette-size=16",
        "--width=32 --height=32 --bit-depth=8", "--width=48 --height=48 --bit-depth=32",
        "--width=256 --height=256 --bit-depth=32"}) {
    EXPECT_NE(group.output.find(expected), std::string::npos) << expected << "\n" << group.output;
  }
  for (std::size_t i = 0; i < images.size(); ++i) {
    std::string raw = Path("image" + std::to_string(i + 1));
    Shell("wrestool -x -R --type=3 --name=" + std::to_string(i + 1) + " " + Path("out.exe") +
          " > " + raw);
    EXPECT_EQ(ReadBytes(raw), images[i]) << "image " << i + 1;
  }

  Shell("wrestool -x -R --type=16 " + Path("out.exe") + " > " + Path("version.bin"));
  Bytes version = ReadBytes(Path("version.bin"));
  ASSERT_GT(version.size(), 92u);
  VersionNode root = ParseVersionBlock(version, 0, true);
  EXPECT_EQ(root.key, u"VS_VERSION_INFO");
  ASSERT_EQ(root.value.size(), 52u);
  const std::uint32_t expected_fixed[] = {0xFEEF04BD, 0x00010000, 0x00010002,
                                          0x00030000, 0x00020000, 0};
  for (std::size_t i = 0; i < std::size(expected_fixed); ++i) {
    EXPECT_EQ(LoadLe32(root.value.data() + 4 * i), expected_fixed[i]) << "field " << i;
  }
  EXPECT_EQ(LoadLe32(root.value.data() + 32), 0x00040004u);  // Windows NT, 32-bit
  EXPECT_EQ(LoadLe32(root.value.data() + 36), 1u);           // an application
  ASSERT_EQ(root.children.size(), 2u);
  EXPECT_EQ(root.children[0].key, u"StringFileInfo");
  ASSERT_EQ(root.children[0].children.size(), 1u);
  const VersionNode& table = root.children[0].children[0];
  EXPECT_EQ(table.key, u"040904B0");
  std::map<std::u16string, std::u16string> strings;
  for (const VersionNode& string : table.children) {
    strings[string.key] = Utf16Value(string.value);
    EXPECT_EQ(string.value_length, Utf16Value(string.value).size() + 1) << "in 16-bit units";
  }
  EXPECT_EQ(strings,
            (std::map<std::u16string, std::u16string>{{u"FileDescription", u"Grüße, ☃ and 𝄞"},
                                                      {u"CompanyName", u"Example"},
                                                      {u"FileVersion", u"1.2.3"},
                                                      {u"ProductVersion", u"2.0 beta"},
                                                      {u"Comments", u""}}));
  EXPECT_EQ(root.children[1].key, u"VarFileInfo");
  ASSERT_EQ(root.children[1].children.size(), 1u);
  EXPECT_EQ(root.children[1].children[0].key, u"Translation");
  EXPECT_EQ(root.children[1].children[0].value, (Bytes{0x09, 0x04, 0xB0, 0x04}));

  // The archive behind the rewritten stub is as sound as ever.
  EXPECT_EQ(RunTool("test " + Path("out.exe")).status, 0);
  RunResult extracted = RunTool("extract -d " + Path("x") + " " + Path("out.exe"));
  EXPECT_EQ(extracted.status, 0) << extracted.output;
  EXPECT_EQ(ReadBytes(Path("x/readme.txt")), Bytes(300, 'r'));
  EXPECT_EQ(Shell("unzip -tq " + Path("out.exe")).status, 0);
}

TEST_F(BuildIdentity, ManifestAsksForTheInvokersRightsUnlessAdminIsGiven) {
  ASSERT_EQ(Build("").status, 0);
  // Without the options the stub is copied byte for byte.
  Bytes built = ReadBytes(Path("out.exe"));
  ASSERT_GT(built.size(), stub_.size());
  EXPECT_TRUE(std::equal(stub_.begin(), stub_.end(), built.begin()));
  EXPECT_EQ(ManifestFacts(), "['asInvoker false'] 4 1\n");

  RunResult admin = Build("--admin --version-info ProductName=Tool");
  ASSERT_EQ(admin.status, 0) << admin.output;
  EXPECT_EQ(ManifestFacts(), "['requireAdministrator false'] 4 1\n");
  EXPECT_EQ(RunTool("test " + Path("out.exe")).status, 0);
}

TEST_F(BuildIdentity, BadIconsAndKeysWriteNothing) {
  WriteBytes(Path("cursor.cur"), [] {
    Bytes file = IconFile({{32, 32}});
    file[2] = 2;
    return file;
  }());
  WriteBytes(Path("cut.ico"), [] {
    Bytes file = IconFile({{32, 32}});
    file.resize(file.size() - 1);
    return file;
  }());
  struct Case {
    std::string options;
    std::string expected;
  };
  const Case cases[] = {
      {"--icon " + Path("cursor.cur"), Path("cursor.cur") + ": a cursor file"},
      {"--icon " + Path("cut.ico"), Path("cut.ico") + ": image 1"},
      {"--icon " + Path("missing.ico"), Path("missing.ico")},
      {"--icon " + Path("in"), Path("in")},
      {"--version-info Author=me", "KEY one of FileDescription"},
      {"--version-info FileDescription", "not \"FileDescription\""},
      {"--version-info Comments=a --version-info Comments=b", "Comments is given twice"},
      {"--version-info FileVersion=beta", "FileVersion must start with a version"},
      {"--version-info \"$(printf 'Comments=\\377')\"", "not UTF-8"},
  };
  for (const Case& bad : cases) {
    SCOPED_TRACE(bad.options);
    RunResult result = Build(bad.options);
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.output.find(bad.expected), std::string::npos) << result.output;
    EXPECT_FALSE(std::filesystem::exists(Path("out.exe")));
    for (const auto& item : std::filesystem::directory_iterator(folder_->folder())) {
      EXPECT_EQ(item.path().string().find(".partial"), std::string::npos) << item.path();
    }
  }
}

}  // namespace
}  // namespace selfx
