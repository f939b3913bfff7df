#include "readers/archive/FindChunk.h"

#include <zlib.h>

#include <cstring>

namespace archive {
namespace {

uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

constexpr size_t kTypeOffset = 8;
constexpr size_t kPackedSizeOffset = 12;
constexpr size_t kRawSizeOffset = 16;
constexpr size_t kNameOffset = 68;
constexpr size_t kNameField = 64;

enum ChunkType : uint32_t { kStored = 0, kZlib = 1 };

bool NameMatches(const uint8_t* header, const std::string& name) {
    const char* field = reinterpret_cast<const char*>(header + kNameOffset);
    return strnlen(field, kNameField) == name.size() && std::memcmp(field, name.data(), name.size()) == 0;
}

bool DecodeStored(IStream* stream, uint32_t rawSize, ChunkData& out) {
    std::unique_ptr<uint8_t[], FreeDeleter> data(static_cast<uint8_t*>(std::malloc(rawSize)));
    if (!data || ReadFully(stream, data.get(), rawSize) != rawSize) return false;
    out.bytes = std::move(data);
    out.size = rawSize;
    return true;
}

bool DecodeZlib(IStream* stream, uint32_t packedSize, uint32_t rawSize, ChunkData& out) {
    if (packedSize > kMaxChunkBytes) return false;
    // Zeroed, so bytes a short stream does not produce are never stale heap contents.
    std::unique_ptr<uint8_t[], FreeDeleter> data(static_cast<uint8_t*>(std::calloc(rawSize, 1)));
    std::unique_ptr<uint8_t[], FreeDeleter> packed(static_cast<uint8_t*>(std::malloc(packedSize ? packedSize : 1)));
    if (!data || !packed || ReadFully(stream, packed.get(), packedSize) != packedSize) return false;
    uint32_t produced = 0;
    if (!Inflate(packed.get(), packedSize, data.get(), rawSize, produced)) return false;
    out.bytes = std::move(data);
    out.size = rawSize;
    return true;
}

}  // namespace

ULONG ReadFully(IStream* stream, void* buffer, ULONG count) {
    ULONG total = 0;
    while (total < count) {
        ULONG got = 0;
        stream->Read(static_cast<uint8_t*>(buffer) + total, count - total, &got);
        if (got == 0 || got > count - total) break;
        total += got;
    }
    return total;
}

bool Inflate(const uint8_t* input, uint32_t inputSize, uint8_t* output, uint32_t outputSize, uint32_t& produced) {
    produced = 0;
    z_stream z{};
    z.next_in = const_cast<Bytef*>(input);
    z.avail_in = inputSize;
    z.next_out = output;
    z.avail_out = outputSize;
    if (inflateInit(&z) != Z_OK) return false;
    const int rc = inflate(&z, Z_NO_FLUSH);
    produced = static_cast<uint32_t>(z.total_out);
    inflateEnd(&z);
    return rc == Z_STREAM_END;
}

bool FindChunk(IStream* stream, const std::string& name, ChunkData& out) {
    // Every header read advances the stream by 132 bytes at least, so the scan ends with it.
    for (;;) {
        uint8_t header[kChunkHeaderSize];
        if (ReadFully(stream, header, kChunkHeaderSize) != kChunkHeaderSize) return false;
        if (std::memcmp(header, "PAC ", 4) != 0) return false;
        const uint32_t type = Le32(header + kTypeOffset);
        const uint32_t packedSize = Le32(header + kPackedSizeOffset);
        const uint32_t rawSize = Le32(header + kRawSizeOffset);

        if (!NameMatches(header, name)) {
            LARGE_INTEGER move{};
            move.QuadPart = packedSize;
            stream->Seek(move, STREAM_SEEK_CUR, nullptr);
            continue;
        }
        if (rawSize == 0) {
            out = ChunkData{};
            return true;
        }
        if (type == kStored || type == kZlib) {
            if (rawSize > kMaxChunkBytes) return false;
            return type == kStored ? DecodeStored(stream, rawSize, out) : DecodeZlib(stream, packedSize, rawSize, out);
        }
        // Another type: the chunk is passed over without skipping its data, so the next
        // header is read right after this one.
    }
}

}  // namespace archive
