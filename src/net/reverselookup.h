#pragma once
// The name of a peer's address, found by reverse lookup off the event loop:
// a peer whose address has no name, or whose name server is slow, never
// holds the window or the other connections up.

#include <functional>
#include <string>

#include <QHostAddress>
#include <QObject>
#include <QTimer>

class TReverseLookup {
public:
    // A lookup that has not answered by then counts as no name.
    static constexpr int kPatienceMs = 3000;

    TReverseLookup() = default;
    ~TReverseLookup() { Cancel(); }
    TReverseLookup(const TReverseLookup&) = delete;
    TReverseLookup& operator=(const TReverseLookup&) = delete;

    // done runs once, from the event loop, with the name, or empty when the
    // address has none; never after Cancel or destruction.
    void Start(const QHostAddress& address, std::function<void(const std::string& name)> done);
    void Cancel();
    bool Running() const { return running_; }

private:
    void Finish(const std::string& name);

    bool running_ = false;
    int lookupId_ = -1;
    std::function<void(const std::string&)> done_;
    QTimer patience_;
    QObject context_;
};
