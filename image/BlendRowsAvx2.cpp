#include "image/BlendRows.h"

namespace tarn {
BlendRowFunction Avx2RowFunction(int32_t, bool) { return nullptr; }
}  // namespace tarn
