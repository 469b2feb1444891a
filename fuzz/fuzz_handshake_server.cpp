// The listening side of the key exchange. Each piece of the input between
// 0x00 bytes is one payload of the connecting peer, framed and numbered as
// that peer would, so every piece reaches the key header and key part
// parsing (numbers of any length); what follows the handshake goes to the
// encrypted channel.

#include "fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    TListeningSession session;
    for (const std::string& payload : SplitAtZeros(std::string_view(reinterpret_cast<const char*>(data), size))) {
        if (!session.PeerConnected()) break;
        session.ReceiveFrame(payload);
        session.peer->sent.clear();
    }
    FUZZ_CHECK(session.side.In().keyPartsReceived() <= kMaxKeyParts);
    return 0;
}
