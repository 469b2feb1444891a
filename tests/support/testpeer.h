#pragma once
// A listening session on fakes for a front end under test to call: the test
// joins the front end's client socket to it, and the key exchange runs for
// real, so what follows is the conversation's own bytes.

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "rsa/privatekey.h"
#include "session/framing.h"
#include "session/inspection.h"
#include "session/session.h"
#include "support/fakes.h"
#include "support/sealing.h"

class TestPeer : public ISessionView {
public:
    TestPeer() : session_(*this, fakes_.Make([](int32_t) { return std::make_unique<TPrivateKey>(64); })) {
        session_.Listen("1024", "1801");
        fakes_.worker->RunAll();
    }

    // The caller's connect completes here; bytes and RSA work go both ways
    // until the key exchange is over. Then nothing sent so far is left.
    void Join(FakeClientSocket& caller, FakeWorker& callerWorker) {
        caller_ = &caller;
        callerWorker_ = &callerWorker;
        end_ = &fakes_.server->Incoming("client.example");
        caller.CompleteConnect("localhost");
        Carry();
        caller.connection.sent.clear();
    }

    // Carries bytes both ways, and RSA work, until nothing moves.
    void Carry() {
        for (bool moved = true; moved;) {
            moved = false;
            if (!end_->sent.empty()) {
                caller_->Receive(std::exchange(end_->sent, {}));
                moved = true;
            }
            if (!caller_->connection.sent.empty()) {
                fakes_.server->Receive(*end_, std::exchange(caller_->connection.sent, {}));
                moved = true;
            }
            moved = fakes_.worker->RunNext() || moved;
            moved = callerWorker_->RunNext() || moved;
        }
    }

    // A protocol text from this peer, framed and sealed by hand as the next frame.
    void SendText(const std::string& plaintext) {
        sent_ = NextSequence(sent_ == 0 ? TSessionInspection(session_).sendSequence() : sent_);
        caller_->Receive(MakeFrame(sent_, SealUnder(sessionKey(), plaintext)));
    }

    // What the caller sent since the key exchange, each frame opened.
    std::vector<std::string> Heard() const {
        std::vector<std::string> texts;
        TFrameReader reader;
        reader.Append(caller_->connection.sent);
        while (const std::optional<std::string> frame = reader.Next())
            texts.push_back(OpenUnder(sessionKey(), SplitFrame(*frame).payload));
        return texts;
    }

    std::string sessionKey() const { return TSessionInspection(session_).sessionKey(); }

    void LineLogged(const std::string& line) override { log.push_back(line); }
    void ShowWarning(const std::string&) override {}
    void ShowError(const std::string& text) override { log.push_back("error:" + text); }
    void StateChanged(const TSessionState&) override {}
    void OfferArrived(const std::string&, const std::string&) override { session_.AnswerOffer(TSaveTarget{}); }
    void TransferProgress(int, int64_t, int64_t) override {}

    std::vector<std::string> log;

private:
    FakeEnvironment fakes_;
    TChatSession session_;
    FakeClientSocket* caller_ = nullptr;
    FakeWorker* callerWorker_ = nullptr;
    FakeConnection* end_ = nullptr;
    int32_t sent_ = 0;
};
