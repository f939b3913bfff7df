// Chunks of a layered archive: a 132-byte header ("PAC ", type, packedSize, rawSize, name)
// followed by packedSize bytes of data, stored as is (type 0) or as one zlib stream (type 1).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/Platform.h"

namespace archive {

constexpr uint32_t kChunkHeaderSize = 132;
// A preview chunk holds at most 1024 x 1024 pixels (4 MiB); larger claims are refused before
// anything is allocated, so a file cannot make the reader reserve gigabytes.
constexpr uint32_t kMaxChunkBytes = 64u << 20;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

struct ChunkData {
    std::unique_ptr<uint8_t[], FreeDeleter> bytes;  // null when the chunk's rawSize is 0
    uint32_t size = 0;                               // the chunk's rawSize
};

// Reads exactly `count` bytes unless the stream ends first; returns the number read.
ULONG ReadFully(IStream* stream, void* buffer, ULONG count);

// Scans chunks from the stream's position to the first one named `name` and decodes it into
// `out`. False when the chunks end, a header lacks "PAC ", the data is short or corrupt, or
// a buffer cannot be had. A zlib stream that ends early leaves the rest of the data zero.
bool FindChunk(IStream* stream, const std::string& name, ChunkData& out);

// One zlib-format stream into `output`; true only when the stream ends within it. `produced`
// receives the number of bytes written.
bool Inflate(const uint8_t* input, uint32_t inputSize, uint8_t* output, uint32_t outputSize, uint32_t& produced);

}  // namespace archive
