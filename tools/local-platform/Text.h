#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// UTF-8 helpers for the little natural-language work the server does: language detection,
// case-folding for matching, splitting replies into sentences. Only Latin and Cyrillic
// matter here, so full Unicode tables would be overkill.
namespace nimbel::localplatform::text {

// Code points of a UTF-8 string; malformed sequences become U+FFFD.
std::u32string decode(std::string_view utf8);
std::string encode(std::u32string_view codePoints);
bool isValidUtf8(std::string_view bytes);

// True when the text holds at least one letter of [А-Яа-яЁё].
bool hasCyrillic(std::string_view utf8);

// Lower-cases ASCII, Latin-1 and Cyrillic letters; everything else is kept.
std::string lower(std::string_view utf8);

// Trims white space and line breaks (ASCII, NBSP, U+2028/2029) at both ends.
std::string trim(std::string_view utf8);

// Lower-cased runs of letters and digits; an apostrophe inside a word stays part of it.
std::vector<std::string> words(std::string_view utf8);

// Phrases enclosed in «», “”, „“, ‘’ or a pair of ASCII double quotes, trimmed, in order.
std::vector<std::string> quotedPhrases(std::string_view utf8);

// Splits prose after ".", "!", "?" or "…" followed by white space; pieces are trimmed and
// empty ones dropped. Text without such a break is one sentence.
std::vector<std::string> sentences(std::string_view utf8);

// Percent-encodes everything except RFC 3986 unreserved characters.
std::string percentEncode(std::string_view bytes);

std::string htmlEscape(std::string_view text);

std::size_t characterCount(std::string_view utf8);

// At most maxCharacters code points; a cut text ends with "…".
std::string shortened(std::string_view utf8, std::size_t maxCharacters);

bool startsWith(std::string_view text, std::string_view prefix);

} // namespace nimbel::localplatform::text
