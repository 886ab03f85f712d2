#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Platform/CoreGraphics/Cairo.h"
#include "Platform/CoreGraphics/Compare.h"
#include "support/Snapshot.h"

namespace CoreGraphics {
namespace {

const RGBA kRed{1, 0, 0, 1};
const RGBA kBlue{0, 0, 1, 1};
const RGBA kClear{0, 0, 0, 0};

bool near(RGBA a, RGBA b, double tolerance = 1.5 / 255) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance &&
           std::abs(a.a - b.a) <= tolerance;
}

std::string scratch(const std::string& name) {
    const char* home = std::getenv("VEXIL_HOME");
    return (std::filesystem::path(home ? home : "/tmp") / name).string();
}

// The ink box (pixels with any alpha) of an image: {x0, y0, x1, y1} in rows top to bottom.
struct InkBox {
    int x0 = -1, y0 = -1, x1 = -1, y1 = -1;
    bool empty() const { return x0 < 0; }
};

InkBox inkBox(const Image& image) {
    InkBox box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y).a < 0.1) continue;
            if (box.empty()) {
                box = {x, y, x, y};
            } else {
                box.x0 = std::min(box.x0, x);
                box.y0 = std::min(box.y0, y);
                box.x1 = std::max(box.x1, x);
                box.y1 = std::max(box.y1, y);
            }
        }
    }
    return box;
}

TEST(Image, PixelsAndPNGRoundTrip) {
    Image image(3, 2);
    EXPECT_EQ(image.pixel(0, 0), kClear);
    image.setPixel(2, 1, kRed);
    image.setPixel(0, 0, RGBA{0, 1, 0, 0.6});
    image.setPixel(5, 5, kRed);  // outside: ignored
    EXPECT_EQ(image.pixel(2, 1), kRed);
    EXPECT_EQ(image.pixel(-1, 0), kClear);

    const std::string path = scratch("round.png");
    ASSERT_TRUE(image.writePNG(path));
    auto back = Image::readPNG(path);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->width(), 3);
    EXPECT_EQ(back->height(), 2);
    EXPECT_EQ(back->pixel(2, 1), kRed);
    EXPECT_TRUE(near(back->pixel(0, 0), RGBA{0, 1, 0, 0.6}));
    EXPECT_TRUE(compareImages(*back, image, 0.01).matches());
}

TEST(Image, BadFilesAndPathsFailPlainly) {
    EXPECT_EQ(Image::readPNG(scratch("missing.png")), nullptr);
    const std::string garbage = scratch("garbage.png");
    std::ofstream(garbage) << "not a png";
    EXPECT_EQ(Image::readPNG(garbage), nullptr);
    EXPECT_FALSE(Image(2, 2).writePNG(scratch("no/such/folder/x.png")));
    EXPECT_FALSE(Image().writePNG(scratch("empty.png")));
    EXPECT_TRUE(Image(-4, 3).empty());
}

TEST(CompareImages, PerChannelToleranceOnPremultipliedPixels) {
    Image a(2, 1), b(2, 1);
    a.setPixel(0, 0, RGBA{0.5, 0.5, 0.5, 1});
    b.setPixel(0, 0, RGBA{0.7, 0.5, 0.5, 1});  // 20 %: within 25 %
    a.setPixel(1, 0, RGBA{1, 0, 0, 0});
    b.setPixel(1, 0, RGBA{0, 1, 0, 0});  // transparent: colour does not count
    EXPECT_TRUE(compareImages(a, b).matches());
    b.setPixel(0, 0, RGBA{0.8, 0.5, 0.5, 1});  // 30 %
    const auto d = compareImages(a, b);
    EXPECT_FALSE(d.matches());
    EXPECT_EQ(d.differingPixels, 1);
    EXPECT_EQ(d.firstX, 0);
    EXPECT_TRUE(compareImages(a, Image(2, 2)).sizeDiffers);
}

