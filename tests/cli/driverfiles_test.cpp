// Files in a terminal conversation: the commands among the typed lines,
// offers from --send and /send one at a time, offers accepted into a folder
// under free names or refused, cancelling, the end of input waiting for
// answers and transfers, and the progress line. Two sides on fakes, joined
// back to back.

#include <gtest/gtest.h>

#include "driverpair.h"
#include "session/filetransfer.h"
#include "support/testhelpers.h"
#include "session/keyexchange.h"

namespace {

std::string Bytes(std::size_t size, uint32_t seed = 7) { return PseudoRandomBytes(size, seed); }

// What a side showed after the key exchange.
std::vector<std::string> LinesAfterHandshake(const Side& side) {
    const std::vector<std::string> lines = side.Lines();
    auto complete = std::find(lines.begin(), lines.end(), std::string(kHandshakeCompleteText));
    EXPECT_NE(complete, lines.end());
    return std::vector<std::string>(complete == lines.end() ? complete : complete + 1, lines.end());
}

std::vector<std::string> SentLog(const std::string& path) {
    return {"Waiting for peer to accept file...please wait", "Transmitting " + path, "Transmitted file " + path};
}

std::vector<std::string> Concatenated(std::vector<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The connector's bytes stay unsent until drained, so its file moves only when the test says.
void DrainUntilSent(Pair& pair) {
    for (int round = 0; round < 1000 && pair.connector.State().isTransferring; ++round) {
        pair.connector.fakes.client->connection.Drain(1u << 30);
        pair.Run();
    }
    pair.connector.fakes.client->connection.Drain(1u << 30);
    pair.Run();
}

// The connector starts sending PATH (300,000 bytes) to a listener that takes
// it; its bytes wait until drained, so the file stays part-way.
void StartHeldBackSend(Pair& pair, const std::string& path) {
    pair.connector.fakes.files->files[path] = Bytes(300000);
    pair.Start();
    pair.Run();
    pair.connector.fakes.client->connection.backlogged = true;
    pair.connector.driver->TypedLine("/send " + path);
    pair.Run();
}

const std::string kNoFolder = " No: files are taken only with --accept-files\n";

}  // namespace

// ---------------------------------------------------------------- typed commands

TEST(TypedLines, CommandsAreDecidedByTheFirstWord) {
    using TKind = TTypedLine::TKind;
    const std::vector<std::tuple<std::string, TKind, std::string>> cases = {
        {"hello", TKind::Chat, "hello"},
        {"", TKind::Chat, ""},
        {"/send /home/a/report.pdf", TKind::SendFile, "/home/a/report.pdf"},
        {"/send my file.txt", TKind::SendFile, "my file.txt"},
        {"/send\t/tmp/a", TKind::SendFile, "/tmp/a"},
        {"/cancel", TKind::Cancel, ""},
        {"/cancel  ", TKind::Cancel, ""},
        {"/quit", TKind::Quit, ""},
        {"/quit\t", TKind::Quit, ""},
        {"//send x", TKind::Chat, "/send x"},
        {"//", TKind::Chat, "/"},
        {"///quit", TKind::Chat, "//quit"},
        {"/me waves", TKind::Chat, "/me waves"},
        {"/sendx", TKind::Chat, "/sendx"},
        {"/", TKind::Chat, "/"},
        {"say /quit", TKind::Chat, "say /quit"},
        {" /quit", TKind::Chat, " /quit"},
        {"/send", TKind::Mistyped, "/send needs a PATH"},
        {"/send ", TKind::Mistyped, "/send needs a PATH"},
        {"/quit now", TKind::Mistyped, "/quit takes nothing after it"},
        {"/cancel it", TKind::Mistyped, "/cancel takes nothing after it"},
    };
    for (const auto& [line, kind, text] : cases) {
        const TTypedLine typed = ReadTypedLine(line);
        EXPECT_EQ(typed.kind, kind) << line;
        EXPECT_EQ(typed.text, text) << line;
    }
}

TEST(DriverCommands, DoubleSlashAndOtherSlashLinesAreChat) {
    Pair pair;
    pair.Start();
    for (const char* line : {"//send x", "/me waves", "//"}) pair.connector.driver->TypedLine(line);
    pair.Run();
    EXPECT_EQ(
        LinesAfterHandshake(pair.listener),
        (std::vector<std::string>{"PEER (11:01:04) : /send x", "PEER (11:01:04) : /me waves", "PEER (11:01:04) : /"}));
    EXPECT_EQ(pair.connector.err.str(), "");
    EXPECT_TRUE(pair.connector.quits.empty());
}

TEST(DriverCommands, MistypedCommandsAreReportedAtOnceAndNeverSent) {
    Pair pair;
    pair.StartListener();
    pair.Join();
    // Before the key exchange is complete: the mistake is ours, not the conversation's.
    pair.connector.driver->TypedLine("/send");
    pair.connector.driver->TypedLine("/quit now");
    EXPECT_EQ(pair.connector.err.str(), "/send needs a PATH\n/quit takes nothing after it\n");
    EXPECT_EQ(pair.connector.driver->waitingLines(), 0u);
    pair.Run();
    EXPECT_TRUE(LinesAfterHandshake(pair.listener).empty());
    EXPECT_TRUE(pair.connector.quits.empty());
}

TEST(DriverCommands, QuitWaitsForTheKeyExchangeThenHangsUpAtOnce) {
    Pair pair;
    pair.StartListener();
    pair.connector.driver->TypedLine("before");
    pair.connector.driver->TypedLine("/quit");
    pair.connector.driver->TypedLine("after");
    pair.Join();
    pair.connector.RunPosted();
    EXPECT_TRUE(pair.connector.quits.empty());
    EXPECT_EQ(pair.connector.driver->waitingLines(), 3u);
    pair.Run();
    EXPECT_EQ(pair.connector.quits, std::vector<int>{0});
    EXPECT_FALSE(pair.connector.fakes.client->Active());
    EXPECT_EQ(LinesAfterHandshake(pair.listener), std::vector<std::string>{"PEER (11:01:04) : before"});
    EXPECT_EQ(pair.connector.driver->waitingLines(), 1u);
}

TEST(DriverCommands, QuitEndsEvenAListenerThatKeepsListening) {
    Pair pair({"listen", "--keep-listening"});
    pair.Start();
    pair.Run();
    pair.listener.driver->TypedLine("/quit");
    pair.Run();
    EXPECT_EQ(pair.listener.quits, std::vector<int>{0});
    EXPECT_FALSE(pair.listener.fakes.server->Active());
}

TEST(DriverCommands, SendOffersAFileAndReportsWhatCannotBeOffered) {
    Pair pair({"listen", "--accept-files", "/in"});
    pair.connector.fakes.files->files["/home/a/report.pdf"] = Bytes(1000);
    pair.connector.fakes.files->files["/home/a/empty"] = "";
    pair.Start();
    for (const char* line : {"/send /home/a/missing", "/send /home/a/empty", "/send /home/a/report.pdf", "done"})
        pair.connector.driver->TypedLine(line);
    pair.Run();
    EXPECT_EQ(pair.connector.err.str(), "File not found\nFile is empty!\n");
    EXPECT_EQ(LinesAfterHandshake(pair.connector),
              Concatenated({SentLog("/home/a/report.pdf"), {"YOU  (11:01:04) : done"}}));
    EXPECT_EQ(LinesAfterHandshake(pair.listener),
              (std::vector<std::string>{"Receiving file /in/report.pdf", "Finished reading file ok",
                                        "PEER (11:01:04) : done"}));
    EXPECT_EQ(pair.listener.fakes.files->files["/in/report.pdf"], Bytes(1000));
    EXPECT_EQ(pair.listener.err.str(), "");
}

TEST(DriverCommands, CancelGoesAheadOfLinesWaitingForTheFile) {
    Pair pair({"listen", "--accept-files", "/in"});
    StartHeldBackSend(pair, "/big");
    const TSessionInspection sending = pair.connector.In();
    ASSERT_TRUE(sending.isSending());
    const int64_t sent = sending.transferredBytes();
    ASSERT_GT(sent, 0);
    ASSERT_LT(sent, 300000);
    // The chat line waits for the file; the cancel does not wait behind it.
    pair.connector.driver->TypedLine("after the file");
    pair.connector.driver->TypedLine("/cancel");
    pair.connector.RunPosted();
    EXPECT_FALSE(sending.isSending());
    EXPECT_EQ(pair.connector.driver->waitingLines(), 0u);
    const std::string counted = std::to_string(sent);
    EXPECT_EQ(LinesAfterHandshake(pair.connector),
              (std::vector<std::string>{"Waiting for peer to accept file...please wait", "Transmitting /big",
                                        "Cancelled sending /big after " + counted + " of 300000 bytes",
                                        "Transmitted file /big", "YOU  (11:01:04) : after the file"}));
    DrainUntilSent(pair);
    const std::vector<std::string> heard = LinesAfterHandshake(pair.listener);
    ASSERT_EQ(heard.size(), 3u);
    EXPECT_EQ(heard[0], "Receiving file /in/big");
    EXPECT_EQ(heard[1].rfind("Finished reading file but received " + counted + " of 300000, checksum=", 0), 0u);
    EXPECT_EQ(heard[2], "PEER (11:01:04) : after the file");
    EXPECT_EQ(pair.listener.fakes.files->files["/in/big"], Bytes(300000).substr(0, static_cast<std::size_t>(sent)));
}

TEST(DriverCommands, CancelWithNothingBeingSentDoesNothing) {
    Pair pair;
    pair.Start();
    pair.connector.driver->TypedLine("/cancel");
    pair.connector.driver->TypedLine("still here");
    pair.Run();
    EXPECT_EQ(LinesAfterHandshake(pair.connector), std::vector<std::string>{"YOU  (11:01:04) : still here"});
    EXPECT_EQ(pair.connector.err.str(), "");
}

// ---------------------------------------------------------------- offered files

TEST(DriverAcceptFiles, FilesAreSavedBesideTheOnesAlreadyThere) {
    Pair pair({"listen", "--accept-files", "/in"}, {"connect", "server.example", "--send", "/home/a/report.pdf",
                                                    "--send", "/home/b/report.pdf", "--send", "/home/a/notes"});
    FakeFileSystem& mine = *pair.listener.fakes.files;
    mine.files["/in/report.pdf"] = "old";
    mine.files["/in/report (1).pdf"] = "older";
    mine.files["/in/notes"] = "kept";
    FakeFileSystem& theirs = *pair.connector.fakes.files;
    theirs.files["/home/a/report.pdf"] = Bytes(700, 1);
    theirs.files["/home/b/report.pdf"] = Bytes(300, 2);
    theirs.files["/home/a/notes"] = Bytes(10, 3);
    pair.Start();
    pair.Run();
    EXPECT_EQ(LinesAfterHandshake(pair.listener),
              (std::vector<std::string>{"Receiving file /in/report (2).pdf", "Finished reading file ok",
                                        "Receiving file /in/report (3).pdf", "Finished reading file ok",
                                        "Receiving file /in/notes (1)", "Finished reading file ok"}));
    EXPECT_EQ(mine.files["/in/report.pdf"], "old");
    EXPECT_EQ(mine.files["/in/report (1).pdf"], "older");
    EXPECT_EQ(mine.files["/in/notes"], "kept");
    EXPECT_EQ(mine.files["/in/report (2).pdf"], Bytes(700, 1));
    EXPECT_EQ(mine.files["/in/report (3).pdf"], Bytes(300, 2));
    EXPECT_EQ(mine.files["/in/notes (1)"], Bytes(10, 3));
    EXPECT_EQ(mine.openFiles, 0);
    EXPECT_EQ(pair.listener.err.str(), "");
}

TEST(DriverAcceptFiles, OverwriteReplacesAFileOfTheSameName) {
    Pair pair({"listen", "--accept-files", "/in", "--overwrite"},
              {"connect", "server.example", "--send", "/home/a/report.pdf"});
    pair.listener.fakes.files->files["/in/report.pdf"] = "old";
    pair.connector.fakes.files->files["/home/a/report.pdf"] = Bytes(600);
    pair.Start();
    pair.Run();
    EXPECT_EQ(LinesAfterHandshake(pair.listener),
              (std::vector<std::string>{"Receiving file /in/report.pdf", "Finished reading file ok"}));
    EXPECT_EQ(pair.listener.fakes.files->files["/in/report.pdf"], Bytes(600));
    EXPECT_EQ(pair.listener.fakes.files->files.size(), 1u);
}

TEST(DriverAcceptFiles, WithoutTheOptionOffersAreRefused) {
    Pair pair({"listen"}, {"connect", "server.example", "--send", "/home/a/report.pdf", "--send", "/home/a/x.txt"});
    pair.connector.fakes.files->files["/home/a/report.pdf"] = "data";
    pair.connector.fakes.files->files["/home/a/x.txt"] = "more data";
    pair.Start();
    pair.Run();
    // The session logs nothing for a refusal; the terminal says what it refused.
    EXPECT_TRUE(LinesAfterHandshake(pair.listener).empty());
    EXPECT_EQ(pair.listener.err.str(), "Peer is sending file report.pdf, size=4.  Save?" + kNoFolder +
                                           "Peer is sending file x.txt, size=9.  Save?" + kNoFolder);
    EXPECT_TRUE(pair.listener.fakes.files->files.empty());
    // Each refusal lets the next file go.
    EXPECT_EQ(LinesAfterHandshake(pair.connector),
              (std::vector<std::string>{"Waiting for peer to accept file...please wait", "Peer rejected file",
                                        "Waiting for peer to accept file...please wait", "Peer rejected file"}));
    EXPECT_EQ(pair.connector.driver->waitingLines(), 0u);
}

TEST(DriverAcceptFiles, AnOfferCrossingOurOwnIsRefused) {
    Pair pair({"listen", "--accept-files", "/in"}, {"connect", "server.example", "--accept-files", "/in"});
    pair.listener.fakes.files->files["/l.txt"] = "from the listener";
    pair.connector.fakes.files->files["/c.txt"] = "from the connector";
    pair.Start();
    pair.Run();
    // Both offer before either offer arrives: taking one would mix it up with our own.
    pair.listener.driver->TypedLine("/send /l.txt");
    pair.connector.driver->TypedLine("/send /c.txt");
    pair.listener.RunPosted();
    pair.connector.RunPosted();
    pair.Run();
    // The session itself refuses an offer that crosses ours, before anyone is asked.
    EXPECT_EQ(pair.listener.err.str(), "");
    EXPECT_EQ(pair.connector.err.str(), "");
    const std::vector<std::string> lines = pair.listener.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Refused file c.txt: our own offer waits for its answer"),
              lines.end());
    EXPECT_EQ(pair.listener.Lines().back(), "Peer rejected file");
    EXPECT_EQ(pair.connector.Lines().back(), "Peer rejected file");
    // Nothing is left half done: the conversation goes on.
    pair.listener.driver->TypedLine("/send /l.txt");
    pair.Run();
    EXPECT_EQ(pair.connector.fakes.files->files["/in/l.txt"], "from the listener");
    EXPECT_EQ(pair.connector.Lines().back(), "Finished reading file ok");
}

