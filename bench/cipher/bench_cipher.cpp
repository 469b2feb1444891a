// Our symmetric primitives against OpenSSL's EVP in the same run. Each line:
//   NAME: ours X, openssl Y, ratio Z
// X and Y are throughputs with their unit (MB/s = 10^6 bytes per second, or
// chunks/s), each the median over many rounds that alternate the two sides,
// so both see the same load on a shared machine; Z = X / Y.
#include "cipher/rijndael.h"
#include "cipher/sha256.h"
#include "cipher/textbatch.h"

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Keeps the optimiser from dropping work whose result nobody reads.
volatile unsigned char gSink;

void Consume(const void* p, size_t n) {
    if (n != 0) gSink = static_cast<const unsigned char*>(p)[n - 1];
}

double SecondsFor(const std::function<void()>& op, int iterations) {
    const auto start = Clock::now();
    for (int i = 0; i < iterations; ++i) op();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Iterations so that one timed batch takes about 20 ms.
int Calibrate(const std::function<void()>& op) {
    int n = 1;
    while (true) {
        const double t = SecondsFor(op, n);
        if (t > 0.02 || n > (1 << 24)) return n;
        n = t < 0.002 ? n * 8 : static_cast<int>(n * 0.02 / t) + 1;
    }
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

// perOp: how many units (bytes or operations) one call handles; scale turns
// units per second into the printed figure.
void Compare(const char* name, const char* unit, double perOp, double scale, const std::function<void()>& ours,
             const std::function<void()>& theirs, int rounds = 21) {
    ours();
    theirs();
    const int nOurs = Calibrate(ours);
    const int nTheirs = Calibrate(theirs);
    std::vector<double> a, b;
    for (int r = 0; r < rounds; ++r) {
        a.push_back(perOp * nOurs / SecondsFor(ours, nOurs) / scale);
        b.push_back(perOp * nTheirs / SecondsFor(theirs, nTheirs) / scale);
    }
    const double x = Median(a), y = Median(b);
    std::printf("%s: ours %.1f %s, openssl %.1f %s, ratio %.2f\n", name, x, unit, y, unit, x / y);
    std::fflush(stdout);
}

std::string RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

struct EvpCtx {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    ~EvpCtx() { EVP_CIPHER_CTX_free(ctx); }
};

void Check(int ok) {
    if (ok != 1) {
        std::fprintf(stderr, "OpenSSL call failed\n");
        std::exit(2);
    }
}

// AES-256 of the zero block under key, the derived initial vector.
void EvpZeroBlock(const unsigned char* key, unsigned char* iv) {
    EvpCtx e;
    static const unsigned char zero[16] = {};
    int len = 0;
    Check(EVP_EncryptInit_ex(e.ctx, EVP_aes_256_ecb(), nullptr, key, nullptr));
    EVP_CIPHER_CTX_set_padding(e.ctx, 0);
    Check(EVP_EncryptUpdate(e.ctx, iv, &len, zero, 16));
}

}  // namespace

int main() {
    constexpr size_t kMiB = 1 << 20;
    const std::string key = RandomBytes(32, 1);
    const std::string data = RandomBytes(kMiB, 2);
    std::string out(kMiB, '\0');
    const auto* ukey = reinterpret_cast<const unsigned char*>(key.data());
    const auto* udata = reinterpret_cast<const unsigned char*>(data.data());
    auto* uout = reinterpret_cast<unsigned char*>(out.data());

    if (!TRijndael::HardwareAvailable()) std::printf("note: no AES instructions, table path only\n");

    // Bulk CFB8, one keyed object each, as a file stream would use it.
    {
        TRijndael ours;
        ours.SetKey(key.data(), 256, nullptr);
        unsigned char iv[16];
        EvpZeroBlock(ukey, iv);
        EvpCtx enc;
        Check(EVP_EncryptInit_ex(enc.ctx, EVP_aes_256_cfb8(), nullptr, ukey, iv));
        auto oursOp = [&] {
            ours.Cfb8Encrypt(data.data(), out.data(), kMiB);
            Consume(out.data(), kMiB);
        };
        auto theirsOp = [&] {
            int len = 0;
            Check(EVP_EncryptUpdate(enc.ctx, uout, &len, udata, static_cast<int>(kMiB)));
            Consume(uout, kMiB);
        };
        Compare("cfb8-encrypt", "MB/s", kMiB, 1e6, oursOp, theirsOp);

        EvpCtx dec;
        Check(EVP_DecryptInit_ex(dec.ctx, EVP_aes_256_cfb8(), nullptr, ukey, iv));
        auto oursDec = [&] {
            ours.Cfb8Decrypt(data.data(), out.data(), kMiB);
            Consume(out.data(), kMiB);
        };
        auto theirsDec = [&] {
            int len = 0;
            Check(EVP_DecryptUpdate(dec.ctx, uout, &len, udata, static_cast<int>(kMiB)));
            Consume(uout, kMiB);
        };
        Compare("cfb8-decrypt", "MB/s", kMiB, 1e6, oursDec, theirsDec);

        TRijndael table;
        table.UseHardware(false);
        table.SetKey(key.data(), 256, nullptr);
        auto tableOp = [&] {
            table.Cfb8Encrypt(data.data(), out.data(), kMiB);
            Consume(out.data(), kMiB);
        };
        Compare("cfb8-encrypt-table", "MB/s", kMiB, 1e6, tableOp, theirsOp, 7);
    }

    // One file chunk as the session sends and receives it: a fresh cipher
    // per chunk, keyed from the 32-character session key text.
    {
        const std::string keyText = "k7Qp2ZxW9mLr4TsV8nBc1HdF6jYg3Ae0";
        const std::string chunk = RandomBytes(510, 3);
        std::string wire;
        {
            TRijndael c;
            c.SetKeyFromText(keyText, TSha256::Class());
            wire = c.EncryptText(chunk);
        }
        if (wire.size() != 680) return 2;

        auto oursSend = [&] {
            TRijndael c;
            c.SetKeyFromText(keyText, TSha256::Class());
            const std::string text = c.EncryptText(chunk);
            c.Wipe();
            Consume(text.data(), text.size());
        };
        std::vector<unsigned char> ct(510), b64(681), plain(512);
        auto evpKeySetup = [&](unsigned char* digest, unsigned char* iv) {
            Check(EVP_Digest(keyText.data(), keyText.size(), digest, nullptr, EVP_sha256(), nullptr));
            EvpZeroBlock(digest, iv);
        };
        auto theirsSend = [&] {
            unsigned char digest[32], iv[16];
            evpKeySetup(digest, iv);
            EvpCtx e;
            int len = 0;
            Check(EVP_EncryptInit_ex(e.ctx, EVP_aes_256_cfb8(), nullptr, digest, iv));
            Check(EVP_EncryptUpdate(e.ctx, ct.data(), &len, reinterpret_cast<const unsigned char*>(chunk.data()), 510));
            EVP_EncodeBlock(b64.data(), ct.data(), 510);
            Consume(b64.data(), 680);
        };
        // Both sides must produce the same wire text, or the race is unfair.
        theirsSend();
        if (std::memcmp(b64.data(), wire.data(), 680) != 0) {
            std::fprintf(stderr, "chunk-send: ours and OpenSSL disagree\n");
            return 2;
        }

        // A file goes out a batch of chunks at a time. Every chunk is still
        // keyed on its own (digest of the key text, schedule, vector) on both
        // sides; only our per-byte chains run interleaved. OpenSSL sends the
        // same chunks one by one with fresh contexts.
        constexpr size_t kBatch = 8;
        const std::string file = RandomBytes(kBatch * 510, 4);
        std::vector<std::string> chunks;
        for (size_t i = 0; i < kBatch; ++i) chunks.push_back(file.substr(i * 510, 510));
        auto oursBatch = [&] {
            const std::vector<std::string> texts = EncryptTextsUnderPassphrase(keyText, chunks);
            for (const std::string& t : texts) Consume(t.data(), t.size());
        };
        std::vector<unsigned char> batchWire(kBatch * 681);
        auto theirsBatch = [&] {
            for (size_t i = 0; i < kBatch; ++i) {
                unsigned char digest[32], iv[16];
                evpKeySetup(digest, iv);
                EvpCtx e;
                int len = 0;
                Check(EVP_EncryptInit_ex(e.ctx, EVP_aes_256_cfb8(), nullptr, digest, iv));
                Check(EVP_EncryptUpdate(e.ctx, ct.data(), &len,
                                        reinterpret_cast<const unsigned char*>(chunks[i].data()), 510));
                unsigned char* text = batchWire.data() + i * 681;
                EVP_EncodeBlock(text, ct.data(), 510);
                Consume(text, 680);
            }
        };
        theirsBatch();
        {
            const std::vector<std::string> texts = EncryptTextsUnderPassphrase(keyText, chunks);
            for (size_t i = 0; i < kBatch; ++i) {
                const std::string& t = texts[i];
                if (t.size() != 680 || std::memcmp(t.data(), batchWire.data() + i * 681, 680) != 0) {
                    std::fprintf(stderr, "chunk-send: batch chunk %zu disagrees with OpenSSL\n", i);
                    return 2;
                }
            }
        }
        Compare("chunk-send", "chunks/s", kBatch, 1, oursBatch, theirsBatch);
        Compare("chunk-send-single", "chunks/s", 1, 1, oursSend, theirsSend);

        auto oursReceive = [&] {
            TRijndael c;
            c.SetKeyFromText(keyText, TSha256::Class());
            const std::string text = c.DecryptText(wire);
            c.Wipe();
            Consume(text.data(), text.size());
        };
        auto theirsReceive = [&] {
            const int n = EVP_DecodeBlock(ct.data(), reinterpret_cast<const unsigned char*>(wire.data()), 680);
            unsigned char digest[32], iv[16];
            evpKeySetup(digest, iv);
            EvpCtx d;
            int len = 0;
            Check(EVP_DecryptInit_ex(d.ctx, EVP_aes_256_cfb8(), nullptr, digest, iv));
            Check(EVP_DecryptUpdate(d.ctx, plain.data(), &len, ct.data(), n));
            Consume(plain.data(), static_cast<size_t>(len));
        };
        theirsReceive();
        if (std::memcmp(plain.data(), chunk.data(), 510) != 0) {
            std::fprintf(stderr, "chunk-receive: OpenSSL does not read our chunk\n");
            return 2;
        }
        Compare("chunk-receive", "chunks/s", 1, 1, oursReceive, theirsReceive);
    }

    // SHA-256 of 1 MiB.
    {
        unsigned char digest[32];
        auto oursOp = [&] {
            TSha256 h;
            h.Initialize();
            h.AddBytes(data.data(), kMiB);
            h.Finish(digest);
            Consume(digest, 32);
        };
        auto theirsOp = [&] {
            Check(EVP_Digest(data.data(), kMiB, digest, nullptr, EVP_sha256(), nullptr));
            Consume(digest, 32);
        };
        Compare("sha256", "MB/s", kMiB, 1e6, oursOp, theirsOp);
    }
    return 0;
}
