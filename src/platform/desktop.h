#pragma once
// What the session asks of the desktop around it: start the companion tool,
// show a page in the browser, switch the computer off. The platform library
// has the real backends; a session without one gets the null desktop, which
// starts nothing and switches nothing off.

#include <cstdint>
#include <string>

// The launcher's result numbers: above 32 the document or program started,
// anything else says why not.
constexpr int kLaunchFailureLimit = 32;
constexpr int kLaunchOtherFailure = 0;
constexpr int kLaunchFileNotFound = 2;
constexpr int kLaunchPathNotFound = 3;
constexpr int kLaunchAccessDenied = 5;
constexpr int kLaunchNoAssociation = 31;
constexpr int kLaunchStarted = 42;

// Flags of an exit request; they combine.
constexpr uint32_t kExitLogOff = 0;
constexpr uint32_t kExitShutdown = 1;
constexpr uint32_t kExitReboot = 2;
constexpr uint32_t kExitForce = 4;
constexpr uint32_t kExitPowerOff = 8;

class IDesktop {
public:
    virtual ~IDesktop() = default;
    // Starts a program, or opens a document with its application; returns
    // the launcher's result number.
    virtual int StartDocument(const std::string& path) = 0;
    // Shows the address in the default browser.
    virtual void OpenAddress(const std::string& address) = 0;
    // Asks the system to end the session or switch off at once, without
    // asking anyone; true when the request was accepted.
    virtual bool ExitSystem(uint32_t flags) = 0;
};

class TNullDesktop final : public IDesktop {
public:
    int StartDocument(const std::string&) override { return kLaunchOtherFailure; }
    void OpenAddress(const std::string&) override {}
    bool ExitSystem(uint32_t) override { return false; }
};

// The project's pages, from its homepage.
inline std::string ReadMePageAddress(const std::string& homepage) { return homepage + "#readme"; }
inline std::string DownloadPageAddress(const std::string& homepage) { return homepage + "/releases"; }
