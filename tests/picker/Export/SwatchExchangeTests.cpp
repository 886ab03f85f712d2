// Swatch exchange files: the writer's exact bytes, its refusals and
// failures, a read-back by an independent reader, and the reader's handling
// of every colour model and of damaged files.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <csignal>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Platform/Foundation/Diagnostics.h"
#include "Platform/Foundation/Directories.h"
#include "Platform/Foundation/Text.h"
#include "picker/Export/RPCAdobeSwatchExchange.h"

namespace {

namespace fs = std::filesystem;
using AppKit::NSColor;
using AppKit::NSColorList;
using Foundation::Data;

std::string hex(const Data& d) {
    std::string s;
    for (auto b : d) s += Foundation::format("%02X", b);
    return s;
}

Data unhex(std::string_view text) {
    Data out;
    std::string digits;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

Data readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Reads a swatch file the way the format's published description reads:
// header, then blocks of type and length; colour entries carry a name,
// a model and its values. Written apart from the reader under test.
struct IndependentReader {
    struct Entry {
        std::u16string name;
        std::string model;
        std::vector<float> values;
        int type = -1;
    };
    std::string signature;
    int major = -1, minor = -1;
    std::uint32_t blocks = 0;
    std::vector<std::u16string> groups;
    std::vector<Entry> entries;
    int groupEnds = 0;
    bool ok = false;

    explicit IndependentReader(const Data& d) {
        std::size_t p = 0;
        auto need = [&](std::size_t n) { return p + n <= d.size(); };
        auto u16 = [&] {
            std::uint16_t v = static_cast<std::uint16_t>(d[p] << 8 | d[p + 1]);
            p += 2;
            return v;
        };
        auto u32 = [&] {
            std::uint32_t v =
                std::uint32_t(d[p]) << 24 | std::uint32_t(d[p + 1]) << 16 | std::uint32_t(d[p + 2]) << 8 | d[p + 3];
            p += 4;
            return v;
        };
        if (!need(12)) return;
        signature.assign(d.begin(), d.begin() + 4);
        p = 4;
        major = u16();
        minor = u16();
        blocks = u32();
        for (std::uint32_t b = 0; b < blocks; ++b) {
            if (!need(6)) return;
            const std::uint16_t type = u16();
            const std::uint32_t length = u32();
            if (!need(length)) return;
            const std::size_t end = p + length;
            auto name = [&] {
                std::u16string s;
                const std::uint16_t n = u16();
                for (std::uint16_t i = 0; i < n; ++i) s.push_back(static_cast<char16_t>(u16()));
                if (s.empty() || s.back() != 0) throw std::runtime_error("name without terminator");
                s.pop_back();
                return s;
            };
            if (type == 0xC001) {
                groups.push_back(name());
            } else if (type == 0xC002) {
                ++groupEnds;
            } else if (type == 0x0001) {
                Entry e;
                e.name = name();
                e.model.assign(d.begin() + static_cast<long>(p), d.begin() + static_cast<long>(p + 4));
                p += 4;
                const int n = e.model == "CMYK" ? 4 : e.model == "Gray" ? 1 : 3;
                for (int i = 0; i < n; ++i) e.values.push_back(std::bit_cast<float>(u32()));
                e.type = u16();
                entries.push_back(e);
            }
            if (p != end) return;  // every block's fields fill its length exactly
        }
        ok = p == d.size();
    }
};

class SwatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::path(Foundation::temporaryDirectory()) / "ase";
        fs::create_directories(dir);
    }
    void TearDown() override {
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir);
    }
    fs::path dir;
};

TEST_F(SwatchTest, UnnamedListBytes) {
    NSColorList list;
    list.setColor(NSColor::colorWithRed(1, 0.5, 0, 1), "A");
    const Data bytes = RPCAdobeSwatchExchange::encode(list);
    // "Imported Mac Colorlist" is 22 units: block length 48, name length 23.
    std::string group = "C001 00000030 0017";
    for (char c : std::string("Imported Mac Colorlist")) group += Foundation::format("00%02X", c);
    group += "0000";
    const Data expected = unhex("41534546 0001 0000 00000003" + group +
                                "0001 00000018 0002 0041 0000 52474220 3F800000 3F000000 00000000 0002"
                                "C002 00000000");
    EXPECT_EQ(hex(bytes), hex(expected));
}

