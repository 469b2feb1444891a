// Files between two sessions joined back to back: the offer, the answer, the
// chunks and the checksum, what a broken or hostile peer gets, and a
// transfer cut short by a cancel, a full disk or the connection.

#include <gtest/gtest.h>

#include "harness.h"
#include "session/channel.h"
#include "session/filenames.h"
#include "session/filetransfer.h"
#include "support/testhelpers.h"

namespace {

std::string Bytes(std::size_t size, uint32_t seed = 1) { return PseudoRandomBytes(size, seed); }

uint32_t ChecksumByteByByte(const std::string& bytes) {
    uint32_t sum = 0;
    for (const char c : bytes) {
        sum += static_cast<unsigned char>(c);
        if (sum > 65535) sum %= 65535;
    }
    return sum;
}

// Two sessions with a completed key exchange; `from` offers, `to` answers.
class Transfer : public ::testing::Test {
protected:
    void SetUp() override { pair.Run(); }

    void Send(Harness& from, Harness& to, const std::string& bytes, const std::string& path = "/home/a/report.pdf") {
        from.files->files[path] = bytes;
        to.view.saveAs = "/tmp/in/report.pdf";
        from.session->Offer(path);
        pair.Run();
    }

    std::vector<std::string> LogSince(Harness& side, std::size_t start) const {
        return std::vector<std::string>(side.view.log.begin() + static_cast<std::ptrdiff_t>(start),
                                        side.view.log.end());
    }

    SessionPair pair;
};

}  // namespace

TEST(TransferChecksum, AddsBytesModulo65535KeepingItself) {
    EXPECT_EQ(TransferChecksum(0), 0u);
    EXPECT_EQ(TransferChecksum(97 + 98 + 99), 294u);
    EXPECT_EQ(TransferChecksum(65535), 65535u);
    EXPECT_EQ(TransferChecksum(65536), 1u);
    EXPECT_EQ(TransferChecksum(2 * 65535), 65535u);
    for (const std::size_t size : {1u, 257u, 300u, 70000u}) {
        const std::string bytes = Bytes(size, static_cast<uint32_t>(size));
        uint64_t sum = 0;
        for (const char c : bytes) sum += static_cast<unsigned char>(c);
        EXPECT_EQ(TransferChecksum(sum), ChecksumByteByByte(bytes)) << size;
    }
    // 257 bytes of 255 reach exactly 65535; one more byte of 1 makes it 1.
    EXPECT_EQ(ChecksumByteByByte(std::string(257, '\xff')), 65535u);
    EXPECT_EQ(ChecksumByteByByte(std::string(257, '\xff') + "\x01"), 1u);
}

TEST(TransferTexts, HexChunksAndOfferedNames) {
    EXPECT_EQ(HexChunk(std::string("\x00\x0a\xff"
                                   "a",
                                   4)),
              "000AFF61");
    EXPECT_EQ(DecodeHexChunk("4a4B5"), "JK");
    EXPECT_EQ(DecodeHexChunk(""), "");
    try {
        DecodeHexChunk("41zz");
        FAIL();
    } catch (const EConvertError& error) {
        EXPECT_STREQ(error.what(), "'zz' is not a valid integer value");
    }
}

TEST_F(Transfer, FilesOfEverySizeArriveByteForByteBothWays) {
    for (const std::size_t size : {1u, 255u, 256u, 510u, 100003u}) {
        for (const bool fromClient : {true, false}) {
            Harness& from = fromClient ? pair.client : pair.server;
            Harness& to = fromClient ? pair.server : pair.client;
            const std::string bytes = Bytes(size, static_cast<uint32_t>(size));
            const std::size_t fromStart = from.view.log.size();
            const std::size_t toStart = to.view.log.size();
            Send(from, to, bytes);
            SCOPED_TRACE(std::to_string(size) + (fromClient ? " from the client" : " from the server"));
            EXPECT_EQ(to.files->files["/tmp/in/report.pdf"], bytes);
            EXPECT_EQ(to.view.questions.back(),
                      "Peer is sending file report.pdf, size=" + std::to_string(size) + ".  Save?");
            EXPECT_EQ(to.view.offeredNames.back(), "report.pdf");
            EXPECT_EQ(
                LogSince(from, fromStart),
                (std::vector<std::string>{"Waiting for peer to accept file...please wait",
                                          "Transmitting /home/a/report.pdf", "Transmitted file /home/a/report.pdf"}));
            EXPECT_EQ(LogSince(to, toStart),
                      (std::vector<std::string>{"Receiving file /tmp/in/report.pdf", "Finished reading file ok"}));
            EXPECT_FALSE(from.State().isTransferring);
            EXPECT_FALSE(to.State().isTransferring);
            EXPECT_EQ(from.files->openFiles, 0);
            EXPECT_EQ(to.files->openFiles, 0);
            EXPECT_EQ(from.view.status, std::make_pair(static_cast<int64_t>(size), static_cast<int64_t>(size)));
            EXPECT_EQ(from.view.lastState, from.State());
        }
    }
}

