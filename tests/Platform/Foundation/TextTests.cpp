// Text and byte helpers: UUIDs, ISO-8601 dates, base64, SHA-256, random
// bytes, ICU case mapping, comparison, normalisation, UTF-16 counting and
// cutting, grapheme counting and "C"-locale formatting.

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <locale.h>
#include <set>
#include <string>

#include "Platform/Foundation/Text.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace Foundation {
namespace {

std::string str(const Data& d) { return std::string(d.begin(), d.end()); }

// --- UUIDs -------------------------------------------------------------------

TEST(UUID, UpperCaseVersion4AndUnique) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const std::string uuid = makeUUIDString();
        ASSERT_EQ(uuid.size(), 36u);
        EXPECT_TRUE(isUUIDString(uuid)) << uuid;
        EXPECT_EQ(uuid, uppercase(uuid));
        EXPECT_EQ(uuid[14], '4') << uuid;
        EXPECT_NE(std::string("89AB").find(uuid[19]), std::string::npos) << uuid;
        seen.insert(uuid);
    }
    EXPECT_EQ(seen.size(), 200u);
}

struct UUIDCase {
    const char* text;
    bool valid;
};

class UUIDShape : public ::testing::TestWithParam<UUIDCase> {};

TEST_P(UUIDShape, Recognised) { EXPECT_EQ(isUUIDString(GetParam().text), GetParam().valid) << GetParam().text; }

INSTANTIATE_TEST_SUITE_P(Table, UUIDShape,
                         ::testing::Values(UUIDCase{"E621E1F8-C36C-495A-93FC-0C247A3E6E5F", true},
                                           UUIDCase{"e621e1f8-c36c-495a-93fc-0c247a3e6e5f", true},
                                           UUIDCase{"E621E1F8C36C495A93FC0C247A3E6E5F", false},
                                           UUIDCase{"E621E1F8-C36C-495A-93FC-0C247A3E6E5", false},
                                           UUIDCase{"E621E1F8-C36C-495A-93FC-0C247A3E6E5G", false},
                                           UUIDCase{"E621E1F8_C36C-495A-93FC-0C247A3E6E5F", false},
                                           UUIDCase{"", false}));

// --- ISO-8601 ----------------------------------------------------------------------

struct DateCase {
    double seconds;
    const char* text;
};

class ISODates : public ::testing::TestWithParam<DateCase> {};

