// What the peer sent, made inert for the places that show it: controls
// visible, long lines cut, whole characters only.

#include <gtest/gtest.h>

#include <string>

#include "session/displaytext.h"
#include "session/keyexchange.h"

TEST(VisibleControls, C0ControlsButTabBecomeHex) {
    EXPECT_EQ(VisibleControls(std::string("a\0b", 3)), "a\\x00b");
    EXPECT_EQ(VisibleControls("\x1b[2J\x1b]0;owned\x07"), "\\x1b[2J\\x1b]0;owned\\x07");
    EXPECT_EQ(VisibleControls("one\ntwo\rthree"), "one\\x0atwo\\x0dthree");
    EXPECT_EQ(VisibleControls("\x01\x08\x0b\x0c\x1f"), "\\x01\\x08\\x0b\\x0c\\x1f");
    EXPECT_EQ(VisibleControls("col1\tcol2"), "col1\tcol2");
}

TEST(VisibleControls, DeleteBecomesHex) { EXPECT_EQ(VisibleControls("x\x7fy"), "x\\x7fy"); }

TEST(VisibleControls, C1CodePointsBecomeTheirCode) {
    EXPECT_EQ(VisibleControls("\xc2\x80"), "\\x80");
    EXPECT_EQ(VisibleControls("a\xc2\x9b"
                                "31mb"),
              "a\\x9b31mb");
    EXPECT_EQ(VisibleControls("\xc2\x9f\xc2\x90"), "\\x9f\\x90");
}

TEST(VisibleControls, PrintableAndOtherUtf8PassByteForByte) {
    EXPECT_EQ(VisibleControls(" !~"), " !~");
    // U+00A0 and U+00E9 share the lead byte C2/C3 with no control.
    EXPECT_EQ(VisibleControls("\xc2\xa0\xc3\xa9t\xc3\xa9"), "\xc2\xa0\xc3\xa9t\xc3\xa9");
    EXPECT_EQ(VisibleControls("\xe2\x82\xac \xf0\x9f\x94\x91"), "\xe2\x82\xac \xf0\x9f\x94\x91");
    // A lead byte at the end, or before a non-C1 byte, is not an escape.
    EXPECT_EQ(VisibleControls("end\xc2"), "end\xc2");
    EXPECT_EQ(VisibleControls("\xc2\x7f"), "\xc2\\x7f");
    EXPECT_EQ(VisibleControls(""), "");
}

TEST(VisibleControls, LineSeparatorsAndBidirectionalControlsBecomeTheirCodePoint) {
    EXPECT_EQ(VisibleControls("a\xe2\x80\xa8" "b\xe2\x80\xa9"), "a\\u2028b\\u2029");
    // "exe.pdf" shown backwards would read as a pdf.
    EXPECT_EQ(VisibleControls("report\xe2\x80\xae" "fdp.exe"), "report\\u202efdp.exe");
    for (const char* control : {"\xe2\x80\xaa", "\xe2\x80\xab", "\xe2\x80\xac", "\xe2\x80\xad", "\xe2\x81\xa6",
                                "\xe2\x81\xa7", "\xe2\x81\xa8", "\xe2\x81\xa9"})
        EXPECT_EQ(VisibleControls(control).substr(0, 4), "\\u20") << control;
    // Their neighbours are ordinary punctuation.
    EXPECT_EQ(VisibleControls("\xe2\x80\xa7\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa"),
              "\xe2\x80\xa7\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa");
}

TEST(ShownLine, AnOrdinaryLineIsShownByteForByte) {
    const std::string line = "PEER (11:01:04) : caf\xc3\xa9 \xe2\x82\xac\tand more";
    EXPECT_EQ(ShownLine(line), line);
    EXPECT_EQ(ShownLine(std::string(kMaxShownLineBytes, 'x')), std::string(kMaxShownLineBytes, 'x'));
}

TEST(ShownLine, ALongLineIsCutAtWholeCharactersWithItsLength) {
    EXPECT_EQ(ShownLine(std::string(kMaxShownLineBytes + 1, 'A')),
              std::string(kMaxShownLineBytes, 'A') + " \xe2\x80\xa6 (4097 bytes)");
    // Cuts fall between characters and escapes, never inside one.
    struct Case {
        std::string line;
        std::size_t maxBytes;
        std::string shown;
    };
    const Case cases[] = {
        {"ab\xc3\xa9" "cd", 3, "ab \xe2\x80\xa6 (6 bytes)"},
        {"ab\xc3\xa9" "cd", 4, "ab\xc3\xa9 \xe2\x80\xa6 (6 bytes)"},
        {"ab\x1b" "cd", 5, "ab \xe2\x80\xa6 (5 bytes)"},
        {"ab\x1b" "cd", 6, "ab\\x1b \xe2\x80\xa6 (5 bytes)"},
        {"\xf0\x9f\x94\x91\xf0\x9f\x94\x91", 7, "\xf0\x9f\x94\x91 \xe2\x80\xa6 (8 bytes)"},
    };
    for (const Case& c : cases) EXPECT_EQ(ShownLine(c.line, c.maxBytes), c.shown) << c.line;
}

TEST(ShownLine, AForgedLineStaysOnItsOwnLine) {
    const std::string forged = "hi\r\nYOU  (12:00:05) : I will pay now\r" + std::string(kHandshakeCompleteText);
    const std::string shown = ShownLine("PEER (11:01:04) : " + forged);
    EXPECT_EQ(shown, "PEER (11:01:04) : hi\\x0d\\x0aYOU  (12:00:05) : I will pay now\\x0d" + std::string(kHandshakeCompleteText));
}
