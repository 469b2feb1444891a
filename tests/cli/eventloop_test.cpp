// The pieces that work through the Qt event loop: standard input read from a
// pipe, from a regular file and from /dev/null, and delivered through the pipe.

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cli/signalpipe.h"
#include "cli/stdinreader.h"
#include "support/eventloop.h"

namespace {

struct Collected {
    std::vector<std::string> lines;
    int ends = 0;
    // Lines seen before the end was told.
    std::size_t linesAtEnd = 0;
};

std::unique_ptr<TStdinReader> ReaderInto(int fd, Collected& collected) {
    return std::make_unique<TStdinReader>(
        fd, [&collected](const std::string& line) { collected.lines.push_back(line); },
        [&collected] {
            ++collected.ends;
            collected.linesAtEnd = collected.lines.size();
        });
}

void WriteAll(int fd, const std::string& bytes) {
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

}  // namespace

TEST(StdinReader, PipeLinesArriveAsTheyAreWritten) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    Collected collected;
    auto reader = ReaderInto(ends[0], collected);
    reader->Start();
    WriteAll(ends[1], "one\r\ntw");
    ASSERT_TRUE(RunUntil([&] { return collected.lines.size() == 1; }, 5000));
    EXPECT_EQ(collected.ends, 0);
    WriteAll(ends[1], "o\n\nlast");
    close(ends[1]);
    ASSERT_TRUE(RunUntil([&] { return collected.ends == 1; }, 5000));
    EXPECT_EQ(collected.lines, (std::vector<std::string>{"one", "two", "", "last"}));
    EXPECT_EQ(collected.linesAtEnd, 4u);
    reader.reset();
    close(ends[0]);
}

TEST(StdinReader, RegularFileIsReadInChunksWithoutBlocking) {
    char name[] = "/tmp/quellmere-cli-stdin-XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    // More than one chunk, so the reading takes several turns of the loop.
    std::string bytes;
    for (int i = 0; i < 20000; ++i) bytes += "line " + std::to_string(i) + "\r\n";
    bytes += "no newline";
    WriteAll(fd, bytes);
    lseek(fd, 0, SEEK_SET);
    Collected collected;
    auto reader = ReaderInto(fd, collected);
    reader->Start();
    EXPECT_TRUE(collected.lines.empty());
    ASSERT_TRUE(RunUntil([&] { return collected.ends == 1; }, 10000));
    ASSERT_EQ(collected.lines.size(), 20001u);
    EXPECT_EQ(collected.lines[0], "line 0");
    EXPECT_EQ(collected.lines[19999], "line 19999");
    EXPECT_EQ(collected.lines[20000], "no newline");
    reader.reset();
    close(fd);
    std::remove(name);
}

TEST(StdinReader, DevNullEndsAtOnceWithNoLines) {
    const int fd = open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 0);
    Collected collected;
    auto reader = ReaderInto(fd, collected);
    reader->Start();
    ASSERT_TRUE(RunUntil([&] { return collected.ends == 1; }, 5000));
    // Nothing more comes after the end.
    QCoreApplication::processEvents();
    EXPECT_EQ(collected.ends, 1);
    EXPECT_TRUE(collected.lines.empty());
    reader.reset();
    close(fd);
}

TEST(SignalPipe, SigtermAndSigintArriveThroughTheLoop) {
    struct sigaction before {};
    sigaction(SIGTERM, nullptr, &before);
    int delivered = 0;
    {
        TSignalPipe pipe([&delivered] { ++delivered; });
        raise(SIGTERM);
        // The handler only wrote a byte; the callback comes from the loop.
        EXPECT_EQ(delivered, 0);
        ASSERT_TRUE(RunUntil([&] { return delivered == 1; }, 5000));
        raise(SIGINT);
        ASSERT_TRUE(RunUntil([&] { return delivered == 2; }, 5000));
        EXPECT_THROW(TSignalPipe([] {}), std::logic_error);
    }
    struct sigaction after {};
    sigaction(SIGTERM, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
    // Another pipe may be made once the first has gone.
    TSignalPipe again([] {});
}
