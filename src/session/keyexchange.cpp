#include "session/keyexchange.h"

#include "secure/securewipe.h"

TKeyExchange::~TKeyExchange() {
    ReleaseSessionKey();
}

void TKeyExchange::ReleaseSessionKey() {
    SecureWipe(sessionKey_);
}

void TKeyExchange::ReleaseKeys() {
    // Destroying the key pair wipes its numbers.
    privateKey_.reset();
}
