#include "adapters/defaultenvironment.h"

#include "adapters/diskfilesystem.h"
#include "adapters/qttimer.h"
#include "adapters/settingsfile.h"
#include "adapters/systemclock.h"
#include "adapters/threadworker.h"
#include "net/sockets.h"
#include "rsa/privatekey.h"

TSessionEnvironment MakeDefaultEnvironment(const std::string& configPath) {
    TSessionEnvironment environment;
    environment.client = std::make_unique<TClientSocket>();
    environment.server = std::make_unique<TServerSocket>();
    environment.settings = std::make_unique<TSettingsFile>(configPath);
    environment.files = std::make_unique<TDiskFileSystem>();
    environment.clock = std::make_unique<TSystemClock>();
    environment.pauseTimer = std::make_unique<TQtTimer>();
    environment.worker = std::make_unique<TThreadWorker>();
    environment.generateKey = [](int32_t keySize) { return std::make_unique<TPrivateKey>(keySize); };
    return environment;
}
