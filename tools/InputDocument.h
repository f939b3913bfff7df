// The document kwbthumb reads: a path or standard input, as a stream the readers can seek in.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "platform/Platform.h"

namespace kwb {

// Inputs that cannot be read in place (standard input, FIFOs, devices) are read into memory
// first, because the readers seek; a stream has no size to check beforehand, so without a
// bound an endless one (a device, a pipe that never closes) would take memory without bound.
// A regular file of any size is read where it is, so a larger document is still served when
// it is named as a file; the error past the bound says so.
constexpr uint64_t kLargestStreamedInput = uint64_t{256} << 20;

class InputDocument {
public:
    InputDocument() = default;
    InputDocument(const InputDocument&) = delete;
    InputDocument& operator=(const InputDocument&) = delete;
    ~InputDocument();

    // "-" is standard input. On failure `error` names the input and the cause.
    bool Open(const std::string& path, std::string& error);

    // The stream (one reference, kept by this object) and the file it came from.
    IStream* Stream() const { return stream_; }
    const struct stat& Identity() const { return identity_; }

private:
    bool ReadIntoMemory(int fd, const std::string& name, std::string& error);

    IStream* stream_ = nullptr;
    struct stat identity_ {};
};

}  // namespace kwb
