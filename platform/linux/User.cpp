#include "User.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "Utf16.h"

namespace {

int WriteToStandardError(HWND, LPCWSTR text, LPCWSTR caption, UINT) {
    std::string line = platform::ToUtf8(caption) + ": " + platform::ToUtf8(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    return IDOK;
}

std::atomic<MessageBoxSink> currentSink{&WriteToStandardError};

}  // namespace

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    return currentSink.load(std::memory_order_acquire)(owner, text, caption, type);
}

MessageBoxSink SetMessageBoxSink(MessageBoxSink sink) {
    return currentSink.exchange(sink ? sink : &WriteToStandardError, std::memory_order_acq_rel);
}
