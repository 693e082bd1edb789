// The system as the judge of the resource writer: real 32- and 64-bit programs, given a
// payload section and then edited by `brankel pe` as a build edits its player, must still
// be read by the loader's resource search, the icon functions and the version service,
// and the 64-bit one must still run.
#include <windows.h>
// The platform layer's function of that name, not the API's A/W macro.
#undef CopyFile

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "pe/pe_image.h"
#include "pe/win32/run_program.h"
#include "pe/win32/system_checks.h"
#include "platform/platform.h"
#include "support/fixtures.h"
#include "support/image_files.h"
#include "support/pe_builder.h"
#include "support/run_cli.h"
#include "support/scratch.h"

namespace pe {
namespace {

using Bytes = std::vector<uint8_t>;
using brankel_test::Read16;
using brankel_test::Read32;

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// A resource's bytes as the loader hands them out; empty when it is not found.
Bytes LoadedResource(HMODULE module, const wchar_t* type, uint16_t id) {
  HRSRC found = FindResourceExW(module, type, MAKEINTRESOURCEW(id), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
  if (found == nullptr) return {};
  HGLOBAL loaded = LoadResource(module, found);
  const auto* data = static_cast<const uint8_t*>(LockResource(loaded));
  if (data == nullptr) return {};
  return Bytes(data, data + SizeofResource(module, found));
}

std::wstring VersionString(const Bytes& block, const wchar_t* path) {
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), path, &value, &length) || value == nullptr) return L"<missing>";
  return std::wstring(static_cast<const wchar_t*>(value));
}

class ResourceLoaderTest : public brankel_test::ScratchTest, public ::testing::WithParamInterface<const char*> {
 protected:
  std::string File(const char16_t* name, const Bytes& bytes) {
    const std::u16string path = Path(name);
    EXPECT_TRUE(brankel_test::WriteBytes(path, std::string(bytes.begin(), bytes.end())));
    return brankel_test::Narrow(path);
  }
};

