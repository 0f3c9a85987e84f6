#include "Text.h"

#include <array>
#include <utility>

namespace nimbel::localplatform::text {

namespace {

constexpr char32_t replacement = 0xFFFD;

// Decodes one sequence at `pos`; returns the code point and advances `pos`.
// Overlong forms, surrogates and values above U+10FFFF count as malformed.
std::pair<char32_t, bool> next(std::string_view s, std::size_t &pos)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return {lead, true};
    }
    int length = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        cp = lead & 0x1F;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        cp = lead & 0x0F;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        cp = lead & 0x07;
        minimum = 0x10000;
    } else {
        ++pos;
        return {replacement, false};
    }
    if (pos + length > s.size()) {
        ++pos;
        return {replacement, false};
    }
    for (int i = 1; i < length; ++i) {
        const unsigned char c = byte(pos + i);
        if ((c & 0xC0) != 0x80) {
            ++pos;
            return {replacement, false};
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++pos;
        return {replacement, false};
    }
    pos += length;
    return {cp, true};
}

bool isCyrillicLetter(char32_t c)
{
    return (c >= U'А' && c <= U'я') || c == U'Ё' || c == U'ё';
}

bool isLetterOrDigit(char32_t c)
{
    if ((c >= U'0' && c <= U'9') || (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z'))
        return true;
    if (c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7)
        return true; // Latin-1 supplement and Latin Extended letters
    return c >= 0x400 && c <= 0x4FF; // Cyrillic
}

bool isSpace(char32_t c)
{
    return c == U' ' || c == U'\t' || c == U'\n' || c == U'\r' || c == U'\v' || c == U'\f' || c == 0xA0
        || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x2009;
}

char32_t lowerCodePoint(char32_t c)
{
    if (c >= U'A' && c <= U'Z')
        return c + 32;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return c + 32;
    if (c >= U'А' && c <= U'Я')
        return c + 32;
    if (c >= 0x400 && c <= 0x40F)
        return c + 80; // Ѐ..Џ, Ё among them
    return c;
}

} // namespace

std::u32string decode(std::string_view utf8)
{
    std::u32string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size())
        out.push_back(next(utf8, pos).first);
    return out;
}

std::string encode(std::u32string_view codePoints)
{
    std::string out;
    out.reserve(codePoints.size());
    for (char32_t c : codePoints) {
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = replacement;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

bool isValidUtf8(std::string_view bytes)
{
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        if (!next(bytes, pos).second)
            return false;
    }
    return true;
}

bool hasCyrillic(std::string_view utf8)
{
    for (char32_t c : decode(utf8)) {
        if (isCyrillicLetter(c))
            return true;
    }
    return false;
}

std::string lower(std::string_view utf8)
{
    std::u32string cps = decode(utf8);
    for (char32_t &c : cps)
        c = lowerCodePoint(c);
    return encode(cps);
}

std::string trim(std::string_view utf8)
{
    const std::u32string cps = decode(utf8);
    std::size_t begin = 0;
    std::size_t end = cps.size();
    while (begin < end && isSpace(cps[begin]))
        ++begin;
    while (end > begin && isSpace(cps[end - 1]))
        --end;
    return encode(std::u32string_view(cps).substr(begin, end - begin));
}

std::vector<std::string> words(std::string_view utf8)
{
    std::vector<std::string> out;
    std::u32string current;
    const std::u32string cps = decode(utf8);
    for (std::size_t i = 0; i < cps.size(); ++i) {
        const char32_t c = cps[i];
        const bool apostrophe = (c == U'\'' || c == 0x2019) && !current.empty() && i + 1 < cps.size()
            && isLetterOrDigit(cps[i + 1]);
        if (isLetterOrDigit(c) || apostrophe) {
            current.push_back(lowerCodePoint(c == 0x2019 ? U'\'' : c));
        } else if (!current.empty()) {
            out.push_back(encode(current));
            current.clear();
        }
    }
    if (!current.empty())
        out.push_back(encode(current));
    return out;
}

std::vector<std::string> quotedPhrases(std::string_view utf8)
{
    static constexpr std::array<std::pair<char32_t, char32_t>, 5> pairs{{
        {U'«', U'»'},
        {U'“', U'”'},
        {U'„', U'“'},
        {U'‘', U'’'},
        {U'"', U'"'},
    }};
    std::vector<std::string> out;
    const std::u32string cps = decode(utf8);
    std::size_t i = 0;
    while (i < cps.size()) {
        bool matched = false;
        for (const auto &[open, close] : pairs) {
            if (cps[i] != open)
                continue;
            const std::size_t end = cps.find(close, i + 1);
            if (end == std::u32string::npos)
                continue;
            std::string phrase = trim(encode(std::u32string_view(cps).substr(i + 1, end - i - 1)));
            if (!phrase.empty())
                out.push_back(std::move(phrase));
            i = end + 1;
            matched = true;
            break;
        }
        if (!matched)
            ++i;
    }
    return out;
}

std::vector<std::string> sentences(std::string_view utf8)
{
    std::vector<std::string> out;
    const std::u32string cps = decode(utf8);
    std::size_t start = 0;
    const auto flush = [&](std::size_t end) {
        std::string piece = trim(encode(std::u32string_view(cps).substr(start, end - start)));
        if (!piece.empty())
            out.push_back(std::move(piece));
        start = end;
    };
    for (std::size_t i = 0; i < cps.size(); ++i) {
        const char32_t c = cps[i];
        if (c == U'\n') {
            flush(i + 1);
            continue;
        }
        const bool terminal = c == U'.' || c == U'!' || c == U'?' || c == U'…';
        if (!terminal)
            continue;
        // Keep runs like "?!" or "..." and closing quotes with the sentence they end.
        std::size_t j = i + 1;
        while (j < cps.size()
               && (cps[j] == U'.' || cps[j] == U'!' || cps[j] == U'?' || cps[j] == U'»' || cps[j] == U'”'
                   || cps[j] == U'"' || cps[j] == U')'))
            ++j;
        if (j == cps.size() || isSpace(cps[j])) {
            flush(j);
            i = j - 1;
        }
    }
    flush(cps.size());
    return out;
}

std::string percentEncode(std::string_view bytes)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
            || c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 0x0F]);
        }
    }
    return out;
}

std::string htmlEscape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out.push_back(c);
        }
    }
    return out;
}

std::size_t characterCount(std::string_view utf8)
{
    return decode(utf8).size();
}

std::string shortened(std::string_view utf8, std::size_t maxCharacters)
{
    const std::u32string cps = decode(utf8);
    if (cps.size() <= maxCharacters)
        return std::string(utf8);
    if (maxCharacters == 0)
        return {};
    return trim(encode(std::u32string_view(cps).substr(0, maxCharacters - 1))) + "…";
}

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

} // namespace nimbel::localplatform::text
