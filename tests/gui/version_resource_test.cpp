// The version resource of both executables, read back as Windows reads it
// (GetFileVersionInfo), against the build's one version number.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "iw_version.h"

namespace {

// The build folder: the test runs from build/win/tests, the programs lie in build/win.
std::wstring buildFolder() {
    wchar_t buf[MAX_PATH];
    std::wstring self(buf, GetModuleFileNameW(nullptr, buf, MAX_PATH));
    self.resize(self.find_last_of(L"\\/"));
    return self.substr(0, self.find_last_of(L"\\/") + 1);
}

std::wstring widen(const char* s) { return std::wstring(s, s + std::char_traits<char>::length(s)); }

TEST(VersionResource, BothExecutablesCarryTheBuildVersion) {
    struct Exe {
        const wchar_t* file;
    } exes[] = {{L"Inkwarden.exe"}, {L"inkwarden-cli.exe"}};
    for (const Exe& e : exes) {
        const std::wstring path = buildFolder() + e.file;
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
        ASSERT_GT(size, 0u) << "no version resource in " << std::string(path.begin(), path.end());
        std::vector<char> block(size);
        ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT len = 0;
        ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
        EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
        EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(IW_VERSION_MAJOR << 16 | IW_VERSION_MINOR));
        EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(IW_VERSION_PATCH << 16));
        EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);

        for (const wchar_t* name : {L"FileVersion", L"ProductVersion"}) {
            wchar_t* text = nullptr;
            const std::wstring key = std::wstring(L"\\StringFileInfo\\040404B0\\") + name;
            ASSERT_TRUE(VerQueryValueW(block.data(), key.c_str(), reinterpret_cast<void**>(&text), &len)) << name;
            EXPECT_EQ(std::wstring(text), widen(IW_VERSION_TEXT)) << name;
        }
        wchar_t* original = nullptr;
        ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040404B0\\OriginalFilename",
                                   reinterpret_cast<void**>(&original), &len));
        EXPECT_EQ(std::wstring(original), std::wstring(e.file));
    }
}

}  // namespace
