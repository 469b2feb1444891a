#include "platform/systemdesktop.h"

#include "platform/launcher.h"
#include "platform/login1.h"

namespace {

class TLinuxDesktop final : public IDesktop {
public:
    int StartDocument(const std::string& path) override { return LaunchDocument(path); }
    void OpenAddress(const std::string& address) override { OpenInBrowser(address); }
    bool ExitSystem(uint32_t flags) override { return RequestLogin1Exit(flags); }
};

}  // namespace

std::unique_ptr<IDesktop> MakeSystemDesktop() { return std::make_unique<TLinuxDesktop>(); }
