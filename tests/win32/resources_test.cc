// Reads the resources out of the built Quarnel.exe, as the system will, and
// checks them against the design: both dialog templates control by control,
// the About string, the icon, the version block and the manifest.
// Usage: resources_test <path of Quarnel.exe> [gtest options]
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "dialog_driver_win32.h"
#include "quarnel/version.h"
#include "resource.h"

namespace quarnel::testing {
namespace {

std::wstring g_exePath;

// The bytes of one resource of the module.
std::vector<std::uint8_t> ResourceBytes(HMODULE module, LPCWSTR name, LPCWSTR type) {
  HRSRC found = FindResourceW(module, name, type);
  if (found == nullptr) return {};
  const auto* data = static_cast<const std::uint8_t*>(LockResource(LoadResource(module, found)));
  return std::vector<std::uint8_t>(data, data + SizeofResource(module, found));
}

// Walks a DLGTEMPLATEEX: words, double words, and strings or ordinals.
class TemplateReader {
 public:
  explicit TemplateReader(const std::vector<std::uint8_t>& bytes) : m_bytes(bytes) {}
  std::uint16_t Word() { return Take<std::uint16_t>(); }
  std::int16_t Short() { return Take<std::int16_t>(); }
  std::uint32_t DoubleWord() { return Take<std::uint32_t>(); }
  std::uint8_t Byte() { return Take<std::uint8_t>(); }
  std::wstring String() {
    std::wstring text;
    for (std::uint16_t c = Word(); c != 0; c = Word()) text += static_cast<wchar_t>(c);
    return text;
  }
  // A string, or an ordinal written as "#n"; empty when absent.
  std::wstring StringOrOrdinal() {
    const std::uint16_t first = Word();
    if (first == 0) return L"";
    if (first == 0xFFFF) return L"#" + std::to_wstring(Word());
    std::wstring text(1, static_cast<wchar_t>(first));
    return text + String();
  }
  void AlignToDoubleWord() { m_position = (m_position + 3) & ~std::size_t{3}; }
  void Skip(std::size_t count) { m_position += count; }
  bool Overran() const { return m_overran; }

 private:
  template <typename T>
  T Take() {
    T value{};
    if (m_position + sizeof(T) > m_bytes.size()) {
      m_overran = true;
      return value;
    }
    std::memcpy(&value, m_bytes.data() + m_position, sizeof(T));
    m_position += sizeof(T);
    return value;
  }

