// Thumbnails of painting documents for KIO's preview job, and so for KDE's file manager. The
// thumbnail worker loads this plugin for the MIME types its metadata names and asks it for a
// picture no larger than the size it passes; the picture is the one kwbthumb writes for that
// size, made by the same provider through the same request.
#include <KIO/ThumbnailCreator>
#include <KPluginFactory>
#include <QImage>
#include <QLoggingCategory>
#include <QSize>
#include <QUrl>
#include <QtEndian>

#include <algorithm>
#include <cstring>

#include "platform/Platform.h"
#include "tools/ThumbnailRequest.h"

// QImage's ARGB32 words are the bitmap's B, G, R, A bytes only on a little-endian machine.
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "the bitmap's BGRA bytes are copied as ARGB32 words");

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

// The DIB section's rows are bottom-up straight-alpha BGRA; the image gets them upright.
QImage ImageFromBitmap(HBITMAP bitmap) {
    DIBSECTION ds{};
    if (GetObject(bitmap, sizeof ds, &ds) != sizeof ds || !ds.dsBm.bmBits || ds.dsBm.bmBitsPixel != 32) return {};
    const int width = ds.dsBm.bmWidth;
    const int height = ds.dsBm.bmHeight;
    QImage image(width, height, QImage::Format_ARGB32);
    if (image.isNull()) return {};
    const auto* bits = static_cast<const unsigned char*>(ds.dsBm.bmBits);
    const size_t stride = static_cast<size_t>(ds.dsBm.bmWidthBytes);
    for (int y = 0; y < height; ++y)
        std::memcpy(image.scanLine(y), bits + static_cast<size_t>(height - 1 - y) * stride, static_cast<size_t>(width) * 4);
    return image;
}

class KwbThumbCreator : public KIO::ThumbnailCreator {
    Q_OBJECT

public:
    KwbThumbCreator(QObject* parent, const QVariantList& args) : KIO::ThumbnailCreator(parent, args) {
        SetMessageBoxSink(&LogMessageBox);
    }

    KIO::ThumbnailResult create(const KIO::ThumbnailRequest& request) override {
        // A square that fits the requested box, so that the worker has nothing to scale.
        const QSize box = request.targetSize();
        const int size = std::min({box.width(), box.height(), kLargestSize});
        const QString path = request.url().toLocalFile();
        if (size < 1 || path.isEmpty()) return KIO::ThumbnailResult::fail();

        IStream* stream = nullptr;
        if (FAILED(SHCreateStreamOnFileEx(reinterpret_cast<LPCWSTR>(path.utf16()), STGM_READ | STGM_SHARE_DENY_NONE,
                                          FILE_ATTRIBUTE_NORMAL, FALSE, nullptr, &stream)))
            return KIO::ThumbnailResult::fail();
        HBITMAP bitmap = nullptr;
        const HRESULT hr = kwb::RequestThumbnail(stream, kwb::SniffDocument(stream), static_cast<UINT>(size), &bitmap);
        stream->Release();
        if (hr != S_OK) {
            qCDebug(lcKwbThumbnail) << "no thumbnail in" << path << "result" << Qt::hex << static_cast<unsigned>(hr);
            return KIO::ThumbnailResult::fail();
        }

        QImage image = ImageFromBitmap(bitmap);
        DeleteObject(bitmap);
        return image.isNull() ? KIO::ThumbnailResult::fail() : KIO::ThumbnailResult::pass(image);
    }
};

}  // namespace

K_PLUGIN_CLASS_WITH_JSON(KwbThumbCreator, "kwbthumbnail.json")

#include "KwbThumbCreator.moc"
