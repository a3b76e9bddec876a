// The program's icon art; see icon_art.h.
#include "app/icon_art.h"

#include <algorithm>
#include <cmath>

namespace iw::app {

namespace {

struct Rgba {
    double r = 0, g = 0, b = 0, a = 0;  // premultiplied while sampling
};

// Distance from point p to the segment a-b.
double segmentDistance(double px, double py, double ax, double ay, double bx, double by) {
    const double dx = bx - ax, dy = by - ay;
    const double len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((px - ax) * dx + (py - ay) * dy) / len2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    const double cx = ax + t * dx - px, cy = ay + t * dy - py;
    return std::sqrt(cx * cx + cy * cy);
}

void put(std::uint8_t* out, std::size_t at, std::uint32_t argb) {
    out[at] = static_cast<std::uint8_t>(argb & 0xFF);              // blue
    out[at + 1] = static_cast<std::uint8_t>((argb >> 8) & 0xFF);   // green
    out[at + 2] = static_cast<std::uint8_t>((argb >> 16) & 0xFF);  // red
    out[at + 3] = static_cast<std::uint8_t>(argb >> 24);           // alpha
}

void putLe(std::string& s, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

}  // namespace

std::vector<std::uint32_t> DrawIconArt(const IconStyle& style, int size) {
    size = std::clamp(size, 1, 256);
    const double s = size;
    const double radius = s / 2, cx = s / 2, cy = s / 2;
    // The envelope: a white body with a dark flap, the proportions of the
    // program's icon since its first version.
    const double l = std::floor(s * 3 / 16), r = s - l, t = std::floor(s * 5 / 16), b = s - t;
    const double stroke = std::max(1.0, std::floor(s / 16));
    const double ringWidth = std::max(1.0, s / 12);
    const double discR = ((style.disc >> 16) & 0xFF) / 255.0, discG = ((style.disc >> 8) & 0xFF) / 255.0,
                 discB = (style.disc & 0xFF) / 255.0;

    constexpr int kSamples = 4;  // 4 x 4 samples per pixel smooth the edges
    std::vector<std::uint32_t> px(static_cast<std::size_t>(size) * size);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            Rgba sum;
            for (int sy = 0; sy < kSamples; ++sy) {
                for (int sx = 0; sx < kSamples; ++sx) {
                    const double X = x + (sx + 0.5) / kSamples, Y = y + (sy + 0.5) / kSamples;
                    const double d = std::hypot(X - cx, Y - cy);
                    if (d > radius) continue;
                    double cr = discR, cg = discG, cb = discB;
                    if (style.ring && d > radius - ringWidth) cr = 1.0, cg = 0.86, cb = 0.35;
                    if (X >= l && X < r && Y >= t && Y < b) {
                        cr = cg = cb = 1.0;
                        const double midX = s / 2, midY = (t + b) / 2;
                        if (segmentDistance(X, Y, l, t, midX, midY) <= stroke / 2 ||
                            segmentDistance(X, Y, midX, midY, r, t) <= stroke / 2)
                            cr = cg = cb = 40 / 255.0;
                    }
                    sum.r += cr, sum.g += cg, sum.b += cb, sum.a += 1;
                }
            }
            const double n = kSamples * kSamples;
            std::uint32_t argb = 0;
            if (sum.a > 0) {
                const auto c = [&](double v) { return static_cast<std::uint32_t>(std::lround(v / sum.a * 255)); };
                const auto alpha = static_cast<std::uint32_t>(std::lround(sum.a / n * 255));
                argb = (alpha << 24) | (c(sum.r) << 16) | (c(sum.g) << 8) | c(sum.b);
            }
            px[static_cast<std::size_t>(y) * size + x] = argb;
        }
    }
    return px;
}

std::string IcoFile(const IconStyle& style, const std::vector<int>& sizes) {
    std::vector<std::string> images;
    for (int requested : sizes) {
        const int size = std::clamp(requested, 1, 256);
        const std::vector<std::uint32_t> px = DrawIconArt(style, size);
        const std::size_t maskStride = static_cast<std::size_t>((size + 31) / 32) * 4;
        const std::size_t colourBytes = static_cast<std::size_t>(size) * size * 4;
        std::string img;
        putLe(img, 40, 4);  // BITMAPINFOHEADER
        putLe(img, static_cast<std::uint32_t>(size), 4);
        putLe(img, static_cast<std::uint32_t>(size * 2), 4);  // colour and mask, stacked
        putLe(img, 1, 2);
        putLe(img, 32, 2);
        putLe(img, 0, 4);  // BI_RGB
        putLe(img, static_cast<std::uint32_t>(colourBytes + maskStride * size), 4);
        putLe(img, 0, 4), putLe(img, 0, 4), putLe(img, 0, 4), putLe(img, 0, 4);
        std::string colour(colourBytes, '\0');
        std::string mask(maskStride * size, '\0');
        for (int y = 0; y < size; ++y) {
            const int row = size - 1 - y;  // bottom row first
            for (int x = 0; x < size; ++x) {
                const std::uint32_t p = px[static_cast<std::size_t>(y) * size + x];
                put(reinterpret_cast<std::uint8_t*>(colour.data()), (static_cast<std::size_t>(row) * size + x) * 4, p);
                if ((p >> 24) == 0)
                    mask[static_cast<std::size_t>(row) * maskStride + x / 8] |= static_cast<char>(0x80 >> (x % 8));
            }
        }
        images.push_back(img + colour + mask);
    }
    std::string file;
    putLe(file, 0, 2);  // ICONDIR
    putLe(file, 1, 2);
    putLe(file, static_cast<std::uint32_t>(images.size()), 2);
    std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        const int size = std::clamp(sizes[i], 1, 256);
        file += static_cast<char>(size == 256 ? 0 : size);
        file += static_cast<char>(size == 256 ? 0 : size);
        file += '\0';  // no palette
        file += '\0';
        putLe(file, 1, 2);   // planes
        putLe(file, 32, 2);  // bits per pixel
        putLe(file, static_cast<std::uint32_t>(images[i].size()), 4);
        putLe(file, offset, 4);
        offset += static_cast<std::uint32_t>(images[i].size());
    }
    for (const std::string& img : images) file += img;
    return file;
}

}  // namespace iw::app