  const std::vector<std::uint8_t>& m_bytes;
  std::size_t m_position = 0;
  bool m_overran = false;
};

struct Control {
  int id;
  std::wstring className;  // "#128" button, "#129" edit, "#130" static
  std::wstring text;
  int x, y, cx, cy;
  DWORD style;
  DWORD exStyle;
  bool operator==(const Control&) const = default;
};

void PrintTo(const Control& c, std::ostream* os) {
  *os << "{id " << c.id << ", class " << ::testing::PrintToString(c.className) << ", text "
      << ::testing::PrintToString(c.text) << ", " << c.x << "," << c.y << "," << c.cx << "," << c.cy << ", style 0x"
      << std::hex << c.style << ", exStyle 0x" << c.exStyle << std::dec << "}";
}

struct DialogTemplate {
  DWORD style = 0;
  DWORD exStyle = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  std::wstring menu, windowClass, caption;
  int pointSize = 0, weight = 0, italic = 0, charset = 0;
  std::wstring typeface;
  std::vector<Control> controls;
};

DialogTemplate ReadDialog(HMODULE module, int id) {
  const std::vector<std::uint8_t> bytes = ResourceBytes(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5));
  TemplateReader in(bytes);
  DialogTemplate dialog;
  EXPECT_EQ(in.Word(), 1) << "extended template version";
  EXPECT_EQ(in.Word(), 0xFFFF) << "extended template signature";
  in.DoubleWord();  // help id
  dialog.exStyle = in.DoubleWord();
  dialog.style = in.DoubleWord();
  const int count = in.Word();
  dialog.x = in.Short();
  dialog.y = in.Short();
  dialog.cx = in.Short();
  dialog.cy = in.Short();
  dialog.menu = in.StringOrOrdinal();
  dialog.windowClass = in.StringOrOrdinal();
  dialog.caption = in.String();
  if (dialog.style & DS_SETFONT) {
    dialog.pointSize = in.Word();
    dialog.weight = in.Word();
    dialog.italic = in.Byte();
    dialog.charset = in.Byte();
    dialog.typeface = in.String();
  }
  for (int i = 0; i < count; ++i) {
    in.AlignToDoubleWord();
    Control control{};
    in.DoubleWord();  // help id
    control.exStyle = in.DoubleWord();
    control.style = in.DoubleWord();
    control.x = in.Short();
    control.y = in.Short();
    control.cx = in.Short();
    control.cy = in.Short();
    control.id = static_cast<std::int32_t>(in.DoubleWord());
    control.className = in.StringOrOrdinal();
    control.text = in.StringOrOrdinal();
    in.Skip(in.Word());  // creation data
    dialog.controls.push_back(control);
  }
  EXPECT_FALSE(in.Overran()) << "template " << id << " is shorter than its contents";
  return dialog;
}

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
const std::wstring kButton = L"#128", kEdit = L"#129", kStatic = L"#130";

class ResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module = LoadLibraryExW(g_exePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr) << "cannot load the executable's resources";
  }
  void TearDown() override {
    if (module) FreeLibrary(module);
  }
  HMODULE module = nullptr;
};

TEST_F(ResourcesTest, MainDialogTemplateIsAsDesigned) {
  const DialogTemplate dialog = ReadDialog(module, IDD_MAIN_DIALOG);
  EXPECT_EQ(dialog.style, DWORD{WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT |
                                DS_FIXEDSYS});
  EXPECT_EQ(dialog.exStyle, DWORD{WS_EX_APPWINDOW});
  EXPECT_EQ(dialog.caption, L"Quarnel");
  EXPECT_EQ(std::vector<int>({dialog.x, dialog.y, dialog.cx, dialog.cy}), std::vector<int>({0, 0, 266, 162}));
  EXPECT_EQ(dialog.menu, L"");
  EXPECT_EQ(dialog.windowClass, L"");
  EXPECT_EQ(dialog.typeface, L"MS Shell Dlg");
  EXPECT_EQ(std::vector<int>({dialog.pointSize, dialog.weight, dialog.italic, dialog.charset}),
            std::vector<int>({8, 0, 0, DEFAULT_CHARSET}));

  // In template order, which is the tab order.
  const std::vector<Control> expected = {
      {IDOK, kButton, L"Convert", 60, 125, 50, 16, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 0},
      {IDCANCEL, kButton, L"Cancel", 140, 125, 50, 16, kChild | WS_TABSTOP, 0},
      {-1, kStatic, L"Select source file:", 20, 15, 96, 13, kChild | SS_LEFT | WS_GROUP, 0},
      {-1, kStatic, L"Select target file:", 20, 65, 96, 13, kChild | SS_LEFT | WS_GROUP, 0},
      {IDC_SOURCE_EDIT, kEdit, L"", 15, 30, 180, 15, kChild | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP,
       WS_EX_ACCEPTFILES},
      {IDC_TARGET_EDIT, kEdit, L"", 15, 80, 180, 15, kChild | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 0},
      {IDC_BROWSE_SOURCE, kButton, L"Browse", 200, 30, 40, 15, kChild | WS_TABSTOP, 0},
      {IDC_BROWSE_TARGET, kButton, L"Browse", 200, 80, 40, 15, kChild | WS_TABSTOP, 0},
  };
  EXPECT_EQ(dialog.controls, expected);
}

