// make_samples: writes the bundled sample documents, a page-store document and a layered
// archive, both holding a landscape picture drawn here.
//
//   make_samples FOLDER
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/DocumentWriter.h"
#include "tests/support/archive/ArchiveWriter.h"

namespace {

constexpr uint32_t kWidth = 320;
constexpr uint32_t kHeight = 200;

uint32_t Pack(double a, double r, double g, double b) {
    auto c = [](double v) { return static_cast<uint32_t>(std::lround(std::fmin(std::fmax(v, 0.0), 255.0))); };
    return c(a) << 24 | c(r) << 16 | c(g) << 8 | c(b);
}

double Mix(double a, double b, double t) { return a + (b - a) * t; }

// Evening sky, a sun, two ranges of hills and rounded transparent corners.
testdoc::PreviewImage DrawLandscape() {
    testdoc::PreviewImage image{kWidth, kHeight, std::vector<uint32_t>(size_t{kWidth} * kHeight)};
    const double sunX = 0.68 * kWidth, sunY = 0.42 * kHeight, sunR = 0.11 * kWidth, corner = 24;
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t x = 0; x < kWidth; ++x) {
            const double t = static_cast<double>(y) / kHeight;
            double r = Mix(40, 250, t), g = Mix(70, 170, t), b = Mix(150, 110, t);
            const double d = std::hypot(x - sunX, y - sunY);
            if (d < sunR) r = 255, g = 220, b = 90;
            else if (d < sunR * 1.6) {
                const double glow = (sunR * 1.6 - d) / (sunR * 0.6);
                r = Mix(r, 255, glow * 0.6), g = Mix(g, 200, glow * 0.6), b = Mix(b, 100, glow * 0.6);
            }
            const double far = kHeight * (0.62 + 0.06 * std::sin(x * 0.021) + 0.03 * std::sin(x * 0.057 + 1));
            const double near = kHeight * (0.78 + 0.07 * std::sin(x * 0.013 + 2) + 0.02 * std::sin(x * 0.09));
            if (y > near) r = 40, g = Mix(110, 70, (y - near) / (kHeight - near + 1)), b = 50;
            else if (y > far) r = 90, g = 120, b = 140;
            // Rounded corners fade to transparent: the thumbnail keeps straight alpha.
            double a = 255;
            const double cx = std::fmin(x, kWidth - 1 - x), cy = std::fmin(y, kHeight - 1 - y);
            if (cx < corner && cy < corner) {
                const double e = std::hypot(corner - cx, corner - cy) - corner;
                a = e >= 1 ? 0 : e <= -1 ? 255 : 255 * (1 - e) / 2;
            }
            image.pixels[size_t{y} * kWidth + x] = a == 0 ? 0 : Pack(a, r, g, b);
        }
    }
    return image;
}

bool Save(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!f) std::fprintf(stderr, "make_samples: cannot write %s\n", path.c_str());
    return static_cast<bool>(f);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_samples FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    const testdoc::PreviewImage picture = DrawLandscape();
    testdoc::Layout layout;
    layout.zstdLevel = 19;
    const bool ok = Save(folder + "/landscape.kwb", testdoc::WritePageStoreDocument(picture, layout)) &&
                    Save(folder + "/landscape-layers.rvn", archive_test::PreviewArchive(kWidth, kHeight, picture.pixels));
    return ok ? 0 : 1;
}
