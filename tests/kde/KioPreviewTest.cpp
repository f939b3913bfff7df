// KIO's preview job, used as KDE's file manager uses it, against the installed (or built)
// thumbnail plugin: every preview it hands out must have exactly the pixels of kwbthumb's PNG
// at that size, the thumbnail it caches must hold them with their straight alpha, and a
// malformed document must end in the job's failed signal with nothing cached.
//
// The caller may name the plugin and the MIME database: QT_PLUGIN_PATH (a folder holding
// kf5/thumbcreator/kwbthumbnail.so) and XDG_DATA_DIRS (one holding mime/ with both types);
// without them the test finds what is installed, as the file manager does (the Debian
// packages). KWBTHUMB overrides the kwbthumb to compare with. Home, configuration,
// cache and data homes are made private here, so no thumbnail of an earlier run is reused.
#include <gtest/gtest.h>

#include <KFileItem>
#include <KIO/PreviewJob>
#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/DocumentWriter.h"

namespace {

const char kPluginId[] = "kwbthumbnail";
const char kMimeType[] = "application/x-kwb";
const char kArchiveMimeType[] = "application/x-rvn";

QTemporaryDir* workDir = nullptr;  // made in main, before Qt reads any XDG variable

QString WorkPath(const QString& name) { return workDir->filePath(name); }

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString Kwbthumb() {
    const QByteArray fromEnv = qgetenv("KWBTHUMB");
    return fromEnv.isEmpty() ? QStringLiteral(KWBTHUMB_PATH) : QString::fromLocal8Bit(fromEnv);
}

// kwbthumb's own PNG of a document at one size, as straight-alpha ARGB32.
QImage ExpectedThumbnail(const QString& document, int size) {
    const QString out = WorkPath(QStringLiteral("expected-%1.png").arg(size));
    QFile::remove(out);
    const int status = QProcess::execute(Kwbthumb(), {QStringLiteral("-s"), QString::number(size), document, out});
    if (status != 0) return {};
    return QImage(out).convertToFormat(QImage::Format_ARGB32);
}

// Where the preview job caches a local file's thumbnail of this size.
QString CachedThumbnailPath(const QString& document, int size) {
    const QString folder = size <= 128 ? "normal" : size <= 256 ? "large" : size <= 512 ? "x-large" : "xx-large";
    const QByteArray uri = QUrl::fromLocalFile(QFileInfo(document).canonicalFilePath()).toEncoded(QUrl::RemovePassword | QUrl::FullyEncoded);
    return qEnvironmentVariable("XDG_CACHE_HOME") + "/thumbnails/" + folder + "/" +
           QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) + ".png";
}

// Pixel-exact comparison with the first difference spelled out.
::testing::AssertionResult SamePixels(const QImage& actual, const QImage& expected) {
    if (actual.size() != expected.size() || actual.format() != expected.format())
        return ::testing::AssertionFailure() << "got " << actual.width() << "x" << actual.height() << " format "
                                             << actual.format() << ", expected " << expected.width() << "x"
                                             << expected.height() << " format " << expected.format();
    int differing = 0;
    QString first;
    for (int y = 0; y < expected.height(); ++y) {
        const auto* a = reinterpret_cast<const QRgb*>(actual.constScanLine(y));
        const auto* e = reinterpret_cast<const QRgb*>(expected.constScanLine(y));
        for (int x = 0; x < expected.width(); ++x) {
            if (a[x] == e[x]) continue;
            if (differing++ == 0)
                first = QStringLiteral("(%1, %2): %3 instead of %4").arg(x).arg(y).arg(a[x], 8, 16, QChar('0')).arg(e[x], 8, 16, QChar('0'));
        }
    }
    if (differing == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << differing << " pixels differ, first at " << first.toStdString();
}

bool HasPartialAlpha(const QImage& image) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (const int a = qAlpha(image.pixel(x, y)); a != 0 && a != 255) return true;
    return false;
}

struct JobOutcome {
    std::map<QString, QImage> previews;  // by local path
    std::vector<QString> failed;
    bool finished = false;
    int error = 0;
};

