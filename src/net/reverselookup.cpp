#include "net/reverselookup.h"

#include <QHostInfo>

namespace {

// The system answers an address without a name with the address itself.
std::string NameOf(const QHostInfo& info, const QHostAddress& address) {
    const QString name = info.hostName();
    if (info.error() != QHostInfo::NoError || name.isEmpty() || QHostAddress(name) == address) return {};
    return name.toStdString();
}

}  // namespace

void TReverseLookup::Start(const QHostAddress& address, std::function<void(const std::string& name)> done) {
    Cancel();
    done_ = std::move(done);
    patience_.setSingleShot(true);
    QObject::connect(&patience_, &QTimer::timeout, &context_, [this] { Finish(std::string()); });
    patience_.start(kPatienceMs);
    running_ = true;
    const int id = QHostInfo::lookupHost(address.toString(), &context_,
                                         [this, address](const QHostInfo& info) { Finish(NameOf(info, address)); });
    // It may have answered already, from a cache.
    if (running_) lookupId_ = id;
}

void TReverseLookup::Cancel() {
    patience_.stop();
    QObject::disconnect(&patience_, nullptr, &context_, nullptr);
    if (lookupId_ >= 0) QHostInfo::abortHostLookup(lookupId_);
    lookupId_ = -1;
    running_ = false;
    done_ = nullptr;
}

void TReverseLookup::Finish(const std::string& name) {
    if (!running_) return;
    std::function<void(const std::string&)> done = std::move(done_);
    Cancel();
    if (done) done(name);
}
