// VYX_Utility.exe's Windows resources, loaded from the built program as the system
// loads them: icon 128, string 101 and the version record, each equal to the program's
// own tables, which the resource script is configured from.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/win32/Win32Api.h"
#include "resources/Templates.h"
#include "tests/win32/ProgramResources.h"

namespace vyx::test {
namespace {

namespace res = vyx::resources;

std::wstring ProgramPath() {
    const std::u16string path = app::win32::Utf8ToUtf16(VYX_PROGRAM);
    return std::wstring(path.begin(), path.end());
}

class ResourceScriptTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_Module = LoadLibraryExW(ProgramPath().c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(m_Module, nullptr) << "LoadLibraryEx error " << GetLastError();
    }
    void TearDown() override {
        if (m_Module != nullptr) {
            FreeLibrary(m_Module);
        }
    }
    HMODULE m_Module = nullptr;
};

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST_F(ResourceScriptTest, Icon128HoldsA16PixelImageOf32BitsPerPixelAndLoads) {
    const HRSRC group = FindResourceW(m_Module, MAKEINTRESOURCEW(IconResourceId()),
                                      MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    ASSERT_NE(group, nullptr);
    const auto* dir = static_cast<const WORD*>(LockResource(LoadResource(m_Module, group)));
    ASSERT_NE(dir, nullptr);
    const WORD count = dir[2];
    const auto* entries = reinterpret_cast<const GroupIconEntry*>(dir + 3);
    bool has16 = false;
    for (WORD i = 0; i < count; ++i) {
        EXPECT_EQ(entries[i].bitCount, 32) << "image " << i;
        has16 = has16 || (entries[i].width == 16 && entries[i].height == 16);
    }
    EXPECT_TRUE(has16);
    const HANDLE icon =
        LoadImageW(m_Module, MAKEINTRESOURCEW(IconResourceId()), IMAGE_ICON, 16, 16, 0);
    EXPECT_NE(icon, nullptr);
    if (icon != nullptr) {
        DestroyIcon(static_cast<HICON>(icon));
    }
}

TEST_F(ResourceScriptTest, String101IsTheAboutItemOfTheTable) {
    wchar_t text[256] = {};
    const int n = LoadStringW(m_Module, static_cast<UINT>(AboutStringId()), text, 256);
    ASSERT_GT(n, 0);
    EXPECT_EQ(app::win32::Utf16ToUtf8(reinterpret_cast<const char16_t*>(text)), AboutStringText());
}

TEST(ResourceScriptVersionTest, TheVersionRecordIsTheTables) {
    const std::wstring path = ProgramPath();
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u) << "GetFileVersionInfoSize error " << GetLastError();
    std::vector<unsigned char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize));
    const res::VersionRecord& want = res::kVersionRecord;
    EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), want.fileVersion[0]);
    EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), want.fileVersion[1]);
    EXPECT_EQ(HIWORD(fixed->dwFileVersionLS), want.fileVersion[2]);
    EXPECT_EQ(LOWORD(fixed->dwFileVersionLS), want.fileVersion[3]);
    EXPECT_EQ(HIWORD(fixed->dwProductVersionMS), want.productVersion[0]);
    EXPECT_EQ(LOWORD(fixed->dwProductVersionLS), want.productVersion[3]);

    WORD* translation = nullptr;
    UINT translationSize = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &translationSize));
    ASSERT_GE(translationSize, 4u);
    EXPECT_EQ(translation[0], want.language);
    EXPECT_EQ(translation[1], want.codePage);

    wchar_t block[64];
    wsprintfW(block, L"\\StringFileInfo\\%04x%04x\\", want.language, want.codePage);
    const std::pair<const wchar_t*, std::string_view> values[] = {
        {L"FileVersion", want.fileVersionText},
        {L"ProductVersion", want.productVersionText},
        {L"FileDescription", want.fileDescription},
        {L"InternalName", want.internalName},
        {L"OriginalFilename", want.originalFilename},
        {L"ProductName", want.productName},
        {L"CompanyName", want.companyName},
        {L"LegalCopyright", want.legalCopyright},
        {L"Comments", want.comments},
    };
    for (const auto& [name, text] : values) {
        const std::wstring key = std::wstring(block) + name;
        wchar_t* value = nullptr;
        UINT length = 0;
        ASSERT_TRUE(
            VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length))
            << app::win32::Utf16ToUtf8(std::u16string(key.begin(), key.end()));
        EXPECT_EQ(app::win32::Utf16ToUtf8(reinterpret_cast<const char16_t*>(value)), text);
    }
}

}  // namespace
}  // namespace vyx::test
