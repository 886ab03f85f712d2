#pragma once
// Text and byte helpers shared by every subsystem: identifiers, dates,
// base64, hashing, random bytes, ICU case mapping and UTF-16 counting, and
// "C"-locale number formatting.

#include <cstdarg>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/Foundation/Value.h"

namespace Foundation {

// "E621E1F8-C36C-495A-93FC-0C247A3E6E5F": upper-case, hyphenated, 36 characters.
std::string makeUUIDString();
bool isUUIDString(std::string_view text);

// "2026-12-10T12:00:00.123Z" (UTC, milliseconds) and back.
std::string iso8601String(Date date);
std::optional<Date> dateFromISO8601(std::string_view text);

std::string base64Encode(const Data& data);
std::string base64Encode(std::string_view bytes);
// Strict: only the alphabet and correct padding. Lenient: ignores whitespace
// and unknown characters, padding optional.
std::optional<Data> base64DecodeStrict(std::string_view text);
std::optional<Data> base64DecodeLenient(std::string_view text);

Data sha256(const Data& bytes);
Data sha256(std::string_view bytes);
std::string hexString(const Data& bytes);  // lower-case
Data randomBytes(std::size_t count);

// Case mapping through ICU, root locale.
std::string uppercase(std::string_view text);
std::string lowercase(std::string_view text);
// Capitalises the first letter of each word, lowercasing the rest; words are
// separated by white space only.
std::string capitalized(std::string_view text);
// <0, 0, >0 ignoring case (ICU case folding).
int caseInsensitiveCompare(std::string_view a, std::string_view b);
bool caseInsensitiveEquals(std::string_view a, std::string_view b);
std::string normalizedNFC(std::string_view text);

// Length in UTF-16 code units, as the platform's strings count.
std::size_t utf16Length(std::string_view text);
// The longest prefix of at most `maxUnits` UTF-16 units that does not split a character.
std::string utf16Prefix(std::string_view text, std::size_t maxUnits);
// Number of user-perceived characters (grapheme clusters).
std::size_t characterCount(std::string_view text);

// printf-style formatting in the "C" locale whatever the process locale.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string vformat(const char* fmt, va_list args);

}  // namespace Foundation
