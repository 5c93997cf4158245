// Image input of the tools: every format, hostile headers, short files and
// multi-frame Y4M streams.
#include <gtest/gtest.h>

#include <png.h>
#include <zlib.h>

// jpeglib.h needs size_t and FILE declared before it.
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <jpeglib.h>

#include <sstream>
#include <string>
#include <vector>

#include "image_io.h"

namespace {

using namespace quarrow::io;
using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes pnm(const std::string& header, std::size_t dataBytes, std::uint8_t fill = 7) {
    Bytes b = bytesOf(header);
    b.insert(b.end(), dataBytes, fill);
    return b;
}

IoError decode(const Bytes& b, GreyFrame& f) {
    std::string detail;
    return decodeImage(b, f, detail);
}

IoError decode(const Bytes& b) {
    GreyFrame f;
    return decode(b, f);
}

// --- PGM / PPM -------------------------------------------------------------

TEST(Pnm, ReadsGreyWithComments) {
    Bytes b = bytesOf("P5\n# a comment\n3 # width\n2\n255\n");
    for (std::uint8_t v : {0, 10, 20, 30, 40, 255}) b.push_back(v);
    GreyFrame f;
    ASSERT_EQ(decode(b, f), IoError::Ok);
    EXPECT_EQ(f.width, 3);
    EXPECT_EQ(f.height, 2);
    EXPECT_EQ(f.pixels, (Bytes{0, 10, 20, 30, 40, 255}));
}

TEST(Pnm, ColourBecomesLuma) {
    Bytes b = bytesOf("P6 2 1 255 ");
    for (std::uint8_t v : {255, 0, 0, 10, 200, 30}) b.push_back(v);
    GreyFrame f;
    ASSERT_EQ(decode(b, f), IoError::Ok);
    ASSERT_EQ(f.pixels.size(), 2u);
    EXPECT_EQ(f.pixels[0], 76);   // 0.299 * 255 = 76.2
    EXPECT_EQ(f.pixels[1], 124);  // 2.99 + 117.4 + 3.42 = 123.8
}

TEST(Pnm, SixteenBitAndSmallMaxvalAreScaled) {
    Bytes b = bytesOf("P5 2 1 65535\n");
    for (std::uint8_t v : {0xFF, 0xFF, 0x80, 0x00}) b.push_back(v);
    GreyFrame f;
    ASSERT_EQ(decode(b, f), IoError::Ok);
    EXPECT_EQ(f.pixels, (Bytes{255, 128}));
    Bytes c = bytesOf("P5 3 1 1\n");
    for (std::uint8_t v : {0, 1, 1}) c.push_back(v);
    ASSERT_EQ(decode(c, f), IoError::Ok);
    EXPECT_EQ(f.pixels, (Bytes{0, 255, 255}));
}

TEST(Pnm, HostileHeadersAreRejected) {
    EXPECT_EQ(decode(pnm("P5\n", 0)), IoError::BadHeader);
    EXPECT_EQ(decode(pnm("P5 -3 2 255\n", 6)), IoError::BadHeader);
    EXPECT_EQ(decode(pnm("P5 3x 2 255\n", 6)), IoError::BadHeader);
    EXPECT_EQ(decode(pnm("P53 2 255\n", 6)), IoError::BadHeader);
    EXPECT_EQ(decode(pnm("P5 99999999999999999999 2 255\n", 6)), IoError::BadHeader);
    EXPECT_EQ(decode(pnm("P5 0 2 255\n", 6)), IoError::BadHeader);
    EXPECT_EQ(decode(pnm("P5 3 2 0\n", 6)), IoError::BadHeader);
    EXPECT_EQ(decode(pnm("P5 3 2 65536\n", 6)), IoError::BadHeader);
    EXPECT_EQ(decode(pnm("P5 3 2 255", 0)), IoError::Truncated);
    // Sizes beyond the limits fail before any pixel store is made.
    EXPECT_EQ(decode(pnm("P5 1048577 1 255\n", 16)), IoError::TooLarge);
    EXPECT_EQ(decode(pnm("P5 65536 65536 255\n", 16)), IoError::TooLarge);
    EXPECT_EQ(decode(pnm("P6 16384 16384 255\n", 16)), IoError::Truncated);
    EXPECT_EQ(decode(pnm("P2 3 2 255\n", 6)), IoError::Unsupported);
    EXPECT_EQ(decode(pnm("P4 3 2\n", 6)), IoError::Unsupported);
}

TEST(Pnm, TruncatedAndCorruptData) {
    EXPECT_EQ(decode(pnm("P5 3 2 255\n", 5)), IoError::Truncated);
    EXPECT_EQ(decode(pnm("P6 3 2 255\n", 17)), IoError::Truncated);
    EXPECT_EQ(decode(pnm("P5 3 2 65535\n", 11)), IoError::Truncated);
    EXPECT_EQ(decode(pnm("P5 3 2 100\n", 6, 101)), IoError::Corrupt);
    GreyFrame f;
    EXPECT_EQ(decode(pnm("P5 3 2 255\n", 6), f), IoError::Ok);
}

TEST(Formats, EmptyAndUnknown) {
    EXPECT_EQ(decode(Bytes{}), IoError::Empty);
    EXPECT_EQ(decode(bytesOf("GIF89a....")), IoError::UnknownFormat);
    EXPECT_EQ(decode(bytesOf("P")), IoError::UnknownFormat);
    EXPECT_STRNE(toString(IoError::Truncated), toString(IoError::Corrupt));
}

// --- PNG ---------------------------------------------------------------------

Bytes encodePng(int w, int h, png_uint_32 format, const Bytes& pixels) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(w);
    image.height = static_cast<png_uint_32>(h);
    image.format = format;
    png_alloc_size_t size = 0;
    EXPECT_TRUE(png_image_write_get_memory_size(image, size, 0, pixels.data(), 0, nullptr));
    Bytes out(size);
    EXPECT_TRUE(png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, nullptr));
    out.resize(size);
    return out;
}

