#include "readers/archive/XmlParseBounds.h"

#include <cstring>
#include <vector>

namespace archive {
namespace {

// Mirrors TinyXML 2.6's parser (tinyxmlparser.cpp) step by step: a null result is the point
// where TinyXML stops with an error, after which nothing more is parsed. Where the mirror
// is not exact it errs towards walking more text (duplicate attributes are not detected),
// which can only refuse more, never less.
class ParseWalk {
public:
    enum class Encoding { Bytes, Utf8 };

    ParseWalk(const char* text, const char* end, Encoding encoding) : end_(end), encoding_(encoding) { (void)text; }

    bool exceeded = false;

    // The document loop from p; returns false when the bounds were exceeded.
    bool Document(const char* p, bool encodingSettled) {
        p = SkipWhiteSpace(p);
        while (p && *p && !exceeded) {
            NodeKind kind = Identify(p);
            if (kind == NodeKind::None) break;
            p = ParseNode(kind, p);
            if (kind == NodeKind::Declaration && !encodingSettled && p) {
                // The first declaration fixes the encoding for the rest of the document. Rather
                // than decode its value, walk the rest both ways; the real parse is one of them.
                p = SkipWhiteSpace(p);
                ParseWalk utf8(*this, Encoding::Utf8);
                ParseWalk bytes(*this, Encoding::Bytes);
                return utf8.Document(p, true) && bytes.Document(p, true);
            }
            p = SkipWhiteSpace(p);
        }
        return !exceeded;
    }

private:
    enum class NodeKind { None, Declaration, Comment, CData, Unknown, Element };

    ParseWalk(const ParseWalk& other, Encoding encoding)
        : end_(other.end_),
          encoding_(encoding),
          work_(other.work_),
          nodes_(other.nodes_),
          nextSemicolon_(other.nextSemicolon_) {}

    static bool IsWhiteSpace(char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    }
    static bool IsAlpha(unsigned char c) {
        return c >= 127 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    }
    static bool IsAlphaNum(unsigned char c) { return IsAlpha(c) || (c >= '0' && c <= '9'); }
    static char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

    static bool StringEqual(const char* p, const char* tag, bool ignoreCase = false) {
        if (!p || !*p) return false;
        for (; *p && *tag; ++p, ++tag)
            if (ignoreCase ? Lower(*p) != Lower(*tag) : *p != *tag) return false;
        return *tag == 0;
    }

    const char* SkipWhiteSpace(const char* p) const {
        if (!p || !*p) return nullptr;
        for (;;) {
            auto u = reinterpret_cast<const unsigned char*>(p);
            if (encoding_ == Encoding::Utf8 && u[0] == 0xEF &&
                ((u[1] == 0xBB && u[2] == 0xBF) || (u[1] == 0xBF && (u[2] == 0xBE || u[2] == 0xBF)))) {
                p += 3;
                continue;
            }
            if (*p && IsWhiteSpace(*p)) {
                ++p;
                continue;
            }
            return p;
        }
    }

    static const char* ReadName(const char* p) {
        auto u = reinterpret_cast<const unsigned char*>(p);
        if (!*u || !(IsAlpha(*u) || *u == '_')) return nullptr;
        while (*u && (IsAlphaNum(*u) || *u == '_' || *u == '-' || *u == '.' || *u == ':')) ++u;
        return reinterpret_cast<const char*>(u);
    }

    bool Spend(size_t units) {
        work_ += units;
        if (work_ > kMaxXmlWork) exceeded = true;
        return !exceeded;
    }

    // strchr(from, ';') with a remembered answer, so the walk itself stays linear.
    const char* FindSemicolon(const char* from) {
        if (from >= end_) return nullptr;
        if (!nextSemicolon_ || nextSemicolon_ < from) {
            const void* hit = std::memchr(from, ';', static_cast<size_t>(end_ - from));
            nextSemicolon_ = hit ? static_cast<const char*>(hit) : end_;
        }
        return nextSemicolon_ == end_ ? nullptr : nextSemicolon_;
    }

