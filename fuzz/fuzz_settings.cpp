// The settings file: reading arbitrary file bytes never fails, and writing
// the five values of a close then reading gives those values back while
// every setting that was not written reads as before.
//
// Input: the file's bytes, then after 0x00 bytes the written values (key
// size, listen port, remote port, remote host) and a byte whose low bit is
// the anti-keylogging toggle.

#include "fuzzsupport.h"
#include "session/settings.h"

namespace {

// What a written value reads back as: its first line without edge blanks,
// cut to the reader's limit.
std::string ReadBackForm(const std::string& value) {
    const std::string line = value.substr(0, value.find_first_of("\r\n"));
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    const std::size_t last = line.find_last_not_of(" \t");
    return line.substr(first, last - first + 1).substr(0, kMaxSettingLength);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::vector<std::string> pieces = SplitAtZeros(std::string_view(reinterpret_cast<const char*>(data), size));
    pieces.resize(std::max<std::size_t>(pieces.size(), 6));
    const std::string& file = pieces[0];
    TWrittenSettings written;
    written.RsaKeySize = pieces[1];
    written.listenPort = pieces[2];
    written.remotePort = pieces[3];
    written.remoteHost = pieces[4];
    written.antikeylogging = pieces[5].empty() || (pieces[5][0] & 1) != 0;

    const TSessionSettings before = ParseSessionSettings(file);
    const std::string updated = UpdateSessionSettings(file, written);
    const TSessionSettings after = ParseSessionSettings(updated);

    FUZZ_CHECK(after.RsaKeySize == ReadBackForm(written.RsaKeySize));
    FUZZ_CHECK(after.listenPort == ReadBackForm(written.listenPort));
    FUZZ_CHECK(after.remotePort == ReadBackForm(written.remotePort));
    FUZZ_CHECK(after.antikeylogging == written.antikeylogging);
    if (after.saveHost) FUZZ_CHECK(after.remoteHost == ReadBackForm(written.remoteHost));
    FUZZ_CHECK(after.debug == before.debug);
    FUZZ_CHECK(after.sleepDuringTransfer == before.sleepDuringTransfer);
    FUZZ_CHECK(after.vantrelPath == before.vantrelPath);
    FUZZ_CHECK(after.saveHost == before.saveHost);
    // Writing the same values again changes nothing.
    FUZZ_CHECK(UpdateSessionSettings(updated, written) == updated);
    return 0;
}
