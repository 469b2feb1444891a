// The receive path from raw bytes: a listening session that accepted a peer
// gets the input as that peer's bytes, cut into several reads. Covers the
// frame reader and the sequence check. The 16 MiB bound on an unfinished
// frame is left to the session's tests: at 0.45 s an input, inputs that
// reach it would take over the run.
//
// Input: a flag byte, a count byte, that many read lengths, then the bytes.
// Flag bit 0: the wire alone, its payloads only recorded, instead of a
// session whose key exchange takes them.

#include "fakewire.h"
#include "fuzzsupport.h"
#include "session/inspection.h"

namespace {

constexpr std::size_t kMaxReads = 8;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    TFuzzBytes input(data, size);
    const uint8_t flags = input.Byte();
    const std::size_t readCount = input.Byte() % (kMaxReads + 1);
    std::vector<std::size_t> readLengths;
    for (std::size_t i = 0; i < readCount; ++i) readLengths.push_back(input.Byte());

    if ((flags & 1) != 0) {
        WireOnFakes wire;
        for (const std::size_t length : readLengths) {
            if (!wire.events.errors.empty()) break;
            wire.Receive(input.Take(length));
        }
        if (wire.events.errors.empty()) wire.Receive(input.Rest());
        FUZZ_CHECK(TWireInspection(wire.wire).receiveBuffer().OpenFrameBytes() <= TChatSession::maxUnframedBytes);
        return 0;
    }
    TListeningSession session;
    for (const std::size_t length : readLengths) {
        if (!session.PeerConnected()) break;
        session.Receive(input.Take(length));
    }
    if (session.PeerConnected()) session.Receive(input.Rest());
    // No peer can make the session hold more than the bound without ending a frame.
    FUZZ_CHECK(session.side.In().frameReader().Unframed().size() <= TChatSession::maxUnframedBytes);
    return 0;
}