    const char* Entity(const char* p) {
        if (p[1] == '#' && p[2]) {
            const bool hex = p[2] == 'x';
            if (hex && !p[3]) return nullptr;
            const char* q = FindSemicolon(p + (hex ? 3 : 2));
            if (!Spend(static_cast<size_t>((q ? q : end_) - p))) return nullptr;
            if (!q) return nullptr;
            const char* stop = q;
            for (--q; *q != (hex ? 'x' : '#'); --q) {
                const char c = *q;
                const bool ok = (c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
                if (!ok) return nullptr;
            }
            return stop + 1;
        }
        static const char* const kNamed[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};
        for (const char* e : kNamed)
            if (std::strncmp(e, p, std::strlen(e)) == 0) return p + std::strlen(e);
        return p + 1;
    }

    const char* NextChar(const char* p) {
        static const unsigned char kUtf8Length[16] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 3, 4};
        int length = 1;
        if (encoding_ == Encoding::Utf8) {
            const auto u = static_cast<unsigned char>(*p);
            length = kUtf8Length[u >> 4];
            if (u == 0xC0 || u == 0xC1 || u >= 0xF5) length = 1;
        }
        if (length == 1) return *p == '&' ? Entity(p) : p + 1;
        return p + length;  // may step over the terminator, as TinyXML does; the padding absorbs it
    }

    const char* ReadText(const char* p, const char* endTag, bool condense) {
        if (condense) {
            p = SkipWhiteSpace(p);
            while (p && *p && !StringEqual(p, endTag)) p = IsWhiteSpace(*p) ? p + 1 : NextChar(p);
        } else {
            while (p && *p && !StringEqual(p, endTag)) p = NextChar(p);
        }
        return p ? p + std::strlen(endTag) : nullptr;
    }

    NodeKind Identify(const char* p) const {
        p = SkipWhiteSpace(p);
        if (!p || *p != '<') return NodeKind::None;
        if (StringEqual(p, "<?xml", true)) return NodeKind::Declaration;
        if (StringEqual(p, "<!--")) return NodeKind::Comment;
        if (StringEqual(p, "<![CDATA[")) return NodeKind::CData;
        if (StringEqual(p, "<!")) return NodeKind::Unknown;
        if (IsAlpha(static_cast<unsigned char>(p[1])) || p[1] == '_') return NodeKind::Element;
        return NodeKind::Unknown;
    }

    bool CountNode() {
        if (++nodes_ > kMaxXmlNodes) exceeded = true;
        return !exceeded;
    }

    const char* ParseNode(NodeKind kind, const char* p) {
        if (!CountNode()) return nullptr;
        switch (kind) {
            case NodeKind::Declaration: return Declaration(p);
            case NodeKind::Comment: return Comment(p);
            case NodeKind::CData: return CData(p);
            case NodeKind::Unknown: return Unknown(p);
            case NodeKind::Element: return Element(p);
            case NodeKind::None: break;
        }
        return nullptr;
    }

    const char* Declaration(const char* p) {
        p = SkipWhiteSpace(p);
        if (!p || !StringEqual(p, "<?xml", true)) return nullptr;
        p += 5;
        while (p && *p) {
            if (*p == '>') return p + 1;
            p = SkipWhiteSpace(p);
            if (StringEqual(p, "version", true) || StringEqual(p, "encoding", true) ||
                StringEqual(p, "standalone", true)) {
                p = Attribute(p);
            } else {
                while (p && *p && *p != '>' && !IsWhiteSpace(*p)) ++p;
            }
        }
        return nullptr;
    }

    const char* Comment(const char* p) {
        p = SkipWhiteSpace(p);
        if (!StringEqual(p, "<!--")) return nullptr;
        p += 4;
        while (*p && !StringEqual(p, "-->")) ++p;
        return p + 3;
    }

    const char* CData(const char* p) {
        p += 9;  // "<![CDATA["
        while (*p && !StringEqual(p, "]]>")) ++p;
        return ReadText(p, "]]>", false);
    }