TEST_F(Transfer, ChunksAreAtMost255BytesAsUppercaseHex) {
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    pair.client.session->StartLogging();
    Send(pair.client, pair.server, all);
    EXPECT_EQ(pair.server.files->files["/tmp/in/report.pdf"], all);
    const std::string trace = pair.client.files->files["quellmere.log"];
    EXPECT_NE(trace.find("Sending plaintext: " + HexChunk(all.substr(0, 255)) + "\n"), std::string::npos);
    EXPECT_NE(trace.find("Sending plaintext: FF\n"), std::string::npos);
    EXPECT_NE(trace.find("Sent 255 bytes\n"), std::string::npos);
    EXPECT_NE(trace.find("Sent 256 bytes\n"), std::string::npos);
    EXPECT_NE(trace.find("Sending plaintext: **FILE_END**?" + std::to_string(ChecksumByteByByte(all)) + "\n"),
              std::string::npos);
}

TEST_F(Transfer, AnEmptyFileIsRefusedBeforeAnythingIsSent) {
    pair.client.files->files["/empty"] = "";
    const std::string sent = pair.client.client->connection.sent;
    pair.client.session->Offer("/empty");
    EXPECT_EQ(pair.client.view.errors, std::vector<std::string>{"File is empty!"});
    EXPECT_EQ(pair.client.client->connection.sent, sent);
}

TEST_F(Transfer, ARefusalIsReportedToTheSender) {
    pair.server.view.answerYes = false;
    Send(pair.client, pair.server, "data");
    EXPECT_EQ(pair.client.view.log.back(), "Peer rejected file");
    EXPECT_FALSE(pair.client.In().isOffering());
    EXPECT_TRUE(pair.server.view.offeredNames.empty());
}

TEST_F(Transfer, AFileThatCannotBeCreatedIsRefused) {
    pair.server.files->refusal = "File access denied";
    Send(pair.client, pair.server, "data");
    EXPECT_EQ(pair.server.view.log.back(), "Error opening /tmp/in/report.pdf for write");
    EXPECT_EQ(pair.client.view.log.back(), "Peer rejected file");
}

TEST_F(Transfer, HostileOfferedNamesAreMadeSafeBeforeAnythingIsAsked) {
    pair.server.view.answerYes = false;
    for (const std::string& offered : std::vector<std::string>{"../../x", "a\\b", "", "..", "two\r\nlines", std::string("nul\0.txt", 8)}) {
        pair.Type(pair.client, "**FILE_START**" + offered + "?3");
        pair.Run();
        EXPECT_EQ(pair.server.view.questions.back(),
                  "Peer is sending file " + SafeFileName(offered) + ", size=3.  Save?");
    }
    // The text after the marker's 14 characters counts, wherever the marker stands.
    pair.Type(pair.client, "see **FILE_START**here?12 now");
    pair.Run();
    EXPECT_EQ(pair.server.view.log.back(), "Refused file RT**here: its size is not a number");
}

TEST_F(Transfer, AnOfferWhoseSizeIsNoNumberIsRefusedWithoutAQuestion) {
    for (const char* sizeText : {"12x", "", "-5", "+5", " 5", "5 ", "0x10", "9999999999999999999"}) {
        const std::size_t questions = pair.server.view.questions.size();
        const int32_t sent = pair.server.In().sendSequence();
        pair.Type(pair.client, std::string("**FILE_START**a.bin?") + sizeText);
        pair.Run();
        EXPECT_EQ(pair.server.view.questions.size(), questions) << sizeText;
        EXPECT_EQ(pair.server.view.log.back(), "Refused file a.bin: its size is not a number") << sizeText;
        // The refusal went back.
        EXPECT_EQ(pair.server.In().sendSequence(), sent + 1) << sizeText;
        EXPECT_TRUE(pair.server.State().isActive);
    }
    pair.Type(pair.client, "**FILE_START**noseparator.bin");
    pair.Run();
    EXPECT_EQ(pair.server.view.log.back(), "Refused file noseparator.bin: its size is not a number");
    // Digits with leading zeros are still a number.
    pair.server.view.answerYes = false;
    pair.Type(pair.client, "**FILE_START**a.bin?007");
    pair.Run();
    EXPECT_EQ(pair.server.view.questions.back(), "Peer is sending file a.bin, size=7.  Save?");
}