TEST(CairoContext, UserSpaceStartsAtTheBottomLeftWithYUpwards) {
    ImageContext context(20, 10);
    context.fillRect(CGRectMake(0, 0, 5, 2), kRed);  // bottom-left corner
    context.save();
    context.translate(0, 10);
    context.scale(1, -1);  // flipped: top-left origin
    context.fillRect(CGRectMake(15, 0, 5, 2), kBlue);
    context.restore();
    const Image image = context.image();
    EXPECT_EQ(image.pixel(0, 9), kRed);
    EXPECT_EQ(image.pixel(4, 8), kRed);
    EXPECT_EQ(image.pixel(0, 7), kClear);
    EXPECT_EQ(image.pixel(19, 0), kBlue);
    EXPECT_EQ(image.pixel(15, 1), kBlue);
    EXPECT_EQ(image.pixel(15, 2), kClear);
}

TEST(CairoContext, AlphaClipAndRestore) {
    ImageContext context(10, 10);
    context.save();
    context.setAlpha(0.5);
    context.clipToRect(CGRectMake(0, 0, 5, 10));
    context.fillRect(CGRectMake(0, 0, 10, 10), kRed);
    context.restore();
    context.restore();  // unbalanced: ignored, the device mapping stays
    context.fillRect(CGRectMake(8, 0, 2, 2), kBlue);
    const Image image = context.image();
    EXPECT_TRUE(near(image.pixel(1, 1), RGBA{1, 0, 0, 0.5}));
    EXPECT_EQ(image.pixel(6, 1), kClear);
    EXPECT_EQ(image.pixel(9, 9), kBlue);
}

TEST(CairoContext, ImagesPutTheirFirstRowAtTheTopInEitherOrientation) {
    Image source(1, 2);
    source.setPixel(0, 0, kRed);
    source.setPixel(0, 1, kBlue);
    for (bool flipped : {false, true}) {
        SCOPED_TRACE(flipped ? "flipped" : "unflipped");
        ImageContext context(4, 8);
        if (flipped) {
            context.translate(0, 8);
            context.scale(1, -1);
        }
        context.drawImage(source, CGRectMake(0, 0, 4, 8), false);  // square pixels
        const Image image = context.image();
        EXPECT_EQ(image.pixel(0, 0), kRed);
        EXPECT_EQ(image.pixel(3, 3), kRed);
        EXPECT_EQ(image.pixel(0, 4), kBlue);
        EXPECT_EQ(image.pixel(3, 7), kBlue);
    }
}

TEST(CairoContext, SingularScaleDrawsNothingAndLeavesTheContextUsable) {
    ImageContext context(4, 4);
    context.save();
    context.scale(0, 1);
    context.fillRect(CGRectMake(0, 0, 4, 4), kRed);
    context.restore();
    context.fillRect(CGRectMake(0, 0, 1, 1), kBlue);
    const Image image = context.image();
    EXPECT_EQ(image.pixel(2, 1), kClear);
    EXPECT_EQ(image.pixel(0, 3), kBlue);
}

TEST(CairoContext, NegativeSizesExtendFromTheOriginTheOtherWay) {
    ImageContext context(10, 10);
    context.fillRoundedRect(CGRectMake(10, 10, -4, -4), 1, kRed);  // covers x 6..10, y 6..10
    const Image image = context.image();
    EXPECT_EQ(image.pixel(8, 2), kRed);
    EXPECT_EQ(image.pixel(8, 5), kClear);
    EXPECT_EQ(image.pixel(4, 2), kClear);
}

TEST(Text, TestsSeeOnlyThePinnedFonts) {
    const char* config = std::getenv("FONTCONFIG_FILE");
    ASSERT_NE(config, nullptr);
    EXPECT_TRUE(std::filesystem::exists(config)) << config;
}

TEST(Text, MeasurementFollowsSizeWeightAndFace) {
    const FontSpec regular;
    const auto hello = measureText("Hello", regular);
    EXPECT_GT(hello.size.width, 20);
    EXPECT_GT(hello.ascent, 0);
    EXPECT_GT(hello.descent, 0);
    EXPECT_NEAR(hello.ascent + hello.descent, hello.size.height, 0.01);
    // Hinting is off: width scales with the size exactly enough.
    const auto big = measureText("Hello", FontSpec{"DejaVu Sans", 26});
    EXPECT_NEAR(big.size.width, 2 * hello.size.width, 0.5);
    EXPECT_GT(measureText("Hello", FontSpec{"DejaVu Sans", 13, true}).size.width, hello.size.width);
    const FontSpec mono{"DejaVu Sans", 13, false, true};
    EXPECT_NEAR(measureText("iii", mono).size.width, measureText("WWW", mono).size.width, 0.01);
    EXPECT_LT(measureText("iii", regular).size.width, measureText("WWW", regular).size.width);
    const auto twoLines = measureText("a\nb", regular);
    EXPECT_GT(twoLines.size.height, 1.8 * hello.size.height);
    EXPECT_EQ(measureText("", regular).size.width, 0);
    // Broken UTF-8 is drawn as far as it is valid, never refused.
    EXPECT_GT(measureText("ab\xff\xfe", regular).size.width, measureText("ab", regular).size.width - 0.01);
}

