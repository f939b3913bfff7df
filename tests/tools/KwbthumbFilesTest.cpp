// kwbthumb as a command: what it writes to each kind of output, standard input and output,
// the size of the fitted picture, and the one line it prints for each failure.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/DocumentWriter.h"
#include "tests/tools/KwbthumbFixture.h"

namespace {

using namespace kwbthumb_test;

const std::string kPngSignature("\x89PNG\r\n\x1a\n", 8);

bool IsPng(const std::string& bytes) { return bytes.compare(0, 8, kPngSignature) == 0; }

uint32_t BigEndian32(const std::string& b, size_t at) {
    return uint32_t{static_cast<uint8_t>(b[at])} << 24 | uint32_t{static_cast<uint8_t>(b[at + 1])} << 16 |
           uint32_t{static_cast<uint8_t>(b[at + 2])} << 8 | static_cast<uint8_t>(b[at + 3]);
}

uint32_t LittleEndian32(const std::string& b, size_t at) {
    uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

mode_t ModeOf(const std::string& path, bool follow = true) {
    struct stat st {};
    (follow ? stat : lstat)(path.c_str(), &st);
    return st.st_mode;
}

// Reads a FIFO to its end on a thread of its own, as a consumer of kwbthumb's output would.
class FifoReader {
public:
    explicit FifoReader(const std::string& path)
        : path_(path), thread_([this] {
              data_ = Slurp(path_);
              done_ = true;
          }) {}
    // Should kwbthumb never have opened the FIFO, the reader still waits in open(): a writer
    // that comes and goes lets it finish, so a failure cannot hang the test.
    std::string Finish() {
        for (int i = 0; i < 1000 && !done_; ++i) {
            const int fd = open(path_.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) close(fd);
            usleep(10000);
        }
        thread_.join();
        return data_;
    }

private:
    std::string path_;
    std::string data_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// Writes `bytes` into a FIFO once a reader has opened it, giving up after about 10 s.
void WriteWhenRead(const std::string& path, const std::string& bytes) {
    for (int i = 0; i < 1000; ++i) {
        const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0) {
            usleep(10000);
            continue;
        }
        fcntl(fd, F_SETFL, 0);
        for (size_t at = 0; at < bytes.size();) {
            const ssize_t n = write(fd, bytes.data() + at, bytes.size() - at);
            if (n <= 0) break;
            at += static_cast<size_t>(n);
        }
        close(fd);
        return;
    }
}

// The default picture is the provider's fitted preview alone: the longer side is SIZE and the
// pixels are those the provider centres on its square.
TEST_F(KwbthumbTest, DefaultOutputKeepsTheAspectRatio) {
    struct Case {
        const char* what;
        uint32_t width, height, size;
        int32_t fittedWidth, fittedHeight;
    } cases[] = {
        {"landscape", 90, 60, 48, 48, 32},
        {"portrait", 60, 90, 48, 32, 48},
        {"square", 50, 50, 48, 48, 48},
        {"one-pixel row", 1000, 1, 48, 48, 1},
        {"one-pixel column", 1, 1000, 48, 1, 48},
        {"enlarged", 10, 5, 40, 40, 20},
        {"odd sizes", 77, 31, 33, 33, 13},
    };
    for (const Case& c : cases) {
        const Bytes document = testdoc::WritePageStoreDocument(testdoc::MakeTestPattern(c.width, c.height));
        const std::string in = Write("doc.kwb", document);
        const std::string size = std::to_string(c.size);
        Outcome r = Kwbthumb({"-s", size, in, Path("t.png")});
        ASSERT_EQ(r.status, 0) << c.what << r.err;
        const std::string png = Slurp(Path("t.png"));
        ASSERT_TRUE(IsPng(png)) << c.what;
        EXPECT_EQ(BigEndian32(png, 16), static_cast<uint32_t>(c.fittedWidth)) << c.what;
        EXPECT_EQ(BigEndian32(png, 20), static_cast<uint32_t>(c.fittedHeight)) << c.what;

        r = Kwbthumb({"--size=" + size, in, Path("t.bmp")});
        ASSERT_EQ(r.status, 0) << c.what << r.err;
        const std::string bmp = Slurp(Path("t.bmp"));
        const size_t w = static_cast<size_t>(c.fittedWidth), h = static_cast<size_t>(c.fittedHeight);
        ASSERT_EQ(bmp.size(), 54 + w * h * 4) << c.what;
        EXPECT_EQ(LittleEndian32(bmp, 18), w) << c.what;
        EXPECT_EQ(LittleEndian32(bmp, 22), h) << c.what;  // positive: bottom-up
        // The square's rows, bottom-up too, hold the same picture at the provider's offset.
        const Expected square = ProviderBitmap(document, c.size);
        const size_t x0 = c.size / 2 - w / 2, y0 = c.size / 2 - h / 2;
        size_t differing = 0;
        for (size_t y = 0; y < h; ++y) {
            const char* fitted = bmp.data() + 54 + (h - 1 - y) * w * 4;
            const uint8_t* placed = square.bits.data() + ((c.size - 1 - (y0 + y)) * c.size + x0) * 4;
            differing += std::memcmp(fitted, placed, w * 4) != 0;
        }
        EXPECT_EQ(differing, 0u) << c.what << ": rows differing from the provider's square";
    }
}

// Whatever OUTPUT names, kwbthumb writes the picture into it or says why not; it never puts a
// regular file in place of a link, a device or a FIFO, and never writes over its input.
TEST_F(KwbthumbTest, OutputKinds) {
    const std::string doc = Write("doc.kwb", testdoc::WritePageStoreDocument(testdoc::MakeTestPattern(40, 30)));
    const std::string original = Slurp(doc);
    ASSERT_EQ(Kwbthumb({"-s", "32", doc, Path("reference.png")}).status, 0);
    const std::string reference = Slurp(Path("reference.png"));
    mkdir(Path("sub").c_str(), 0755);
    const bool root = geteuid() == 0;

    struct Case {
        const char* what;
        std::function<std::string()> setUp;  // makes the output, returns the OUTPUT argument
        int status;
        std::string error;                    // what the one line of a failure holds
        std::function<void(const std::string&)> check;
    };
    FifoReader* fifo = nullptr;
    const Case cases[] = {
        {"new file", [&] { return Path("new.png"); }, 0, "",
         [&](const std::string& out) {
             EXPECT_EQ(Slurp(out), reference);
             const mode_t mask = umask(0);
             umask(mask);
             EXPECT_EQ(ModeOf(out) & 0777, 0666 & ~mask);
         }},
        {"regular file, replaced with its mode", [&] {
             const std::string out = Write("old.png", Bytes(5000, 'x'));
             chmod(out.c_str(), 0640);
             return out;
         }, 0, "",
         [&](const std::string& out) {
             EXPECT_EQ(Slurp(out), reference);
             EXPECT_EQ(ModeOf(out) & 0777, 0640u);
         }},
        {"symbolic link, written through", [&] {
             Write("sub/target.png", Bytes{'o', 'l', 'd'});
             symlink("sub/target.png", Path("link.png").c_str());
             return Path("link.png");
         }, 0, "",
         [&](const std::string& out) {
             EXPECT_TRUE(S_ISLNK(ModeOf(out, false)));
             EXPECT_EQ(Slurp(Path("sub/target.png")), reference);
         }},
        {"FIFO, written directly", [&] {
             mkfifo(Path("fifo.png").c_str(), 0600);
             fifo = new FifoReader(Path("fifo.png"));
             return Path("fifo.png");
         }, 0, "",
         [&](const std::string& out) {
             EXPECT_EQ(fifo->Finish(), reference);
             delete fifo;
             EXPECT_TRUE(S_ISFIFO(ModeOf(out, false)));
         }},
        {"/dev/null, written directly", [] { return std::string("/dev/null"); }, 0, "",
         [](const std::string& out) { EXPECT_TRUE(S_ISCHR(ModeOf(out, false))); }},
        {"the input itself", [&] { return doc; }, 2, "is the input document", nullptr},
        {"a link to the input", [&] {
             symlink(doc.c_str(), Path("input-link.png").c_str());
             return Path("input-link.png");
         }, 2, "is the input document", nullptr},
        {"a hard link to the input", [&] {
             link(doc.c_str(), Path("input-hard.png").c_str());
             return Path("input-hard.png");
         }, 2, "is the input document", nullptr},
        {"a folder", [&] { return Path("sub"); }, 2, "cannot write '" + Path("sub") + "': Is a directory", nullptr},
        {"a missing folder", [&] { return Path("missing/o.png"); }, 2,
         "cannot write '" + Path("missing/o.png") + "': No such file or directory", nullptr},
        // Root writes into any folder it may change, so as root a folder of a read-only or
        // virtual file system stands in for one without write permission.
        {"an unwritable folder", [&] {
             if (root) return std::string("/proc/kwbthumb-test.png");
             mkdir(Path("locked").c_str(), 0555);
             return Path("locked/o.png");
         }, 2, root ? "cannot write '/proc/kwbthumb-test.png': " : "Permission denied", nullptr},
    };
    for (const Case& c : cases) {
        const std::string out = c.setUp();
        // The format is named, so that names without .png reach the checks on the file itself.
        Outcome r = Kwbthumb({"-s", "32", "--format", "png", doc, out});
        EXPECT_EQ(r.status, c.status) << c.what << ": " << r.err;
        if (c.status == 0) {
            EXPECT_EQ(r.err, "") << c.what;
        } else {
            EXPECT_NE(r.err.find(c.error), std::string::npos) << c.what << ": " << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.what << ": " << r.err;
        }
        if (c.check) c.check(out);
        EXPECT_EQ(Slurp(doc), original) << c.what;
    }
    // The folder holds what the cases made and nothing else: no temporary file is left.
    for (const std::string& name : Leftovers({doc}))
        EXPECT_EQ(name.rfind(".", 0), std::string::npos) << "left behind: " << name;
}

// "-" is standard input and standard output; a FIFO is read like standard input.
TEST_F(KwbthumbTest, StandardInputAndOutput) {
    const std::string doc = Write("doc.kwb", testdoc::WritePageStoreDocument(testdoc::MakeTestPattern(70, 40)));
    ASSERT_EQ(Kwbthumb({"-s", "64", doc, Path("reference.png")}).status, 0);
    ASSERT_EQ(Kwbthumb({"-s", "64", doc, Path("reference.bmp")}).status, 0);
    const std::string png = Slurp(Path("reference.png")), bmp = Slurp(Path("reference.bmp"));

    Outcome r = Kwbthumb({"-s", "64", "-", Path("from-stdin.png")}, doc);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Slurp(Path("from-stdin.png")), png);

    r = Kwbthumb({"-s", "64", doc, "-"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, png) << "standard output is a PNG unless --format says otherwise";

    r = Kwbthumb({"-s", "64", "--format=bmp", "-", "-"}, doc);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, bmp);

    r = Kwbthumb({"-s64", "-fbmp", "--", doc, "-"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, bmp);

    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    std::thread writer([&] { WriteWhenRead(Path("fifo"), Slurp(doc)); });
    r = Kwbthumb({"-s", "64", Path("fifo"), Path("from-fifo.png")});
    writer.join();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Slurp(Path("from-fifo.png")), png);
}

// Each failure is one line that names the file and the cause, with its exit status.
TEST_F(KwbthumbTest, ErrorTexts) {
    const std::string doc = Write("doc.kwb", testdoc::WritePageStoreDocument(testdoc::MakeTestPattern(20, 10)));
    Bytes truncated = testdoc::WritePageStoreDocument(testdoc::MakeTestPattern(8, 8));
    truncated.resize(100);
    testdoc::Layout noPreview;
    noPreview.withThumbnail = false;
    testdoc::Layout unknownCoding;
    unknownCoding.coding = 7;
    const std::string notDocument = Write("picture.gif", Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0});
    const std::string damaged = Write("damaged.kwb", truncated);
    const std::string empty = Write("empty.kwb", testdoc::WritePageStoreDocument(testdoc::MakeTestPattern(8, 8), noPreview));
    const std::string undecodable =
        Write("undecodable.kwb", testdoc::WritePageStoreDocument(testdoc::MakeTestPattern(8, 8), unknownCoding));
    const std::string out = Path("o.png");
    const std::string q = "'";

