#include "filecontent.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <openssl/evp.h>

#include <algorithm>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

constexpr int64_t kPieceBytes = 1 << 20;

using TDigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

std::string Hexadecimal(const unsigned char* bytes, unsigned int size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < size; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

}  // namespace

void WriteRandomFile(const QString& path, int64_t size, uint64_t seed) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) throw std::runtime_error("cannot write test file");
    std::mt19937_64 random(seed);
    std::vector<uint64_t> words(kPieceBytes / sizeof(uint64_t));
    for (int64_t written = 0; written < size;) {
        for (uint64_t& word : words) word = random();
        const int64_t pieceBytes = std::min(kPieceBytes, size - written);
        if (file.write(reinterpret_cast<const char*>(words.data()), pieceBytes) != pieceBytes)
            throw std::runtime_error("cannot write test file");
        written += pieceBytes;
    }
}

int64_t FileSize(const QString& path) {
    const QFileInfo info(path);
    return info.exists() ? info.size() : -1;
}

std::string FileSha256(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    TDigestContext context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr);
    while (!file.atEnd()) {
        const QByteArray piece = file.read(kPieceBytes);
        if (piece.isEmpty()) return {};
        EVP_DigestUpdate(context.get(), piece.constData(), static_cast<std::size_t>(piece.size()));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestSize = 0;
    EVP_DigestFinal_ex(context.get(), digest, &digestSize);
    return Hexadecimal(digest, digestSize);
}

bool ProcessHasFileOpen(int64_t processId, const QString& path) {
    const QString target = QFileInfo(path).canonicalFilePath();
    const QDir descriptors(QStringLiteral("/proc/%1/fd").arg(processId));
    for (const QString& descriptor : descriptors.entryList(QDir::Files | QDir::System))
        if (QFileInfo(descriptors.filePath(descriptor)).symLinkTarget() == target) return true;
    return false;
}
