#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "base/EmbeddedResources.h"

namespace {

std::uint32_t bigEndian(std::string_view bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

struct Icon {
    const char* name;
    std::uint32_t size;
};

class WindowIconsTest : public testing::TestWithParam<Icon> {};

// The window loads these by name; a missing file or one rendered at the wrong size shows as a blurred
// or absent icon only on the desktop, so check them here.
TEST_P(WindowIconsTest, IsAnEmbeddedSquarePngOfItsSize) {
    const Icon& icon = GetParam();
    const auto bytes = rszorvik::base::embeddedResource(icon.name);
    ASSERT_TRUE(bytes.has_value()) << icon.name;
    ASSERT_GE(bytes->size(), 33u);
    EXPECT_EQ(bytes->substr(0, 8), std::string_view("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(bytes->substr(12, 4), "IHDR");
    EXPECT_EQ(bigEndian(*bytes, 16), icon.size);
    EXPECT_EQ(bigEndian(*bytes, 20), icon.size);
    EXPECT_EQ((*bytes)[25], 6) << "RGBA, so the corners stay transparent";
}

INSTANTIATE_TEST_SUITE_P(Sizes, WindowIconsTest,
                         testing::Values(Icon{"zorvik16.png", 16}, Icon{"zorvik20.png", 20},
                                         Icon{"zorvik24.png", 24}, Icon{"zorvik32.png", 32}));

}  // namespace