TEST_F(SwatchTest, EmptyListHasCountTwo) {
    NSColorList list("Mine");
    EXPECT_EQ(hex(RPCAdobeSwatchExchange::encode(list)),
              hex(unhex("41534546 0001 0000 00000002 C001 0000000C 0005 004D 0069 006E 0065 0000 C002 00000000")));
}

TEST_F(SwatchTest, SizesFollowTheNamesInUTF16Units) {
    NSColorList list("G");
    list.setColor(NSColor::colorWithRed(0, 0, 1, 1), "Blue");
    list.setColor(NSColor::colorWithCalibratedWhite(0.25, 1), "\xF0\x9F\x8E\xA8 x");  // 2 + 2 units
    list.setColor(NSColor::colorWithDeviceCyan(0, 0, 0, 1, 1), "K");
    const Data bytes = RPCAdobeSwatchExchange::encode(list);
    EXPECT_EQ(bytes.size(), 12u + (10 + 2 * 1) + (28 + 2 * 4) + (28 + 2 * 4) + (28 + 2 * 1) + 6);
    IndependentReader r(bytes);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.blocks, 5u);
    ASSERT_EQ(r.entries.size(), 3u);
    EXPECT_EQ(r.entries[1].name, u"\U0001F3A8 x");
    EXPECT_EQ(r.entries[1].values, (std::vector<float>{0.25f, 0.25f, 0.25f}));  // grey as sRGB
    EXPECT_EQ(r.entries[2].values, (std::vector<float>{0, 0, 0}));              // full black ink
}

TEST_F(SwatchTest, LongNamesKeepLengthsAndBytesTogether) {
    NSColorList list(std::string(600, 'g'));
    std::string name(511, 'n');
    name += "\xF0\x9F\x8E\xA8";  // a pair across the cut at 512 units stays whole: 511 units written
    list.setColor(NSColor::colorWithRed(0, 0, 0, 1), name);
    list.setColor(NSColor::colorWithRed(0, 0, 0, 1), std::string(2000, 'x'));
    IndependentReader r(RPCAdobeSwatchExchange::encode(list));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.groups[0].size(), 512u);
    EXPECT_EQ(r.entries[0].name.size(), 511u);
    EXPECT_EQ(r.entries[1].name.size(), 512u);
}

TEST_F(SwatchTest, WrittenFileReadsBackIndependentlyAndOurselves) {
    auto list = std::make_shared<NSColorList>("Spring");
    list->setColor(NSColor::colorWithRed(1, 0.5, 0, 1), "Orange");
    list->setColor(NSColor::colorWithRed(0.2, 0.4, 0.6, 1), "Crème");
    list->setColor(NSColor::colorWithRed(0, 0, 0, 1), "");
    const auto path = (dir / "out.ase").string();
    ASSERT_EQ(RPCAdobeSwatchExchange::writeColorList(list, path), SwatchWriteResult::written);

    IndependentReader r(readFile(path));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.signature, "ASEF");
    EXPECT_EQ(r.major, 1);
    EXPECT_EQ(r.minor, 0);
    EXPECT_EQ(r.groups, (std::vector<std::u16string>{u"Spring"}));
    EXPECT_EQ(r.groupEnds, 1);
    ASSERT_EQ(r.entries.size(), 3u);
    EXPECT_EQ(r.entries[1].name, u"Crème");
    EXPECT_EQ(r.entries[1].model, "RGB ");
    EXPECT_EQ(r.entries[1].values, (std::vector<float>{0.2f, 0.4f, 0.6f}));
    EXPECT_EQ(r.entries[1].type, 2);

    RPCAdobeSwatchExchange reader;
    ASSERT_TRUE(reader.readFromFile(path, "Back"));
    EXPECT_EQ(reader.colorNames, (std::vector<std::string>{"Orange", "Crème", "#000000"}));
    EXPECT_EQ(reader.colors->name(), "Back");
    EXPECT_EQ(reader.colors->allKeys(), reader.colorNames);
    double red = 0, green = 0, blue = 0;
    reader.colorList[0]->getRed(&red, &green, &blue, nullptr);
    EXPECT_EQ(red, 1.0);
    EXPECT_EQ(green, 0.5);
    EXPECT_EQ(blue, 0.0);
}

