// The yardstick for bench_transfer: a file moved over TCP with the same wire
// work as ours, single-threaded, with OpenSSL's EVP.
//   transfer_anchor receive PORT OUTPUT KEYTEXT
//   transfer_anchor send HOST PORT INPUT KEYTEXT
// Every chunk of at most 255 file bytes goes as uppercase hexadecimal under a
// freshly keyed cipher (SHA-256 of the key text, the vector from the zero
// block, AES-256 CFB8), in Base64, framed as "<sequence>?<text>" and one 0x00
// byte. The receiver prints "Listening on port P", the sender "Transmitting
// INPUT" once connected; the receiver writes OUTPUT and exits when the sender
// hangs up. Not a benchmark on its own, hence not named bench_*.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kChunkBytes = 255;
constexpr std::size_t kHexBytes = 2 * kChunkBytes;
constexpr std::size_t kBase64Bytes = 4 * ((kHexBytes + 2) / 3);
// Reads and writes go a good many chunks at a time, as a careful program would.
constexpr std::size_t kIoBytes = 256 * 1024;

void Require(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(what);
}

// For a system call: the system's reason goes with it.
void RequireCall(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

void WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        RequireCall(n > 0, "write");
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

// Up to size bytes; fewer only at the end of the input.
std::size_t ReadFull(int fd, char* data, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = read(fd, data + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        RequireCall(n >= 0, "read");
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

// One message's cipher, keyed afresh from the key text every time, as our
// program makes a new cipher for every message.
class TMessageCipher {
public:
    explicit TMessageCipher(std::string keyText) : keyText_(std::move(keyText)) {
        // Fetched once: an implicit fetch on every init would slow OpenSSL down unfairly.
        Require(sha256_ && ecb_ && cfb8_ && vectorContext_ && messageContext_, "OpenSSL setup");
        Require(EVP_EncryptInit_ex(vectorContext_, ecb_, nullptr, nullptr, nullptr) == 1, "ecb init");
        EVP_CIPHER_CTX_set_padding(vectorContext_, 0);
    }
    ~TMessageCipher() {
        EVP_CIPHER_CTX_free(messageContext_);
        EVP_CIPHER_CTX_free(vectorContext_);
        EVP_CIPHER_free(cfb8_);
        EVP_CIPHER_free(ecb_);
        EVP_MD_free(sha256_);
    }
    TMessageCipher(const TMessageCipher&) = delete;
    TMessageCipher& operator=(const TMessageCipher&) = delete;

    void Apply(bool encrypt, const unsigned char* in, int size, unsigned char* out) {
        unsigned char key[32];
        unsigned char vector[16];
        KeyAndVector(key, vector);
        int written = 0;
        Require(EVP_CipherInit_ex(messageContext_, cfb8_, nullptr, key, vector, encrypt ? 1 : 0) == 1, "cfb8 init");
        Require(EVP_CipherUpdate(messageContext_, out, &written, in, size) == 1 && written == size, "cfb8");
    }

private:
    void KeyAndVector(unsigned char* key, unsigned char* vector) {
        static const unsigned char zero[16] = {};
        int written = 0;
        Require(EVP_Digest(keyText_.data(), keyText_.size(), key, nullptr, sha256_, nullptr) == 1, "sha256");
        Require(EVP_EncryptInit_ex(vectorContext_, nullptr, nullptr, key, nullptr) == 1, "ecb key");
        Require(EVP_EncryptUpdate(vectorContext_, vector, &written, zero, 16) == 1 && written == 16, "ecb");
    }

    std::string keyText_;
    EVP_MD* sha256_ = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    EVP_CIPHER* ecb_ = EVP_CIPHER_fetch(nullptr, "AES-256-ECB", nullptr);
    EVP_CIPHER* cfb8_ = EVP_CIPHER_fetch(nullptr, "AES-256-CFB8", nullptr);
    EVP_CIPHER_CTX* vectorContext_ = EVP_CIPHER_CTX_new();
    EVP_CIPHER_CTX* messageContext_ = EVP_CIPHER_CTX_new();
};

void EncodeHex(const char* bytes, std::size_t size, char* text) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < size; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        text[2 * i] = kDigits[byte >> 4];
        text[2 * i + 1] = kDigits[byte & 15];
    }
}

std::array<signed char, 256> HexValues() {
    std::array<signed char, 256> values;
    values.fill(-1);
    for (int i = 0; i < 10; ++i) values['0' + i] = static_cast<signed char>(i);
    for (int i = 0; i < 6; ++i) values['A' + i] = values['a' + i] = static_cast<signed char>(10 + i);
    return values;
}

// Appends the bytes of text, two digits each.
void DecodeHex(const unsigned char* text, std::size_t size, std::string& bytes) {
    static const std::array<signed char, 256> values = HexValues();
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const int high = values[text[i]];
        const int low = values[text[i + 1]];
        Require(high >= 0 && low >= 0, "not hexadecimal");
        bytes.push_back(static_cast<char>(high * 16 + low));
    }
}

// ---------------------------------------------------------------- sending

class TSender {
public:
    TSender(int socket, std::string keyText) : socket_(socket), cipher_(std::move(keyText)) {}

