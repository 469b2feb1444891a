// The RSA work of one key exchange, as the program does it now against the
// way it used to. Each line reads
//   handshake-BITS: ours X ms, serial Y ms, ratio Z
// serial: Encrypt of a 32-character key text, then each part raised to D
// modulo N, one after another on one core. ours: EncryptParallel and
// DecryptParallel (through the primes) on every core. Same key and text for
// both; X and Y are medians of wall-clock times over rounds that alternate
// the two sides, so both see the same load on a shared machine; Z = Y / X.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bigmath/bigmath.h"
#include "isaac/isaac.h"
#include "rsa/privatekey.h"
#include "rsa/publickey.h"

namespace {

using Clock = std::chrono::steady_clock;

// Wall-clock time: the point is to use more than one core.
double Seconds(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void Seed(TIsaac& generator, uint32_t a, uint32_t b) {
    const uint32_t words[2] = {a, b};
    generator.Seed(words, 1, true);
}

// As the session makes its key text: printable characters, repeats allowed.
std::string RandomKeyText(TIsaac& random) {
    std::string text;
    for (int i = 0; i < 32; ++i) text.push_back(static_cast<char>(' ' + random.Range(95)));
    return text;
}

// The old way: one character after another, D modulo N directly.
std::string SerialHandshake(const TPrivateKey& key, const TPublicKey& publicKey, const std::string& keyText) {
    TCiphertextList list;
    publicKey.Encrypt(keyText, list);
    std::string text;
    for (TCiphertextEntry& entry : list) {
        entry.Number->PowMod(key.GetD(), key.GetN());
        for (int32_t i = 0; i < entry.Number->DigitCount(); ++i) {
            text.push_back(static_cast<char>(entry.Number->GetDigit(i) & 0xFF));
        }
    }
    return text;
}

std::string ParallelHandshake(const TPrivateKey& key, const TPublicKey& publicKey, const std::string& keyText) {
    TCiphertextList list;
    publicKey.EncryptParallel(keyText, list);
    return key.DecryptParallel(list);
}

// False if either side does not give the key text back.
bool HandshakeBench(const char* name, int32_t bits, int rounds) {
    Seed(BigRandom(), 0xFACE, static_cast<uint32_t>(bits));
    const TPrivateKey key(bits);
    const auto publicKey = key.GetPublicKey();
    const std::string keyText = RandomKeyText(BigRandom());
    if (SerialHandshake(key, *publicKey, keyText) != keyText ||
        ParallelHandshake(key, *publicKey, keyText) != keyText) {
        std::fprintf(stderr, "%s: the key text does not come back\n", name);
        return false;
    }
    std::vector<double> ours, serial;
    for (int r = 0; r < rounds; ++r) {
        serial.push_back(Seconds([&] { benchmark::DoNotOptimize(SerialHandshake(key, *publicKey, keyText)); }));
        ours.push_back(Seconds([&] { benchmark::DoNotOptimize(ParallelHandshake(key, *publicKey, keyText)); }));
    }
    const double x = Median(ours), y = Median(serial);
    std::printf("%s: ours %.1f ms, serial %.1f ms, ratio %.2f\n", name, x * 1e3, y * 1e3, y / x);
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string only = argc > 1 ? argv[1] : "";
    const auto wanted = [&](const char* name) { return only.empty() || std::string(name).find(only) == 0; };
    if (std::thread::hardware_concurrency() < 2) std::printf("note: one core only, nothing to spread over\n");
    bool ok = true;
    if (wanted("handshake-1024")) ok = HandshakeBench("handshake-1024", 1024, 15) && ok;
    if (wanted("handshake-2048")) ok = HandshakeBench("handshake-2048", 2048, 7) && ok;
    if (wanted("handshake-4096")) ok = HandshakeBench("handshake-4096", 4096, 5) && ok;
    return ok ? 0 : 2;
}