// ---------------------------------------------------------------- --send

TEST(DriverSendOption, FilesGoInOrderEachAfterThePreviousEnded) {
    Pair pair({"listen", "--accept-files", "/in"},
              {"connect", "server.example", "--send", "/a", "--send", "/missing", "--send", "/empty", "--send", "/b"});
    FakeFileSystem& theirs = *pair.connector.fakes.files;
    theirs.files["/a"] = Bytes(200000, 1);
    theirs.files["/empty"] = "";
    theirs.files["/b"] = Bytes(5000, 2);
    pair.connector.driver->TypedLine("typed after the options");
    pair.connector.fakes.client->connection.backlogged = true;
    pair.Start();
    pair.Run();
    // The first file is on its way; the others wait for it.
    ASSERT_TRUE(pair.connector.In().isSending());
    EXPECT_EQ(pair.connector.driver->waitingLines(), 4u);
    EXPECT_EQ(pair.connector.err.str(), "");
    DrainUntilSent(pair);
    EXPECT_EQ(pair.connector.err.str(), "File not found\nFile is empty!\n");
    EXPECT_EQ(LinesAfterHandshake(pair.connector),
              Concatenated({SentLog("/a"), SentLog("/b"), {"YOU  (11:01:04) : typed after the options"}}));
    EXPECT_EQ(LinesAfterHandshake(pair.listener),
              (std::vector<std::string>{"Receiving file /in/a", "Finished reading file ok", "Receiving file /in/b",
                                        "Finished reading file ok", "PEER (11:01:04) : typed after the options"}));
    EXPECT_EQ(pair.listener.fakes.files->files["/in/a"], Bytes(200000, 1));
    EXPECT_EQ(pair.listener.fakes.files->files["/in/b"], Bytes(5000, 2));
    EXPECT_TRUE(pair.connector.quits.empty());
}

