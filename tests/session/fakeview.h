#pragma once
// A view that records what the session asks of the person, and a payload
// handler that records what the receive path hands it.

#include <algorithm>
#include <cstdint>
#include <utility>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "session/payloadhandler.h"
#include "session/sessionview.h"

class FakeView : public ISessionView {
public:
    void AppendLog(const std::string& line) override {
        NoteStack();
        log.push_back(line);
        journal.push_back("log:" + line);
    }
    int LogLineCount() const override { return static_cast<int>(log.size()); }
    void ClearLog() override {
        log.clear();
        journal.push_back("clear");
    }
    void FixControls(const TControlStates& states) override {
        lastStates = states;
        ++fixControlsCalls;
        busy = false;
    }
    std::string FieldText(TSessionField field) const override {
        const auto found = fields.find(field);
        return found == fields.end() ? std::string() : found->second;
    }
    void SetFieldText(TSessionField field, const std::string& text) override { fields[field] = text; }
    bool AntiKeyloggingToggleDown() const override { return toggleDown; }
    void SetAntiKeyloggingToggleDown(bool down) override { toggleDown = down; }
    void ApplyAntiKeylogging(bool active, const std::string& toggleHint) override {
        antiKeyloggingActive = active;
        hint = toggleHint;
        ++applyCalls;
    }
    bool TextToSendAntiKeyloggingActive() const override { return antiKeyloggingActive; }
    void FocusTextToSend() override { ++focusRequests; }
    void ShowWarning(const std::string& text) override {
        warnings.push_back(text);
        journal.push_back("warning:" + text);
    }
    void ShowError(const std::string& text) override {
        errors.push_back(text);
        journal.push_back("error:" + text);
    }
    void ShowErrorBox(const std::string& caption, const std::string& text) override {
        errorBoxes.push_back({caption, text});
        journal.push_back("errorbox:" + caption + ":" + text);
    }
    void SetBusyCursor(bool isBusy) override {
        busy = isBusy;
        cursor.push_back(isBusy);
    }
    bool IsApplicationActive() const override { return applicationActive; }
    void FlashTaskBar() override { ++flashes; }
    bool AskYesNo(const std::string& question) override {
        NoteStack();
        questions.push_back(question);
        ++asking;
        deepestAsking = std::max(deepestAsking, asking);
        // What happens while the box is open: a modal box lets the event loop run.
        if (whileAsking) std::exchange(whileAsking, nullptr)();
        --asking;
        return answerYes;
    }
    std::string ChooseFileToSend() override { return fileToSend; }
    TSaveTarget ChooseSaveFile(const std::string& offeredName) override {
        offeredNames.push_back(offeredName);
        if (whileChoosing) std::exchange(whileChoosing, nullptr)();
        return {saveAs, saveMode};
    }
    void SetProgress(int percent) override { progress.push_back(percent); }
    void ShowTransferStatus(int64_t done, int64_t total) override { status = {done, total}; }
    void SetTextToSendEnabled(bool enabled) override { textToSendEnabled = enabled; }

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
    std::vector<std::pair<std::string, std::string>> errorBoxes;
    std::vector<bool> cursor;
    std::map<TSessionField, std::string> fields;
    TControlStates lastStates;
    int fixControlsCalls = 0;
    bool toggleDown = false;
    bool antiKeyloggingActive = false;
    std::string hint;
    int applyCalls = 0;
    int focusRequests = 0;
    bool busy = false;
    bool applicationActive = true;
    int flashes = 0;
    // File transfer: the answers the person gives, and what they saw.
    bool answerYes = true;
    std::string fileToSend;
    std::string saveAs;
    TSaveMode saveMode = TSaveMode::Replace;
    // Run once, while the next question or save dialog is open.
    std::function<void()> whileAsking;
    std::function<void()> whileChoosing;
    std::vector<std::string> questions;
    // Questions open at once, now and at most.
    int asking = 0;
    int deepestAsking = 0;
    std::uintptr_t shallowestStack = 0;
    std::uintptr_t deepestStack = 0;
    std::vector<std::string> offeredNames;
    std::vector<int> progress;
    std::pair<int64_t, int64_t> status;
    bool textToSendEnabled = true;
};

class RecordingPayloads : public IPayloadHandler {
public:
    void doServerHandshaking(const std::string& payload) override { Record("server:" + payload); }
    void doClientHandshaking(const std::string& payload) override { Record("client:" + payload); }
    void handleReceivedCiphertext(const std::string& payload) override { Record("cipher:" + payload); }

    std::vector<std::string> received;
    // Runs for every payload after it is recorded; may throw.
    std::function<void(const std::string&)> onPayload;

private:
    void Record(const std::string& entry) {
        received.push_back(entry);
        if (onPayload) onPayload(entry);
    }
};