TEST_F(ResourcesTest, AboutBoxTemplateIsAsDesigned) {
  const DialogTemplate dialog = ReadDialog(module, IDD_ABOUTBOX);
  EXPECT_EQ(dialog.style, DWORD{WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS});
  EXPECT_EQ(dialog.exStyle, DWORD{0});
  EXPECT_EQ(dialog.caption, L"About Quarnel");
  EXPECT_EQ(std::vector<int>({dialog.cx, dialog.cy}), std::vector<int>({235, 62}));
  EXPECT_EQ(dialog.typeface, L"MS Shell Dlg");
  EXPECT_EQ(dialog.pointSize, 8);
  const std::vector<Control> expected = {
      {-1, kStatic, L"#128", 11, 17, 20, 20, kChild | SS_ICON, 0},
      {-1, kStatic, L"Quarnel Ver. 1.0", 37, 10, 133, 8, kChild | SS_NOPREFIX | WS_GROUP, 0},
      {-1, kStatic, L"Copyright (C) 2008 Quarnel", 37, 25, 119, 8, kChild | SS_LEFT | WS_GROUP, 0},
      {-1, kStatic, L"Version " QUARNEL_VERSION_TEXT, 37, 40, 133, 8, kChild | SS_NOPREFIX | WS_GROUP, 0},
      {IDOK, kButton, L"OK", 178, 7, 50, 16, kChild | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 0},
  };
  EXPECT_EQ(dialog.controls, expected);
}

TEST_F(ResourcesTest, AboutEntryString) {
  wchar_t text[64] = {};
  LoadStringW(module, IDS_ABOUTBOX, text, 64);
  EXPECT_STREQ(text, L"&About Quarnel");
}

#pragma pack(push, 2)
struct IconGroupEntry {
  BYTE width, height, colorCount, reserved;
  WORD planes, bitCount;
  DWORD bytesInRes;
  WORD id;
};
#pragma pack(pop)

TEST_F(ResourcesTest, IconHoldsFourSizesWithThe32PixelImageFirst) {
  const std::vector<std::uint8_t> group = ResourceBytes(module, MAKEINTRESOURCEW(IDR_MAINFRAME), RT_GROUP_ICON);
  WORD count = 0;
  ASSERT_GE(group.size(), 6u);
  std::memcpy(&count, group.data() + 4, sizeof(count));
  ASSERT_EQ(count, 4);
  ASSERT_GE(group.size(), 6u + count * sizeof(IconGroupEntry));
  std::vector<IconGroupEntry> entries(count);
  std::memcpy(entries.data(), group.data() + 6, count * sizeof(IconGroupEntry));
  // 256 pixels are written as 0 in the directory's one byte.
  const int sizes[] = {32, 16, 48, 0};
  for (WORD i = 0; i < count; ++i) {
    EXPECT_EQ(entries[i].width, sizes[i]) << i;
    EXPECT_EQ(entries[i].height, sizes[i]) << i;
    EXPECT_EQ(entries[i].bitCount, 32) << i;
  }

  const std::vector<std::uint8_t> image = ResourceBytes(module, MAKEINTRESOURCEW(entries[0].id), RT_ICON);
  BITMAPINFOHEADER header{};
  ASSERT_GE(image.size(), sizeof(header));
  std::memcpy(&header, image.data(), sizeof(header));
  EXPECT_EQ(header.biWidth, 32);
  EXPECT_EQ(header.biHeight, 64) << "colour image and mask";
  EXPECT_EQ(header.biBitCount, 32);
}

// The version's four fields as the fixed part of a version block holds them.
constexpr DWORD kVersionHigh = DWORD{QUARNEL_VERSION_MAJOR} << 16 | QUARNEL_VERSION_MINOR;
constexpr DWORD kVersionLow = DWORD{QUARNEL_VERSION_PATCH} << 16 | QUARNEL_VERSION_BUILD;