TEST_F(SwatchTest, ExistingFileIsRefusedAndLeftAsItWas) {
    const auto path = dir / "taken.ase";
    std::ofstream(path, std::ios::binary) << "precious\0bytes";
    const Data before = readFile(path);
    auto list = std::make_shared<NSColorList>();
    list->setColor(NSColor::colorWithRed(1, 1, 1, 1), "White");
    Foundation::DiagnosticsCapture capture;
    Foundation::Error error;
    EXPECT_EQ(RPCAdobeSwatchExchange::writeColorList(list, path.string(), &error), SwatchWriteResult::fileExists);
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(capture.systemLogLines(), (std::vector<std::string>{"Error: Output file alredy exists at " +
                                                                  path.string() + ". Refusing to overwrite"}));
    EXPECT_EQ(error.code, 516);

    // A dangling symbolic link counts as a file too: nothing is created through it.
    fs::create_symlink(dir / "elsewhere.ase", dir / "link.ase");
    EXPECT_EQ(RPCAdobeSwatchExchange::writeColorList(list, (dir / "link.ase").string()), SwatchWriteResult::fileExists);
    EXPECT_FALSE(fs::exists(dir / "elsewhere.ase"));

    EXPECT_EQ(RPCAdobeSwatchExchange::writeColorList(nullptr, (dir / "none.ase").string()),
              SwatchWriteResult::noColorList);
    EXPECT_FALSE(fs::exists(dir / "none.ase"));
}

