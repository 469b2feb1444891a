// The names received files get: what a peer offers made safe to create, and
// the numbered names beside one that is taken.

#include <gtest/gtest.h>

#include <string>

#include "session/displaytext.h"
#include "session/filenames.h"

TEST(SafeFileName, AnOrdinaryNameStaysAsItIs) {
    for (const char* name : {"report.pdf", "caf\xc3\xa9 menu.txt", ".profile", "a..b", "-rf", "x"})
        EXPECT_EQ(SafeFileName(name), name);
}

TEST(SafeFileName, KeepsOnlyTheLastComponentOfAnyPath) {
    EXPECT_EQ(SafeFileName("../../x"), "x");
    EXPECT_EQ(SafeFileName("a\\b"), "b");
    EXPECT_EQ(SafeFileName("/etc/passwd"), "passwd");
}

TEST(SafeFileName, ControlsLineSeparatorsAndBidirectionalControlsBecomeUnderscores) {
    EXPECT_EQ(SafeFileName(std::string("a\0b", 3)), "a_b");
    EXPECT_EQ(SafeFileName("x\x1b[31my\x7f"), "x_[31my_");
    EXPECT_EQ(SafeFileName("two\r\nlines"), "two__lines");
    EXPECT_EQ(SafeFileName("c1\xc2\x9b" "x"), "c1_x");
    EXPECT_EQ(SafeFileName("invoice\xe2\x80\xae" "fdp.exe"), "invoice_fdp.exe");
    EXPECT_EQ(SafeFileName("sep\xe2\x80\xa8" "arated"), "sep_arated");
    // Tab is no control a name may hold either way: it passes, as VisibleControls passes it.
    EXPECT_EQ(SafeFileName("a\tb"), "a\tb");
}

TEST(SafeFileName, NothingButDotsAndBlanksIsUnnamed) {
    for (const char* name : {"", ".", "..", "...", " ", " . ", "dir/.", "dir/..", "/"})
        EXPECT_EQ(SafeFileName(name), "unnamed") << "[" << name << "]";
}

TEST(SafeFileName, ALongNameIsCutToFitKeepingItsExtension) {
    const std::string cut = SafeFileName(std::string(300, 'a') + ".pdf");
    EXPECT_EQ(cut, std::string(kMaxFileNameBytes - 4, 'a') + ".pdf");
    // Whole characters only: a two-byte character is never halved.
    std::string accented;
    for (int i = 0; i < 200; ++i) accented += "\xc3\xa9";
    const std::string shortened = SafeFileName(accented);
    EXPECT_LE(shortened.size(), kMaxFileNameBytes);
    EXPECT_EQ(shortened.size() % 2, 0u);
    EXPECT_EQ(VisibleControls(shortened), shortened);
    // An "extension" as long as a name is no extension.
    EXPECT_EQ(SafeFileName("a." + std::string(300, 'b')).size(), kMaxFileNameBytes);
}

TEST(NumberedFileName, TheNumberGoesBeforeTheLastExtension) {
    EXPECT_EQ(NumberedFileName("report.pdf", 1), "report (1).pdf");
    EXPECT_EQ(NumberedFileName("report.pdf", 12), "report (12).pdf");
    EXPECT_EQ(NumberedFileName("archive.tar.gz", 2), "archive.tar (2).gz");
    EXPECT_EQ(NumberedFileName("name.", 1), "name (1).");
    EXPECT_EQ(NumberedFileName("with space.txt", 3), "with space (3).txt");
}

TEST(NumberedFileName, NoExtensionOrALeadingDotOnlyGetsTheNumberAtTheEnd) {
    EXPECT_EQ(NumberedFileName("README", 1), "README (1)");
    EXPECT_EQ(NumberedFileName(".profile", 1), ".profile (1)");
    EXPECT_EQ(NumberedFileName(".config.old", 2), ".config (2).old");
}

TEST(NumberedFileName, ANameAtTheLimitGivesWayForItsNumber) {
    const std::string longest = std::string(kMaxFileNameBytes - 4, 'n') + ".txt";
    EXPECT_EQ(NumberedFileName(longest, 7), std::string(kMaxFileNameBytes - 8, 'n') + " (7).txt");
    EXPECT_EQ(NameWithSuffix(longest, ".part"), std::string(kMaxFileNameBytes - 5, 'n') + ".part");
    EXPECT_EQ(NameWithSuffix("report.pdf", ".part"), "report.pdf.part");
}