TEST(Png, GreyRgbAndAlpha) {
    GreyFrame f;
    ASSERT_EQ(decode(encodePng(2, 2, PNG_FORMAT_GRAY, {0, 50, 100, 255}), f), IoError::Ok);
    EXPECT_EQ(f.width, 2);
    EXPECT_EQ(f.pixels, (Bytes{0, 50, 100, 255}));
    ASSERT_EQ(decode(encodePng(2, 1, PNG_FORMAT_RGB, {255, 0, 0, 10, 200, 30}), f), IoError::Ok);
    EXPECT_EQ(f.pixels, (Bytes{76, 124}));
    // A transparent pixel shows the white paper behind it.
    ASSERT_EQ(decode(encodePng(2, 1, PNG_FORMAT_RGBA, {0, 0, 0, 255, 0, 0, 0, 0}), f), IoError::Ok);
    EXPECT_EQ(f.pixels, (Bytes{0, 255}));
}

TEST(Png, TruncatedAndCorrupt) {
    Bytes grey(64 * 64);
    for (std::size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<std::uint8_t>(i * 7);
    const Bytes good = encodePng(64, 64, PNG_FORMAT_GRAY, grey);
    EXPECT_EQ(decode(good), IoError::Ok);
    EXPECT_NE(decode(Bytes(good.begin(), good.begin() + 20)), IoError::Ok);
    EXPECT_NE(decode(Bytes(good.begin(), good.begin() + static_cast<long>(good.size() / 2))), IoError::Ok);
    Bytes bad = good;
    bad[bad.size() / 2] ^= 0x55;  // breaks the IDAT checksum
    EXPECT_NE(decode(bad), IoError::Ok);
}

// An IHDR chunk with a valid checksum that announces a huge image.
TEST(Png, HugeDeclaredSizeIsRejected) {
    Bytes b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    const std::uint32_t side = 100000;
    for (int k = 0; k < 2; ++k)
        for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<std::uint8_t>(side >> s));
    for (std::uint8_t v : {8, 0, 0, 0, 0}) b.push_back(v);
    const uLong crc = crc32(0, b.data() + 12, 17);
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<std::uint8_t>(crc >> s));
    GreyFrame f;
    std::string detail;
    const IoError e = decodePng(b, f, detail);
    EXPECT_TRUE(e == IoError::TooLarge || e == IoError::BadHeader) << toString(e) << " " << detail;
    EXPECT_TRUE(f.pixels.empty());
}