TEST(DriverSendOption, NothingIsOfferedBeforeTheKeyExchangeIsComplete) {
    Pair pair({"listen", "--accept-files", "/in"}, {"connect", "server.example", "--send", "/a"});
    pair.connector.fakes.files->files["/a"] = "abc";
    pair.StartListener();
    pair.connector.driver->Start();
    pair.connector.RunPosted();
    EXPECT_EQ(pair.connector.driver->waitingLines(), 1u);
    EXPECT_FALSE(pair.connector.In().isOffering());
    pair.Join();
    pair.Run();
    EXPECT_EQ(pair.listener.fakes.files->files["/in/a"], "abc");
}

// ---------------------------------------------------------------- end of input

TEST(DriverFilesEndOfInput, WaitsForTheAnswerThenForTheTransfer) {
    Pair pair({"listen", "--accept-files", "/in"});
    pair.connector.fakes.files->files["/a"] = Bytes(200000);
    pair.Start();
    pair.Run();
    pair.connector.driver->TypedLine("/send /a");
    pair.connector.driver->InputEnded();
    pair.connector.RunPosted();
    pair.connector.RunPosted();
    // The offer is out; its answer has not come.
    ASSERT_TRUE(pair.connector.In().isOffering());
    EXPECT_TRUE(pair.connector.quits.empty());
    EXPECT_TRUE(pair.connector.fakes.client->Active());

    pair.connector.fakes.client->connection.backlogged = true;
    pair.Run();
    ASSERT_TRUE(pair.connector.In().isSending());
    EXPECT_TRUE(pair.connector.quits.empty());
    EXPECT_TRUE(pair.connector.fakes.client->Active());

    DrainUntilSent(pair);
    EXPECT_EQ(pair.connector.quits, std::vector<int>{0});
    EXPECT_FALSE(pair.connector.fakes.client->Active());
    const std::vector<std::string> said = LinesAfterHandshake(pair.connector);
    EXPECT_EQ(said, Concatenated({SentLog("/a"), {"Disconnected"}}));
    EXPECT_EQ(pair.listener.fakes.files->files["/in/a"], Bytes(200000));
    EXPECT_EQ(pair.listener.Lines().back(), "Finished reading file ok");
}

