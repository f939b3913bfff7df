// A private temporary directory that TMPDIR points at while it lives, so pager files of a test
// land where the test can see (and clean) them.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "platform/Platform.h"

namespace paged_test {

class ScopedTempDir {
public:
    ScopedTempDir() {
        char pattern[] = "/tmp/paged_test_XXXXXX";
        path_ = mkdtemp(pattern) ? pattern : "";
        const char* old = std::getenv("TMPDIR");
        hadOld_ = old != nullptr;
        if (old) old_ = old;
        setenv("TMPDIR", path_.c_str(), 1);
    }
    ~ScopedTempDir() {
        if (hadOld_)
            setenv("TMPDIR", old_.c_str(), 1);
        else
            unsetenv("TMPDIR");
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScopedTempDir(const ScopedTempDir&) = delete;
    ScopedTempDir& operator=(const ScopedTempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string PagerFile() const { return path_ + "/_libtarn_pager_.dat"; }
    std::set<std::string> Files() const {
        std::set<std::string> names;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(path_, ec)) names.insert(e.path().filename().string());
        return names;
    }

private:
    std::string path_;
    std::string old_;
    bool hadOld_ = false;
};

inline std::basic_string<WCHAR> Wide(const std::string& s) { return std::basic_string<WCHAR>(s.begin(), s.end()); }

}  // namespace paged_test
