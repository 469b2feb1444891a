#include "cipher/sha256.h"
#include "cipher_test_util.h"

#include <gtest/gtest.h>

namespace {

class Exposed : public TSha256 {
public:
    using TSha256::BitCountHigh;
    using TSha256::BitCountLow;
    using TSha256::BlockBuffer;
    using TSha256::BufferFill;
    using TSha256::ChainState;
};

std::string Digest(const std::string& message, bool hardware = true) {
    TSha256 h;
    h.UseHardware(hardware);
    h.Initialize();
    h.AddText(message);
    std::string out(32, '\0');
    h.Finish(out.data());
    return ToHex(out);
}

const std::string k56 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";

}  // namespace

TEST(Sha256, Fips180KnownAnswersOnBothPaths) {
    for (bool hardware : {true, false}) {
        EXPECT_EQ(Digest("abc", hardware), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
        EXPECT_EQ(Digest(k56, hardware), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
        EXPECT_EQ(Digest("", hardware), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
        EXPECT_EQ(Digest(std::string(1000000, 'a'), hardware),
                  "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    }
}

TEST(Sha256, SelfCheckAndClassValues) {
    EXPECT_TRUE(TSha256::SelfCheck());
    EXPECT_EQ(TSha256::Id(), 28);
    EXPECT_EQ(TSha256::Algorithm(), "SHA256");
    EXPECT_EQ(TSha256::HashSize(), 256);
}

TEST(Sha256, PaddingNeedsAnExtraBlockFrom56BytesOn) {
    Exposed h;
    h.Initialize();
    h.AddText(std::string(55, 'x'));
    EXPECT_EQ(h.BufferFill, 55u);
    EXPECT_EQ(Digest(std::string(55, 'x')), Digest(std::string(55, 'x'), false));
    EXPECT_NE(Digest(k56.substr(0, 55)), Digest(k56));
    for (size_t n = 50; n <= 70; ++n) EXPECT_EQ(Digest(std::string(n, 'y')), Digest(std::string(n, 'y'), false)) << n;
}

TEST(Sha256, ChunkingDoesNotMatter) {
    std::mt19937 rng(13);
    const std::string message = RandomBytes(rng, 300);
    const std::string whole = Digest(message);
    const std::vector<std::vector<size_t>> splits = {
        std::vector<size_t>(300, 1), {63, 1, 236}, {64, 64, 172}, {128, 0, 172}, {10, 54, 64, 1, 171}};
    for (const auto& split : splits) {
        TSha256 h;
        h.Initialize();
        size_t at = 0;
        for (size_t n : split) {
            h.AddBytes(message.data() + at, static_cast<uint32_t>(n));
            at += n;
        }
        std::string out(32, '\0');
        h.Finish(out.data());
        EXPECT_EQ(ToHex(out), whole);
    }
}

TEST(Sha256, BufferStaysZeroPastTheFillAndStateIsWipedAfterFinish) {
    Exposed h;
    h.Initialize();
    h.AddText(std::string(70, '\xab'));
    EXPECT_EQ(h.BufferFill, 6u);
    for (int i = 6; i < 64; ++i) EXPECT_EQ(h.BlockBuffer[i], 0) << i;
    uint8_t digest[32];
    h.Finish(digest);
    EXPECT_FALSE(h.IsReady());
    EXPECT_EQ(h.BitCountLow | h.BitCountHigh | h.BufferFill, 0u);
    for (uint32_t w : h.ChainState) EXPECT_EQ(w, 0u);
    for (uint8_t b : h.BlockBuffer) EXPECT_EQ(b, 0);
}

TEST(Sha256, BitCountCarriesIntoTheHighWord) {
    Exposed h;
    h.Initialize();
    h.BitCountLow = 0xFFFFFFF8u;
    h.AddText("z");
    EXPECT_EQ(h.BitCountHigh, 1u);
    EXPECT_EQ(h.BitCountLow, 0u);
    // size >> 29 goes straight to the high word.
    Exposed g;
    g.Initialize();
    const char byte = 0;
    g.AddBytes(&byte, 0);
    EXPECT_EQ(g.BitCountLow, 0u);
    EXPECT_EQ(g.BufferFill, 0u);
}

TEST(Sha256, OperationsOutsideInitializeAndFinishAreRefused) {
    TSha256 h;
    uint8_t digest[32] = {};
    try {
        h.AddBytes("", 0);
        ADD_FAILURE();
    } catch (const EHash& e) {
        EXPECT_STREQ(e.what(), "Hash not initialized");
    }
    EXPECT_THROW(h.AddText("abc"), EHash);
    EXPECT_THROW(h.Finish(digest), EHash);
    h.Initialize();
    h.Finish(digest);
    EXPECT_THROW(h.Finish(digest), EHash);
    h.Initialize();
    h.AddText("abc");
    h.Wipe();
    EXPECT_THROW(h.AddText("abc"), EHash);
}

TEST(Sha256, InitializeDiscardsAnUnfinishedDigest) {
    TSha256 h;
    h.Initialize();
    h.AddText("garbage");
    h.Initialize();
    h.AddText("abc");
    std::string out(32, '\0');
    h.Finish(out.data());
    EXPECT_EQ(ToHex(out), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}
