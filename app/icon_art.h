// The program's icon art, drawn in code so it is sharp at every size and
// the same wherever it is used: an envelope on a coloured disc. The tray
// pictures are drawn from it at run time; the browser toolbar button's two
// icon files (IE1.ico under the pointer, IE2.ico otherwise) are written from
// it at build time by tools/make_icons.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace iw::app {

// Colours as 0xRRGGBB.
inline constexpr std::uint32_t kProgramDisc = 0x285AC8;    // the program's own icon (offline)
inline constexpr std::uint32_t kNewMailDisc = 0xDC2828;
inline constexpr std::uint32_t kConnectedDisc = 0x1E8C3C;
inline constexpr std::uint32_t kPausedDisc = 0x969696;
inline constexpr std::uint32_t kButtonHotDisc = 0x3C82F0;  // the toolbar button under the pointer

struct IconStyle {
    std::uint32_t disc = kProgramDisc;
    bool ring = false;  // a light ring round the disc (the button under the pointer)
};

// `size` x `size` pixels, top row first, each 0xAARRGGBB with straight
// (not premultiplied) alpha; edges are smoothed. `size` from 1 to 256.
std::vector<std::uint32_t> DrawIconArt(const IconStyle& style, int size);

// An .ico file with one 32-bit image (colour with alpha, and the AND mask
// that marks the fully transparent pixels) per size, in the given order.
std::string IcoFile(const IconStyle& style, const std::vector<int>& sizes);

// The sizes in the toolbar button's icon files: the browser's small and
// large toolbar buttons at 100%, 125%, 150% and 200%.
inline const std::vector<int> kButtonIconSizes = {16, 20, 24, 32, 40, 48};

// The two styles of the toolbar button.
inline IconStyle ButtonNormalStyle() { return {kProgramDisc, false}; }
inline IconStyle ButtonHotStyle() { return {kButtonHotDisc, true}; }

}  // namespace iw::app