TEST_P(ISODates, FormatsAndParsesBack) {
    const auto& c = GetParam();
    EXPECT_EQ(iso8601String(Date{c.seconds}), c.text);
    auto parsed = dateFromISO8601(c.text);
    ASSERT_TRUE(parsed.has_value()) << c.text;
    EXPECT_NEAR(parsed->secondsSince1970, std::round(c.seconds * 1000) / 1000, 1e-6);
    EXPECT_EQ(iso8601String(*parsed), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ISODates,
    ::testing::Values(DateCase{0, "1970-01-01T00:00:00.000Z"}, DateCase{1700000000.123, "2023-11-14T22:13:20.123Z"},
                      DateCase{1796904000.5, "2026-12-10T12:00:00.500Z"},
                      DateCase{951782400, "2000-02-29T00:00:00.000Z"}, DateCase{-0.5, "1969-12-31T23:59:59.500Z"},
                      DateCase{1.9996, "1970-01-01T00:00:02.000Z"}, DateCase{1.0004, "1970-01-01T00:00:01.000Z"},
                      DateCase{4102444799.999, "2099-12-31T23:59:59.999Z"}));

struct ParseCase {
    const char* text;
    std::optional<double> seconds;
};

class ISOParsing : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ISOParsing, AcceptsValidRejectsInvalid) {
    const auto& c = GetParam();
    auto parsed = dateFromISO8601(c.text);
    ASSERT_EQ(parsed.has_value(), c.seconds.has_value()) << c.text;
    if (parsed) {
        EXPECT_NEAR(parsed->secondsSince1970, *c.seconds, 1e-6) << c.text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ISOParsing,
    ::testing::Values(ParseCase{"2026-12-10T12:00:00.123Z", 1796904000.123},
                      ParseCase{"2026-12-10T12:00:00Z", 1796904000.0},
                      ParseCase{"2026-12-10T13:00:00+01:00", 1796904000.0},
                      ParseCase{"2026-12-10T06:30:00-0530", 1796904000.0},
                      ParseCase{"2026-12-10T12:00:00.1234567Z", 1796904000.1234567},
                      ParseCase{"2026-12-10T12:00:00", std::nullopt}, ParseCase{"2026-12-10 12:00:00Z", std::nullopt},
                      ParseCase{"2026-02-29T12:00:00Z", std::nullopt}, ParseCase{"2026-13-01T12:00:00Z", std::nullopt},
                      ParseCase{"2026-12-10T24:00:00Z", std::nullopt}, ParseCase{"2026-12-10T12:00:00.Z", std::nullopt},
                      ParseCase{"2026-12-10T12:00:00Zjunk", std::nullopt}, ParseCase{"", std::nullopt}));

// --- base64 -------------------------------------------------------------------------

struct EncodeCase {
    const char* bytes;
    const char* base64;
};

class Base64Encoding : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(Base64Encoding, RFC4648Vectors) {
    const auto& c = GetParam();
    EXPECT_EQ(base64Encode(std::string_view(c.bytes)), c.base64);
    EXPECT_EQ(base64Encode(Data(c.bytes, c.bytes + std::strlen(c.bytes))), c.base64);
    auto back = base64DecodeStrict(c.base64);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(str(*back), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(Table, Base64Encoding,
                         ::testing::Values(EncodeCase{"", ""}, EncodeCase{"f", "Zg=="}, EncodeCase{"fo", "Zm8="},
                                           EncodeCase{"foo", "Zm9v"}, EncodeCase{"foob", "Zm9vYg=="},
                                           EncodeCase{"fooba", "Zm9vYmE="}, EncodeCase{"foobar", "Zm9vYmFy"}));

struct DecodeCase {
    const char* text;
    std::optional<std::string> strict;
    std::optional<std::string> lenient;
};

class Base64Decoding : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Base64Decoding, StrictAndLenient) {
    const auto& c = GetParam();
    auto strict = base64DecodeStrict(c.text);
    auto lenient = base64DecodeLenient(c.text);
    ASSERT_EQ(strict.has_value(), c.strict.has_value()) << "strict: " << c.text;
    ASSERT_EQ(lenient.has_value(), c.lenient.has_value()) << "lenient: " << c.text;
    if (strict) {
        EXPECT_EQ(str(*strict), *c.strict);
    }
    if (lenient) {
        EXPECT_EQ(str(*lenient), *c.lenient);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Base64Decoding,
                         ::testing::Values(DecodeCase{"aGVsbG8=", "hello", "hello"},
                                           DecodeCase{"aGVsbG8", std::nullopt, "hello"},      // padding missing
                                           DecodeCase{"aGVs\nbG8=", std::nullopt, "hello"},   // line break
                                           DecodeCase{" aGVs bG8= ", std::nullopt, "hello"},  // spaces
                                           DecodeCase{"aGVsbG8=!", std::nullopt, "hello"},    // unknown character
                                           DecodeCase{"aGV=sbG8", std::nullopt, "hello"},     // padding inside
                                           DecodeCase{"YQ==", "a", "a"}, DecodeCase{"YWI=", "ab", "ab"},
                                           DecodeCase{"Y===", std::nullopt, std::nullopt},  // one sextet is no byte
                                           DecodeCase{"====", std::nullopt, ""},
                                           DecodeCase{"a", std::nullopt, std::nullopt}, DecodeCase{"", "", ""},
                                           DecodeCase{"+/+/", "\xfb\xff\xbf", "\xfb\xff\xbf"},
                                           DecodeCase{"-_-_", std::nullopt, ""}));  // URL alphabet is unknown here

// --- hashing and random bytes ---------------------------------------------------------

struct HashCase {
    const char* input;
    const char* hex;
};

class SHA256 : public ::testing::TestWithParam<HashCase> {};

TEST_P(SHA256, KnownDigests) {
    EXPECT_EQ(hexString(sha256(std::string_view(GetParam().input))), GetParam().hex);
    const std::string in = GetParam().input;
    EXPECT_EQ(hexString(sha256(Data(in.begin(), in.end()))), GetParam().hex);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SHA256,
    ::testing::Values(HashCase{"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
                      HashCase{"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
                      HashCase{"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                               "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"}));

TEST(RandomBytes, SizeAndVariety) {
    EXPECT_TRUE(randomBytes(0).empty());
    const Data a = randomBytes(32), b = randomBytes(32);
    EXPECT_EQ(a.size(), 32u);
    EXPECT_NE(a, b);
    EXPECT_EQ(hexString(Data{0x00, 0x0f, 0xab, 0xff}), "000fabff");
}

// --- ICU case mapping ---------------------------------------------------------------------

struct CaseMapCase {
    const char* input;
    const char* upper;
    const char* lower;
    const char* capitalized;
};

class CaseMapping : public ::testing::TestWithParam<CaseMapCase> {};

TEST_P(CaseMapping, UpperLowerCapitalized) {
    const auto& c = GetParam();
    EXPECT_EQ(uppercase(c.input), c.upper) << c.input;
    EXPECT_EQ(lowercase(c.input), c.lower) << c.input;
    EXPECT_EQ(capitalized(c.input), c.capitalized) << c.input;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CaseMapping,
    ::testing::Values(CaseMapCase{"hello wORLD-x", "HELLO WORLD-X", "hello world-x", "Hello World-x"},
                      CaseMapCase{"", "", "", ""},
                      CaseMapCase{"  two  words\tTAB\nline", "  TWO  WORDS\tTAB\nLINE", "  two  words\ttab\nline",
                                  "  Two  Words\tTab\nLine"},
                      CaseMapCase{"it's o'NEIL", "IT'S O'NEIL", "it's o'neil", "It's O'neil"},
                      CaseMapCase{"123abc (paren", "123ABC (PAREN", "123abc (paren", "123abc (paren"},
                      CaseMapCase{"élan ÀÉÎ", "ÉLAN ÀÉÎ", "élan àéî", "Élan Àéî"},
                      CaseMapCase{"straße", "STRASSE", "straße", "Straße"},
                      CaseMapCase{"ǆemal", "ǄEMAL", "ǆemal", "ǅemal"},
                      CaseMapCase{"#ff00aa", "#FF00AA", "#ff00aa", "#ff00aa"}));

struct CompareCase {
    const char* a;
    const char* b;
    int expected;  // -1, 0, 1
};

class CaseInsensitive : public ::testing::TestWithParam<CompareCase> {};

TEST_P(CaseInsensitive, ComparesByCaseFolding) {
    const auto& c = GetParam();
    EXPECT_EQ(caseInsensitiveCompare(c.a, c.b), c.expected) << c.a << " vs " << c.b;
    EXPECT_EQ(caseInsensitiveCompare(c.b, c.a), -c.expected) << c.b << " vs " << c.a;
    EXPECT_EQ(caseInsensitiveEquals(c.a, c.b), c.expected == 0);
}

INSTANTIATE_TEST_SUITE_P(Table, CaseInsensitive,
                         ::testing::Values(CompareCase{"Hello", "hELLO", 0}, CompareCase{"#FF00AA", "#ff00aa", 0},
                                           CompareCase{"ÉMILE", "émile", 0}, CompareCase{"straße", "STRASSE", 0},
                                           CompareCase{"ΣΊΣΥΦΟΣ", "σίσυφος", 0},
                                           CompareCase{"\xc3\xa9", "E\xcc\x81", 0},  // é composed vs decomposed
                                           CompareCase{"a", "B", -1}, CompareCase{"b", "A", 1},
                                           CompareCase{"Zoë", "zoe", 1}, CompareCase{"abc", "ABCD", -1},
                                           CompareCase{"", "", 0}));

struct NFCCase {
    const char* input;
    const char* nfc;
};

class NFC : public ::testing::TestWithParam<NFCCase> {};

TEST_P(NFC, Composes) { EXPECT_EQ(normalizedNFC(GetParam().input), GetParam().nfc); }

INSTANTIATE_TEST_SUITE_P(Table, NFC,
                         ::testing::Values(NFCCase{"e\xcc\x81", "\xc3\xa9"},     // e + acute → é
                                           NFCCase{"A\xcc\x8a", "\xc3\x85"},     // A + ring → Å
                                           NFCCase{"\xe2\x84\xab", "\xc3\x85"},  // Ångström sign → Å
                                           NFCCase{"plain", "plain"}, NFCCase{"", ""},
                                           NFCCase{"\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9"}));

// --- UTF-16 counting and cutting, characters ------------------------------------------------

struct LengthCase {
    const char* text;
    std::size_t utf16;
    std::size_t characters;
};

class Lengths : public ::testing::TestWithParam<LengthCase> {};

TEST_P(Lengths, UTF16UnitsAndCharacters) {
    EXPECT_EQ(utf16Length(GetParam().text), GetParam().utf16) << GetParam().text;
    EXPECT_EQ(characterCount(GetParam().text), GetParam().characters) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Lengths,
    ::testing::Values(LengthCase{"", 0, 0}, LengthCase{"abc", 3, 3}, LengthCase{"\xc3\xa9", 1, 1},
                      LengthCase{"e\xcc\x81", 2, 1},                         // decomposed é
                      LengthCase{"\xf0\x9f\x98\x80", 2, 1},                  // 😀
                      LengthCase{"\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd", 4, 1},  // 👍🏽
                      LengthCase{"\xf0\x9f\x87\xa9\xf0\x9f\x87\xaa\xf0\x9f\x87\xab\xf0\x9f\x87\xb7", 8, 2},  // 🇩🇪🇫🇷
                      LengthCase{"\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x91\xa7", 8,
                                 1},  // 👨‍👩‍👧
                      LengthCase{"\r\n", 2, 1}, LengthCase{"\xe4\xb8\xad\xe6\x96\x87", 2, 2}));

struct PrefixCase {
    const char* text;
    std::size_t maxUnits;
    const char* prefix;
};

class UTF16Prefix : public ::testing::TestWithParam<PrefixCase> {};

TEST_P(UTF16Prefix, NeverSplitsACharacter) {
    const auto& c = GetParam();
    const std::string cut = utf16Prefix(c.text, c.maxUnits);
    EXPECT_EQ(cut, c.prefix) << c.text << " cut at " << c.maxUnits;
    EXPECT_LE(utf16Length(cut), c.maxUnits);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UTF16Prefix,
    ::testing::Values(PrefixCase{"abc", 10, "abc"}, PrefixCase{"abc", 3, "abc"}, PrefixCase{"abc", 2, "ab"},
                      PrefixCase{"abc", 0, ""}, PrefixCase{"a\xf0\x9f\x98\x80z", 1, "a"},  // a😀z
                      PrefixCase{"a\xf0\x9f\x98\x80z", 2, "a"},                            // the pair is not split
                      PrefixCase{"a\xf0\x9f\x98\x80z", 3, "a\xf0\x9f\x98\x80"}, PrefixCase{"\xf0\x9f\x98\x80", 1, ""},
                      PrefixCase{"e\xcc\x81x", 1, ""},  // é decomposed stays whole
                      PrefixCase{"e\xcc\x81x", 2, "e\xcc\x81"},
                      PrefixCase{"\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbdx", 3, ""},  // 👍🏽 stays whole
                      PrefixCase{"\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbdx", 4, "\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd"},
                      PrefixCase{"\xc3\xa9\xc3\xa9\xc3\xa9", 2, "\xc3\xa9\xc3\xa9"}));

// --- "C" locale formatting --------------------------------------------------------------------

// glibc keeps a small allocation for every locale loaded through LOCPATH;
// that is glibc's, not ours, so the leak checker looks away meanwhile.
struct GlibcLocaleLeakPause {
#if defined(__SANITIZE_ADDRESS__)
    GlibcLocaleLeakPause() { __lsan_disable(); }
    ~GlibcLocaleLeakPause() { __lsan_enable(); }
#endif
};

// A locale whose decimal separator is a comma: an installed one, or one built
// with localedef into the test's home.
std::optional<std::string> commaLocaleName() {
    auto usable = [](const char* name) {
        locale_t l = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(nullptr));
        if (!l) return false;
        locale_t old = uselocale(l);
        char buf[16];
        std::snprintf(buf, sizeof buf, "%.1f", 1.5);
        uselocale(old);
        freelocale(l);
        return std::string(buf) == "1,5";
    };
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
        if (usable(name)) return name;
    }
    const char* home = std::getenv("VEXIL_HOME");
    const std::filesystem::path dir =
        std::filesystem::path(home ? home : std::filesystem::temp_directory_path().string()) / "locales";
    std::filesystem::create_directories(dir);
    const std::string command = "localedef -i de_DE -f UTF-8 '" + (dir / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
    if (!std::filesystem::exists(dir / "de_DE.UTF-8" / "LC_NUMERIC") && std::system(command.c_str()) == -1) {
        return std::nullopt;
    }
    setenv("LOCPATH", dir.c_str(), 1);
    if (usable("de_DE.UTF-8")) return "de_DE.UTF-8";
    unsetenv("LOCPATH");
    return std::nullopt;
}

TEST(Format, PrintsLikePrintf) {
    EXPECT_EQ(format("%d items, %.2f%%, %s", 3, 12.345, "ok"), "3 items, 12.35%, ok");
    EXPECT_EQ(format("%06.1f|%x|%5s|", 3.14159, 255u, "ab"), "0003.1|ff|   ab|");
    const std::string longText(1000, 'x');
    EXPECT_EQ(format("<%s>", longText.c_str()), "<" + longText + ">");
    EXPECT_EQ(format("%s", ""), "");
}

TEST(Format, CLocaleWhateverTheProcessLocale) {
    [[maybe_unused]] GlibcLocaleLeakPause pause;
    const auto name = commaLocaleName();
    if (!name) GTEST_SKIP() << "no comma-decimal locale available (localedef or its sources missing)";

    // Process-wide locale.
    ASSERT_NE(std::setlocale(LC_ALL, name->c_str()), nullptr);
    char direct[16];
    std::snprintf(direct, sizeof direct, "%.1f", 1.5);
    EXPECT_STREQ(direct, "1,5");  // the locale is in force for plain printf
    EXPECT_EQ(format("%.1f", 1.5), "1.5");
    EXPECT_EQ(format("%g|%.3e", 0.25, 12345.678), "0.25|1.235e+04");
    std::snprintf(direct, sizeof direct, "%.1f", 1.5);
    EXPECT_STREQ(direct, "1,5");  // and is still in force afterwards

    // Thread locale.
    std::setlocale(LC_ALL, "C");
    locale_t comma = newlocale(LC_ALL_MASK, name->c_str(), static_cast<locale_t>(nullptr));
    ASSERT_NE(comma, static_cast<locale_t>(nullptr));
    locale_t old = uselocale(comma);
    EXPECT_EQ(format("%.1f", 1.5), "1.5");
    std::snprintf(direct, sizeof direct, "%.1f", 1.5);
    EXPECT_STREQ(direct, "1,5");
    uselocale(old);
    freelocale(comma);
    unsetenv("LOCPATH");
}

}  // namespace
}  // namespace Foundation