// 2^28 pixels, within the limits, declared by a file of under a hundred
// bytes: once this cost 800 MB and seconds before libpng found the data short.
TEST(Png, TinyFileDeclaringTheLargestImageIsRefusedBeforeAllocating) {
    Bytes b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    auto be32 = [](Bytes& out, std::uint32_t v) {
        for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<std::uint8_t>(v >> s));
    };
    auto chunk = [&](const char* type, const Bytes& payload) {
        be32(b, static_cast<std::uint32_t>(payload.size()));
        const std::size_t start = b.size();
        b.insert(b.end(), type, type + 4);
        b.insert(b.end(), payload.begin(), payload.end());
        be32(b, static_cast<std::uint32_t>(crc32(0, b.data() + start, static_cast<uInt>(b.size() - start))));
    };
    Bytes ihdr;
    be32(ihdr, 16384);
    be32(ihdr, 16384);
    for (std::uint8_t v : {8, 0, 0, 0, 0}) ihdr.push_back(v);
    chunk("IHDR", ihdr);
    Bytes raw(64, 0), idat(128);
    uLongf idatSize = idat.size();
    ASSERT_EQ(compress(idat.data(), &idatSize, raw.data(), raw.size()), Z_OK);
    idat.resize(idatSize);
    chunk("IDAT", idat);
    chunk("IEND", {});
    GreyFrame f;
    std::string detail;
    EXPECT_EQ(decodePng(b, f, detail), IoError::Truncated);
    EXPECT_EQ(detail, "PNG data of " + std::to_string(idatSize) + " bytes cannot hold a 16384 x 16384 image");
    EXPECT_TRUE(f.pixels.empty());
}

TEST(Png, WriteThenRead) {
    const std::string path = ::testing::TempDir() + "quarrow_io_write.png";
    Bytes rgb = {255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 0, 255};
    std::string detail;
    ASSERT_EQ(writePngRgb(path, 2, 2, rgb, detail), IoError::Ok) << detail;
    FrameSource src;
    ASSERT_EQ(src.open(path, detail), IoError::Ok);
    GreyFrame f;
    IoError e;
    ASSERT_EQ(src.next(f, e, detail), FrameSource::Next::Frame);
    EXPECT_EQ(f.pixels, (Bytes{255, 0, 76, 29}));
    EXPECT_EQ(src.next(f, e, detail), FrameSource::Next::End);
    EXPECT_EQ(writePngRgb(path, 3, 2, rgb, detail), IoError::WriteFailed);
    EXPECT_EQ(writePngRgb("/nonexistent-dir/x.png", 2, 2, rgb, detail), IoError::WriteFailed);
    std::remove(path.c_str());
}

// The formats whose headers state sizes plainly: the data is measured
// against them before anything is allocated, so a few bytes that declare
// 2^28 pixels cost nothing (the PNG and JPEG cases are above).
TEST(Formats, TinyPnmAndY4mDeclaringTheLargestImage) {
    GreyFrame f;
    std::string detail;
    EXPECT_EQ(decodePnm(pnm("P5 16384 16384 255\n", 10), f, detail), IoError::Truncated);
    EXPECT_EQ(detail, "pixel data holds 10 of 268435456 bytes");
    std::istringstream in("YUV4MPEG2 W16384 H16384 Cmono\nFRAME\n" + std::string(10, 'x'));
    FrameSource src;
    ASSERT_EQ(src.open(in, detail), IoError::Ok);
    IoError e = IoError::Ok;
    EXPECT_EQ(src.next(f, e, detail), FrameSource::Next::Error);
    EXPECT_EQ(e, IoError::Truncated);
    EXPECT_EQ(detail, "the stream ends inside a frame");
    EXPECT_TRUE(f.pixels.empty());
}

