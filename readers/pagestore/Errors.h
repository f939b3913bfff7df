// The exceptions of the page-store reader. All carry a short literal message and derive from
// std::runtime_error, which is the family ReadPageStorePreview catches.
#pragma once

#include <stdexcept>
#include <string>

// A failure of the host stream (Stat, Seek, Read, short read).
class ThumbError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace tarn {

// Malformed page-store content (blob heads, blob sizes, the metadata buffer).
class HZDError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A failure with a message and an integer code.
class FException : public std::runtime_error {
public:
    FException(const std::string& message, int code) : std::runtime_error(message), code_(code) {}
    int Code() const { return code_; }

private:
    int code_;
};

}  // namespace tarn
