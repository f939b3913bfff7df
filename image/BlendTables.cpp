#include "image/BlendTables.h"

#include <cmath>

namespace tarn {
namespace {

struct Tables {
    uint8_t sqrtT[256];
    uint8_t toLin[256];
    uint8_t fromLin[256];

    Tables() {
        for (int i = 0; i < 256; ++i) {
            const double v = i / 255.0;
            sqrtT[i] = static_cast<uint8_t>(std::sqrt(v) * 255);
            toLin[i] = i == 0 ? 0 : static_cast<uint8_t>(std::pow(v, 1.8) * 255);
            fromLin[i] = i == 0 ? 0 : static_cast<uint8_t>(std::pow(v, 0.5555555555555556) * 255);
        }
    }
};

const Tables tables;

}  // namespace

const uint8_t (&sqrtTable)[256] = tables.sqrtT;
const uint8_t (&toLinear)[256] = tables.toLin;
const uint8_t (&fromLinear)[256] = tables.fromLin;

}  // namespace tarn
