// The connecting side of the key exchange. Each piece of the input between
// 0x00 bytes is one payload of the listening peer, framed and numbered as
// that peer would: its modulus and exponent (numbers of any length), then
// anything, the acknowledgement or the encrypted channel's texts.

#include "fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Harness side;
    side.Connect("server.example", "1801");
    int32_t sequence = 0;
    for (const std::string& payload : SplitAtZeros(std::string_view(reinterpret_cast<const char*>(data), size))) {
        if (!side.client->active) break;
        sequence = NextSequence(sequence);
        side.client->Receive(MakeFrame(sequence, payload));
        side.worker->RunAll();
        side.client->connection.sent.clear();
    }
    return 0;
}