TEST_F(Transfer, WhatIsNoNumberEndsTheConnectionWithTheConversionError) {
    struct Case {
        std::vector<std::string> texts;
        std::string error;
    };
    const std::vector<Case> cases = {
        {{"**FILE_START**a?2", "41zz"}, "'zz' is not a valid integer value"},
        {{"**FILE_START**a?2", "**FILE_END**?x"}, "'x' is not a valid integer value"},
        {{"**FILE_START**a?2", "**FILE_END**"}, "'' is not a valid integer value"},
    };
    for (const Case& c : cases) {
        SessionPair fresh;
        fresh.Run();
        fresh.server.view.saveAs = "/tmp/a";
        for (const std::string& text : c.texts) fresh.Type(fresh.client, text);
        fresh.Run();
        EXPECT_TRUE(fresh.server.view.HasLine(c.error)) << c.texts.back();
        EXPECT_FALSE(fresh.server.State().isActive);
        EXPECT_FALSE(fresh.server.State().isTransferring);
        EXPECT_EQ(fresh.server.files->openFiles, 0);
    }
}

TEST_F(Transfer, OddAndLowerCaseChunksAreReadAsTheReceiverReadsThem) {
    pair.server.view.saveAs = "/tmp/odd";
    for (const char* text : {"**FILE_START**odd?3", "4a6", "b4",
                             "**FILE_END**?"
                             "254"})
        pair.Type(pair.client, text);
    pair.Run();
    EXPECT_EQ(pair.server.files->files["/tmp/odd"], "J\xb4");
    EXPECT_EQ(pair.server.view.log.back(),
              "Finished reading file but received 2 of 3, checksum=254, peer checksum=254");
}

TEST_F(Transfer, AFileThatShrankOrGrewGoesAtItsSizeWhenSent) {
    const std::string path = "/home/a/changing";
    pair.client.files->files[path] = Bytes(1000);
    pair.server.view.saveAs = "/tmp/changing";
    pair.client.session->Offer(path);
    // The offer said 1000; by the time it is accepted, the file has 600 bytes.
    pair.client.client->Receive(std::string());
    pair.client.files->files[path] = Bytes(600);
    pair.Run();
    EXPECT_EQ(pair.server.files->files["/tmp/changing"], Bytes(600));
    EXPECT_EQ(pair.server.view.log.back().substr(0, 47), "Finished reading file but received 600 of 1000,");

    pair.client.files->files[path] = Bytes(10);
    pair.client.session->Offer(path);
    pair.client.files->files[path] = Bytes(20);
    pair.Run();
    EXPECT_EQ(pair.server.files->files["/tmp/changing"], Bytes(20));
    EXPECT_EQ(pair.server.view.log.back().substr(0, 44), "Finished reading file but received 20 of 10,");
}

TEST_F(Transfer, AFileThatShrinksWhileBeingSentEndsWithTheEndMessage) {
    const std::string path = "/home/a/big";
    pair.client.files->files[path] = Bytes(2000000);
    pair.server.view.saveAs = "/tmp/big";
    pair.client.client->connection.backlogged = true;
    pair.client.session->Offer(path);
    pair.Run();
    // The first batches have been read by now; most of the rest is gone.
    pair.client.files->files[path].resize(600000);
    for (int i = 0; i < 100 && pair.client.State().isTransferring; ++i) {
        pair.client.client->connection.Drain(1u << 30);
        pair.Run();
    }
    EXPECT_FALSE(pair.client.State().isTransferring);
    EXPECT_EQ(pair.client.view.log.back(), "Transmitted file /home/a/big");
    EXPECT_FALSE(pair.server.State().isTransferring);
    EXPECT_EQ(pair.server.view.log.back().substr(0, 53), "Finished reading file but received 600000 of 2000000,");
}

TEST_F(Transfer, AReadErrorIsLoggedAndEndsTheTransfer) {
    pair.client.files->readFailure = "I/O error 5";
    Send(pair.client, pair.server, Bytes(1000));
    EXPECT_TRUE(pair.client.view.HasLine("Error reading /home/a/report.pdf: I/O error 5"));
    EXPECT_EQ(pair.server.view.log.back(), "Finished reading file but received 0 of 1000, checksum=0, peer checksum=0");
}

TEST_F(Transfer, AFullDiskIsLoggedAndNothingUnwrittenCountsAsReceived) {
    pair.server.files->diskSpace = 600;
    Send(pair.client, pair.server, Bytes(2000));
    EXPECT_TRUE(pair.server.view.HasLine("Error writing /tmp/in/report.pdf: Disk full"));
    EXPECT_EQ(pair.server.files->files["/tmp/in/report.pdf"], Bytes(2000).substr(0, 510));
    EXPECT_EQ(pair.server.view.log.back().substr(0, 47), "Finished reading file but received 510 of 2000,");
}