// One preview job over `documents` at size x size, as the file manager starts it: the plugin
// enabled by id, thumbnails scaled and cached.
JobOutcome RunPreviewJob(const QStringList& documents, int size) {
    KFileItemList items;
    for (const QString& d : documents) items.append(KFileItem(QUrl::fromLocalFile(d)));
    const QStringList plugins{QString::fromLatin1(kPluginId)};
    auto* job = KIO::filePreview(items, QSize(size, size), &plugins);
    job->setScaleType(KIO::PreviewJob::ScaledAndCached);

    JobOutcome outcome;
    QEventLoop loop;
    QObject::connect(job, &KIO::PreviewJob::gotPreview, [&](const KFileItem& item, const QPixmap& preview) {
        outcome.previews[item.localPath()] = preview.toImage();
    });
    QObject::connect(job, &KIO::PreviewJob::failed, [&](const KFileItem& item) { outcome.failed.push_back(item.localPath()); });
    QObject::connect(job, &KJob::result, [&](KJob* j) {
        outcome.finished = true;
        outcome.error = j->error();
        loop.quit();
    });
    // A worker that never answers must fail the test, not hang it.
    QTimer::singleShot(120000, &loop, [&] {
        job->kill(KJob::Quietly);
        loop.quit();
    });
    loop.exec();
    return outcome;
}

class KioPreviewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        docs = new QStringList;
        broken = new QStringList;
        const QDir dir(WorkPath(QStringLiteral("docs")));
        QDir().mkpath(dir.path());
        const QByteArray sample = ReadFile(QStringLiteral(SAMPLES_DIR "/landscape.kwb"));
        const QByteArray layers = ReadFile(QStringLiteral(SAMPLES_DIR "/landscape-layers.rvn"));
        ASSERT_FALSE(sample.isEmpty());
        ASSERT_FALSE(layers.isEmpty());

        // A wide preview whose alpha runs from clear to opaque: the fit pads it with
        // transparent rows, and every alpha value must survive the trip through KIO.
        testdoc::PreviewImage wide = testdoc::MakeTestPattern(300, 120, 7);
        for (uint32_t y = 0; y < wide.height; ++y)
            for (uint32_t x = 0; x < wide.width; ++x) {
                uint32_t& p = wide.pixels[y * wide.width + x];
                p = (p & 0x00FFFFFFu) | ((x * 255 / (wide.width - 1)) << 24);
            }
        const auto wideBytes = testdoc::WritePageStoreDocument(wide);
        testdoc::Layout noPreview;
        noPreview.withThumbnail = false;
        const auto noPreviewBytes = testdoc::WritePageStoreDocument(wide, noPreview);

        // Sound documents: both kinds by name and by their first bytes only, a layered archive
        // under the page store's name (the reader follows the content), and a translucent one
        // with a name that needs encoding in a URL.
        const std::vector<std::pair<QString, QByteArray>> good = {
            {"landscape.kwb", sample},
            {"no-extension", sample},
            {"landscape-layers.rvn", layers},
            {"layers-no-extension", layers},
            {"layers.kwb", layers},
            {QString::fromUtf8("translucent wïde.kwb"), QByteArray(reinterpret_cast<const char*>(wideBytes.data()), int(wideBytes.size()))},
        };
        // Malformed: cut short, not a document at all, and a document without a preview.
        const std::vector<std::pair<QString, QByteArray>> bad = {
            {"damaged.kwb", sample.left(4096)},
            {"damaged.rvn", layers.left(200)},
            {"garbage.kwb", QByteArray(5000, '\x5a')},
            {"no-preview.kwb", QByteArray(reinterpret_cast<const char*>(noPreviewBytes.data()), int(noPreviewBytes.size()))},
        };
        for (const auto& [name, bytes] : good) {
            ASSERT_TRUE(WriteFile(dir.filePath(name), bytes));
            docs->append(dir.filePath(name));
        }
        for (const auto& [name, bytes] : bad) {
            ASSERT_TRUE(WriteFile(dir.filePath(name), bytes));
            broken->append(dir.filePath(name));
        }
    }
    static void TearDownTestSuite() {
        delete docs;
        delete broken;
    }

    static QStringList* docs;
    static QStringList* broken;
};

QStringList* KioPreviewTest::docs = nullptr;
QStringList* KioPreviewTest::broken = nullptr;

