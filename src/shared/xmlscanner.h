// A small pull tokenizer for the XML parts of workbooks. It does not decode anything: it finds the
// boundaries of tags, so that a large part can be walked element by element and each small element
// (a row, a shared string) handed to TinyXML on its own. It also checks what TinyXML does not: the
// nesting depth (TinyXML recurses once per level and has no limit) and that start and end tags match.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace Tarvin {

class XmlScanner {
public:
    enum Token { StartTag, EmptyTag, EndTag, Text, End, Error };

    XmlScanner(const char* begin, const char* end, int maxDepth);

    // The next start tag, empty-element tag, end tag or text; comments, processing instructions and
    // declarations are skipped. Error when the text is not well formed or nests deeper than
    // maxDepth; End after the last token. Both stay once reached.
    Token next();

    // The element name of the last tag without its namespace prefix.
    std::string_view localName() const { return name; }
    // Where the last token starts and ends (one past its last character).
    const char* tokenBegin() const { return begin; }
    const char* tokenEnd() const { return cursor; }
    // Open elements, including the one a StartTag just opened.
    int depth() const { return static_cast<int>(open.size()); }
    // Processing instructions and declarations met so far; TinyXML reads them differently from
    // this scanner, so an element that contains one is not handed to it.
    int oddities() const { return skipped; }
    // Whether scanning stopped because elements nested deeper than maxDepth.
    bool depthExceeded() const { return tooDeep; }

    // After a StartTag: moves past the matching end tag. False on Error.
    bool skipElement();

private:
    Token fail() { return state = Error; }

    const char* cursor;
    const char* limit;
    const char* begin = nullptr;
    std::string_view name;
    std::vector<std::string_view> open; // names of the open elements, prefixes included
    int maxDepth;
    int skipped = 0;
    bool tooDeep = false;
    Token state = Text;
};

} // namespace Tarvin
