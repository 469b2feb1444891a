// What reaches the terminal from the peer, and how standard input becomes lines.

#include <gtest/gtest.h>

#include "cli/terminaltext.h"

TEST(EscapeForTerminal, C0ControlsButTabBecomeHex) {
    EXPECT_EQ(EscapeForTerminal(std::string("a\0b", 3)), "a\\x00b");
    EXPECT_EQ(EscapeForTerminal("\x1b[2J\x1b]0;owned\x07"), "\\x1b[2J\\x1b]0;owned\\x07");
    EXPECT_EQ(EscapeForTerminal("one\ntwo\rthree"), "one\\x0atwo\\x0dthree");
    EXPECT_EQ(EscapeForTerminal("\x01\x08\x0b\x0c\x1f"), "\\x01\\x08\\x0b\\x0c\\x1f");
    EXPECT_EQ(EscapeForTerminal("col1\tcol2"), "col1\tcol2");
}

TEST(EscapeForTerminal, DeleteBecomesHex) { EXPECT_EQ(EscapeForTerminal("x\x7fy"), "x\\x7fy"); }

TEST(EscapeForTerminal, C1CodePointsBecomeTheirCode) {
    EXPECT_EQ(EscapeForTerminal("\xc2\x80"), "\\x80");
    EXPECT_EQ(EscapeForTerminal("a\xc2\x9b"
                                "31mb"),
              "a\\x9b31mb");
    EXPECT_EQ(EscapeForTerminal("\xc2\x9f\xc2\x90"), "\\x9f\\x90");
}

TEST(EscapeForTerminal, PrintableAndOtherUtf8PassByteForByte) {
    EXPECT_EQ(EscapeForTerminal(" !~"), " !~");
    // U+00A0 and U+00E9 share the lead byte C2/C3 with no control.
    EXPECT_EQ(EscapeForTerminal("\xc2\xa0\xc3\xa9t\xc3\xa9"), "\xc2\xa0\xc3\xa9t\xc3\xa9");
    EXPECT_EQ(EscapeForTerminal("\xe2\x82\xac \xf0\x9f\x94\x91"), "\xe2\x82\xac \xf0\x9f\x94\x91");
    // A lead byte at the end, or before a non-C1 byte, is not an escape.
    EXPECT_EQ(EscapeForTerminal("end\xc2"), "end\xc2");
    EXPECT_EQ(EscapeForTerminal("\xc2\x7f"), "\xc2\\x7f");
    EXPECT_EQ(EscapeForTerminal(""), "");
}

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
