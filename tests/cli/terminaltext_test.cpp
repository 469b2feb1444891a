// How standard input becomes lines.

#include <gtest/gtest.h>

#include "cli/terminaltext.h"

TEST(LineSplitter, LfAndCrLfEndLines) {
    TLineSplitter splitter;
    EXPECT_EQ(splitter.Feed("one\ntwo\r\nthree\n"), (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(splitter.Finish(), std::nullopt);
}

TEST(LineSplitter, OnlyTheCrBeforeTheLfIsDropped) {
    TLineSplitter splitter;
    EXPECT_EQ(splitter.Feed("a\rb\r\r\n\rc\n"), (std::vector<std::string>{"a\rb\r", "\rc"}));
    EXPECT_EQ(splitter.Feed("tail\r"), std::vector<std::string>{});
    EXPECT_EQ(splitter.Finish(), "tail\r");
}

TEST(LineSplitter, EmptyLinesAreLines) {
    TLineSplitter splitter;
    EXPECT_EQ(splitter.Feed("\n\r\n\nx\n"), (std::vector<std::string>{"", "", "", "x"}));
}

TEST(LineSplitter, ALastLineWithoutLfCountsAtTheEnd) {
    TLineSplitter splitter;
    EXPECT_EQ(splitter.Feed("first\nsec"), std::vector<std::string>{"first"});
    EXPECT_EQ(splitter.Feed("ond"), std::vector<std::string>{});
    EXPECT_EQ(splitter.Finish(), "second");
    // Once given, it is gone.
    EXPECT_EQ(splitter.Finish(), std::nullopt);
}

TEST(LineSplitter, LinesSpanChunksAndCrLfMaySplitBetweenThem) {
    TLineSplitter splitter;
    EXPECT_EQ(splitter.Feed("hel"), std::vector<std::string>{});
    EXPECT_EQ(splitter.Feed("lo\r"), std::vector<std::string>{});
    EXPECT_EQ(splitter.Feed("\nwor"), std::vector<std::string>{"hello"});
    EXPECT_EQ(splitter.Feed("ld\n"), std::vector<std::string>{"world"});
    EXPECT_EQ(splitter.Finish(), std::nullopt);
}

TEST(LineSplitter, BytesOtherThanLfPassUnchanged) {
    TLineSplitter splitter;
    const std::string line("\0\xff\x1b\t", 4);
    EXPECT_EQ(splitter.Feed(line + "\n"), std::vector<std::string>{line});
}