TEST_F(SwatchTest, CreateAndWriteFailures) {
    auto list = std::make_shared<NSColorList>();
    list->setColor(NSColor::colorWithRed(1, 1, 1, 1), "White");
    Foundation::DiagnosticsCapture capture;
    const auto missing = (dir / "no-such-dir" / "x.ase").string();
    EXPECT_EQ(RPCAdobeSwatchExchange::writeColorList(list, missing), SwatchWriteResult::cannotCreate);
    EXPECT_EQ(capture.systemLogLines().at(0), "Unable to create output file at " + missing);

    // A write that fails half way (the file-size limit stands in for a full
    // disk): failure, and the partial file is gone.
    const auto path = dir / "partial.ase";
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 20;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    Foundation::Error error;
    const auto result = RPCAdobeSwatchExchange::writeColorList(list, path.string(), &error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(result, SwatchWriteResult::writeFailed);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(capture.systemLogLines().back(), "Unable to write output file at " + path.string());
}

Data entry(std::u16string name, const std::string& model, std::vector<float> values, bool terminator = true) {
    Data body;
    const std::size_t units = name.size() + (terminator ? 1 : 0);
    body.push_back(static_cast<std::uint8_t>(units >> 8));
    body.push_back(static_cast<std::uint8_t>(units));
    for (char16_t u : name) {
        body.push_back(static_cast<std::uint8_t>(u >> 8));
        body.push_back(static_cast<std::uint8_t>(u));
    }
    if (terminator) body.insert(body.end(), {0, 0});
    body.insert(body.end(), model.begin(), model.end());
    for (float v : values) {
        const auto bits = std::bit_cast<std::uint32_t>(v);
        for (int s = 24; s >= 0; s -= 8) body.push_back(static_cast<std::uint8_t>(bits >> s));
    }
    body.insert(body.end(), {0, 2});
    Data block{0x00, 0x01};
    for (int s = 24; s >= 0; s -= 8) block.push_back(static_cast<std::uint8_t>(body.size() >> s));
    block.insert(block.end(), body.begin(), body.end());
    return block;
}

Data file(const std::vector<Data>& blocks, std::uint32_t count) {
    Data d{'A', 'S', 'E', 'F', 0, 1, 0, 0};
    for (int s = 24; s >= 0; s -= 8) d.push_back(static_cast<std::uint8_t>(count >> s));
    for (const auto& b : blocks) d.insert(d.end(), b.begin(), b.end());
    return d;
}

TEST(SwatchReaderTest, EveryColourModel) {
    const Data groupStart = unhex("C001 0000000A 0004 0047 0072 0070 0000");  // "Grp"
    const Data groupEnd = unhex("C002 00000000");
    const Data unknownModel = entry(u"Odd", "HSV ", {0.1f, 0.2f, 0.3f});
    const Data d = file(
        {groupStart, entry(u"Red", "RGB ", {1, 0, 0}), entry(u"Ink", "CMYK", {0, 1, 1, 0}), unknownModel,
         entry(u"Lab", "LAB ", {50, 20, -30}), entry(u"Mid", "Gray", {0.5f}), entry(u"", "RGB ", {1, 128 / 255.0f, 0}),
         entry(u"Red", "RGB ", {0.9f, 0, 0}), entry(u"Red", "RGB ", {0.8f, 0, 0}), groupEnd},
        10);
    RPCAdobeSwatchExchange reader;
    Foundation::DiagnosticsCapture capture;
    Foundation::Error error;
    ASSERT_TRUE(reader.readFromData(d, "L", &error)) << error.description;
    EXPECT_EQ(capture.systemLogLines().at(0), "Version 1.0, blocks 10");
    EXPECT_EQ(reader.colorNames, (std::vector<std::string>{"Red", "Ink", "Lab", "Mid", "#FF8000", "Red 1", "Red 2"}));
    ASSERT_EQ(reader.colorList.size(), 7u);
    EXPECT_EQ(reader.colorList[1]->space(), NSColor::Space::deviceCMYK);
    double r, g, b;
    reader.colorList[1]->getRed(&r, &g, &b, nullptr);
    EXPECT_EQ((std::vector<double>{r, g, b}), (std::vector<double>{1, 0, 0}));
    reader.colorList[2]->getRed(&r, &g, &b, nullptr);
    EXPECT_EQ((std::vector<double>{r, g, b}), (std::vector<double>{0, 0, 0}));  // LAB: black
    EXPECT_EQ(reader.colorList[3]->cgNumberOfComponents(), 2u);
    EXPECT_EQ(reader.colorList[3]->cgComponents()[0], 0.5);
    EXPECT_EQ(reader.colors->allKeys(), reader.colorNames);
}

TEST(SwatchReaderTest, DamagedAndForeignFilesGiveErrors) {
    const Data good = file({entry(u"A", "RGB ", {1, 1, 1})}, 1);
    struct Case {
        const char* what;
        Data bytes;
    };
    std::vector<Case> cases = {
        {"empty", {}},
        {"foreign", Data{'P', 'K', 3, 4, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"header cut", Data(good.begin(), good.begin() + 9)},
        {"count beyond the blocks", file({entry(u"A", "RGB ", {1, 1, 1})}, 0xFFFFFFFF)},
        {"block length past the end", Data(good.begin(), good.end() - 1)},
        {"name past the block", unhex("41534546 0001 0000 00000001 0001 00000004 FFFF 0041")},
        {"components past the block", unhex("41534546 0001 0000 00000001 0001 0000000C 0001 0000 52474220 3F800000")},
        {"no colour type",
         unhex("41534546 0001 0000 00000001 0001 00000012 0001 0000 52474220 3F800000 3F800000 3F800000")},
        {"unpaired length", unhex("41534546 0001 0000 00000001 0001")},
    };
    for (const auto& c : cases) {
        RPCAdobeSwatchExchange reader;
        Foundation::DiagnosticsCapture capture;
        Foundation::Error error;
        EXPECT_FALSE(reader.readFromData(c.bytes, "L", &error)) << c.what;
        EXPECT_EQ(error.domain, Foundation::kCocoaErrorDomain) << c.what;
        EXPECT_EQ(error.code, 259) << c.what;
    }
    RPCAdobeSwatchExchange reader;
    Foundation::Error error;
    EXPECT_FALSE(reader.readFromFile("/no/such/file.ase", "L", &error));
    EXPECT_EQ(error.code, 260);
    EXPECT_FALSE(reader.readFromFile(fs::temp_directory_path().string(), "L", &error));  // a directory
    EXPECT_EQ(error.code, 256);
    EXPECT_TRUE(reader.readFromData(good, "L"));
}

TEST(SwatchReaderTest, NamesWithoutTerminatorBadSurrogatesAndOddValues) {
    const Data d = file({entry(u"Plain", "RGB ", {0, 0, 1}, false), entry(u"\xD800x", "RGB ", {0, 1, 0}),
                         entry(u"Wild", "RGB ", {NAN, INFINITY, -3})},
                        3);
    RPCAdobeSwatchExchange reader;
    ASSERT_TRUE(reader.readFromData(d, "L"));
    EXPECT_EQ(reader.colorNames, (std::vector<std::string>{"Plain", "#00FF00", "Wild"}));
    double r, g, b;
    reader.colorList[2]->getRed(&r, &g, &b, nullptr);
    EXPECT_EQ((std::vector<double>{r, g, b}), (std::vector<double>{0, 1, 0}));
}

}  // namespace