// --- JPEG --------------------------------------------------------------------

Bytes encodeJpeg(int w, int h, const Bytes& grey) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = static_cast<JDIMENSION>(w);
    c.image_height = static_cast<JDIMENSION>(h);
    c.input_components = 1;
    c.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 95, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<std::uint8_t*>(grey.data()) + static_cast<std::size_t>(c.next_scanline) * static_cast<std::size_t>(w);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes out(mem, mem + size);
    std::free(mem);
    return out;
}

Bytes testPattern(int w, int h) {
    Bytes g(static_cast<std::size_t>(w * h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) g[static_cast<std::size_t>(y * w + x)] = ((x / 8 + y / 8) % 2) ? 220 : 30;
    return g;
}

TEST(Jpeg, DecodesCloseToTheOriginal) {
    const Bytes g = testPattern(64, 48);
    GreyFrame f;
    ASSERT_EQ(decode(encodeJpeg(64, 48, g), f), IoError::Ok);
    ASSERT_EQ(f.width, 64);
    ASSERT_EQ(f.height, 48);
    int worst = 0;
    for (std::size_t i = 0; i < g.size(); ++i) worst = std::max(worst, std::abs(int{g[i]} - int{f.pixels[i]}));
    EXPECT_LT(worst, 40);
}

TEST(Jpeg, TruncatedCorruptAndHuge) {
    const Bytes good = encodeJpeg(64, 48, testPattern(64, 48));
    GreyFrame cut;
    std::string detail;
    EXPECT_EQ(decodeJpeg(Bytes(good.begin(), good.begin() + static_cast<long>(good.size() * 2 / 3)), cut, detail),
              IoError::Truncated) << detail;
    EXPECT_TRUE(cut.pixels.empty());
    EXPECT_EQ(decode(Bytes(good.begin(), good.begin() + 40)), IoError::Truncated);
    Bytes junk = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x02, 0x13};
    EXPECT_NE(decode(junk), IoError::Ok);
    // Set the frame header's size to 65500 x 65500.
    Bytes huge = good;
    for (std::size_t i = 0; i + 8 < huge.size(); ++i) {
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            huge[i + 5] = 0xFF, huge[i + 6] = 0xDC, huge[i + 7] = 0xFF, huge[i + 8] = 0xDC;
            break;
        }
    }
    GreyFrame f;
    EXPECT_EQ(decode(huge, f), IoError::TooLarge);
    EXPECT_TRUE(f.pixels.empty());
}

// The same 2^28-pixel declaration in a JPEG of a few hundred bytes: once
// 268 MB and seconds of grey padding.
TEST(Jpeg, TinyFileDeclaringTheLargestImageIsRefusedBeforeAllocating) {
    Bytes b = encodeJpeg(64, 48, testPattern(64, 48));
    for (std::size_t i = 0; i + 8 < b.size(); ++i) {
        if (b[i] == 0xFF && b[i + 1] == 0xC0) {
            b[i + 5] = 0x40, b[i + 6] = 0x00, b[i + 7] = 0x40, b[i + 8] = 0x00;
            break;
        }
    }
    GreyFrame f;
    std::string detail;
    EXPECT_EQ(decodeJpeg(b, f, detail), IoError::Truncated);
    EXPECT_EQ(detail, "JPEG data of " + std::to_string(b.size()) + " bytes cannot hold a 16384 x 16384 image");
    EXPECT_TRUE(f.pixels.empty());
}