TEST_F(KioPreviewTest, PluginIsFoundForTheDocumentType) {
    const QStringList available = KIO::PreviewJob::availablePlugins();
    ASSERT_TRUE(available.contains(kPluginId)) << "QT_PLUGIN_PATH=" << qgetenv("QT_PLUGIN_PATH").toStdString()
                                               << " holds no kf5/thumbcreator/" << kPluginId << ".so";
    EXPECT_TRUE(KIO::PreviewJob::supportedMimeTypes().contains(kMimeType));
    EXPECT_TRUE(KIO::PreviewJob::supportedMimeTypes().contains(kArchiveMimeType));
    // The name decides where it has an extension, the first bytes where it has none.
    for (const QString& d : *docs + *broken) {
        const bool archive = d.endsWith(".rvn") || (!d.endsWith(".kwb") && ReadFile(d).startsWith("rvnpack"));
        EXPECT_EQ(KFileItem(QUrl::fromLocalFile(d)).mimetype().toStdString(), archive ? kArchiveMimeType : kMimeType)
            << d.toStdString();
    }
}

TEST_F(KioPreviewTest, PreviewsEqualKwbthumbAtEverySize) {
    for (const int size : {128, 256, 512}) {
        SCOPED_TRACE(size);
        int translucent = 0;
        const JobOutcome outcome = RunPreviewJob(*docs + *broken, size);
        ASSERT_TRUE(outcome.finished) << "the preview job did not finish within 120 s";

        for (const QString& d : *docs) {
            SCOPED_TRACE(d.toStdString());
            const QImage expected = ExpectedThumbnail(d, size);
            ASSERT_FALSE(expected.isNull()) << "kwbthumb made no thumbnail";
            translucent += HasPartialAlpha(expected);
            const auto it = outcome.previews.find(d);
            ASSERT_NE(it, outcome.previews.end()) << "no preview";
            // The job hands out a pixmap, which holds premultiplied pixels on Qt's raster
            // platforms; kwbthumb's picture goes through the same conversion.
            EXPECT_TRUE(SamePixels(it->second, expected.convertToFormat(it->second.format())));
            // The cached file is the worker's image as the plugin made it: straight alpha.
            const QImage cached(CachedThumbnailPath(d, size));
            ASSERT_FALSE(cached.isNull()) << "not cached at " << CachedThumbnailPath(d, size).toStdString();
            EXPECT_TRUE(SamePixels(cached.convertToFormat(QImage::Format_ARGB32), expected));
        }
        for (const QString& d : *broken) {
            SCOPED_TRACE(d.toStdString());
            EXPECT_EQ(outcome.previews.count(d), 0u) << "a malformed document gave a picture";
            EXPECT_EQ(std::count(outcome.failed.begin(), outcome.failed.end(), d), 1);
            EXPECT_FALSE(QFile::exists(CachedThumbnailPath(d, size)));
        }
        EXPECT_EQ(outcome.failed.size(), size_t(broken->size()));
        EXPECT_GT(translucent, 0) << "no document checks alpha between clear and opaque";
    }
}

TEST_F(KioPreviewTest, CachedPreviewIsServedAgainUnchanged) {
    // The file manager's second visit reads the cache; the picture must not change.
    const QString d = docs->last();
    const QImage expected = ExpectedThumbnail(d, 256);
    RunPreviewJob({d}, 256);
    const QDateTime written = QFileInfo(CachedThumbnailPath(d, 256)).lastModified();
    const JobOutcome second = RunPreviewJob({d}, 256);
    ASSERT_EQ(second.previews.count(d), 1u);
    EXPECT_TRUE(SamePixels(second.previews.at(d), expected.convertToFormat(second.previews.at(d).format())));
    EXPECT_EQ(QFileInfo(CachedThumbnailPath(d, 256)).lastModified(), written);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QTemporaryDir dir(QDir::tempPath() + "/kio-preview-test-XXXXXX");
    if (!dir.isValid()) return 2;
    workDir = &dir;
    // A fresh user: nothing configured, nothing cached. The cache lies on the documents'
    // file system, which the job requires before it caches (no removable-device lookup).
    for (const char* home : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
        const QString path = dir.filePath(QString::fromLatin1(home).toLower());
        QDir().mkpath(path);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv(home, QFile::encodeName(path));
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
