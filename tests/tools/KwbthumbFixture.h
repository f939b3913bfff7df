// The kwbthumb test fixture: runs the installed-to-be program in a child process inside a
// temporary folder, and asks the provider itself for the bitmap to compare with.
#pragma once

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "server/Exports.h"
#include "server/Module.h"

namespace kwbthumb_test {

using Bytes = std::vector<uint8_t>;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

inline std::string Slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

class KwbthumbTest : public ::testing::Test {
protected:
    void SetUp() override {
        char templ[] = "/tmp/kwbthumb-test-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir = templ;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    std::string Path(const std::string& name) const { return dir + "/" + name; }

    std::string Write(const std::string& name, const Bytes& bytes) const {
        std::ofstream(Path(name), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return Path(name);
    }

    // Runs kwbthumb with standard input read from `in` (default: /dev/null).
    Outcome Kwbthumb(const std::vector<std::string>& args, const std::string& in = "/dev/null") const {
        const std::string outFile = Path(".stdout"), errFile = Path(".stderr");
        pid_t pid = fork();
        if (pid == 0) {
            int i = open(in.c_str(), O_RDONLY);
            dup2(i, 0);
            int o = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int e = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(o, 1);
            dup2(e, 2);
            std::vector<char*> argv{const_cast<char*>(KWBTHUMB_PATH)};
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(KWBTHUMB_PATH, argv.data());
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        Outcome r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(outFile), Slurp(errFile)};
        unlink(outFile.c_str());
        unlink(errFile.c_str());
        return r;
    }

    // Names in the folder, the test's own inputs aside: what the program left behind.
    std::vector<std::string> Leftovers(const std::vector<std::string>& inputs) const {
        std::vector<std::string> names;
        DIR* d = opendir(dir.c_str());
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n == "." || n == "..") continue;
            bool input = false;
            for (const auto& i : inputs) input |= Path(n) == i;
            if (!input) names.push_back(n);
        }
        closedir(d);
        return names;
    }

    std::string dir;
};

// The provider's own bitmap for a document, made in this process through the same exports.
struct Expected {
    BITMAPINFOHEADER header;
    Bytes bits;
};

inline Expected ProviderBitmap(const Bytes& document, UINT cx) {
    IClassFactory* factory = nullptr;
    EXPECT_EQ(DllGetClassObject(CLSID_KwbThumbnailProvider, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    IInitializeWithStream* init = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IInitializeWithStream, reinterpret_cast<void**>(&init)), S_OK);
    factory->Release();
    IStream* stream = SHCreateMemStream(document.data(), static_cast<UINT>(document.size()));
    EXPECT_EQ(init->Initialize(stream, STGM_READ), S_OK);
    stream->Release();
    IThumbnailProvider* thumbs = nullptr;
    EXPECT_EQ(init->QueryInterface(IID_IThumbnailProvider, reinterpret_cast<void**>(&thumbs)), S_OK);
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha;
    EXPECT_EQ(thumbs->GetThumbnail(cx, &bitmap, &alpha), S_OK);
    thumbs->Release();
    init->Release();
    DIBSECTION ds{};
    GetObject(bitmap, sizeof ds, &ds);
    auto* bits = static_cast<const uint8_t*>(ds.dsBm.bmBits);
    Expected e{ds.dsBmih, Bytes(bits, bits + size_t{cx} * cx * 4)};
    DeleteObject(bitmap);
    return e;
}

inline Bytes Le(uint32_t v, int n) {
    Bytes b;
    for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return b;
}

}  // namespace kwbthumb_test
