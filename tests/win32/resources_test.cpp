// The resources built into TslFlash.exe: the string table is the catalogue's,
// the version resource names the program, the icon and the tree's bitmap have
// the sizes and colours the window needs, and the manifest asks for what the
// program needs from Windows.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "resources/texts.h"
#include "ui/win32/resource_ids.h"
#include "ui/win32/win32_resources.h"
#include "ui/win32/windows_api.h"

namespace tslflash {
namespace {

// The program's path as Windows reaches it: wine shows the build machine's
// root as drive Z:.
std::string ProgramPath() {
  std::string path = TSLFLASH_EXE;
  if (path.starts_with("/")) path = "Z:" + path;
  return path;
}

class ProgramResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = LoadLibraryExA(ProgramPath().c_str(), nullptr,
                              LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(program_, nullptr) << ProgramPath() << ": error " << GetLastError();
  }
  void TearDown() override {
    if (program_ != nullptr) FreeLibrary(program_);
  }

  HMODULE program_ = nullptr;
};

// Every string of the table, by id: the table's blocks hold sixteen ids
// each, and an id without a string loads as empty.
std::map<int, std::string> StringTable(HMODULE module) {
  constexpr int kStringResource = 6;  // RT_STRING
  std::vector<int> blocks;
  EnumResourceNamesA(
      module, ResourceName(kStringResource),
      [](HMODULE, LPCSTR, LPSTR name, LONG_PTR found) -> BOOL {
        reinterpret_cast<std::vector<int>*>(found)->push_back(
            static_cast<int>(reinterpret_cast<ULONG_PTR>(name)));
        return TRUE;
      },
      reinterpret_cast<LONG_PTR>(&blocks));
  std::map<int, std::string> table;
  for (const int block : blocks) {
    for (int id = (block - 1) * 16; id < block * 16; ++id) {
      char text[256] = {};
      const int length =
          LoadStringA(module, static_cast<UINT>(id), text, static_cast<int>(sizeof(text)));
      if (length > 0) table[id] = std::string(text, static_cast<std::size_t>(length));
    }
  }
  return table;
}

TEST_F(ProgramResourcesTest, StringTableHoldsTheCataloguesEntriesAndNothingElse) {
  std::map<int, std::string> expected;
  for (const StringTableEntry& entry :
       {kStringAboutItem, kStringSelectDrive, kStringClose, kStringUpdate}) {
    expected[entry.id] = std::string(entry.text);
  }
  EXPECT_EQ(StringTable(program_), expected);
}

TEST_F(ProgramResourcesTest, IconGroupHoldsA32AndA16PixelImageOf16Colours) {
  // A group icon resource: 6-byte header, then 14-byte entries.
  constexpr int kGroupIcon = 14;  // RT_GROUP_ICON
  HRSRC found = FindResourceA(program_, ResourceName(IDI_TSLFLASH), ResourceName(kGroupIcon));
  ASSERT_NE(found, nullptr);
  const auto* group = static_cast<const BYTE*>(LockResource(LoadResource(program_, found)));
  ASSERT_NE(group, nullptr);
  const int count = group[4] | (group[5] << 8);
  std::vector<std::pair<int, int>> sizesAndColours;
  for (int i = 0; i < count; ++i) {
    const BYTE* entry = group + 6 + 14 * i;
    sizesAndColours.emplace_back(entry[0], entry[2]);
  }
  EXPECT_EQ(sizesAndColours, (std::vector<std::pair<int, int>>{{32, 16}, {16, 16}}));
}

TEST_F(ProgramResourcesTest, TreeBitmapIs34By17At8BitsPerPixelOnPureRed) {
  auto* bitmap = static_cast<HBITMAP>(
      LoadImageA(program_, ResourceName(IDB_TREE_IMAGES), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  ASSERT_NE(bitmap, nullptr);
  DIBSECTION section{};
  ASSERT_EQ(GetObjectA(bitmap, sizeof(section), &section), static_cast<int>(sizeof(section)));
  EXPECT_EQ(section.dsBmih.biWidth, 34);
  EXPECT_EQ(section.dsBmih.biHeight, 17);
  EXPECT_EQ(section.dsBmih.biBitCount, 8);
  // The last column belongs to no cell: it is all background, the mask colour.
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, bitmap);
  for (int y = 0; y < 17; ++y) EXPECT_EQ(GetPixel(dc, 33, y), RGB(255, 0, 0)) << "row " << y;
  SelectObject(dc, previous);
  DeleteDC(dc);
  DeleteObject(bitmap);
}

// Windows reads the manifest of id 1 when it starts the program: without it
// the tool would run without the rights pass-through writes need, blurred on
// a scaled display, and with the old unthemed controls.
TEST_F(ProgramResourcesTest, ManifestAsksForAdministratorDpiAwarenessAndCommonControls6) {
  const HRSRC found = FindResourceA(program_, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  ASSERT_NE(found, nullptr) << "no RT_MANIFEST resource 1";
  const HGLOBAL loaded = LoadResource(program_, found);
  ASSERT_NE(loaded, nullptr);
  const std::string manifest(static_cast<const char*>(LockResource(loaded)),
                             SizeofResource(program_, found));
  for (const char* part : {"<requestedExecutionLevel level=\"requireAdministrator\"", "<dpiAware",
                           "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""}) {
    EXPECT_NE(manifest.find(part), std::string::npos) << part;
  }
}

TEST(ProgramVersionTest, VersionResourceNamesTheProgram) {
  const std::string path = ProgramPath();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  ASSERT_GT(size, 0U) << path;
  std::vector<char> info(size);
  ASSERT_NE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()), 0);

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_NE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length), 0);
  // File and product version are the project's.
  unsigned part[4] = {};
  ASSERT_EQ(std::sscanf(TSLFLASH_VERSION, "%u.%u.%u.%u", &part[0], &part[1], &part[2], &part[3]),
            4);
  EXPECT_EQ(fixed->dwFileVersionMS, (part[0] << 16) | part[1]);
  EXPECT_EQ(fixed->dwFileVersionLS, (part[2] << 16) | part[3]);
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);

  const auto value = [&info](const char* name) {
    char* text = nullptr;
    UINT chars = 0;
    const std::string query = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (VerQueryValueA(info.data(), query.c_str(), reinterpret_cast<void**>(&text), &chars) == 0) {
      return std::string("(none)");
    }
    return std::string(text);
  };
  EXPECT_EQ(value("InternalName"), kApplicationName);
  EXPECT_EQ(value("OriginalFilename"), "TslFlash.EXE");
  EXPECT_EQ(value("ProductName"), "Tessel Flash");
}

}  // namespace
}  // namespace tslflash
