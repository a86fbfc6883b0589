// Decoding the About window's JPEG from memory: the built-in picture, test
// pictures whose pixels are known, and broken data that must give no
// picture, no crash and no output.
#include "jpeg_picture.h"

#include <gtest/gtest.h>

// jpeglib.h needs size_t and FILE declared before it.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "about_picture.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A JPEG that libjpeg makes from the given pixels, for pictures whose
// content the tests know.
Bytes Encode(int width, int height, const std::function<QRgb(int, int)>& pixel)
{
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width * 3));
    while (info.next_scanline < info.image_height) {
        const int y = static_cast<int>(info.next_scanline);
        for (int x = 0; x < width; ++x) {
            const QRgb colour = pixel(x, y);
            JSAMPLE* sample = &row[static_cast<std::size_t>(x * 3)];
            sample[0] = static_cast<JSAMPLE>(qRed(colour));
            sample[1] = static_cast<JSAMPLE>(qGreen(colour));
            sample[2] = static_cast<JSAMPLE>(qBlue(colour));
        }
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    Bytes encoded(buffer, buffer + size);
    std::free(buffer);
    return encoded;
}

QImage Decode(const Bytes& bytes)
{
    return DecodeJpeg(bytes.data(), bytes.size());
}

Bytes BuiltIn()
{
    return Bytes(kAboutPicture, kAboutPicture + kAboutPictureSize);
}

// Colours survive JPEG only approximately.
::testing::AssertionResult Near(QColor actual, QColor expected, int tolerance = 16)
{
    if (std::abs(actual.red() - expected.red()) <= tolerance &&
        std::abs(actual.green() - expected.green()) <= tolerance &&
        std::abs(actual.blue() - expected.blue()) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << actual.name().toStdString() << " is not near " << expected.name().toStdString();
}

TEST(JpegPictureTest, TheBuiltInPictureIsColouredWavesOnDark)
{
    const QImage picture = DecodeJpeg(kAboutPicture, kAboutPictureSize);
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), QSize(151, 86));

    // Mostly dark, with wave lines in clearly different colours; the part
    // the window shows (89 x 73 from the top-left) has the waves too.
    int dark = 0, reddish = 0, bluish = 0, yellowish = 0, brightShown = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QColor c = picture.pixelColor(x, y);
            if (std::max({c.red(), c.green(), c.blue()}) < 80) ++dark;
            if (c.red() > 200 && c.green() < 140 && c.blue() > 120) ++reddish;
            if (c.blue() > 200 && c.red() < 140) ++bluish;
            if (c.red() > 200 && c.green() > 160 && c.blue() < 120) ++yellowish;
            if (x < 89 && y < 73 && c.lightness() > 150) ++brightShown;
        }
    }
    const int all = picture.width() * picture.height();
    EXPECT_GT(dark, all / 2);
    EXPECT_GT(reddish, 50);
    EXPECT_GT(bluish, 50);
    EXPECT_GT(yellowish, 50);
    EXPECT_GT(brightShown, 200);
}

TEST(JpegPictureTest, AKnownPictureComesBackInPlaceAndInItsColours)
{
    // Four coloured quarters on an odd width, so rows are not a multiple of
    // four bytes: swapped channels, upside-down rows or a wrong row length
    // (which skews the lower rows sideways) each put a wrong colour under
    // one of the samples.
    const QColor red(220, 30, 30), green(30, 200, 40), blue(30, 40, 220), white(240, 240, 240);
    const Bytes quarters = Encode(151, 86, [&](int x, int y) {
        return (y < 43 ? (x < 75 ? red : green) : (x < 75 ? blue : white)).rgb();
    });
    const QImage picture = Decode(quarters);
    ASSERT_EQ(picture.size(), QSize(151, 86));
    EXPECT_TRUE(Near(picture.pixelColor(10, 10), red));
    EXPECT_TRUE(Near(picture.pixelColor(140, 10), green));
    EXPECT_TRUE(Near(picture.pixelColor(10, 80), blue));
    EXPECT_TRUE(Near(picture.pixelColor(140, 80), white));
    EXPECT_TRUE(Near(picture.pixelColor(68, 84), blue));
    EXPECT_TRUE(Near(picture.pixelColor(82, 84), white));
    EXPECT_TRUE(Near(picture.pixelColor(68, 1), red));
    EXPECT_TRUE(Near(picture.pixelColor(82, 1), green));
}

TEST(JpegPictureTest, BrokenDataGivesNoPictureAndSaysNothing)
{
    const Bytes whole = BuiltIn();
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const std::string text = "Ondalux is a radio, not a picture.";
    const std::vector<Case> cases = {
        {"empty", {}},
        {"text", Bytes(text.begin(), text.end())},
        {"start marker only", Bytes(whole.begin(), whole.begin() + 2)},
        {"cut in the header", Bytes(whole.begin(), whole.begin() + 100)},
        {"cut in the picture data", Bytes(whole.begin(), whole.begin() + whole.size() / 2)},
        {"end marker missing", Bytes(whole.begin(), whole.end() - 2)},
        {"garbage", Bytes(4000, 0x5A)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ::testing::internal::CaptureStderr();
        const QImage picture = Decode(c.bytes);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        EXPECT_TRUE(picture.isNull());
    }
    EXPECT_TRUE(DecodeJpeg(nullptr, 0).isNull());
}

TEST(JpegPictureTest, AHeaderClaimingAHugePictureGivesNoPicture)
{
    // The frame header (marker FF C0) gives height and width after the
    // marker's length and precision; make both 65500.
    Bytes huge = BuiltIn();
    std::size_t frame = 0;
    while (frame + 9 < huge.size() && !(huge[frame] == 0xFF && huge[frame + 1] == 0xC0))
        ++frame;
    ASSERT_LT(frame + 9, huge.size());
    for (const std::size_t at : {frame + 5, frame + 7}) {
        huge[at] = 0xFF;
        huge[at + 1] = 0xDC;
    }
    EXPECT_TRUE(Decode(huge).isNull());
}

}  // namespace
