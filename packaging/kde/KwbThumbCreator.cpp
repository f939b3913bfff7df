// Thumbnails of painting documents for KIO's preview job, and so for KDE's file manager. The
// thumbnail worker loads this plugin for the MIME types its metadata names and asks it for a
// picture no larger than the size it passes; the picture is the one kwbthumb writes for that
// size (the fitted preview, as freedesktop thumbnails keep the aspect ratio), made by the same
// reader and fitting as the shell's provider.
#include <KIO/ThumbnailCreator>
#include <KPluginFactory>
#include <QImage>
#include <QLoggingCategory>
#include <QSize>
#include <QUrl>

#include <algorithm>
#include <cstring>

#include "platform/Platform.h"
#include "tools/ThumbnailRequest.h"

Q_LOGGING_CATEGORY(lcKwbThumbnail, "kwb.thumbnail", QtWarningMsg)

namespace {

// The page-store reader reports a damaged file in a message box; in the worker that becomes
// a debug message of this plugin's category rather than an anonymous line on standard error.
int LogMessageBox(HWND, LPCWSTR text, LPCWSTR caption, UINT) {
    qCDebug(lcKwbThumbnail) << QString::fromUtf16(caption) << QString::fromUtf16(text);
    return IDOK;
}

// kwbthumb's largest size; the worker asks for at most 1024 times the device pixel ratio.
constexpr int kLargestSize = 8192;

// The fitted preview's 0xAARRGGBB words, rows top to bottom, are QImage's ARGB32 as they are.
QImage ImageFromFitted(const kwb::FittedImage& fitted) {
    QImage image(fitted.width, fitted.height, QImage::Format_ARGB32);
    if (image.isNull()) return {};
    const size_t rowBytes = static_cast<size_t>(fitted.width) * 4;
    for (int y = 0; y < fitted.height; ++y)
        std::memcpy(image.scanLine(y), &fitted.pixels[static_cast<size_t>(y) * fitted.width], rowBytes);
    return image;
}

class KwbThumbCreator : public KIO::ThumbnailCreator {
    Q_OBJECT

public:
    KwbThumbCreator(QObject* parent, const QVariantList& args) : KIO::ThumbnailCreator(parent, args) {
        SetMessageBoxSink(&LogMessageBox);
    }

    KIO::ThumbnailResult create(const KIO::ThumbnailRequest& request) override {
        // The picture fitted into the largest square inside the requested box, aspect ratio
        // kept, so that the worker has nothing to scale.
        const QSize box = request.targetSize();
        const int size = std::min({box.width(), box.height(), kLargestSize});
        const QString path = request.url().toLocalFile();
        if (size < 1 || path.isEmpty()) return KIO::ThumbnailResult::fail();

        IStream* stream = nullptr;
        if (FAILED(SHCreateStreamOnFileEx(reinterpret_cast<LPCWSTR>(path.utf16()), STGM_READ | STGM_SHARE_DENY_NONE,
                                          FILE_ATTRIBUTE_NORMAL, FALSE, nullptr, &stream)))
            return KIO::ThumbnailResult::fail();
        kwb::FittedImage fitted;
        const kwb::FitOutcome outcome =
            kwb::RequestFittedImage(stream, kwb::SniffDocument(stream), static_cast<UINT>(size), fitted);
        stream->Release();
        if (outcome != kwb::FitOutcome::Fitted) {
            qCDebug(lcKwbThumbnail) << "no thumbnail in" << path << "outcome" << static_cast<int>(outcome);
            return KIO::ThumbnailResult::fail();
        }
        const QImage image = ImageFromFitted(fitted);
        return image.isNull() ? KIO::ThumbnailResult::fail() : KIO::ThumbnailResult::pass(image);
    }
};

}  // namespace

K_PLUGIN_CLASS_WITH_JSON(KwbThumbCreator, "kwbthumbnail.json")

#include "KwbThumbCreator.moc"
