#include "tools/InputDocument.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "tools/Utf16Path.h"

namespace kwb {

InputDocument::~InputDocument() {
    if (stream_) stream_->Release();
}

bool InputDocument::Open(const std::string& path, std::string& error) {
    if (path == "-") {
        if (fstat(STDIN_FILENO, &identity_) != 0)
            return error = std::string("cannot read standard input: ") + std::strerror(errno), false;
        return ReadIntoMemory(STDIN_FILENO, "standard input", error);
    }
    const std::string cannot = "cannot read '" + path + "': ";
    // A FIFO blocks here until something opens it for writing, as any reader of one does.
    const int fd = open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return error = cannot + std::strerror(errno), false;
    if (fstat(fd, &identity_) != 0) {
        error = cannot + std::strerror(errno);
        close(fd);
        return false;
    }
    if (S_ISDIR(identity_.st_mode)) {
        close(fd);
        return error = cannot + std::strerror(EISDIR), false;
    }
    if (!S_ISREG(identity_.st_mode)) {
        const bool read = ReadIntoMemory(fd, "'" + path + "'", error);
        close(fd);
        return read;
    }
    close(fd);
    const HRESULT hr = SHCreateStreamOnFileEx(Utf16Path(path).c_str(), STGM_READ | STGM_SHARE_DENY_NONE,
                                              FILE_ATTRIBUTE_NORMAL, FALSE, nullptr, &stream_);
    if (FAILED(hr)) return error = cannot + "cannot open it a second time", false;
    return true;
}

bool InputDocument::ReadIntoMemory(int fd, const std::string& name, std::string& error) {
    std::vector<BYTE> bytes;
    constexpr size_t kChunk = 1 << 16;
    for (;;) {
        if (bytes.size() > kLargestStreamedInput) {
            error = name + " holds more than " + std::to_string(kLargestStreamedInput >> 20) +
                    " MiB; pass a document that large as a regular file";
            return false;
        }
        const size_t used = bytes.size();
        bytes.resize(used + kChunk);
        const ssize_t n = read(fd, bytes.data() + used, kChunk);
        if (n < 0 && errno == EINTR) {
            bytes.resize(used);
            continue;
        }
        if (n < 0) {
            error = "cannot read " + name + ": " + std::strerror(errno);
            return false;
        }
        bytes.resize(used + static_cast<size_t>(n));
        if (n == 0) break;
    }
    stream_ = SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size()));
    if (!stream_) return error = "cannot read " + name + ": " + std::strerror(ENOMEM), false;
    return true;
}

}  // namespace kwb
