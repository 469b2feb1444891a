#pragma once
// A desktop for the window's tests: it starts nothing and switches nothing
// off, and remembers what it was asked.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/desktop.h"

// A desktop that starts nothing and switches nothing off: it records each
// request and gives the answers the test sets.
class FakeDesktop : public IDesktop {
public:
    int StartDocument(const std::string& path) override {
        started.push_back(path);
        return startResult;
    }
    void OpenAddress(const std::string& address) override { opened.push_back(address); }
    bool ExitSystem(uint32_t flags) override {
        exitRequests.push_back(flags);
        return exitAccepted;
    }

    int startResult = kLaunchStarted;
    bool exitAccepted = true;
    std::vector<std::string> started;
    std::vector<std::string> opened;
    std::vector<uint32_t> exitRequests;
};

// The homepage the fakes' sessions know.
constexpr const char* kFakeHomepage = "https://quellmere.example/home";

