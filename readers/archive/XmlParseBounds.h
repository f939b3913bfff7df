// Bounds on what the XML header may ask of TinyXML. TinyXML parses nested elements by
// recursion, compares each attribute with every earlier one of its element, and scans to
// the next ';' for every numeric character reference, and it builds a node of a hundred
// bytes or more for every few bytes of markup, so a crafted header of a few MiB could
// exhaust the stack, take minutes or claim gigabytes. This check walks the text the way
// TinyXML's parser does, without building anything, and refuses texts past the bounds.
#pragma once

#include <cstddef>

namespace archive {

// Zero bytes that must follow the text in its buffer: TinyXML steps up to a few bytes past
// the terminating null on unterminated comments, CDATA sections and multi-byte characters.
constexpr size_t kXmlPadding = 16;

constexpr int kMaxXmlDepth = 256;
// Elements, attributes, texts, comments and other nodes of the whole document.
constexpr size_t kMaxXmlNodes = size_t{1} << 17;
// Units of work: one attribute-name comparison or one byte scanned for a character reference.
constexpr size_t kMaxXmlWork = size_t{1} << 26;

// `text` holds `length` bytes followed by at least kXmlPadding zero bytes; parsing stops at
// the first zero byte as TinyXML does. True when TinyXML's parse of it stays within bounds.
bool XmlWithinParserBounds(const char* text, size_t length);

}  // namespace archive
