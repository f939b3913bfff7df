#include <gtest/gtest.h>

#include <string>

#include "readers/archive/XmlParseBounds.h"

namespace {

bool Within(const std::string& xml) {
    std::string buffer = xml;
    buffer.append(archive::kXmlPadding, '\0');
    return archive::XmlWithinParserBounds(buffer.data(), xml.size());
}

std::string Nested(int depth, const std::string& name = "a") {
    std::string s;
    for (int i = 0; i < depth; ++i) s += "<" + name + ">";
    for (int i = 0; i < depth; ++i) s += "</" + name + ">";
    return s;
}

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

// Only what TinyXML would really nest counts: markup inside comments, CDATA and attribute
// values is text, and the walk stops where TinyXML stops at an error.
TEST(XmlWithinParserBounds, CountsOnlyRealNesting) {
    const int limit = archive::kMaxXmlDepth;
    struct Case {
        std::string what;
        std::string xml;
        bool within;
    } cases[] = {
        {"empty", "", true},
        {"depth at the limit", Nested(limit), true},
        {"depth past the limit", Nested(limit + 1), false},
        {"unclosed nesting past the limit", Repeat("<a>", limit + 1), false},
        {"self-closed elements do not nest", "<r>" + Repeat("<a/>", 100000) + "</r>", true},
        {"siblings do not nest", "<r>" + Repeat("<a></a>", 50000) + "</r>", true},
        {"too many elements", "<r>" + Repeat("<a/>", archive::kMaxXmlNodes) + "</r>", false},
        {"too many text nodes", "<r>" + Repeat("x<!---->", archive::kMaxXmlNodes / 2 + 1) + "</r>", false},
        {"inside a comment", "<r><!--" + Repeat("<a>", 5000) + "--></r>", true},
        {"inside CDATA", "<r><![CDATA[" + Repeat("<a>", 5000) + "]]></r>", true},
        {"inside an attribute value", "<r x='" + Repeat("<a>", 5000) + "'/>", true},
        {"after a parse error", "<r><a></b>" + Repeat("<a>", 5000), true},
        {"after text at document level", "text" + Repeat("<a>", 5000), true},
        {"after a declaration", "<?xml version='1.0' encoding='ISO-8859-1'?>" + Repeat("<a>", limit + 1), false},
        {"after a UTF-8 mark", "\xEF\xBB\xBF" + Repeat("<a>", limit + 1), false},
        {"many attributes", "<a " + [] {
             std::string s;
             for (int i = 0; i < 20000; ++i) s += "a" + std::to_string(i) + "='' ";
             return s;
         }() + "/>", false},
        {"a few hundred attributes", "<a " + [] {
             std::string s;
             for (int i = 0; i < 300; ++i) s += "a" + std::to_string(i) + "='' ";
             return s;
         }() + "/>", true},
    };
    for (const Case& c : cases) EXPECT_EQ(Within(c.xml), c.within) << c.what;
}

// Parsing stops at the first zero byte, as TinyXML's does.
TEST(XmlWithinParserBounds, StopsAtTheFirstZeroByte) {
    std::string xml = "<r>" + std::string(1, '\0') + Repeat("<a>", 5000);
    EXPECT_TRUE(Within(xml));
}

}  // namespace
