// Runs a fuzz target once over every file it is given (directories are walked), so that the
// seed corpus and the regression inputs are replayed by every build, sanitizers or not.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int ReplayFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    size_t count = 0;
    int errors = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path arg(argv[i]);
        if (std::filesystem::is_directory(arg)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(arg)) {
                if (!entry.is_regular_file()) continue;
                errors += ReplayFile(entry.path());
                ++count;
            }
        } else if (std::filesystem::exists(arg)) {
            errors += ReplayFile(arg);
            ++count;
        }
    }
    std::printf("replayed %zu inputs\n", count);
    return errors ? 1 : 0;
}