// A progressive file whose first scan is repeated: every copy costs a few
// bytes and a pass over all blocks, so the number of scans is bounded.
TEST(Jpeg, EndlesslyRepeatedScansAreRefused) {
    const int w = 64, h = 48;
    const Bytes grey = testPattern(w, h);
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = w;
    c.image_height = h;
    c.input_components = 1;
    c.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<std::uint8_t*>(grey.data()) + static_cast<std::size_t>(c.next_scanline) * w;
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    const Bytes good(mem, mem + size);
    std::free(mem);
    GreyFrame f;
    std::string detail;
    ASSERT_EQ(decodeJpeg(good, f, detail), IoError::Ok) << detail;
    // The last scan runs from its SOS marker to EOI; copy it 150 times.
    std::size_t sos = 0;
    for (std::size_t i = 0; i + 1 < good.size(); ++i)
        if (good[i] == 0xFF && good[i + 1] == 0xDA) sos = i;
    ASSERT_GT(sos, 0u);
    const Bytes scan(good.begin() + static_cast<long>(sos), good.end() - 2);
    Bytes hostile(good.begin(), good.begin() + static_cast<long>(sos));
    for (int k = 0; k < 150; ++k) hostile.insert(hostile.end(), scan.begin(), scan.end());
    hostile.insert(hostile.end(), {0xFF, 0xD9});
    EXPECT_EQ(decodeJpeg(hostile, f, detail), IoError::Corrupt);
    EXPECT_EQ(detail, "JPEG data: more than 100 scans");
    EXPECT_TRUE(f.pixels.empty());
}

// --- Y4M ---------------------------------------------------------------------

struct Frames {
    std::vector<GreyFrame> frames;
    IoError error = IoError::Ok;
    IoError openError = IoError::Ok;
};

Frames readAll(const std::string& stream) {
    std::istringstream in(stream);
    FrameSource src;
    std::string detail;
    Frames out;
    out.openError = src.open(in, detail);
    if (out.openError != IoError::Ok) return out;
    EXPECT_TRUE(src.isVideo());
    for (;;) {
        GreyFrame f;
        IoError e = IoError::Ok;
        const auto next = src.next(f, e, detail);
        if (next == FrameSource::Next::End) break;
        if (next == FrameSource::Next::Error) {
            out.error = e;
            break;
        }
        out.frames.push_back(f);
    }
    return out;
}

std::string frameBytes(std::size_t n, char value) { return std::string(n, value); }

TEST(Y4m, MonoFramesInOrder) {
    std::string s = "YUV4MPEG2 W4 H3 F30:1 Ip A1:1 Cmono\n";
    for (char v : {'a', 'b', 'c'}) s += "FRAME\n" + frameBytes(12, v);
    const Frames r = readAll(s);
    ASSERT_EQ(r.error, IoError::Ok);
    ASSERT_EQ(r.frames.size(), 3u);
    EXPECT_EQ(r.frames[0].width, 4);
    EXPECT_EQ(r.frames[0].height, 3);
    EXPECT_EQ(r.frames[1].pixels, Bytes(12, 'b'));
    EXPECT_EQ(r.frames[2].pixels, Bytes(12, 'c'));
}

TEST(Y4m, ColourPlanesAreSkipped) {
    // 5 x 3 at 4:2:0: chroma planes of 3 x 2 each.
    std::string s = "YUV4MPEG2 W5 H3 C420jpeg XYSCSS=420JPEG\n";
    for (char v : {'p', 'q'}) s += "FRAME Ixyz\n" + frameBytes(15, v) + frameBytes(12, 'z');
    Frames r = readAll(s);
    ASSERT_EQ(r.error, IoError::Ok);
    ASSERT_EQ(r.frames.size(), 2u);
    EXPECT_EQ(r.frames[1].pixels, Bytes(15, 'q'));
    // No colour tag means 4:2:0 as well.
    r = readAll("YUV4MPEG2 W2 H2\nFRAME\n" + frameBytes(4, 'y') + frameBytes(2, 'z') + "FRAME\n" + frameBytes(6, 'w'));
    ASSERT_EQ(r.frames.size(), 2u);
    EXPECT_EQ(r.frames[1].pixels, Bytes(4, 'w'));
    r = readAll("YUV4MPEG2 W2 H2 C444\nFRAME\n" + frameBytes(12, 'y'));
    ASSERT_EQ(r.frames.size(), 1u);
    EXPECT_EQ(r.error, IoError::Ok);
}

