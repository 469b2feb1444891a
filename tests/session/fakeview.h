#pragma once
// A view that records what the session tells the person, and answers its
// offers as the test says: at once, or when the test lets it.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "session/sessionview.h"

class FakeView : public ISessionView {
public:
    void LineLogged(const std::string& line) override {
        NoteStack();
        log.push_back(line);
        journal.push_back("log:" + line);
    }
    void ShowWarning(const std::string& text) override {
        warnings.push_back(text);
        journal.push_back("warning:" + text);
    }
    void ShowError(const std::string& text) override {
        errors.push_back(text);
        journal.push_back("error:" + text);
    }
    void StateChanged(const TSessionState& state) override {
        lastState = state;
        ++stateChanges;
        busy = false;
    }
    void OfferArrived(const std::string& question, const std::string& offeredName) override {
        NoteStack();
        questions.push_back(question);
        pendingName = offeredName;
        if (!deferAnswers) AnswerPendingOffer();
    }
    void TransferProgress(int percent, int64_t done, int64_t total) override {
        progress.push_back(percent);
        status = {done, total};
    }
    void ConnectionEnded(TConnectionEnd end) override { ends.push_back(end); }
    void AttentionWanted() override {
        if (!applicationActive) ++flashes;
    }
    void FocusWanted(TFocusRequest request) override {
        if (request == TFocusRequest::Always || !antiKeyloggingActive) ++focusRequests;
    }
    void BusyChanged(bool isBusy) override {
        busy = isBusy;
        cursor.push_back(isBusy);
    }
    void TextEntryEnabled(bool enabled) override { textToSendEnabled = enabled; }

    // The person answers the offer put to them: yes and where, or no.
    void AnswerPendingOffer() {
        if (!pendingName) return;
        const std::string name = *std::exchange(pendingName, std::nullopt);
        TSaveTarget target;
        if (answerYes) {
            offeredNames.push_back(name);
            target = {saveAs, saveMode};
        }
        if (answer) answer(target);
    }

    bool HasLine(const std::string& line) const { return std::find(log.begin(), log.end(), line) != log.end(); }

    // How far apart on the stack the session has called the log and the
    // questions: handlers that run inside one another grow it without bound.
    std::uintptr_t StackSpread() const { return deepestStack == 0 ? 0 : shallowestStack - deepestStack; }
    void NoteStack() {
        const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
        shallowestStack = std::max(shallowestStack, here);
        deepestStack = deepestStack == 0 ? here : std::min(deepestStack, here);
    }

    std::vector<std::string> log;
    std::vector<std::string> journal;
    std::vector<std::string> warnings;
    std::vector<std::string> errors;
    std::vector<bool> cursor;
    std::vector<TConnectionEnd> ends;
    TSessionState lastState;
    int stateChanges = 0;
    // The window's text field: focus goes to it unless its anti-keylogging is on.
    bool antiKeyloggingActive = false;
    int focusRequests = 0;
    bool busy = false;
    bool applicationActive = true;
    int flashes = 0;
    // File transfer: the answers the person gives, and what they saw.
    bool answerYes = true;
    std::string saveAs;
    TSaveMode saveMode = TSaveMode::Replace;
    // When set, offers wait for AnswerPendingOffer.
    bool deferAnswers = false;
    std::optional<std::string> pendingName;
    // Hands the answer to the session.
    std::function<void(const TSaveTarget&)> answer;
    std::vector<std::string> questions;
    std::vector<std::string> offeredNames;
    std::vector<int> progress;
    std::pair<int64_t, int64_t> status;
    bool textToSendEnabled = true;
    std::uintptr_t shallowestStack = 0;
    std::uintptr_t deepestStack = 0;
};