std::wstring VersionString(const std::vector<std::uint8_t>& block, const std::wstring& name) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring query = L"\\StringFileInfo\\040904E4\\" + name;
  if (!VerQueryValueW(block.data(), query.c_str(), &value, &length) || length == 0) return L"(missing)";
  return std::wstring(static_cast<const wchar_t*>(value));
}

TEST_F(ResourcesTest, VersionBlockNamesTheBuildsVersion) {
  const DWORD size = GetFileVersionInfoSizeW(g_exePath.c_str(), nullptr);
  ASSERT_GT(size, 0u);
  std::vector<std::uint8_t> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(g_exePath.c_str(), 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, kVersionHigh);
  EXPECT_EQ(fixed->dwFileVersionLS, kVersionLow);
  EXPECT_EQ(fixed->dwProductVersionMS, kVersionHigh);
  EXPECT_EQ(fixed->dwProductVersionLS, kVersionLow);
  EXPECT_EQ(fixed->dwFileOS, DWORD{VOS__WINDOWS32});
  EXPECT_EQ(fixed->dwFileType, DWORD{VFT_APP});

  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                             &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(translation[0], 0x0409);
  EXPECT_EQ(translation[1], 1252);

  struct Entry {
    const wchar_t* name;
    const wchar_t* value;
  };
  const Entry entries[] = {
      {L"FileVersion", L"" QUARNEL_VERSION_TEXT}, {L"ProductVersion", L"" QUARNEL_VERSION_TEXT},
      {L"InternalName", L"Quarnel.exe"},     {L"OriginalFilename", L"Quarnel.exe"},
      {L"CompanyName", L"Quarnel"},          {L"ProductName", L"Quarnel"},
      {L"LegalCopyright", L"Copyright (C) 2008 Quarnel"},
  };
  for (const Entry& e : entries) EXPECT_EQ(VersionString(block, e.name), e.value) << e.name;
  EXPECT_NE(VersionString(block, L"FileDescription"), L"(missing)");
}

TEST_F(ResourcesTest, ManifestCarriesTheVersionAndAsksForCommonControlsSix) {
  std::vector<int> names;
  EnumResourceNamesW(
      module, RT_MANIFEST,
      [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR data) -> BOOL {
        reinterpret_cast<std::vector<int>*>(data)->push_back(IS_INTRESOURCE(name) ? LOWORD(name) : -1);
        return TRUE;
      },
      reinterpret_cast<LONG_PTR>(&names));
  EXPECT_EQ(names, std::vector<int>{1}) << "one manifest, the one a process starts with";

  const std::vector<std::uint8_t> bytes = ResourceBytes(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
  const std::string manifest(bytes.begin(), bytes.end());
  const std::size_t controls = manifest.find("name=\"Microsoft.Windows.Common-Controls\"");
  ASSERT_NE(controls, std::string::npos);
  const std::size_t elementStart = manifest.rfind('<', controls);
  const std::size_t elementEnd = manifest.find('>', controls);
  const std::string element = manifest.substr(elementStart, elementEnd - elementStart);
  EXPECT_NE(element.find("version=\"6.0.0.0\""), std::string::npos) << element;
  EXPECT_NE(element.find("publicKeyToken=\"6595b64144ccf1df\""), std::string::npos) << element;

  const std::size_t identity = manifest.find("<assemblyIdentity");
  ASSERT_NE(identity, std::string::npos);
  const std::string own = manifest.substr(identity, manifest.find('>', identity) - identity);
  EXPECT_NE(own.find("version=\"" QUARNEL_VERSION_TEXT "\""), std::string::npos) << own;
}

}  // namespace
}  // namespace quarnel::testing

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: resources_test <path of Quarnel.exe> [gtest options]\n");
    return 2;
  }
  quarnel::testing::g_exePath = quarnel::testing::WindowsPath(argv[1]);
  return RUN_ALL_TESTS();
}
