// The program's icon art and the .ico files written from it: the file's
// directory and images are well formed at every size, transparent outside
// the disc, and show the disc and the envelope where they belong.
#include <gtest/gtest.h>

#include <cstdint>

#include "app/icon_art.h"

namespace iw::app {
namespace {

std::uint32_t le(const std::string& s, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(s.at(at + i));
    return v;
}

std::uint32_t rgb(std::uint32_t argb) { return argb & 0xFFFFFF; }

TEST(IconArt, PicturePartsAtEverySize) {
    for (int size : {16, 20, 24, 32, 48, 256}) {
        SCOPED_TRACE(size);
        const auto px = DrawIconArt({kNewMailDisc, false}, size);
        ASSERT_EQ(px.size(), static_cast<std::size_t>(size) * size);
        auto at = [&](int x, int y) { return px[static_cast<std::size_t>(y) * size + x]; };
        EXPECT_EQ(at(0, 0), 0u) << "corners are transparent";
        EXPECT_EQ(at(size - 1, size - 1), 0u);
        // Above the envelope, inside the disc: the disc's colour, opaque.
        EXPECT_EQ(at(size / 2, size * 3 / 16), 0xFF000000u | kNewMailDisc);
        // The body below the flap's point is white.
        EXPECT_EQ(at(size / 2, size * 10 / 16), 0xFFFFFFFFu);
        // The edge of the disc is smoothed: some pixels are partly covered.
        bool partial = false;
        for (auto p : px) partial = partial || ((p >> 24) > 0 && (p >> 24) < 255);
        EXPECT_TRUE(partial);
    }
}

TEST(IconArt, HotButtonHasARingTheNormalOneNot) {
    const int size = 32;
    const auto hot = DrawIconArt(ButtonHotStyle(), size);
    const auto normal = DrawIconArt(ButtonNormalStyle(), size);
    const std::size_t edge = static_cast<std::size_t>(size / 2) * size + 1;  // left edge, middle row
    EXPECT_EQ(rgb(normal[edge]), kProgramDisc);
    EXPECT_NE(rgb(hot[edge]), kButtonHotDisc);
    EXPECT_EQ(rgb(hot[static_cast<std::size_t>(size * 3 / 16) * size + size / 2]), kButtonHotDisc);
}

TEST(IcoFile, DirectoryAndImagesAreWellFormed) {
    const std::vector<int> sizes = kButtonIconSizes;
    const std::string f = IcoFile(ButtonNormalStyle(), sizes);
    ASSERT_GE(f.size(), 6u);
    EXPECT_EQ(le(f, 0, 2), 0u);
    EXPECT_EQ(le(f, 2, 2), 1u);  // an icon, not a cursor
    ASSERT_EQ(le(f, 4, 2), sizes.size());
    std::size_t expectedOffset = 6 + 16 * sizes.size();
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const int s = sizes[i];
        SCOPED_TRACE(s);
        const std::size_t e = 6 + 16 * i;
        EXPECT_EQ(le(f, e, 1), static_cast<std::uint32_t>(s));
        EXPECT_EQ(le(f, e + 1, 1), static_cast<std::uint32_t>(s));
        EXPECT_EQ(le(f, e + 4, 2), 1u);
        EXPECT_EQ(le(f, e + 6, 2), 32u);
        const std::uint32_t bytes = le(f, e + 8, 4), offset = le(f, e + 12, 4);
        EXPECT_EQ(offset, expectedOffset);
        const std::size_t maskStride = static_cast<std::size_t>((s + 31) / 32) * 4;
        ASSERT_EQ(bytes, 40 + static_cast<std::size_t>(s) * s * 4 + maskStride * s);
        ASSERT_LE(offset + bytes, f.size());
        // The image's header: its height counts colour and mask.
        EXPECT_EQ(le(f, offset, 4), 40u);
        EXPECT_EQ(le(f, offset + 4, 4), static_cast<std::uint32_t>(s));
        EXPECT_EQ(le(f, offset + 8, 4), static_cast<std::uint32_t>(2 * s));
        EXPECT_EQ(le(f, offset + 14, 2), 32u);
        // The bottom-left pixel (first in the file) is transparent, and so
        // marked in the mask; the centre is opaque and unmarked.
        const std::size_t colour = offset + 40, mask = colour + static_cast<std::size_t>(s) * s * 4;
        EXPECT_EQ(le(f, colour, 4), 0u);
        EXPECT_TRUE(static_cast<std::uint8_t>(f[mask]) & 0x80);
        const std::size_t mid = static_cast<std::size_t>(s / 2);
        EXPECT_EQ(le(f, colour + (mid * s + mid) * 4, 4) >> 24, 255u);
        EXPECT_FALSE(static_cast<std::uint8_t>(f[mask + mid * maskStride + mid / 8]) & (0x80 >> (mid % 8)));
        expectedOffset += bytes;
    }
    EXPECT_EQ(expectedOffset, f.size());
}

}  // namespace
}  // namespace iw::app
