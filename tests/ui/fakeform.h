#pragma once
// The window's presenter on a form without widgets: the form records what
// it is asked to show and answers its boxes as the test says; the session
// under the presenter runs on the shared fakes.

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "rsa/privatekey.h"
#include "session/inspection.h"
#include "support/fakedesktop.h"
#include "support/fakes.h"
#include "ui/inspection.h"
#include "ui/presenter.h"

class FakeForm : public IFormControls {
public:
    std::string FieldText(TFormField field) const override {
        const auto found = fields.find(field);
        return found == fields.end() ? std::string() : found->second;
    }
    void SetFieldText(TFormField field, const std::string& text) override { fields[field] = text; }
    bool AntiKeyloggingToggleDown() const override { return toggleDown; }
    void SetAntiKeyloggingToggleDown(bool down) override { toggleDown = down; }
    void ApplyAntiKeylogging(bool active, const std::string& toggleHint) override {
        antiKeyloggingActive = active;
        hint = toggleHint;
    }
    bool TextToSendAntiKeyloggingActive() const override { return antiKeyloggingActive; }
    void FocusTextToSend() override { ++focusRequests; }

    void AppendLog(const std::string& line) override {
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
    }
    void SetBusyCursor(bool) override {}
    void SetProgress(int, int64_t, int64_t) override {}
    void SetTextToSendEnabled(bool) override {}
    bool IsApplicationActive() const override { return true; }
    void FlashTaskBar() override {}

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
    bool AskYesNo(const std::string& question) override {
        questions.push_back(question);
        return answerYes;
    }
    std::string ChooseFileToSend() override { return fileToSend; }
    std::string ChooseSaveFile(const std::string&) override { return saveAs; }
    void Later(std::function<void()> task) override { later.push_back(std::move(task)); }

    void RunLater() {
        while (!later.empty()) {
            std::function<void()> task = std::move(later.front());
            later.pop_front();
            task();
        }
    }

    std::map<TFormField, std::string> fields;
    bool toggleDown = false;
    bool antiKeyloggingActive = false;
    std::string hint;
    int focusRequests = 0;
    std::vector<std::string> log;
    std::vector<std::string> journal;
    TControlStates lastStates;
    int fixControlsCalls = 0;
    std::vector<std::string> warnings;
    std::vector<std::string> errors;
    std::vector<std::pair<std::string, std::string>> errorBoxes;
    std::vector<std::string> questions;
    bool answerYes = true;
    std::string fileToSend;
    std::string saveAs;
    std::deque<std::function<void()>> later;
};

// A presenter made as the window makes it: settings read, toggle applied.
class PresenterHarness {
public:
    explicit PresenterHarness(const std::string& settingsText = std::string(), bool withDesktop = true) {
        auto store = std::make_unique<FakeSettingsStore>();
        store->bytes = settingsText;
        settings = store.get();
        auto fakeDesktop = std::make_unique<FakeDesktop>();
        desktop = fakeDesktop.get();
        TWindowEnvironment environment{
            fakes.Make([](int32_t) { return std::make_unique<TPrivateKey>(64); }), std::move(store),
            withDesktop ? std::move(fakeDesktop) : nullptr, kFakeHomepage};
        if (!withDesktop) desktop = nullptr;
        presenter = std::make_unique<TWindowPresenter>(form, std::move(environment));
        presenter->FormCreate();
    }

    // Listen pressed with the fields as they are, up to the listen event.
    void Listen() {
        presenter->btnListenClick();
        fakes.worker->RunAll();
    }

    TSessionState State() const { return presenter->State(); }
    TSessionInspection In() const { return TSessionInspection(TPresenterInspection(*presenter).session()); }

    FakeForm form;
    FakeEnvironment fakes;
    FakeSettingsStore* settings = nullptr;
    FakeDesktop* desktop = nullptr;
    std::unique_ptr<TWindowPresenter> presenter;
};
