// Tokenizer of workbook XML parts; see xmlscanner.h.
#include "xmlscanner.h"

#include <cstring>

namespace Tarvin {

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The first occurrence of the NUL-free pattern in [from, to), or null.
const char* find(const char* from, const char* to, const char* pattern)
{
    const size_t n = std::strlen(pattern);
    while (to - from >= static_cast<std::ptrdiff_t>(n)) {
        const char* hit = static_cast<const char*>(std::memchr(from, pattern[0], (to - from) - n + 1));
        if (!hit)
            return nullptr;
        if (std::memcmp(hit, pattern, n) == 0)
            return hit;
        from = hit + 1;
    }
    return nullptr;
}

std::string_view stripPrefix(std::string_view qualified)
{
    const size_t colon = qualified.rfind(':');
    return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

} // namespace

XmlScanner::XmlScanner(const char* from, const char* to, int depthLimit)
    : cursor(from), limit(to), maxDepth(depthLimit)
{
}

XmlScanner::Token XmlScanner::next()
{
    if (state == End || state == Error)
        return state;
    for (;;) {
        begin = cursor;
        if (cursor >= limit)
            return state = open.empty() ? End : Error;
        if (*cursor != '<') {
            const char* lt = static_cast<const char*>(std::memchr(cursor, '<', limit - cursor));
            cursor = lt ? lt : limit;
            return state = Text;
        }
        const char* p = cursor + 1;
        if (p >= limit)
            return fail();
        if (*p == '?') {
            const char* close = find(p, limit, "?>");
            if (!close)
                return fail();
            cursor = close + 2;
            ++skipped;
            continue;
        }
        if (*p == '!') {
            if (limit - p >= 3 && std::memcmp(p, "!--", 3) == 0) {
                const char* close = find(p + 3, limit, "-->");
                if (!close)
                    return fail();
                cursor = close + 3;
                continue;
            }
            if (limit - p >= 8 && std::memcmp(p, "![CDATA[", 8) == 0) {
                const char* close = find(p + 8, limit, "]]>");
                if (!close)
                    return fail();
                cursor = close + 3;
                return state = Text;
            }
            // A declaration such as DOCTYPE ends, as TinyXML sees it, at the first '>'.
            const char* close = static_cast<const char*>(std::memchr(p, '>', limit - p));
            if (!close)
                return fail();
            cursor = close + 1;
            ++skipped;
            continue;
        }
        const bool endTag = *p == '/';
        if (endTag)
            ++p;
        const char* nameStart = p;
        while (p < limit && !isSpace(*p) && *p != '/' && *p != '>' && *p != '<' && *p != '"' && *p != '\'')
            ++p;
        if (p == nameStart || p >= limit)
            return fail();
        const std::string_view qualified(nameStart, p - nameStart);
        // The rest of the tag: attributes in quotes may hold '>', nothing may hold '<'.
        char quote = 0;
        while (p < limit) {
            const char c = *p;
            if (c == '<')
                return fail();
            if (quote) {
                if (c == quote)
                    quote = 0;
            } else if (c == '"' || c == '\'') {
                if (endTag)
                    return fail();
                quote = c;
            } else if (c == '>') {
                break;
            }
            ++p;
        }
        if (p >= limit)
            return fail();
        const bool empty = !endTag && p[-1] == '/';
        cursor = p + 1;
        name = stripPrefix(qualified);
        if (endTag) {
            if (open.empty() || open.back() != qualified)
                return fail();
            open.pop_back();
            return state = EndTag;
        }
        if (empty)
            return state = EmptyTag;
        if (static_cast<int>(open.size()) >= maxDepth) {
            tooDeep = true;
            return fail();
        }
        open.push_back(qualified);
        return state = StartTag;
    }
}

bool XmlScanner::skipElement()
{
    const size_t target = open.size() - 1;
    while (open.size() > target) {
        const Token token = next();
        if (token == Error || token == End)
            return false;
    }
    return true;
}

} // namespace Tarvin
