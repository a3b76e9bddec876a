// Screen captures for the GUI tests; see screen_capture.h.
#include "tests/support/win32/screen_capture.h"

#include <fstream>

namespace iw::test {

std::wstring ScreenshotDir() {
    wchar_t root[MAX_PATH] = L"";
    std::wstring dir;
    if (GetEnvironmentVariableW(L"IW_ROOT", root, MAX_PATH) > 0) dir = std::wstring(L"Z:") + root + L"/build/screenshots";
    else dir = L"screenshots";
    for (auto& c : dir)
        if (c == L'/') c = L'\\';
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

std::wstring ShotSuffix() {
    wchar_t buf[32] = L"";
    GetEnvironmentVariableW(L"IW_SHOT_SUFFIX", buf, 32);
    return buf;
}

Capture Grab(const RECT& r) {
    Capture c;
    c.w = r.right - r.left;
    c.h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = c.w;
    bi.bmiHeader.biHeight = -c.h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bmp);
    BitBlt(dc, 0, 0, c.w, c.h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const auto* p = static_cast<const std::uint32_t*>(bits);
    c.px.assign(p, p + static_cast<std::size_t>(c.w) * c.h);
    for (auto& v : c.px) v &= 0xFFFFFF;
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return c;
}

void SaveBmp(const Capture& c, const std::wstring& path) {
    BITMAPFILEHEADER fh{};
    BITMAPINFOHEADER ih{};
    ih.biSize = sizeof ih;
    ih.biWidth = c.w;
    ih.biHeight = -c.h;
    ih.biPlanes = 1;
    ih.biBitCount = 32;
    const DWORD bytes = static_cast<DWORD>(c.px.size() * 4);
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof ih;
    fh.bfSize = fh.bfOffBits + bytes;
    std::ofstream f(path.c_str(), std::ios::binary);
    f.write(reinterpret_cast<const char*>(&fh), sizeof fh);
    f.write(reinterpret_cast<const char*>(&ih), sizeof ih);
    f.write(reinterpret_cast<const char*>(c.px.data()), bytes);
}

}  // namespace iw::test