TEST(DriverFilesEndOfInput, ARefusalIsAnAnswerToo) {
    Pair pair({"listen"}, {"connect", "server.example", "--send", "/a"});
    pair.connector.fakes.files->files["/a"] = "abc";
    pair.connector.driver->InputEnded();
    pair.Start();
    pair.Run();
    EXPECT_EQ(LinesAfterHandshake(pair.connector),
              (std::vector<std::string>{"Waiting for peer to accept file...please wait", "Peer rejected file",
                                        "Disconnected"}));
    EXPECT_EQ(pair.connector.quits, std::vector<int>{0});
}

TEST(DriverFilesEndOfInput, AReceiverWaitsForTheFileToArrive) {
    Pair pair({"listen", "--accept-files", "/in"});
    StartHeldBackSend(pair, "/a");
    ASSERT_TRUE(pair.listener.State().isTransferring);
    pair.listener.driver->InputEnded();
    pair.Run();
    EXPECT_TRUE(pair.listener.quits.empty());
    EXPECT_TRUE(pair.listener.fakes.server->Active());
    DrainUntilSent(pair);
    EXPECT_EQ(pair.listener.quits, std::vector<int>{0});
    EXPECT_EQ(pair.listener.fakes.files->files["/in/a"], Bytes(300000));
    EXPECT_EQ(LinesAfterHandshake(pair.listener),
              (std::vector<std::string>{"Receiving file /in/a", "Finished reading file ok", "Client disconnected",
                                        "Disconnected"}));
}

