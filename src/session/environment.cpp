#include "net/sockets.h"
#include "rsa/privatekey.h"
#include "session/session.h"

TSessionEnvironment MakeDefaultEnvironment()
{
    TSessionEnvironment environment;
    environment.client = std::make_unique<TClientSocket>();
    environment.server = std::make_unique<TServerSocket>();
    environment.pauseTimer = MakeQtPauseTimer();
    environment.generateKey = [](int32_t keySize) { return std::make_unique<TPrivateKey>(keySize); };
    return environment;
}
