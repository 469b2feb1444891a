// The desktop extras: the companion tool and its error box, the read-me page,
// and the immediate power-off, against a recording desktop.

#include <gtest/gtest.h>

#include "fakeform.h"

namespace {

const std::string kDownloadText = std::string(" - download from ") + kFakeHomepage + "/releases ";

std::string LaunchErrorText(int result, const std::string& path) {
    return "Error " + std::to_string(result) + " running " + path + "\r\n" + kDownloadText + "\r\n" +
           " and configure path in quellmere.conf";
}

}  // namespace

TEST(DesktopPages, HangOffTheHomepage) {
    EXPECT_EQ(ReadMePageAddress("https://h.example/p"), "https://h.example/p#readme");
    EXPECT_EQ(DownloadPageAddress("https://h.example/p"), "https://h.example/p/releases");
}

TEST(LaunchVantrel, AFailureShowsTheErrorBoxWithItsThreeLinesAndNothingElse) {
    PresenterHarness h;
    h.desktop->startResult = 2;
    const std::size_t journalBefore = h.form.journal.size();
    const int fixesBefore = h.form.fixControlsCalls;

    h.presenter->sbLaunchVantrelClick();

    EXPECT_EQ(h.desktop->started, std::vector<std::string>{"vantrel.exe"});
    ASSERT_EQ(h.form.errorBoxes.size(), 1u);
    EXPECT_EQ(h.form.errorBoxes[0].first, "Error");
    EXPECT_EQ(h.form.errorBoxes[0].second,
              "Error 2 running vantrel.exe\r\n - download from https://quellmere.example/home/releases \r\n"
              " and configure path in quellmere.conf");
    EXPECT_EQ(h.form.journal.size(), journalBefore + 1);
    EXPECT_EQ(h.form.fixControlsCalls, fixesBefore);
    EXPECT_TRUE(h.form.errors.empty());
    EXPECT_FALSE(h.State().isActive);
}

TEST(LaunchVantrel, StartsTheConfiguredPathAndNamesItInTheError) {
    PresenterHarness h("[main]\nvantrelPath=/opt/tools/vantrel\n");
    h.desktop->startResult = 31;
    h.presenter->sbLaunchVantrelClick();
    EXPECT_EQ(h.desktop->started, std::vector<std::string>{"/opt/tools/vantrel"});
    ASSERT_EQ(h.form.errorBoxes.size(), 1u);
    EXPECT_EQ(h.form.errorBoxes[0].second, LaunchErrorText(31, "/opt/tools/vantrel"));
}

TEST(LaunchVantrel, OnlyResultsBelowThirtyTwoAreFailures) {
    const struct {
        int result;
        bool fails;
    } cases[] = {{0, true}, {3, true}, {5, true}, {31, true}, {32, false}, {33, false}, {42, false}};
    for (const auto& c : cases) {
        PresenterHarness h;
        h.desktop->startResult = c.result;
        h.presenter->sbLaunchVantrelClick();
        EXPECT_EQ(h.desktop->started.size(), 1u) << c.result;
        if (c.fails) {
            ASSERT_EQ(h.form.errorBoxes.size(), 1u) << c.result;
            EXPECT_EQ(h.form.errorBoxes[0].second, LaunchErrorText(c.result, "vantrel.exe"));
        } else {
            EXPECT_TRUE(h.form.errorBoxes.empty()) << c.result;
        }
        EXPECT_TRUE(h.form.errors.empty()) << c.result;
    }
}

TEST(VisitWebSite, OpensTheReadMePageAndShowsNothing) {
    PresenterHarness h;
    const std::size_t journalBefore = h.form.journal.size();
    h.presenter->sbVisitWebSiteClick();
    EXPECT_EQ(h.desktop->opened, std::vector<std::string>{"https://quellmere.example/home#readme"});
    EXPECT_TRUE(h.desktop->started.empty());
    EXPECT_EQ(h.form.journal.size(), journalBefore);
}

TEST(WindowsExit, PassesTheFlagsAndReturnsTheSystemsAnswer) {
    PresenterHarness h;
    EXPECT_TRUE(h.presenter->WindowsExit(12));
    h.desktop->exitAccepted = false;
    EXPECT_FALSE(h.presenter->WindowsExit(2));
    EXPECT_EQ(h.desktop->exitRequests, (std::vector<uint32_t>{12, 2}));
}

TEST(WindowsExit, TheShutdownButtonPowersOffByForceAtOnce) {
    EXPECT_EQ(kExitPowerOff | kExitForce, 12u);
    PresenterHarness h;
    h.presenter->SpeedButton20Click();
    EXPECT_EQ(h.desktop->exitRequests, std::vector<uint32_t>{12});
}

TEST(WindowsExit, ClosesNeitherTheConnectionNorTheTraceFileFirst) {
    PresenterHarness h("[main]\ndebug=true\n");
    h.presenter->btnStartLoggingClick();
    h.Listen();
    ASSERT_TRUE(h.State().isActive);
    const std::size_t journalBefore = h.form.journal.size();

    h.presenter->SpeedButton20Click();

    EXPECT_EQ(h.desktop->exitRequests, std::vector<uint32_t>{12});
    EXPECT_TRUE(h.State().isActive);
    EXPECT_TRUE(h.State().isLogging);
    EXPECT_EQ(h.fakes.files->openFiles, 1);
    EXPECT_EQ(h.form.journal.size(), journalBefore);
}

TEST(WindowsExit, ARefusalHasNoVisibleEffect) {
    PresenterHarness h;
    h.desktop->exitAccepted = false;
    const std::size_t journalBefore = h.form.journal.size();
    const int fixesBefore = h.form.fixControlsCalls;
    h.presenter->SpeedButton20Click();
    EXPECT_EQ(h.desktop->exitRequests, std::vector<uint32_t>{12});
    EXPECT_EQ(h.form.journal.size(), journalBefore);
    EXPECT_EQ(h.form.fixControlsCalls, fixesBefore);
    EXPECT_TRUE(h.form.errorBoxes.empty());
}

TEST(NullDesktop, AWindowWithoutADesktopFailsToLaunchAndIsRefusedShutdown) {
    PresenterHarness h(std::string(), false);
    h.presenter->sbLaunchVantrelClick();
    h.presenter->sbVisitWebSiteClick();
    EXPECT_FALSE(h.presenter->WindowsExit(12));

    ASSERT_EQ(h.form.errorBoxes.size(), 1u);
    EXPECT_EQ(h.form.errorBoxes[0].second, LaunchErrorText(0, "vantrel.exe"));
    EXPECT_TRUE(h.form.errors.empty());
}
