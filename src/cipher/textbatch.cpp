#include "cipher/textbatch.h"

#include "cipher/base64.h"
#include "cipher/rijndael.h"
#include "cipher/sha256.h"

#include <memory>

std::vector<std::string> EncryptTextsUnderPassphrase(const std::string& passphrase,
                                                     const std::vector<std::string>& messages, bool allowHardware) {
    const std::size_t count = messages.size();
    std::vector<std::string> texts;
    if (count == 0) return texts;

    // Every cipher wipes itself when destroyed, so an exception while keying
    // leaves no schedule behind.
    const auto ciphers = std::make_unique<TRijndael[]>(count);
    std::vector<std::string> raw(count);
    std::vector<TRijndael::TCfb8Stream> streams(count);
    for (std::size_t i = 0; i < count; ++i) {
        TRijndael& c = ciphers[i];
        c.UseHardware(allowHardware);
        // Keyed per message, as the session keys every message it sends.
        c.SetKeyFromText(passphrase, TSha256::Class());
        raw[i].resize(messages[i].size());
        streams[i] = {&c, messages[i].data(), raw[i].data(), messages[i].size()};
    }
    TRijndael::Cfb8EncryptMany(streams.data(), count);

    texts.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        ciphers[i].Wipe();
        texts.push_back(EncodeBase64Text(raw[i]));
    }
    return texts;
}