TEST(Text, DrawnInkStaysInsideTheMeasuredBoxWhateverTheAlignment) {
    const FontSpec font{"DejaVu Sans", 20};
    const auto m = measureText("Vexil", font);
    const CGRect r = CGRectMake(10, 10, 200, 40);
    for (auto alignment : {TextAlignment::Left, TextAlignment::Center, TextAlignment::Right}) {
        SCOPED_TRACE(static_cast<int>(alignment));
        ImageContext context(220, 60);
        context.drawText("Vexil", r, font, RGBA{0, 0, 0, 1}, alignment);
        const InkBox box = inkBox(context.image());
        ASSERT_FALSE(box.empty());
        const double left = alignment == TextAlignment::Left     ? 10
                            : alignment == TextAlignment::Center ? 10 + (200 - m.size.width) / 2
                                                                 : 210 - m.size.width;
        // Rows top to bottom: r's top edge is row 60 - 50 = 10.
        EXPECT_GE(box.x0, std::floor(left) - 1);
        EXPECT_LE(box.x1, std::ceil(left + m.size.width) + 1);
        EXPECT_GE(box.y0, 10);
        EXPECT_LE(box.y1, 10 + std::ceil(m.size.height));
        EXPECT_LE(box.y1, 10 + std::ceil(m.ascent) + 1);  // no descender in "Vexil"
    }
}

TEST(Text, FlippedSpaceDrawsTheSameText) {
    const FontSpec font{"DejaVu Sans", 16};
    ImageContext up(120, 40), down(120, 40);
    up.drawText("Swatch", CGRectMake(4, 4, 110, 30), font, RGBA{0, 0, 0, 1});
    down.translate(0, 40);
    down.scale(1, -1);
    down.drawText("Swatch", CGRectMake(4, 6, 110, 30), font, RGBA{0, 0, 0, 1});  // the same top edge
    EXPECT_TRUE(compareImages(up.image(), down.image(), 0.02).matches());
}

TEST(Snapshot, ToleranceCatchesAOnePointTextSizeChange) {
    auto render = [](double size) {
        ImageContext context(160, 20);
        context.fillRect(CGRectMake(0, 0, 160, 20), RGBA{1, 1, 1, 1});
        context.drawText("Copy as Hex", CGRectMake(4, 2, 150, 16), FontSpec{"DejaVu Sans", size}, RGBA{0, 0, 0, 1});
        return context.image();
    };
    EXPECT_TRUE(compareImages(render(13), render(13)).matches());
    EXPECT_FALSE(compareImages(render(12), render(13)).matches());
}

TEST(Snapshot, RoundedSwatch) {
    ImageContext context(64, 64);
    context.fillRoundedRect(CGRectMake(4, 4, 56, 56), 12, RGBA{0.2, 0.5, 0.8, 1});
    context.strokeRoundedRect(CGRectMake(4.5, 4.5, 55, 55), 12, RGBA{0, 0, 0, 0.25}, 1);
    context.fillEllipse(CGRectMake(24, 24, 16, 16), RGBA{1, 1, 1, 0.8});
    context.drawText("#3380CC", CGRectMake(4, 6, 56, 12), FontSpec{"DejaVu Sans", 9, true}, RGBA{1, 1, 1, 1},
                     TextAlignment::Center);
    EXPECT_TRUE(TestSupport::matchesSnapshot(context.image(), "Platform/CoreGraphics/snapshots/rounded-swatch.png"));
}

}  // namespace
}  // namespace CoreGraphics