TEST_P(ResourceLoaderTest, EditedProgramIsReadByTheLoaderAndTheVersionService) {
  if (!brankel_test::FixturesAvailable()) GTEST_SKIP() << brankel_test::kNoFixtures;
  const std::u16string exe = Path(u"edited.exe");
  ASSERT_TRUE(plat::CopyFile(brankel_test::FixturePath(GetParam()), exe, false));
  const std::string exe_arg = brankel_test::Narrow(exe);

  // The payload first, as a build writes its player before editing its resources.
  CPE_ImageEditor editor;
  ASSERT_TRUE(editor.Load(exe));
  const uint32_t payload = 0x2345;
  uint8_t* block = editor.AddDataSection(payload);
  ASSERT_NE(block, nullptr);
  for (uint32_t i = 0; i < payload; ++i) block[i] = static_cast<uint8_t>(i * 31 + 1);
  ASSERT_TRUE(editor.Write(exe));

  // Four images for a group of three: three identifiers reused, one new.
  const Bytes icon = brankel_test::MakeIconFile({16, 24, 32, 48}, 0x19);
  const Bytes bitmap = brankel_test::MakeBitmapFile(200, 150, 24, 0x29);  // bigger than the old picture
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{"pe", "set-icon", exe_arg, File(u"new.ico", icon), "--group", "101"},
        std::vector<std::string>{"pe", "set-bitmap", exe_arg, File(u"new.bmp", bitmap)},
        std::vector<std::string>{"pe", "blank-version", exe_arg}}) {
    const brankel_test::CliOutput run = brankel_test::RunCli(command);
    ASSERT_EQ(run.code, 0) << command[1] << ": " << run.out << run.err;
  }
  const Bytes written = brankel_test::ReadFileBytes(exe);
  brankel_test::ExpectSystemChecksum(written);

  HMODULE module = LoadLibraryExW(Wide(exe), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(module, nullptr) << "error " << GetLastError();

  const Bytes picture = LoadedResource(module, RT_BITMAP, 352);
  ASSERT_EQ(picture.size(), bitmap.size() - 14);
  EXPECT_TRUE(std::equal(picture.begin(), picture.end(), bitmap.begin() + 14));

  const Bytes group = LoadedResource(module, RT_GROUP_ICON, 101);
  ASSERT_EQ(group.size(), 6u + 4 * 14);
  ASSERT_EQ(Read16(group, 4), 4);
  for (size_t i = 0; i < 4; ++i) {
    const uint16_t id = Read16(group, 6 + 14 * i + 12);
    const Bytes image = LoadedResource(module, RT_ICON, id);
    const uint32_t size = Read32(icon, 6 + 16 * i + 8);
    const uint32_t offset = Read32(icon, 6 + 16 * i + 12);
    ASSERT_EQ(image.size(), size) << "image " << i << " (icon " << id << ")";
    EXPECT_TRUE(std::equal(image.begin(), image.end(), icon.begin() + offset)) << "image " << i;
    HICON handle = CreateIconFromResourceEx(const_cast<uint8_t*>(image.data()), static_cast<DWORD>(image.size()), TRUE,
                                            0x00030000, 0, 0, LR_DEFAULTCOLOR);
    EXPECT_NE(handle, nullptr) << "image " << i << " is not an icon to the system";
    if (handle != nullptr) DestroyIcon(handle);
  }
  // The system's choice of image for a 32-pixel icon is one of the group's.
  const int chosen = LookupIconIdFromDirectoryEx(const_cast<uint8_t*>(group.data()), TRUE, 32, 32, LR_DEFAULTCOLOR);
  EXPECT_EQ(chosen, Read16(group, 6 + 14 * 2 + 12));
  // The other group is still there.
  EXPECT_FALSE(LoadedResource(module, RT_GROUP_ICON, brankel_test::kFixtureOtherIconGroup).empty());

  const Bytes version = LoadedResource(module, RT_VERSION, 1);
  ASSERT_FALSE(version.empty());
  FreeLibrary(module);
  // VerQueryValueW wants a block it may convert in place, with room after it.
  Bytes copy = version;
  copy.resize(version.size() * 3, 0);
  EXPECT_EQ(VersionString(copy, L"\\StringFileInfo\\040904b0\\FileVersion"), L"1.2.3.4");
  for (const wchar_t* name : {L"CompanyName", L"FileDescription", L"ProductName", L"LegalCopyright", L"Comments"}) {
    EXPECT_EQ(VersionString(copy, (std::wstring(L"\\StringFileInfo\\040904b0\\") + name).c_str()), L"") << name;
  }
  // And through the file, as the shell's properties page reads it.
  const DWORD size = GetFileVersionInfoSizeW(Wide(exe), nullptr);
  ASSERT_GT(size, 0u);
  Bytes info(size);
  ASSERT_TRUE(GetFileVersionInfoW(Wide(exe), 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixed_size = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixed_size));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010002u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00030004u);
  EXPECT_EQ(VersionString(info, L"\\StringFileInfo\\040904b0\\ProductName"), L"");

  // The payload moved with its section and is whole.
  CPE_ImageEditor reread;
  ASSERT_TRUE(reread.Load(exe));
  const int last = reread.SectionCount() - 1;
  ASSERT_EQ(std::memcmp(reread.Section(last).Name, ".mdata\0\0", 8), 0);
  bool same = true;
  for (uint32_t i = 0; i < payload && same; ++i) same = reread.SectionData(last)[i] == static_cast<uint8_t>(i * 31 + 1);
  EXPECT_TRUE(same);

  if (reread.IsPe32Plus()) {
    std::string output;
    unsigned exit_code = 99;
    ASSERT_TRUE(brankel_test::RunProgram(exe, &output, &exit_code));
    EXPECT_EQ(exit_code, 0u);
    EXPECT_NE(output.find("brankel fixture 64-bit"), std::string::npos) << output;
  }
}

INSTANTIATE_TEST_SUITE_P(Both, ResourceLoaderTest, ::testing::Values("fixture32.exe", "fixture64.exe"),
                         [](const auto& info) { return std::string(info.param).substr(0, 9); });

}  // namespace
}  // namespace pe