TEST(DriverFilesEndOfInput, AReceiverWhosePeerHangsUpEndsAsTheSessionReports) {
    Pair pair({"listen", "--accept-files", "/in"});
    StartHeldBackSend(pair, "/a");
    const int64_t arrived = pair.listener.In().transferredBytes();
    ASSERT_GT(arrived, 0);
    pair.listener.driver->InputEnded();
    pair.serverEnd->CloseConnection();
    pair.listener.RunPosted();
    EXPECT_EQ(pair.listener.quits, std::vector<int>{0});
    EXPECT_EQ(pair.listener.fakes.files->openFiles, 0);
    EXPECT_EQ(LinesAfterHandshake(pair.listener),
              (std::vector<std::string>{
                  "Receiving file /in/a", "Client disconnected",
                  "Receiving /in/a stopped with the connection after " + std::to_string(arrived) + " of 300000 bytes",
                  "Disconnected"}));
}

// ---------------------------------------------------------------- the progress line

TEST(DriverProgress, ACancelledTransferEndsItsProgressLine) {
    Pair pair({"listen", "--accept-files", "/in"});
    int64_t now = 0;
    pair.connector.view.EnableProgressLine(false, [&now] { return now += 40; });
    StartHeldBackSend(pair, "/a");
    ASSERT_TRUE(pair.connector.In().isSending());
    const std::string drawn = pair.connector.err.str();
    ASSERT_EQ(drawn.rfind("\r0.0 MiB of 0.3 MiB\x1b[K", 0), 0u);
    EXPECT_EQ(drawn.find('\n'), std::string::npos);
    pair.connector.driver->TypedLine("/cancel");
    pair.connector.RunPosted();
    EXPECT_EQ(pair.connector.err.str(), drawn + "\n");
    // Standard output carries the log lines alone.
    EXPECT_EQ(pair.connector.out.str().find('\r'), std::string::npos);
    EXPECT_EQ(pair.connector.out.str().find('\x1b'), std::string::npos);
    // Nothing more once the line is ended.
    DrainUntilSent(pair);
    EXPECT_EQ(pair.connector.err.str(), drawn + "\n");
}

TEST(DriverProgress, BothSidesShowTheirTransferAndEndIt) {
    Pair pair({"listen", "--accept-files", "/in"}, {"connect", "server.example", "--send", "/a"});
    int64_t listenerNow = 0;
    int64_t connectorNow = 0;
    pair.listener.view.EnableProgressLine(true, [&] { return listenerNow += 30; });
    pair.connector.view.EnableProgressLine(true, [&] { return connectorNow += 30; });
    pair.connector.fakes.files->files["/a"] = Bytes(1000);
    pair.Start();
    pair.Run();
    // Chunks of 255 bytes, 30 ms apart: the first and the last status are drawn.
    const std::string shown =
        "\r" + TransferStatusText(255, 1000, 0) + "\x1b[K\r" + TransferStatusText(1000, 1000, 90) + "\x1b[K\n";
    EXPECT_EQ(pair.connector.err.str(), shown);
    EXPECT_EQ(pair.listener.err.str(), shown);
}