TEST(Y4m, BrokenStreams) {
    const std::string head = "YUV4MPEG2 W4 H3 Cmono\n";
    EXPECT_EQ(readAll(head + "FRAME\n" + frameBytes(12, 'a') + "FRAME\n" + frameBytes(5, 'a')).error, IoError::Truncated);
    EXPECT_EQ(readAll(head + "FRAME\n" + frameBytes(12, 'a') + "FRAM").error, IoError::Truncated);
    EXPECT_EQ(readAll(head + "FRAMES\n" + frameBytes(12, 'a')).error, IoError::Corrupt);
    EXPECT_EQ(readAll(head + "JUNK\n" + frameBytes(12, 'a')).error, IoError::Corrupt);
    EXPECT_EQ(readAll("YUV4MPEG2 W4 H3 C420\nFRAME\n" + frameBytes(12, 'a') + "zz").error, IoError::Truncated);
    EXPECT_TRUE(readAll(head).frames.empty());
    EXPECT_EQ(readAll(head).error, IoError::Ok);
}

TEST(Y4m, HostileHeaders) {
    EXPECT_EQ(readAll("YUV4MPEG2 H3\nFRAME\n").openError, IoError::BadHeader);
    EXPECT_EQ(readAll("YUV4MPEG2 W-4 H3\nFRAME\n").openError, IoError::BadHeader);
    EXPECT_EQ(readAll("YUV4MPEG2 W0 H3\n").openError, IoError::BadHeader);
    EXPECT_EQ(readAll("YUV4MPEG2 W4x H3\n").openError, IoError::BadHeader);
    EXPECT_EQ(readAll("YUV4MPEG2 W99999999999 H3\n").openError, IoError::BadHeader);
    EXPECT_EQ(readAll("YUV4MPEG2 W100000 H100000\n").openError, IoError::TooLarge);
    EXPECT_EQ(readAll("YUV4MPEG2 W4 H3 C420p10\n").openError, IoError::Unsupported);
    EXPECT_EQ(readAll("YUV4MPEG2 W4 H3").openError, IoError::Truncated);
    EXPECT_EQ(readAll("YUV4MPEG2 W4 H3 X" + std::string(5000, 'x') + "\n").openError, IoError::BadHeader);
    // A big frame announced by a short stream: reported as truncated.
    EXPECT_EQ(readAll("YUV4MPEG2 W16384 H16384 Cmono\nFRAME\nabc").error, IoError::Truncated);
}

TEST(FrameSource, StillImageIsOneFrameAndMissingFileFails) {
    std::istringstream in(std::string("P5 2 1 255\n") + "\x01\x02");
    FrameSource src;
    std::string detail;
    ASSERT_EQ(src.open(in, detail), IoError::Ok);
    EXPECT_FALSE(src.isVideo());
    GreyFrame f;
    IoError e;
    ASSERT_EQ(src.next(f, e, detail), FrameSource::Next::Frame);
    EXPECT_EQ(f.pixels, (Bytes{1, 2}));
    EXPECT_EQ(src.next(f, e, detail), FrameSource::Next::End);
    FrameSource missing;
    EXPECT_EQ(missing.open("/nonexistent/file.pgm", detail), IoError::OpenFailed);
    std::istringstream empty("");
    FrameSource none;
    EXPECT_EQ(none.open(empty, detail), IoError::Empty);
}

}  // namespace
