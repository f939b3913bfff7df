#include "readers/archive/ReadLayeredArchiveThumbnail.h"

#include <tinyxml.h>

#include <boost/lexical_cast.hpp>
#include <cstring>
#include <string>

#include "readers/archive/FindChunk.h"
#include "readers/archive/XmlParseBounds.h"

namespace {

constexpr uint8_t kMagic[8] = {'r', 'v', 'n', 'p', 'a', 'c', 'k', 0};
constexpr uint32_t kLargestXmlLength = 0x9FFFFF;
constexpr int32_t kLargestSide = 1024;

uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

std::string AttributeText(const TiXmlElement& element, const char* name) {
    const char* value = element.Attribute(name);
    return value ? std::string(value) : std::string();
}

// Empty text is 0; anything else must be an int in full, or the conversion throws.
int32_t Dimension(const std::string& text) { return text.empty() ? 0 : boost::lexical_cast<int>(text); }

// The picture left in the image when the header is refused for its size.
void PaintPlaceholder(tarn::CImage32& image) {
    image.Resize(64, 64);
    image.FillChecker(64, 64, 0xFFFFFFFFu, 0xFFE0E0E0u);
}

}  // namespace

bool ReadLayeredArchiveThumbnail(tarn::CImage32& image, IStream* stream) {
    uint8_t magic[8];
    if (archive::ReadFully(stream, magic, sizeof magic) != sizeof magic) return false;
    if (std::memcmp(magic, kMagic, sizeof kMagic) != 0) return false;

    uint8_t words[12];
    if (archive::ReadFully(stream, words, sizeof words) != sizeof words) return false;
    const uint32_t xmlLength = Le32(words + 4);
    if (xmlLength > kLargestXmlLength) {
        PaintPlaceholder(image);
        return false;
    }

    std::unique_ptr<char[], archive::FreeDeleter> xml(
        static_cast<char*>(std::calloc(size_t{xmlLength} + archive::kXmlPadding, 1)));
    if (!xml) return false;
    if (archive::ReadFully(stream, xml.get(), xmlLength) != xmlLength) return false;
    if (!archive::XmlWithinParserBounds(xml.get(), xmlLength)) return false;

    TiXmlDocument document;
    document.Parse(xml.get(), nullptr, TIXML_DEFAULT_ENCODING);
    xml.reset();

    const TiXmlElement* root = document.FirstChildElement("Divude");
    if (!root) return false;
    const TiXmlElement* thumb = root->FirstChildElement("Thumb");
    if (!thumb) return false;

    const std::string bin = AttributeText(*thumb, "bin");
    const int32_t width = Dimension(AttributeText(*thumb, "width"));
    const int32_t height = Dimension(AttributeText(*thumb, "height"));
    if (width < 1 || height < 1 || width > kLargestSide || height > kLargestSide) return false;

    // A failed resize leaves a 1 x 1 image that the copy below would overrun.
    if (!image.Resize(width, height) || image.Width() != width || image.Height() != height || !image.Pixels())
        return false;

    archive::ChunkData chunk;
    if (!archive::FindChunk(stream, bin, chunk) || !chunk.bytes) return false;
    const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
    if (chunk.size < bytes) return false;
    std::memcpy(image.Pixels(), chunk.bytes.get(), bytes);
    return true;
}
