// Where accepted files land: numbered free names beside the files already
// in the folder, or the offered name itself when replacing was asked for.

#include <gtest/gtest.h>

#include "cli/savefolder.h"
#include "support/fakes.h"

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

TEST(SaveFolder, TheOfferedNameWhileItIsFree) {
    FakeFileSystem files;
    files.files["/in/other.pdf"] = "x";
    TSaveFolder folder("/in", false, files);
    EXPECT_EQ(folder.PathFor("report.pdf"), "/in/report.pdf");
    // Only the folder counts: the same name elsewhere is no reason to number it.
    files.files["/elsewhere/report.pdf"] = "x";
    EXPECT_EQ(folder.PathFor("report.pdf"), "/in/report.pdf");
}

TEST(SaveFolder, TakenNamesGetTheFirstFreeNumber) {
    FakeFileSystem files;
    files.files["/in/report.pdf"] = "old";
    TSaveFolder folder("/in", false, files);
    EXPECT_EQ(folder.PathFor("report.pdf"), "/in/report (1).pdf");
    files.files["/in/report (1).pdf"] = "older";
    files.files["/in/report (3).pdf"] = "oldest";
    EXPECT_EQ(folder.PathFor("report.pdf"), "/in/report (2).pdf");
    files.files["/in/report (2).pdf"] = "x";
    EXPECT_EQ(folder.PathFor("report.pdf"), "/in/report (4).pdf");
    files.files["/in/.profile"] = "x";
    EXPECT_EQ(folder.PathFor(".profile"), "/in/.profile (1)");
    // Looking changes nothing on the disk.
    EXPECT_EQ(files.files.size(), 5u);
}

TEST(SaveFolder, OverwriteKeepsTheOfferedName) {
    FakeFileSystem files;
    files.files["/in/report.pdf"] = "old";
    TSaveFolder folder("/in", true, files);
    EXPECT_EQ(folder.PathFor("report.pdf"), "/in/report.pdf");
    EXPECT_EQ(folder.PathFor("new.txt"), "/in/new.txt");
}