    const char* Unknown(const char* p) {
        p = SkipWhiteSpace(p);
        if (!p || *p != '<') return nullptr;
        ++p;
        while (*p && *p != '>') ++p;
        return *p == '>' ? p + 1 : p;
    }

    const char* Text(const char* p) {
        if (!CountNode()) return nullptr;
        p = ReadText(p, "<", true);
        return p ? p - 1 : nullptr;
    }

    const char* Attribute(const char* p) {
        p = SkipWhiteSpace(p);
        if (!p || !*p) return nullptr;
        p = ReadName(p);
        if (!p || !*p) return nullptr;
        p = SkipWhiteSpace(p);
        if (!p || *p != '=') return nullptr;
        p = SkipWhiteSpace(p + 1);
        if (!p || !*p) return nullptr;
        if (*p == '\'') return ReadText(p + 1, "'", false);
        if (*p == '"') return ReadText(p + 1, "\"", false);
        while (*p && !IsWhiteSpace(*p) && *p != '/' && *p != '>') {
            if (*p == '\'' || *p == '"') return nullptr;
            ++p;
        }
        return p;
    }

    const char* Element(const char* p) {
        if (++depth_ > kMaxXmlDepth) {
            exceeded = true;
            return nullptr;
        }
        const char* result = ElementBody(p);
        --depth_;
        return result;
    }

    const char* ElementBody(const char* p) {
        p = SkipWhiteSpace(p);
        if (!p || *p != '<') return nullptr;
        p = SkipWhiteSpace(p + 1);
        if (!p) return nullptr;
        const char* name = p;
        p = ReadName(p);
        if (!p || !*p) return nullptr;
        const size_t nameLength = static_cast<size_t>(p - name);
        size_t attributes = 0;
        while (p && *p) {
            p = SkipWhiteSpace(p);
            if (!p || !*p) return nullptr;
            if (*p == '/') return p[1] == '>' ? p + 2 : nullptr;
            if (*p == '>') {
                p = Value(p + 1);
                if (!p || !*p) return nullptr;
                // The end tag must be "</" name ">".
                if (p[0] == '<' && p[1] == '/' && std::strncmp(p + 2, name, nameLength) == 0 && p[2 + nameLength] == '>')
                    return p + 3 + nameLength;
                return nullptr;
            }
            const char* attributeName = SkipWhiteSpace(p);
            p = Attribute(p);
            if (!p || !*p) return nullptr;
            // The new attribute is compared with each earlier one of this element.
            const char* nameEnd = ReadName(attributeName);
            const size_t length = nameEnd ? static_cast<size_t>(nameEnd - attributeName) : 0;
            if (!Spend(attributes * (1 + length / 16)) || !CountNode()) return nullptr;
            ++attributes;
        }
        return p;
    }

    const char* Value(const char* p) {
        p = SkipWhiteSpace(p);
        while (p && *p && !exceeded) {
            if (*p != '<') {
                p = Text(p);
            } else {
                if (StringEqual(p, "</")) return p;
                p = ParseNode(Identify(p), p);
            }
            p = SkipWhiteSpace(p);
        }
        return exceeded ? nullptr : p;
    }

    const char* end_;
    Encoding encoding_;
    size_t work_ = 0;
    size_t nodes_ = 0;
    int depth_ = 0;
    const char* nextSemicolon_ = nullptr;
};

}  // namespace

bool XmlWithinParserBounds(const char* text, size_t length) {
    const char* end = text + strnlen(text, length);
    if (end == text) return true;
    auto u = reinterpret_cast<const unsigned char*>(text);
    const bool bom = u[0] == 0xEF && u[1] == 0xBB && u[2] == 0xBF;
    ParseWalk walk(text, end, bom ? ParseWalk::Encoding::Utf8 : ParseWalk::Encoding::Bytes);
    return walk.Document(text, bom);
}

}  // namespace archive