    struct Case {
        std::vector<std::string> args;
        std::string stdinFrom;
        int status;
        std::string line;  // the whole of standard error, after "kwbthumb: "
    } cases[] = {
        {{Path("missing.kwb"), out}, "", 2, "cannot read " + q + Path("missing.kwb") + "': No such file or directory"},
        {{dir, out}, "", 2, "cannot read " + q + dir + "': Is a directory"},
        {{doc, Path("missing/o.png")}, "", 2, "cannot write " + q + Path("missing/o.png") + "': No such file or directory"},
        {{notDocument, out}, "", 1, q + notDocument + "': not a document of a known kind"},
        {{"-", out}, "/dev/null", 1, "standard input: not a document of a known kind"},
        {{damaged, out}, "", 1, q + damaged + "': the document is damaged"},
        {{"--square", damaged, out}, "", 1, q + damaged + "': the document is damaged"},
        {{"-", out}, damaged, 1, "standard input: the document is damaged"},
        {{undecodable, out}, "", 1, q + undecodable + "': the document is damaged"},
        {{empty, out}, "", 1, q + empty + "': the document holds no thumbnail"},
        {{"--square", empty, out}, "", 1, q + empty + "': the document holds no thumbnail"},
        {{doc, Path("o.jpg")}, "", 2,
         "cannot tell the format from '" + Path("o.jpg") + "': name it .png or .bmp, or give --format png or --format bmp (try --help)"},
        {{"--format", "jpg", doc, out}, "", 2, "unknown format 'jpg' (png or bmp) (try --help)"},
        {{"-s", "0", doc, out}, "", 2, "bad size '0' (1 to 8192) (try --help)"},
        {{"--size"}, "", 2, "--size needs a size (try --help)"},
        {{"--bogus", doc, out}, "", 2, "unknown option '--bogus' (try --help)"},
        {{"/dev/zero", out}, "", 2, "'/dev/zero' holds more than 256 MiB; pass a document that large as a regular file"},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const auto& a : c.args) line += a + " ";
        Outcome r = c.stdinFrom.empty() ? Kwbthumb(c.args) : Kwbthumb(c.args, c.stdinFrom);
        EXPECT_EQ(r.status, c.status) << line;
        EXPECT_EQ(r.err, "kwbthumb: " + c.line + "\n") << line;
        EXPECT_EQ(r.out, "") << line;
        EXPECT_EQ(Leftovers({doc, notDocument, damaged, empty, undecodable}), std::vector<std::string>{}) << line;
    }
    // The shell's square of an undecodable preview is its transparent canvas, as the DLL gives.
    Outcome r = Kwbthumb({"--square", "-s", "16", undecodable, Path("square.bmp")});
    EXPECT_EQ(r.status, 0) << r.err;
}

}  // namespace
