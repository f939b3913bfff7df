#include "tests/support/archive/ArchiveWriter.h"

#include <zlib.h>

#include <cstring>
#include <stdexcept>

namespace archive_test {
namespace {

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

Chunk StoredChunk(const std::string& name, std::vector<uint8_t> raw) {
    Chunk c;
    c.name = name;
    c.type = 0;
    c.data = std::move(raw);
    return c;
}

Chunk ZlibChunk(const std::string& name, const std::vector<uint8_t>& raw) {
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 6) != Z_OK)
        throw std::runtime_error("compress2 failed");
    packed.resize(packedSize);
    Chunk c;
    c.name = name;
    c.type = 1;
    c.data = std::move(packed);
    c.rawSize = static_cast<uint32_t>(raw.size());
    return c;
}

std::vector<uint8_t> Write(const Archive& archive) {
    std::vector<uint8_t> out(archive.magic.begin(), archive.magic.end());
    Put32(out, 1);
    Put32(out, archive.xmlLength.value_or(static_cast<uint32_t>(archive.xml.size())));
    Put32(out, 0);
    out.insert(out.end(), archive.xml.begin(), archive.xml.end());
    for (const Chunk& c : archive.chunks) {
        const size_t start = out.size();
        out.resize(start + 132, 0);
        std::memcpy(&out[start], c.magic.data(), std::min<size_t>(4, c.magic.size()));
        auto put = [&](size_t offset, uint32_t v) {
            for (int i = 0; i < 4; ++i) out[start + offset + i] = static_cast<uint8_t>(v >> (8 * i));
        };
        put(8, c.type);
        put(12, c.packedSize.value_or(static_cast<uint32_t>(c.data.size())));
        put(16, c.rawSize.value_or(static_cast<uint32_t>(c.data.size())));
        std::memcpy(&out[start + 68], c.name.data(), std::min<size_t>(64, c.name.size()));
        out.insert(out.end(), c.data.begin(), c.data.end());
    }
    if (archive.truncateTo && *archive.truncateTo < out.size()) out.resize(*archive.truncateTo);
    return out;
}

std::string ThumbXml(const std::string& width, const std::string& height, const std::string& bin) {
    return "<Divude><Thumb width=\"" + width + "\" height=\"" + height + "\" bin=\"" + bin + "\"/></Divude>";
}

std::vector<uint8_t> PixelBytes(const std::vector<uint32_t>& pixels) {
    std::vector<uint8_t> out;
    out.reserve(pixels.size() * 4);
    for (uint32_t p : pixels) Put32(out, p);
    return out;
}

std::vector<uint8_t> PreviewArchive(int32_t width, int32_t height, const std::vector<uint32_t>& pixels,
                                    bool compressed) {
    Archive a;
    a.xml = ThumbXml(std::to_string(width), std::to_string(height), "thumb");
    a.chunks.push_back(StoredChunk("layer0", std::vector<uint8_t>(100, 0xAB)));
    a.chunks.push_back(compressed ? ZlibChunk("thumb", PixelBytes(pixels)) : StoredChunk("thumb", PixelBytes(pixels)));
    return Write(a);
}

}  // namespace archive_test
