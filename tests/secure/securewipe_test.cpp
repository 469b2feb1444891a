#include "secure/securewipe.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

TEST(SecureWipe, FillsExactlyTheGivenBytes) {
    std::array<unsigned char, 48> buffer;
    buffer.fill(0x11);
    SecureWipe(buffer.data() + 8, 24, 0xA5);
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        const unsigned char expected = (i >= 8 && i < 32) ? 0xA5 : 0x11;
        ASSERT_EQ(buffer[i], expected) << "byte " << i;
    }
    SecureWipe(buffer.data(), 16);
    for (std::size_t i = 0; i < 16; ++i) ASSERT_EQ(buffer[i], 0) << "byte " << i;
    EXPECT_EQ(buffer[16], 0xA5);
}

TEST(SecureWipe, EmptyRangeTouchesNothingAndMayBeNull) {
    unsigned char byte = 0x5A;
    SecureWipe(&byte, 0, 0xFF);
    EXPECT_EQ(byte, 0x5A);
    // An empty vector's data() is null; the sanitizers would object to
    // handing that to memset.
    SecureWipe(nullptr, 0);
    SecureWipe(nullptr, 0, 0xFF);
}

TEST(SecureWipe, TextOnTheHeapIsZeroedWhereItLies) {
    std::string text;
    text.reserve(200);
    text.assign("correct horse battery staple, and a few more words");
    const std::size_t length = text.size();
    // The storage stays with the text, so the old characters stay readable
    // through this pointer.
    const char* storage = text.data();
    SecureWipe(text);
    EXPECT_TRUE(text.empty());
    ASSERT_EQ(text.data(), storage);
    EXPECT_GE(text.capacity(), 200u);
    for (std::size_t i = 0; i < length; ++i) ASSERT_EQ(storage[i], '\0') << "character " << i;
}

TEST(SecureWipe, ShortTextInsideTheObjectIsZeroedToo) {
    std::string text = "pin 4711";
    const std::size_t length = text.size();
    const char* storage = text.data();
    SecureWipe(text);
    EXPECT_TRUE(text.empty());
    ASSERT_EQ(text.data(), storage);
    for (std::size_t i = 0; i < length; ++i) ASSERT_EQ(storage[i], '\0') << "character " << i;
}

TEST(SecureWipe, EmptyTextStaysEmpty) {
    std::string text;
    SecureWipe(text);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(text.c_str()[0], '\0');
}