    void SendFile(int file) {
        std::vector<char> input(kChunkBytes * 1024);
        while (const std::size_t got = ReadFull(file, input.data(), input.size())) {
            for (std::size_t at = 0; at < got; at += kChunkBytes)
                AppendFrame(input.data() + at, std::min(kChunkBytes, got - at));
            Flush();
        }
    }

private:
    void AppendFrame(const char* bytes, std::size_t size) {
        char hex[kHexBytes];
        unsigned char encrypted[kHexBytes];
        unsigned char text[kBase64Bytes + 1];
        EncodeHex(bytes, size, hex);
        cipher_.Apply(true, reinterpret_cast<const unsigned char*>(hex), static_cast<int>(2 * size), encrypted);
        const int textSize = EVP_EncodeBlock(text, encrypted, static_cast<int>(2 * size));
        frames_ += std::to_string(sequence_++);
        frames_ += '?';
        frames_.append(reinterpret_cast<const char*>(text), static_cast<std::size_t>(textSize));
        frames_ += '\0';
        if (frames_.size() >= kIoBytes) Flush();
    }

    void Flush() {
        WriteAll(socket_, frames_.data(), frames_.size());
        frames_.clear();
    }

    int socket_;
    TMessageCipher cipher_;
    std::string frames_;
    int sequence_ = 1;
};

int ConnectTo(const char* host, int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    Require(inet_pton(AF_INET, host, &address.sin_addr) == 1, "host address");
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    RequireCall(fd >= 0, "socket");
    RequireCall(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0, "connect");
    return fd;
}

int Send(const char* host, int port, const char* path, const char* keyText) {
    const int file = open(path, O_RDONLY);
    RequireCall(file >= 0, "open input");
    const int socket = ConnectTo(host, port);
    std::printf("Transmitting %s\n", path);
    std::fflush(stdout);
    TSender(socket, keyText).SendFile(file);
    close(file);
    close(socket);
    return 0;
}

// ---------------------------------------------------------------- receiving

// The "=" that end a Base64 text: at most two.
std::size_t PaddingOf(std::string_view text) {
    std::size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
    return padding;
}

class TReceiver {
public:
    TReceiver(int output, std::string keyText) : output_(output), cipher_(std::move(keyText)) {}

    void Receive(int socket) {
        std::vector<char> buffer(kIoBytes);
        std::string unframed;
        while (const std::size_t got = ReadFull(socket, buffer.data(), buffer.size())) {
            unframed.append(buffer.data(), got);
            std::size_t start = 0;
            for (std::size_t end; (end = unframed.find('\0', start)) != std::string::npos; start = end + 1)
                TakeFrame(std::string_view(unframed).substr(start, end - start));
            unframed.erase(0, start);
            Flush();
        }
        Require(unframed.empty(), "the last frame is cut short");
    }

private:
    void TakeFrame(std::string_view frame) {
        const std::size_t question = frame.find('?');
        Require(question != std::string_view::npos, "missing sequence separator");
        int sequence = 0;
        const auto parsed = std::from_chars(frame.data(), frame.data() + question, sequence);
        Require(parsed.ec == std::errc() && parsed.ptr == frame.data() + question && sequence == sequence_++,
                "sequence");
        const std::string_view text = frame.substr(question + 1);
        Require(text.size() <= kBase64Bytes && text.size() % 4 == 0, "frame size");
        unsigned char encrypted[kBase64Bytes];
        unsigned char hex[kBase64Bytes];
        int size = EVP_DecodeBlock(encrypted, reinterpret_cast<const unsigned char*>(text.data()),
                                   static_cast<int>(text.size()));
        Require(size >= 0, "not Base64");
        // EVP_DecodeBlock counts the padding as zero bytes.
        size -= static_cast<int>(PaddingOf(text));
        cipher_.Apply(false, encrypted, size, hex);
        DecodeHex(hex, static_cast<std::size_t>(size), bytes_);
    }

    void Flush() {
        WriteAll(output_, bytes_.data(), bytes_.size());
        bytes_.clear();
    }

    int output_;
    TMessageCipher cipher_;
    std::string bytes_;
    int sequence_ = 1;
};

int ListenOn(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    RequireCall(fd >= 0, "socket");
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    RequireCall(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0, "bind");
    RequireCall(listen(fd, 1) == 0, "listen");
    return fd;
}

int Receive(int port, const char* path, const char* keyText) {
    const int listener = ListenOn(port);
    std::printf("Listening on port %d\n", port);
    std::fflush(stdout);
    const int socket = accept(listener, nullptr, nullptr);
    RequireCall(socket >= 0, "accept");
    close(listener);
    const int output = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    RequireCall(output >= 0, "open output");
    TReceiver(output, keyText).Receive(socket);
    RequireCall(close(output) == 0, "close output");
    close(socket);
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: transfer_anchor receive PORT OUTPUT KEYTEXT\n"
                 "       transfer_anchor send HOST PORT INPUT KEYTEXT\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string command = argc > 1 ? argv[1] : "";
        if (command == "receive" && argc == 5) return Receive(std::stoi(argv[2]), argv[3], argv[4]);
        if (command == "send" && argc == 6) return Send(argv[2], std::stoi(argv[3]), argv[4], argv[5]);
        return Usage();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "transfer_anchor: %s\n", error.what());
        return 1;
    }
}
