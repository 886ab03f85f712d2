// A colour list we write, read back by GNUstep's NSColorList through a small
// Objective-C program built here against it: the name, every key in order and
// every colour's space and components must come out as written.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "Platform/AppKit/NSColorList.h"
#include "Platform/Foundation/Directories.h"

namespace {

using AppKit::NSColor;
using AppKit::NSColorList;

struct Process {
    int status = -1;
    std::string output;
};

Process run(const std::string& command) {
    Process result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
    result.status = ::pclose(pipe);
    return result;
}

std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

class ColorListInterop : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = Foundation::temporaryDirectory();
        if (run("command -v gnustep-config >/dev/null 2>&1").status != 0) {
            GTEST_SKIP() << "gnustep-config not found: the reader needs the packages gnustep-make, "
                            "libgnustep-gui-dev and gobjc";
        }
        reader_ = dir_ + "/reader";
        const Process build = run("cd " + shellQuoted(dir_) + " && gcc $(gnustep-config --objc-flags) -w " +
                              shellQuoted(VEXIL_COLOR_LIST_READER_SOURCE) + " -o reader $(gnustep-config --gui-libs) 2>&1");
        if (build.status != 0) {
            GTEST_SKIP() << "the GNUstep reader could not be built (packages gnustep-make, libgnustep-gui-dev, "
                            "gobjc): "
                         << build.output;
        }
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // GNUstep keeps its defaults under $HOME: a scratch one.
    Process read(const std::string& path) {
        return run("HOME=" + shellQuoted(dir_) + " " + shellQuoted(reader_) + " " + shellQuoted(path) + " 2>/dev/null");
    }

    std::string dir_;
    std::string reader_;
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

TEST_F(ColorListInterop, GnustepReadsNameKeysAndComponents) {
    NSColorList list(std::string("Brand \u2713 colours"));
    struct Entry {
        std::string key;
        AppKit::NSColorRef color;
        std::string space;           // as GNUstep names it
        std::vector<double> values;  // components, alpha last
    };
    const std::vector<Entry> entries = {
        {"hexagon blue", NSColor::colorWithRed(0x1a / 255.0, 0x2b / 255.0, 0x3c / 255.0, 1), "NSCalibratedRGBColorSpace",
         {0x1a / 255.0, 0x2b / 255.0, 0x3c / 255.0, 1}},
        {"half red \u00e9", NSColor::colorWithRed(1, 0, 0, 0.5), "NSCalibratedRGBColorSpace", {1, 0, 0, 0.5}},
        {"calibrated", NSColor::colorWithCalibratedRed(0.1, 0.2, 1.0 / 3, 0.25), "NSCalibratedRGBColorSpace",
         {0.1, 0.2, 1.0 / 3, 0.25}},
        {"device", NSColor::colorWithDeviceRed(0.9, 0.8, 0.7, 1), "NSDeviceRGBColorSpace", {0.9, 0.8, 0.7, 1}},
        {"grey", NSColor::colorWithCalibratedWhite(0.3, 1), "NSCalibratedWhiteColorSpace", {0.3, 1}},
        {"device grey", NSColor::colorWithDeviceWhite(0.6, 0.75), "NSDeviceWhiteColorSpace", {0.6, 0.75}},
        // CMYK only where magenta and yellow agree: this reader takes them in
        // the other order than its own writer puts them under "NSCYMK".
        {"cmyk", NSColor::colorWithDeviceCyan(0.1, 0.25, 0.25, 0.4, 0.5), "NSDeviceCMYKColorSpace",
         {0.1, 0.25, 0.25, 0.4, 0.5}},
        {"with\ttab", NSColor::colorWithRed(0, 0, 0, 1), "NSCalibratedRGBColorSpace", {0, 0, 0, 1}},
    };
    for (const auto& e : entries) list.setColor(e.color, e.key);
    const std::string path = dir_ + "/History.clr";
    Foundation::Error error;
    ASSERT_TRUE(list.writeToFile(path, &error)) << error.description;

    const Process result = read(path);
    ASSERT_EQ(result.status, 0) << result.output;
    const auto out = lines(result.output);
    ASSERT_EQ(out.size(), entries.size() + 1) << result.output;
    EXPECT_EQ(out[0], "name\tBrand \u2713 colours");
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& e = entries[i];
        std::string key = e.key;
        if (auto tab = key.find('\t'); tab != std::string::npos) key.replace(tab, 1, "\\t");
        std::istringstream fields(out[i + 1]);
        std::string gotKey, gotSpace, numbers;
        std::getline(fields, gotKey, '\t');
        std::getline(fields, gotSpace, '\t');
        std::getline(fields, numbers);
        EXPECT_EQ(gotKey, key);
        EXPECT_EQ(gotSpace, e.space) << key;
        std::istringstream values(numbers);
        std::vector<double> got;
        for (double v; values >> v;) got.push_back(v);
        ASSERT_EQ(got.size(), e.values.size()) << key << ": " << numbers;
        for (std::size_t k = 0; k < got.size(); ++k) EXPECT_NEAR(got[k], e.values[k], 1e-6) << key << " #" << k;
    }
}

TEST_F(ColorListInterop, GnustepReadsAnEmptyListWithoutAName) {
    const std::string path = dir_ + "/Empty.clr";
    ASSERT_TRUE(NSColorList().writeToFile(path));
    const Process result = read(path);
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(lines(result.output), std::vector<std::string>{"name\t-"});
}

}  // namespace
