#include <gtest/gtest.h>

#include "platform/linux/CursorCompositor.h"

#include <array>
#include <cstdint>
#include <vector>

namespace {

using Platform::Linux::CursorCompositor;

// A 6×4 picture whose rows have 8 spare bytes after them, which must stay untouched.
struct Picture {
    static constexpr int width = 6;
    static constexpr int height = 4;
    static constexpr std::size_t bytesPerRow = width * 4 + 8;
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(bytesPerRow * height + 16, 0xaa);

    Picture(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                std::uint8_t* pixel = at(x, y);
                pixel[0] = blue;
                pixel[1] = green;
                pixel[2] = red;
                pixel[3] = 0;
            }
        }
    }
    std::uint8_t* at(int x, int y) { return bytes.data() + static_cast<std::size_t>(y) * bytesPerRow + x * 4; }
    std::array<int, 3> bgr(int x, int y) { return {at(x, y)[0], at(x, y)[1], at(x, y)[2]}; }
    bool composite(const std::vector<unsigned long>& cursor, int cursorWidth, int left, int top) {
        return CursorCompositor::composite(bytes.data(), width, height, bytesPerRow,
                                           {cursor.data(), cursorWidth, static_cast<int>(cursor.size()) / cursorWidth},
                                           left, top);
    }
    void expectSpareBytesUntouched() {
        for (int y = 0; y < height; ++y) {
            for (std::size_t i = width * 4; i < bytesPerRow; ++i) {
                EXPECT_EQ(bytes[static_cast<std::size_t>(y) * bytesPerRow + i], 0xaa) << y << " " << i;
            }
        }
        for (std::size_t i = bytesPerRow * height; i < bytes.size(); ++i) EXPECT_EQ(bytes[i], 0xaa) << i;
    }
};

TEST(CursorCompositor, OpaquePixelsReplaceAndTransparentOnesKeep) {
    Picture picture(10, 20, 30);
    const std::vector<unsigned long> cursor{0xff112233, 0x00000000, 0x00000000, 0xff445566};
    EXPECT_TRUE(picture.composite(cursor, 2, 1, 1));
    EXPECT_EQ(picture.bgr(1, 1), (std::array{0x33, 0x22, 0x11}));
    EXPECT_EQ(picture.bgr(2, 1), (std::array{10, 20, 30}));
    EXPECT_EQ(picture.bgr(1, 2), (std::array{10, 20, 30}));
    EXPECT_EQ(picture.bgr(2, 2), (std::array{0x66, 0x55, 0x44}));
    EXPECT_EQ(picture.bgr(0, 0), (std::array{10, 20, 30}));
    EXPECT_EQ(picture.at(1, 1)[3], 0);
    picture.expectSpareBytesUntouched();
}

TEST(CursorCompositor, TranslucentPixelsBlendPremultiplied) {
    Picture picture(200, 100, 0);
    // Half-transparent black shadow and half-transparent white (premultiplied: 0x80 per channel).
    const std::vector<unsigned long> cursor{0x80000000, 0x80808080};
    picture.composite(cursor, 2, 0, 0);
    // 200 * 127 / 255 = 99.6 → 100; 100 * 127 / 255 = 49.8 → 50.
    EXPECT_EQ(picture.bgr(0, 0), (std::array{100, 50, 0}));
    EXPECT_EQ(picture.bgr(1, 0), (std::array{128 + 100, 128 + 50, 128}));
}

TEST(CursorCompositor, OnlyTheLow32BitsOfEachCursorWordCount) {
    Picture picture(0, 0, 0);
    const std::vector<unsigned long> cursor{static_cast<unsigned long>(0xdeadbeef00000000ull | 0xff0000ffull)};
    picture.composite(cursor, 1, 5, 3);
    EXPECT_EQ(picture.bgr(5, 3), (std::array{0xff, 0, 0}));
}

TEST(CursorCompositor, ClipsAtEveryEdge) {
    const std::vector<unsigned long> cursor(9, 0xff0000ff); // 3×3 blue
    struct Case {
        int left, top, paintedCount;
    };
    for (const Case& c : {Case{-2, -2, 1}, Case{5, 3, 1}, Case{-1, 1, 6}, Case{4, -1, 4}, Case{2, 2, 6}}) {
        Picture picture(0, 0, 0);
        EXPECT_TRUE(picture.composite(cursor, 3, c.left, c.top));
        int painted = 0;
        for (int y = 0; y < Picture::height; ++y) {
            for (int x = 0; x < Picture::width; ++x) {
                const bool inside = x >= c.left && x < c.left + 3 && y >= c.top && y < c.top + 3;
                EXPECT_EQ(picture.bgr(x, y)[0], inside ? 0xff : 0) << x << "," << y;
                painted += inside;
            }
        }
        EXPECT_EQ(painted, c.paintedCount) << c.left << "," << c.top;
        picture.expectSpareBytesUntouched();
    }
}

TEST(CursorCompositor, ACursorBesideThePictureTouchesNothing) {
    const std::vector<unsigned long> cursor(4, 0xffffffff);
    for (const auto& [left, top] : {std::pair{-2, 0}, std::pair{6, 0}, std::pair{0, -2}, std::pair{0, 4}}) {
        Picture picture(1, 2, 3);
        EXPECT_FALSE(picture.composite(cursor, 2, left, top));
        for (int y = 0; y < Picture::height; ++y) {
            for (int x = 0; x < Picture::width; ++x) EXPECT_EQ(picture.bgr(x, y), (std::array{1, 2, 3}));
        }
        picture.expectSpareBytesUntouched();
    }
}

} // namespace