TEST_F(Transfer, AnswersStayAnswersWhileAFileArrives) {
    pair.server.view.saveAs = "/tmp/x";
    pair.Type(pair.client, "**FILE_START**x?4");
    pair.Run();
    ASSERT_TRUE(pair.server.State().isTransferring);
    // Neither a chat line nor file data: the server offered nothing, so it is no answer either.
    pair.Type(pair.client, "FILE_OK");
    pair.Type(pair.client, "41424344");
    pair.Type(pair.client, "**FILE_END**?266");
    pair.Run();
    EXPECT_EQ(pair.server.files->files["/tmp/x"], "ABCD");
    EXPECT_EQ(pair.server.view.log.back(), "Finished reading file ok");
}

TEST_F(Transfer, CancelSendsTheEndMessageAtOnce) {
    pair.client.client->connection.backlogged = true;
    Send(pair.client, pair.server, Bytes(300000));
    ASSERT_TRUE(pair.client.In().isSending());
    const int64_t sent = pair.client.In().transferredBytes();
    pair.client.session->CancelSending();
    EXPECT_FALSE(pair.client.State().isTransferring);
    EXPECT_EQ(pair.client.view.log.back(), "Transmitted file /home/a/report.pdf");
    EXPECT_TRUE(pair.client.view.HasLine("Cancelled sending /home/a/report.pdf after " + std::to_string(sent) +
                                         " of 300000 bytes"));
    pair.client.client->connection.Drain(1u << 30);
    pair.Run();
    EXPECT_EQ(pair.server.view.log.back().substr(0, 35 + std::to_string(sent).size() + 10),
              "Finished reading file but received " + std::to_string(sent) + " of 300000");
    EXPECT_EQ(pair.server.files->files["/tmp/in/report.pdf"], Bytes(300000).substr(0, sent));
}

TEST_F(Transfer, ASlowReaderKeepsTheSenderWithinItsBounds) {
    pair.client.client->connection.backlogged = true;
    Send(pair.client, pair.server, Bytes(2000000));
    const TSessionInspection sending = pair.client.In();
    // Nothing drains: the sender stops at the connection's bound.
    EXPECT_LT(sending.transferredBytes(), 100000);
    EXPECT_LE(pair.client.client->connection.UnsentBytes(), TWire::sendRoomBytes + 1000);
    int rounds = 0;
    while (pair.client.State().isTransferring && rounds++ < 10000) {
        pair.client.client->connection.Drain(16384);
        pair.Run();
        ASSERT_LE(pair.client.client->connection.UnsentBytes(), TWire::sendRoomBytes + 1000);
    }
    EXPECT_EQ(pair.server.files->files["/tmp/in/report.pdf"], Bytes(2000000));
}

TEST_F(Transfer, ADisconnectMidTransferClosesTheFileAndClearsBothSides) {
    pair.client.client->connection.backlogged = true;
    Send(pair.client, pair.server, Bytes(500000));
    // What left before the drop arrives; then the receiver's side goes.
    pair.client.client->connection.Drain(1u << 30);
    pair.Run();
    const int64_t arrived = pair.server.In().transferredBytes();
    ASSERT_GT(arrived, 0);
    pair.server.session->Disconnect();
    EXPECT_TRUE(pair.server.view.HasLine("Receiving /tmp/in/report.pdf stopped with the connection after " +
                                         std::to_string(arrived) + " of 500000 bytes"));
    EXPECT_FALSE(pair.server.State().isTransferring);
    EXPECT_EQ(pair.server.files->openFiles, 0);
    // The sender hears of it when its connection closes.
    const int64_t sent = pair.client.In().transferredBytes();
    pair.client.client->connection.CloseConnection();
    EXPECT_EQ(
        pair.client.view.log[pair.client.view.log.size() - 2],
        "Sending /home/a/report.pdf stopped with the connection after " + std::to_string(sent) + " of 500000 bytes");
    EXPECT_FALSE(pair.client.State().isTransferring);
    EXPECT_EQ(pair.client.files->openFiles, 0);
    EXPECT_EQ(pair.client.view.lastState, pair.client.State());
}

TEST_F(Transfer, OffersThatCrossAreBothRefusedInsteadOfMixedUp) {
    pair.client.files->files["/c"] = "from client";
    pair.server.files->files["/s"] = "from server";
    pair.client.session->Offer("/c");
    pair.server.session->Offer("/s");
    pair.Run();
    for (Harness* side : {&pair.client, &pair.server}) {
        EXPECT_TRUE(side->view.questions.empty());
        EXPECT_EQ(side->view.log.back(), "Peer rejected file");
        EXPECT_FALSE(side->In().isOffering());
        EXPECT_TRUE(side->State().isActive);
    }
    EXPECT_TRUE(pair.server.view.HasLine("Refused file c: our own offer waits for its answer"));
    // Afterwards one at a time works.
    Send(pair.client, pair.server, "again");
    EXPECT_EQ(pair.server.files->files["/tmp/in/report.pdf"], "again");
}
