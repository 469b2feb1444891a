// The window's handlers reach the session's verbs: Return sends the field,
// a cancelled file choice sends nothing, and nothing but the key's making
// runs while the key is made.

#include <gtest/gtest.h>

#include "fakeform.h"

TEST(TextToSend, OnlyReturnSendsAndTheFieldEmptiesOnceItWent) {
    PresenterHarness h;
    h.Listen();
    FakeConnection& peer = h.fakes.server->Incoming("peer.example");
    h.form.fields[TFormField::TextToSend] = "typing";
    const std::string handshake = peer.sent;
    h.presenter->txtTextToSendKeyPress('a');
    EXPECT_EQ(h.form.fields[TFormField::TextToSend], "typing");
    EXPECT_EQ(peer.sent, handshake);

    h.presenter->txtTextToSendKeyPress('\r');
    EXPECT_EQ(h.form.fields[TFormField::TextToSend], "");
    EXPECT_GT(peer.sent.size(), handshake.size());
}

TEST(SendFile, ACancelledChoiceSendsNothingAndGivesTheFieldTheFocus) {
    PresenterHarness h;
    h.Listen();
    h.form.fileToSend = "";
    const std::size_t lines = h.form.log.size();
    h.presenter->btnSendFileClick();
    EXPECT_EQ(h.form.focusRequests, 1);
    EXPECT_EQ(h.form.log.size(), lines);
    EXPECT_TRUE(h.form.errors.empty());
}

TEST(SendFile, TheChosenFileIsOffered) {
    PresenterHarness h;
    h.Listen();
    h.fakes.files->files["/home/a/notes.txt"] = "some notes";
    h.form.fileToSend = "/home/a/notes.txt";
    h.presenter->btnSendFileClick();
    EXPECT_TRUE(h.State().isOffering);
}

TEST(WhileTheKeyIsMade, ButtonsDoNothingAndTheWindowStaysOpen) {
    PresenterHarness h;
    h.form.fields[TFormField::RemoteHost] = "peer.example";
    h.presenter->btnListenClick();
    ASSERT_EQ(h.State().phase, TPhase::GeneratingKey);
    h.presenter->btnListenClick();
    h.presenter->btnConnectClick();
    h.presenter->btnDisconnectClick();
    EXPECT_FALSE(h.presenter->FormClose());
    EXPECT_EQ(h.settings->writes, 0);
    EXPECT_EQ(h.fakes.client->activations, 0);
    EXPECT_EQ(h.fakes.worker->pending.size(), 1u);
    h.fakes.worker->RunAll();
    EXPECT_EQ(h.State().phase, TPhase::Listening);
    EXPECT_TRUE(h.presenter->FormClose());
    EXPECT_EQ(h.settings->writes, 1);
}
