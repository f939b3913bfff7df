// Builds layered-archive files for tests, samples and benchmarks: a file header, an XML
// header and chunks stored raw or zlib-compressed, with every size field overridable so that
// malformed files can be made as easily as good ones.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace archive_test {

struct Chunk {
    std::string name;                      // written into the 64-byte field, cut at 64
    uint32_t type = 0;                     // 0 stored, 1 zlib, anything else as given
    std::vector<uint8_t> data;             // the bytes after the header, as stored
    std::optional<uint32_t> packedSize;    // default: data.size()
    std::optional<uint32_t> rawSize;       // default: data.size(), or the uncompressed size
    std::string magic = "PAC ";
};

// The chunk holding `raw` as is.
Chunk StoredChunk(const std::string& name, std::vector<uint8_t> raw);
// The chunk holding `raw` as one zlib stream; rawSize is raw.size().
Chunk ZlibChunk(const std::string& name, const std::vector<uint8_t>& raw);

struct Archive {
    std::string magic = std::string("rvnpack\0", 8);
    std::string xml;
    std::optional<uint32_t> xmlLength;  // default: xml.size()
    std::vector<Chunk> chunks;
    std::optional<size_t> truncateTo;   // cut the finished file to this many bytes
};

std::vector<uint8_t> Write(const Archive& archive);

// "<Divude><Thumb width=.. height=.. bin=../></Divude>" with the texts as given.
std::string ThumbXml(const std::string& width, const std::string& height, const std::string& bin);
// Pixel words 0xAARRGGBB as the little-endian bytes a preview chunk holds.
std::vector<uint8_t> PixelBytes(const std::vector<uint32_t>& pixels);
// A complete archive whose "thumb" chunk holds the pixels, zlib-compressed or stored.
std::vector<uint8_t> PreviewArchive(int32_t width, int32_t height, const std::vector<uint32_t>& pixels,
                                    bool compressed = true);

}  // namespace archive_test
