// encrypt and decrypt for scripts: known answers from an independent AES
// (SHA-256 of the key text, AES-256 in 8-bit CFB from the encrypted zero
// block, Base64), round trips, hexadecimal, key files and errors.

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cli/ciphertool.h"

namespace {

constexpr const char* kKey = "correct horse";

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

ToolRun RunTool(const std::vector<std::string>& arguments, const std::string& input) {
    const TCliParse parse = ParseCliOptions(arguments);
    EXPECT_EQ(parse.error, "");
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    ToolRun run;
    run.status = RunCipherTool(parse.options, in, out, err);
    run.out = out.str();
    run.err = err.str();
    return run;
}

class TempFile {
public:
    explicit TempFile(const std::string& bytes) {
        char name[] = "/tmp/quellmere-cli-test-XXXXXX";
        const int fd = mkstemp(name);
        close(fd);
        path = name;
        std::ofstream(path, std::ios::binary) << bytes;
    }
    ~TempFile() { std::remove(path.c_str()); }
    std::string path;
};

}  // namespace

TEST(CipherTool, EncryptGivesTheWireFormOfEachLine) {
    const ToolRun run = RunTool({"encrypt", "--key", kKey}, "hello, world\n\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "+W2aOWHrmyME7tqO\n\n");
    EXPECT_EQ(run.err, "");
}

TEST(CipherTool, DecryptGivesTheTextBack) {
    const ToolRun run = RunTool({"decrypt", "--key", kKey}, "+W2aOWHrmyME7tqO\r\n+W2aOWHrmyME7tqO");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "hello, world\nhello, world\n");
}

TEST(CipherTool, EachLineIsEncryptedFromTheStart) {
    // No chaining from one line to the next: equal lines, equal wire forms.
    const ToolRun run = RunTool({"encrypt", "--key", kKey}, "hello, world\r\nhello, world\n");
    EXPECT_EQ(run.out, "+W2aOWHrmyME7tqO\n+W2aOWHrmyME7tqO\n");
}

TEST(CipherTool, RoundTripOfEveryByteButLfWithoutHex) {
    std::string text;
    for (int byte = 1; byte < 256; ++byte)
        if (byte != '\n' && byte != '\r') text += static_cast<char>(byte);
    const ToolRun there = RunTool({"encrypt", "--key", "k"}, text + "\n");
    ASSERT_EQ(there.status, 0);
    const ToolRun back = RunTool({"decrypt", "--key", "k"}, there.out);
    EXPECT_EQ(back.out, text + "\n");
}

TEST(CipherTool, HexPlaintextOnBothSides) {
    const ToolRun there = RunTool({"encrypt", "--key", kKey, "--hex"}, "00FF0a1b\n");
    EXPECT_EQ(there.status, 0);
    EXPECT_EQ(there.out, "kY8xOw==\n");
    const ToolRun back = RunTool({"decrypt", "--key", kKey, "--hex"}, "kY8xOw==\n");
    EXPECT_EQ(back.out, "00ff0a1b\n");
}

TEST(CipherTool, HexCarriesLineBreaksAndNulBytes) {
    const std::string hex = "0d0a000a68690d";
    const ToolRun there = RunTool({"encrypt", "--key", "k", "--hex"}, hex + "\n");
    const ToolRun back = RunTool({"decrypt", "--key", "k", "--hex"}, there.out);
    EXPECT_EQ(back.out, hex + "\n");
    const ToolRun raw = RunTool({"decrypt", "--key", "k"}, there.out);
    EXPECT_EQ(raw.out, std::string("\r\n\0\nhi\r\n", 8));
}

TEST(CipherTool, EmptyLinesAndEmptyInput) {
    EXPECT_EQ(RunTool({"encrypt", "--key", kKey, "--hex"}, "\n").out, "\n");
    const ToolRun none = RunTool({"encrypt", "--key", kKey}, "");
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "");
}

TEST(CipherTool, InvalidHexStopsWithTheLineNumber) {
    for (const char* bad : {"abc", "0g", "0x00", "12 34"}) {
        const ToolRun run = RunTool({"encrypt", "--key", kKey, "--hex"}, std::string("00ff0a1b\n") + bad + "\n00\n");
        EXPECT_EQ(run.status, 1) << bad;
        EXPECT_EQ(run.out, "kY8xOw==\n") << bad;
        EXPECT_EQ(run.err, "quellmere-cli: line 2: not hexadecimal\n") << bad;
    }
}

TEST(CipherTool, KeyFromTheFirstLineOfAFile) {
    TempFile file(std::string(kKey) + "\r\nsecond line\n");
    EXPECT_EQ(RunTool({"encrypt", "--key-file", file.path}, "hello, world\n").out, "+W2aOWHrmyME7tqO\n");
    TempFile bare(kKey);
    EXPECT_EQ(RunTool({"decrypt", "--key-file", bare.path}, "+W2aOWHrmyME7tqO\n").out, "hello, world\n");
}

TEST(CipherTool, UnreadableKeyFileFails) {
    const ToolRun run = RunTool({"encrypt", "--key-file", "/nonexistent/quellmere.key"}, "hello\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "quellmere-cli: cannot read the key file '/nonexistent/quellmere.key'\n");
}

TEST(Hex, BothWays) {
    EXPECT_EQ(BytesFromHex("00ffA0"), std::string("\0\xff\xa0", 3));
    EXPECT_EQ(BytesFromHex(""), "");
    EXPECT_EQ(BytesFromHex("f"), std::nullopt);
    EXPECT_EQ(BytesFromHex("-1"), std::nullopt);
    EXPECT_EQ(HexFromBytes(std::string("\0\x7f\x80\xff", 4)), "007f80ff");
    EXPECT_EQ(HexFromBytes(""), "");
}
