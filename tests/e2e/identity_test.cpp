// The maker's identity under Wine: an archive built with --icon and --version-info shows the
// maker's icon in its dialog where a plain one shows the stub's, the system's version API
// reads its version information, and signed with osslsigncode it still extracts.
// The archives come from make_identity_fixtures.py (SELFX_E2E_FIXTURES).
#include <windows.h>

#include <gtest/gtest.h>
#include <winver.h>

#include "extraction_support.h"

namespace e2e {
namespace {

// The colour at the centre of the icon a dialog's icon control shows: its image drawn into a
// 32-bit bitmap and read back, as 0xRRGGBB. Nothing when the control holds no icon.
std::optional<std::uint32_t> IconCentreColor(HWND dialog) {
  HWND control = nullptr;
  for (HWND child : ChildWindows(dialog)) {
    if (ClassName(child) == "Static" &&
        (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
      control = child;
    }
  }
  if (control == nullptr) return std::nullopt;
  auto icon = reinterpret_cast<HICON>(SendMessageA(control, STM_GETICON, 0, 0));
  if (icon == nullptr) return std::nullopt;
  constexpr int kSide = 32;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = kSide;
  info.bmiHeader.biHeight = -kSide;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  RECT all = {0, 0, kSide, kSide};
  FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  DrawIconEx(memory, 0, 0, icon, kSide, kSide, 0, nullptr, DI_NORMAL);
  GdiFlush();
  std::uint32_t pixel = static_cast<const std::uint32_t*>(bits)[kSide / 2 * kSide + kSide / 2];
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixel & 0xFFFFFF;  // a 32-bit DIB pixel is blue, green, red, unused: 0x00RRGGBB
}

class MakerIdentity : public ExtractionTest {
 protected:
  std::string Fixture(const std::string& name) const { return FixturesFolder() + "\\" + name; }
};

TEST_F(MakerIdentity, DialogShowsTheMakersIcon) {
  constexpr std::uint32_t kRed = 0xFF0000;  // the fixture icon's only colour
  for (const char* name : {"identity", "identity_plain"}) {
    SCOPED_TRACE(name);
    const auto archive = ReadFileBytes(Fixture(std::string(name) + ".exe"));
    ASSERT_FALSE(archive.empty()) << "missing fixture " << name << " in " << FixturesFolder();
    Process stub = Run(archive, name);
    HWND dialog = Open(stub);
    ASSERT_NE(nullptr, dialog);
    std::optional<std::uint32_t> color = IconCentreColor(dialog);
    ASSERT_TRUE(color) << "the dialog shows no icon:\n" << DescribeWindows(stub.id());
    // The stub's own icon, shown by the plain archive, is the control: it is not solid red.
    if (std::string(name) == "identity") {
      EXPECT_EQ(kRed, *color);
    } else {
      EXPECT_NE(kRed, *color);
    }
    ExpectCloseEndsWithZero(stub, dialog);
  }
}

TEST_F(MakerIdentity, VersionInformationReadsBackThroughTheSystem) {
  const std::string path = Fixture("identity.exe");
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  ASSERT_NE(0u, size) << path << ": no version information (error " << GetLastError() << ")";
  std::vector<char> data(size);
  ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, data.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), length);
  EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
  EXPECT_EQ(0x00030004u, fixed->dwFileVersionMS);  // "3.4.5.6"
  EXPECT_EQ(0x00050006u, fixed->dwFileVersionLS);
  EXPECT_EQ(0x00030004u, fixed->dwProductVersionMS);  // "3.4 beta"
  EXPECT_EQ(0u, fixed->dwProductVersionLS);
  EXPECT_EQ(static_cast<DWORD>(VFT_APP), fixed->dwFileType);

  DWORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueA(data.data(), "\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  ASSERT_EQ(4u, length);
  EXPECT_EQ(0x04B00409u, *translation);  // US English, UTF-16

  // The ANSI call hands the strings over in code page 1252.
  ASSERT_EQ(1252u, GetACP());
  const std::pair<const char*, const char*> strings[] = {
      {"FileDescription",
       "Gr\xFC\xDF"
       "e installer"},
      {"CompanyName", "Example Makers"},
      {"FileVersion", "3.4.5.6"},
      {"ProductVersion", "3.4 beta"},
  };
  for (const auto& [key, expected] : strings) {
    char* value = nullptr;
    std::string query = std::string("\\StringFileInfo\\040904B0\\") + key;
    ASSERT_TRUE(
        VerQueryValueA(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
        << key;
    EXPECT_EQ(std::string(expected), std::string(value)) << key;
  }
}

// A signature appended by osslsigncode lies behind the archive; the rewritten resources and
// the signature together must still leave an archive the stub extracts.
TEST_F(MakerIdentity, SignedArchiveWithIconAndVersionExtracts) {
  const auto archive = ReadFileBytes(Fixture("identity_signed.exe"));
  ASSERT_FALSE(archive.empty()) << "missing fixture identity_signed in " << FixturesFolder();
  Process stub = Run(archive, "identity_signed");
  HWND dialog = Open(stub);
  ASSERT_NE(nullptr, dialog);
  const std::string target = NewFolder("target");
  StartUnzip(dialog, target);
  ExpectRunSucceeded(stub);
  ExpectExtracted(archive, Fixture("identity_tree"), target);
}

}  // namespace
}  // namespace e2e
