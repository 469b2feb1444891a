// encrypt and decrypt of the terminal program against libcrypto: the wire form
// is SHA-256 of the key text as the AES-256 key, the key's encryption of a
// zero block as the initial vector, 8-bit CFB, then Base64.

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <memory>

#include "childprocess.h"
#include "testbed.h"

namespace {

const std::string kKey = "Schlüssel: correct horse battery staple";

const std::vector<std::string> kTextLines = {
    "Hello, world!", "Grüße aus Köln – 東京 – 🙂", "", std::string(200, 'x'), "tab\tand trailing blank ",
};

// Hexadecimal plaintexts with the bytes a line cannot carry as they are.
const std::vector<std::string> kHexLines = {"00", "0a", "ff", "000aff", "ff0a00ff0a00", "0d0a", "41000a42ff"};

using TCipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

unsigned char* Bytes(std::string& text) { return reinterpret_cast<unsigned char*>(text.data()); }
const unsigned char* Bytes(const std::string& text) { return reinterpret_cast<const unsigned char*>(text.data()); }

std::string Sha256(const std::string& text) {
    std::string digest(32, '\0');
    EVP_Digest(text.data(), text.size(), Bytes(digest), nullptr, EVP_sha256(), nullptr);
    return digest;
}

std::string Aes256(const EVP_CIPHER* mode, const std::string& key, const std::string& iv, const std::string& input) {
    TCipherContext context(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    EVP_EncryptInit_ex(context.get(), mode, nullptr, Bytes(key), iv.empty() ? nullptr : Bytes(iv));
    EVP_CIPHER_CTX_set_padding(context.get(), 0);
    std::string output(input.size() + 16, '\0');
    int written = 0;
    EVP_EncryptUpdate(context.get(), Bytes(output), &written, Bytes(input), static_cast<int>(input.size()));
    output.resize(static_cast<std::size_t>(written));
    return output;
}

std::string Base64(const std::string& bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int written = EVP_EncodeBlock(Bytes(text), Bytes(bytes), static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(written));
    return text;
}

std::string WireForm(const std::string& keyText, const std::string& plaintext) {
    const std::string key = Sha256(keyText);
    const std::string iv = Aes256(EVP_aes_256_ecb(), key, {}, std::string(16, '\0'));
    return Base64(Aes256(EVP_aes_256_cfb8(), key, iv, plaintext));
}

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

std::string AsInput(const std::vector<std::string>& lines) {
    std::string input;
    for (const std::string& line : lines) input += line + '\n';
    return input;
}

std::string Transformed(const QStringList& arguments, const std::vector<std::string>& lines) {
    const TFinishedRun run = RunToEnd(TerminalProgram(), arguments, AsInput(lines));
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(run.errors, "");
    return run.output;
}

std::vector<std::string> Lines(const std::string& output) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end = output.find('\n'); end != std::string::npos; end = output.find('\n', start)) {
        lines.push_back(output.substr(start, end - start));
        start = end + 1;
    }
    EXPECT_EQ(start, output.size()) << "output does not end with a line break";
    return lines;
}

std::vector<std::string> WireForms(const std::vector<std::string>& plaintexts) {
    std::vector<std::string> forms;
    for (const std::string& plaintext : plaintexts) forms.push_back(WireForm(kKey, plaintext));
    return forms;
}

QStringList WithKey(const QString& command, const QStringList& more = {}) {
    return QStringList{command, "--key", QString::fromStdString(kKey)} + more;
}

}  // namespace

TEST(CipherTool, EncryptGivesTheWireFormLibcryptoComputes) {
    EXPECT_EQ(Lines(Transformed(WithKey("encrypt"), kTextLines)), WireForms(kTextLines));
}

TEST(CipherTool, EncryptHexGivesTheWireFormOfTheBytes) {
    std::vector<std::string> bytes;
    for (const std::string& hex : kHexLines) bytes.push_back(FromHex(hex));
    EXPECT_EQ(Lines(Transformed(WithKey("encrypt", {"--hex"}), kHexLines)), WireForms(bytes));
}

TEST(CipherTool, DecryptTurnsTheWireFormBackIntoTheText) {
    const std::vector<std::string> wire = Lines(Transformed(WithKey("encrypt"), kTextLines));
    EXPECT_EQ(Lines(Transformed(WithKey("decrypt"), wire)), kTextLines);
    // From libcrypto's wire form too, not only from our own.
    EXPECT_EQ(Lines(Transformed(WithKey("decrypt"), WireForms(kTextLines))), kTextLines);
}

TEST(CipherTool, HexRoundTripKeepsZeroLineFeedAndFfBytes) {
    const std::vector<std::string> wire = Lines(Transformed(WithKey("encrypt", {"--hex"}), kHexLines));
    EXPECT_EQ(Lines(Transformed(WithKey("decrypt", {"--hex"}), wire)), kHexLines);
    // Without --hex the bytes come out as they are: a line feed splits its line.
    EXPECT_EQ(Transformed(WithKey("decrypt"), {wire[3]}), std::string("\0\n\xff\n", 4));
}

TEST(CipherTool, KeyFileGivesTheSameAsTheKeyOnTheCommandLine) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString keyFile = QDir(folder.path()).filePath(QStringLiteral("session.key"));
    QFile file(keyFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    // Only the first line is the key.
    file.write(QByteArray::fromStdString(kKey + "\nnot part of the key\n"));
    file.close();

    const std::string byFile = Transformed({"encrypt", "--key-file", keyFile}, kTextLines);
    EXPECT_EQ(byFile, Transformed(WithKey("encrypt"), kTextLines));
    EXPECT_EQ(Lines(Transformed({"decrypt", "--key-file", keyFile}, Lines(byFile))), kTextLines);
}

TEST(CipherTool, ADifferentKeyGivesADifferentWireForm) {
    const std::vector<std::string> wire = Lines(Transformed(WithKey("encrypt"), {"same text"}));
    const std::vector<std::string> other = Lines(Transformed({"encrypt", "--key", "another key"}, {"same text"}));
    EXPECT_EQ(other, std::vector<std::string>{WireForm("another key", "same text")});
    EXPECT_NE(wire, other);
}
