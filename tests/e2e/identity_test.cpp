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

constexpr int kIconSide = 32;  // the size a dialog's icon control draws its icon at

// The colour of `icon`'s centre pixel drawn over white at the dialog size, as 0xRRGGBB.
std::optional<std::uint32_t> IconCentreColor(HICON icon) {
  if (icon == nullptr) return std::nullopt;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = kIconSide;
  info.bmiHeader.biHeight = -kIconSide;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  RECT all = {0, 0, kIconSide, kIconSide};
  FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  const bool drawn = DrawIconEx(memory, 0, 0, icon, kIconSide, kIconSide, 0, nullptr, DI_NORMAL);
  GdiFlush();
  const std::uint32_t pixel = static_cast<const std::uint32_t*>(
      bits)[kIconSide / 2 * kIconSide + kIconSide / 2];
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (!drawn) return std::nullopt;
  return pixel & 0xFFFFFF;  // a 32-bit DIB pixel is blue, green, red, unused: 0x00RRGGBB
}

// The centre colour of the icon group "UNZIP" that the program file carries.
std::optional<std::uint32_t> FileIconCentreColor(const std::string& path) {
  HMODULE file = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (file == nullptr) return std::nullopt;
  auto icon = static_cast<HICON>(LoadImageA(file, "UNZIP", IMAGE_ICON, kIconSide, kIconSide, 0));
  std::optional<std::uint32_t> color = IconCentreColor(icon);
  if (icon != nullptr) DestroyIcon(icon);
  FreeLibrary(file);
  return color;
}

// The colour the screen shows at the centre of the dialog's icon control, as 0xRRGGBB. Read
// from the screen, because an icon handle of another process cannot be drawn here under Wine.
std::optional<std::uint32_t> ShownIconCentreColor(HWND dialog) {
  HWND control = nullptr;
  for (HWND child : ChildWindows(dialog)) {
    if (ClassName(child) == "Static" &&
        (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
      control = child;
    }
  }
  RECT area = {};
  if (control == nullptr || !GetWindowRect(control, &area)) return std::nullopt;
  HDC screen = GetDC(nullptr);
  const COLORREF pixel = GetPixel(screen, area.left + kIconSide / 2, area.top + kIconSide / 2);
  ReleaseDC(nullptr, screen);
  if (pixel == CLR_INVALID) return std::nullopt;
  return (GetRValue(pixel) << 16) | (GetGValue(pixel) << 8) | GetBValue(pixel);
}

class MakerIdentity : public ExtractionTest {
 protected:
  std::string Fixture(const std::string& name) const { return FixturesFolder() + "\\" + name; }

  // The builder writes a maker's icon and version information into a 32-bit stub only, so the
  // 64-bit test build of the stub cannot run such an archive.
  static bool RunsOnlyOnTheShippedStub() {
#if defined(_WIN64)
    return true;
#else
    return false;
#endif
  }
  static constexpr const char* kNoIdentityIn64Bit =
      "the builder writes icons and version information into the 32-bit stub only; this is "
      "the 64-bit test build";
};

TEST_F(MakerIdentity, DialogShowsTheMakersIcon) {
  if (RunsOnlyOnTheShippedStub()) GTEST_SKIP() << kNoIdentityIn64Bit;
  constexpr std::uint32_t kRed = 0xFF0000;  // the fixture icon's only colour
  for (const char* name : {"identity", "identity_plain"}) {
    SCOPED_TRACE(name);
    const std::string path = Fixture(std::string(name) + ".exe");
    const auto archive = ReadFileBytes(path);
    ASSERT_FALSE(archive.empty()) << "missing fixture " << name << " in " << FixturesFolder();
    // What the file carries: the maker's red icon, or the stub's own, which is not solid red.
    const std::optional<std::uint32_t> carried = FileIconCentreColor(path);
    ASSERT_TRUE(carried) << path << " has no icon group UNZIP";
    if (std::string(name) == "identity") {
      EXPECT_EQ(kRed, *carried);
    } else {
      EXPECT_NE(kRed, *carried);
    }
    Process stub = Run(archive, name);
    HWND dialog = Open(stub);
    ASSERT_NE(nullptr, dialog);
    std::optional<std::uint32_t> shown;
    EXPECT_TRUE(WaitUntil(
        [&] {
          shown = ShownIconCentreColor(dialog);
          return shown == carried;
        },
        kWindowTimeoutMs))
        << std::hex << "the dialog shows 0x" << shown.value_or(0) << ", the file carries 0x"
        << *carried << "\n"
        << DescribeWindows(stub.id());
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
  if (RunsOnlyOnTheShippedStub()) GTEST_SKIP() << kNoIdentityIn64Bit;
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
