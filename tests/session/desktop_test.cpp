// The desktop extras: the companion tool and its error box, the read-me page,
// and the immediate power-off, against a recording desktop.

#include <gtest/gtest.h>

#include "harness.h"

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
    Harness h;
    h.fakes.desktop->startResult = 2;
    const std::size_t journalBefore = h.view.journal.size();
    const int fixesBefore = h.view.fixControlsCalls;

    h.session->sbLaunchVantrelClick();

    EXPECT_EQ(h.fakes.desktop->started, std::vector<std::string>{"vantrel.exe"});
    ASSERT_EQ(h.view.errorBoxes.size(), 1u);
    EXPECT_EQ(h.view.errorBoxes[0].first, "Error");
    EXPECT_EQ(h.view.errorBoxes[0].second,
              "Error 2 running vantrel.exe\r\n - download from https://quellmere.example/home/releases \r\n"
              " and configure path in quellmere.conf");
    EXPECT_EQ(h.view.journal.size(), journalBefore + 1);
    EXPECT_EQ(h.view.fixControlsCalls, fixesBefore);
    EXPECT_TRUE(h.view.errors.empty());
    EXPECT_FALSE(h.session->isActive());
}

TEST(LaunchVantrel, StartsTheConfiguredPathAndNamesItInTheError) {
    Harness h("[main]\nvantrelPath=/opt/tools/vantrel\n");
    h.fakes.desktop->startResult = 31;
    h.session->sbLaunchVantrelClick();
    EXPECT_EQ(h.fakes.desktop->started, std::vector<std::string>{"/opt/tools/vantrel"});
    ASSERT_EQ(h.view.errorBoxes.size(), 1u);
    EXPECT_EQ(h.view.errorBoxes[0].second, LaunchErrorText(31, "/opt/tools/vantrel"));
}

TEST(LaunchVantrel, OnlyResultsBelowThirtyTwoAreFailures) {
    const struct {
        int result;
        bool fails;
    } cases[] = {{0, true}, {3, true}, {5, true}, {31, true}, {32, false}, {33, false}, {42, false}};
    for (const auto& c : cases) {
        Harness h;
        h.fakes.desktop->startResult = c.result;
        h.session->sbLaunchVantrelClick();
        EXPECT_EQ(h.fakes.desktop->started.size(), 1u) << c.result;
        if (c.fails) {
            ASSERT_EQ(h.view.errorBoxes.size(), 1u) << c.result;
            EXPECT_EQ(h.view.errorBoxes[0].second, LaunchErrorText(c.result, "vantrel.exe"));
        } else {
            EXPECT_TRUE(h.view.errorBoxes.empty()) << c.result;
        }
        EXPECT_TRUE(h.view.errors.empty()) << c.result;
    }
}

TEST(VisitWebSite, OpensTheReadMePageAndShowsNothing) {
    Harness h;
    const std::size_t journalBefore = h.view.journal.size();
    h.session->sbVisitWebSiteClick();
    EXPECT_EQ(h.fakes.desktop->opened, std::vector<std::string>{"https://quellmere.example/home#readme"});
    EXPECT_TRUE(h.fakes.desktop->started.empty());
    EXPECT_EQ(h.view.journal.size(), journalBefore);
}

TEST(WindowsExit, PassesTheFlagsAndReturnsTheSystemsAnswer) {
    Harness h;
    EXPECT_TRUE(h.session->WindowsExit(12));
    h.fakes.desktop->exitAccepted = false;
    EXPECT_FALSE(h.session->WindowsExit(2));
    EXPECT_EQ(h.fakes.desktop->exitRequests, (std::vector<uint32_t>{12, 2}));
}

TEST(WindowsExit, TheShutdownButtonPowersOffByForceAtOnce) {
    EXPECT_EQ(kExitPowerOff | kExitForce, 12u);
    Harness h;
    h.session->SpeedButton20Click();
    EXPECT_EQ(h.fakes.desktop->exitRequests, std::vector<uint32_t>{12});
}

TEST(WindowsExit, ClosesNeitherTheConnectionNorTheTraceFileFirst) {
    Harness h("[main]\ndebug=true\n");
    h.session->btnStartLoggingClick();
    h.Listen();
    ASSERT_TRUE(h.session->isActive());
    const std::size_t journalBefore = h.view.journal.size();

    h.session->SpeedButton20Click();

    EXPECT_EQ(h.fakes.desktop->exitRequests, std::vector<uint32_t>{12});
    EXPECT_TRUE(h.session->isActive());
    EXPECT_TRUE(h.session->isLogging());
    EXPECT_EQ(h.files->openFiles, 1);
    EXPECT_EQ(h.view.journal.size(), journalBefore);
}

TEST(WindowsExit, ARefusalHasNoVisibleEffect) {
    Harness h;
    h.fakes.desktop->exitAccepted = false;
    const std::size_t journalBefore = h.view.journal.size();
    const int fixesBefore = h.view.fixControlsCalls;
    h.session->SpeedButton20Click();
    EXPECT_EQ(h.fakes.desktop->exitRequests, std::vector<uint32_t>{12});
    EXPECT_EQ(h.view.journal.size(), journalBefore);
    EXPECT_EQ(h.view.fixControlsCalls, fixesBefore);
    EXPECT_TRUE(h.view.errorBoxes.empty());
}

TEST(NullDesktop, ASessionWithoutADesktopFailsToLaunchAndIsRefusedShutdown) {
    FakeView view;
    FakeEnvironment fakes;
    TSessionEnvironment environment = fakes.Make([](int32_t) { return std::make_unique<TPrivateKey>(kTestKeyBits); });
    environment.desktop.reset();
    TChatSession session(view, std::move(environment));
    session.FormCreate();

    session.sbLaunchVantrelClick();
    session.sbVisitWebSiteClick();
    EXPECT_FALSE(session.WindowsExit(12));

    ASSERT_EQ(view.errorBoxes.size(), 1u);
    EXPECT_EQ(view.errorBoxes[0].second, LaunchErrorText(0, "vantrel.exe"));
    EXPECT_TRUE(view.errors.empty());
}
