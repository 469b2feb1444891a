// A 256 MiB file of random bytes moved between two processes over
// 127.0.0.1: quellmere-cli listening with --accept-files and connecting with
// --send, against transfer_anchor, a single-threaded pair doing the same wire
// work with OpenSSL's EVP. Prints
//   file-transfer: ours X MB/s, openssl Y MB/s, ratio Z
//   file-transfer-rss: ours X MiB
//   chat-stall: ours X ms
// the last the longest time either program's event loop stood still while
// both typed 10,000 lines at once and heard all of the other's.
// MB/s = 10^6 file bytes a second, from the sender's "Transmitting " line to
// the moment both processes have exited, the faster of two runs a side; the
// received file must match the sent one in size and SHA-256. The resident
// size is the largest peak of the quellmere-cli processes: the kernel's
// high-water mark (VmHWM) as wait4 reports it when each exits. An argument
// names another quellmere-cli.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int64_t kFileBytes = int64_t{256} << 20;
constexpr const char* kFileName = "payload.bin";
// Far beyond a healthy run; a hung pair must not hold up the other benchmarks.
constexpr std::chrono::seconds kPairTimeout{150};

[[noreturn]] void FailWith(const std::string& why) { throw std::runtime_error(why); }

void RequireCall(bool ok, const std::string& what) {
    if (!ok) FailWith(what + ": " + std::strerror(errno));
}

class TTempDir {
public:
    TTempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "bench_transfer.XXXXXX").string();
        RequireCall(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
        path_ = pattern;
    }
    ~TTempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    std::string Path(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// ---------------------------------------------------------------- the file

struct TFileFacts {
    int64_t size = 0;
    std::string sha256;
};

class TSha256 {
public:
    TSha256() { EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr); }
    void Add(const char* data, std::size_t size) { EVP_DigestUpdate(context_.get(), data, size); }
    std::string Hex() {
        unsigned char digest[32];
        EVP_DigestFinal_ex(context_.get(), digest, nullptr);
        char text[65];
        for (int i = 0; i < 32; ++i) std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
        return text;
    }

private:
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context_{EVP_MD_CTX_new(), EVP_MD_CTX_free};
};

// splitmix64: random enough that nothing on the way can shortcut the bytes, and fast.
uint64_t NextRandom(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

TFileFacts WriteRandomFile(const std::string& path, int64_t size) {
    std::ofstream out(path, std::ios::binary);
    std::vector<uint64_t> block(1 << 17);
    uint64_t state = 20240611;
    TSha256 digest;
    for (int64_t left = size; left > 0;) {
        for (uint64_t& word : block) word = NextRandom(state);
        const auto piece = static_cast<std::size_t>(std::min<int64_t>(left, int64_t(block.size() * 8)));
        const auto* bytes = reinterpret_cast<const char*>(block.data());
        out.write(bytes, static_cast<std::streamsize>(piece));
        digest.Add(bytes, piece);
        left -= static_cast<int64_t>(piece);
    }
    if (!out.flush()) FailWith("cannot write " + path);
    return {size, digest.Hex()};
}

TFileFacts FactsOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) FailWith(path + " was not written");
    std::vector<char> block(1 << 20);
    TFileFacts facts;
    TSha256 digest;
    while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
        digest.Add(block.data(), static_cast<std::size_t>(in.gcount()));
        facts.size += in.gcount();
    }
    facts.sha256 = digest.Hex();
    return facts;
}

// ---------------------------------------------------------------- processes

int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    RequireCall(fd >= 0, "socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    close(fd);
    RequireCall(ok, "probing for a free port");
    return ntohs(address.sin_port);
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A program started with its standard output on a pipe read here line by
// line, its standard error in a file. Its input is either empty at once or a
// pipe held open, as a person who has not typed yet keeps a terminal open.
class TChild {
public:
    TChild(const std::vector<std::string>& arguments, const std::string& errorPath, bool holdInputOpen)
        : name_(std::filesystem::path(arguments.at(0)).filename().string() + " " + arguments.at(1)),
          errorPath_(errorPath) {
        int output[2];
        int input[2];
        RequireCall(pipe2(output, O_CLOEXEC) == 0, "pipe");
        if (holdInputOpen) {
            RequireCall(pipe2(input, O_CLOEXEC) == 0, "pipe");
        } else {
            input[0] = open("/dev/null", O_RDONLY | O_CLOEXEC);
            input[1] = -1;
        }
        const int spawned = Spawn(arguments, input[0], output[1]);
        close(input[0]);
        close(output[1]);
        output_ = output[0];
        input_ = input[1];
        if (spawned != 0) {
            errno = spawned;
            RequireCall(false, "starting " + arguments[0]);
        }
    }
    ~TChild() {
        CloseInput();
        if (output_ >= 0) close(output_);
        if (!exited_ && pid_ > 0) {
            kill(pid_, SIGKILL);
            Reap();
        }
    }
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;

    const std::string& Name() const { return name_; }
    int OutputFd() const { return output_; }
    bool Exited() const { return exited_; }
    void CloseInput() {
        if (input_ >= 0) close(input_);
        input_ = -1;
    }
    // All of TEXT into the held-open input; blocks while the program reads.
    void Write(const std::string& text) const {
        for (std::size_t at = 0; at < text.size();) {
            const ssize_t n = write(input_, text.data() + at, text.size() - at);
            if (n < 0 && errno == EINTR) continue;
            RequireCall(n > 0, "writing to " + name_);
            at += static_cast<std::size_t>(n);
        }
    }

    // What there is to read: whole lines. At the end of the output the
    // program has exited, and is reaped.
    std::vector<std::string> ReadLines() {
        // As much as a pipe holds: a program blocked on a full pipe would count as stalled.
        char buffer[64 * 1024];
        const ssize_t n = read(output_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) return {};
        if (n <= 0) {
            close(output_);
            output_ = -1;
            Reap();
            return {};
        }
        pending_.append(buffer, static_cast<std::size_t>(n));
        std::vector<std::string> lines;
        for (std::size_t end; (end = pending_.find('\n')) != std::string::npos; pending_.erase(0, end + 1))
            lines.push_back(pending_.substr(0, end));
        return lines;
    }

    Clock::time_point ExitTime() const { return exitTime_; }
    double PeakResidentMiB() const { return static_cast<double>(usage_.ru_maxrss) / 1024.0; }
    // Exited with status 0; otherwise throws with what it said on standard error.
    void RequireSuccess() const {
        if (WIFEXITED(status_) && WEXITSTATUS(status_) == 0) return;
        FailWith(name_ + " failed (" + StatusText() + "): " + ReadWholeFile(errorPath_));
    }

private:
    std::string StatusText() const {
        if (WIFSIGNALED(status_)) return "signal " + std::to_string(WTERMSIG(status_));
        return "exit status " + std::to_string(WEXITSTATUS(status_));
    }

    int Spawn(const std::vector<std::string>& arguments, int input, int output) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input, 0);
        posix_spawn_file_actions_adddup2(&actions, output, 1);
        posix_spawn_file_actions_addopen(&actions, 2, errorPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::vector<char*> argv;
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        const int result = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        exited_ = result != 0;
        return result;
    }

    void Reap() {
        while (wait4(pid_, &status_, 0, &usage_) < 0 && errno == EINTR) {}
        exitTime_ = Clock::now();
        exited_ = true;
    }

    std::string name_;
    std::string errorPath_;
    pid_t pid_ = -1;
    int output_ = -1;
    int input_ = -1;
    std::string pending_;
    bool exited_ = false;
    int status_ = 0;
    rusage usage_{};
    Clock::time_point exitTime_;
};

using TLineHandler = std::function<void(TChild& child, const std::string& line)>;

// Hands every line the children print to onLine until done() holds or all
// have exited.
void Pump(const std::vector<TChild*>& children, const TLineHandler& onLine, const std::function<bool()>& done,
          Clock::time_point deadline) {
    while (!done()) {
        std::vector<pollfd> watched;
        std::vector<TChild*> owners;
        for (TChild* child : children) {
            if (child->OutputFd() < 0) continue;
            watched.push_back({child->OutputFd(), POLLIN, 0});
            owners.push_back(child);
        }
        if (watched.empty()) return;
        if (Clock::now() > deadline) FailWith(owners.front()->Name() + " did not finish in time");
        if (poll(watched.data(), watched.size(), 100) < 0 && errno != EINTR) RequireCall(false, "poll");
        for (std::size_t i = 0; i < watched.size(); ++i) {
            if (watched[i].revents == 0) continue;
            for (const std::string& line : owners[i]->ReadLines()) onLine(*owners[i], line);
        }
    }
}

std::vector<std::string> OutputOf(const std::vector<std::string>& arguments, const std::string& errorPath) {
    TChild child(arguments, errorPath, false);
    std::vector<std::string> lines;
    Pump(
        {&child}, [&](TChild&, const std::string& line) { lines.push_back(line); }, [] { return false; },
        Clock::now() + std::chrono::seconds(20));
    return lines;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The listener makes its key pair before it listens.
void AwaitListening(TChild& listener, Clock::time_point deadline) {
    bool listening = false;
    Pump(
        {&listener}, [&](TChild&, const std::string& line) { listening |= StartsWith(line, "Listening on port"); },
        [&] { return listening; }, deadline);
    if (listening) return;
    listener.RequireSuccess();
    FailWith(listener.Name() + " ended without listening");
}

// ---------------------------------------------------------------- a pair

struct TPairCommands {
    std::vector<std::string> receiver;
    std::vector<std::string> sender;
    std::string receivedPath;
};

struct TPairResult {
    double megabytesPerSecond = 0;
    double peakResidentMiB = 0;
};

class TPairRun {
public:
    TPairRun(const TTempDir& dir, TPairCommands commands) : dir_(dir), commands_(std::move(commands)) {}

    TPairResult Run(const TFileFacts& sent) {
        std::filesystem::remove(commands_.receivedPath);
        const Clock::time_point deadline = Clock::now() + kPairTimeout;
        TChild receiver(commands_.receiver, dir_.Path("receiver.err"), true);
        AwaitListening(receiver, deadline);
        TChild sender(commands_.sender, dir_.Path("sender.err"), false);
        Clock::time_point start = Clock::now();
        const auto onLine = [&](TChild& child, const std::string& line) {
            // The last such line: the key exchange has a "Transmitting AES key" before the file's.
            if (&child == &sender && StartsWith(line, "Transmitting ")) start = Clock::now();
        };
        const auto endInputAfterSender = [&] {
            // The receiver's input ends with the conversation, as when a person leaves.
            if (sender.Exited()) receiver.CloseInput();
            return false;
        };
        Pump({&receiver, &sender}, onLine, endInputAfterSender, deadline);
        sender.RequireSuccess();
        receiver.RequireSuccess();
        const double seconds =
            std::chrono::duration<double>(std::max(sender.ExitTime(), receiver.ExitTime()) - start).count();
        CheckReceived(sent);
        std::filesystem::remove(commands_.receivedPath);
        return {static_cast<double>(sent.size) / seconds / 1e6,
                std::max(sender.PeakResidentMiB(), receiver.PeakResidentMiB())};
    }

private:
    void CheckReceived(const TFileFacts& sent) const {
        const TFileFacts received = FactsOf(commands_.receivedPath);
        if (received.size != sent.size || received.sha256 != sent.sha256)
            FailWith(commands_.receivedPath + " differs from what was sent: " + std::to_string(received.size) +
                     " bytes, SHA-256 " + received.sha256 + " instead of " + std::to_string(sent.size) + ", " +
                     sent.sha256);
    }

    const TTempDir& dir_;
    const TPairCommands commands_;
};

// 32 characters, as a session key text is.
std::string AnchorKeyText() { return "k7Qp2ZxW9mLr4TsV8nBc1HdF6jYg3Ae0"; }

TPairCommands AnchorCommands(const TTempDir& dir, const std::string& sentPath) {
    const std::string port = std::to_string(FreePort());
    const std::string received = dir.Path("received/" + std::string(kFileName));
    return {{TRANSFER_ANCHOR, "receive", port, received, AnchorKeyText()},
            {TRANSFER_ANCHOR, "send", "127.0.0.1", port, sentPath, AnchorKeyText()},
            received};
}

TPairCommands OurCommands(const std::string& cli, const TTempDir& dir, const std::string& sentPath) {
    const std::string port = std::to_string(FreePort());
    const std::string config = dir.Path("empty.conf");
    std::ofstream empty(config);
    const std::string folder = dir.Path("received");
    return {{cli, "listen", "--port", port, "--key-size", "1024", "--config", config, "--accept-files", folder},
            {cli, "connect", "127.0.0.1", "--port", port, "--config", config, "--send", sentPath},
            folder + "/" + kFileName};
}

bool HasFileOptions(const std::string& cli, const TTempDir& dir) {
    bool send = false;
    bool accept = false;
    for (const std::string& line : OutputOf({cli, "--help"}, dir.Path("help.err"))) {
        send |= line.find("--send") != std::string::npos;
        accept |= line.find("--accept-files") != std::string::npos;
    }
    return send && accept;
}

// ---------------------------------------------------------------- chat

constexpr int kChatLines = 10000;

std::string ChatInput(const std::string& speaker) {
    std::string input;
    for (int number = 1; number <= kChatLines; ++number)
        input += speaker + " line " + std::to_string(number) + " " + std::string(number % 97, '.') + "\n";
    return input;
}

// What QUELLMERE_REPORT_STALLS makes the program say on standard error.
double ReportedStallMs(const std::string& errorPath) {
    static const std::string kPrefix = "longest event-loop stall: ";
    std::ifstream errors(errorPath);
    for (std::string line; std::getline(errors, line);)
        if (StartsWith(line, kPrefix.c_str())) return std::stod(line.substr(kPrefix.size()));
    FailWith(errorPath + " names no stall: " + ReadWholeFile(errorPath));
}

// Both sides type 10,000 lines at once and hear all of the other's; the
// longer of the two programs' longest event-loop stalls.
double ChatStall(const std::string& cli) {
    const TTempDir dir;
    const std::string config = dir.Path("empty.conf");
    std::ofstream{config};
    const std::string port = std::to_string(FreePort());
    setenv("QUELLMERE_REPORT_STALLS", "1", 1);
    const Clock::time_point deadline = Clock::now() + kPairTimeout;
    TChild listener({cli, "listen", "--port", port, "--key-size", "1024", "--config", config}, dir.Path("listener.err"),
                    true);
    AwaitListening(listener, deadline);
    TChild connector({cli, "connect", "127.0.0.1", "--port", port, "--config", config}, dir.Path("connector.err"),
                     true);
    unsetenv("QUELLMERE_REPORT_STALLS");
    // Typed from threads of their own: a program whose output waits to be
    // read here stops reading its input.
    std::thread typeListener([&] { listener.Write(ChatInput("listener")); });
    std::thread typeConnector([&] { connector.Write(ChatInput("connector")); });
    int heardByListener = 0;
    int heardByConnector = 0;
    const auto onLine = [&](TChild& child, const std::string& line) {
        if (!StartsWith(line, "PEER (")) return;
        ++(&child == &listener ? heardByListener : heardByConnector);
    };
    Pump(
        {&listener, &connector}, onLine,
        [&] { return heardByListener == kChatLines && heardByConnector == kChatLines; }, deadline);
    typeListener.join();
    typeConnector.join();
    if (heardByListener != kChatLines || heardByConnector != kChatLines)
        FailWith("lines were lost: " + std::to_string(heardByListener) + " and " + std::to_string(heardByConnector));
    connector.CloseInput();
    listener.CloseInput();
    Pump(
        {&listener, &connector}, [](TChild&, const std::string&) {}, [] { return false; }, deadline);
    connector.RequireSuccess();
    listener.RequireSuccess();
    return std::max(ReportedStallMs(dir.Path("listener.err")), ReportedStallMs(dir.Path("connector.err")));
}

struct TBest {
    double megabytesPerSecond = 0;
    double peakResidentMiB = 0;

    void Add(const TPairResult& run) {
        megabytesPerSecond = std::max(megabytesPerSecond, run.megabytesPerSecond);
        peakResidentMiB = std::max(peakResidentMiB, run.peakResidentMiB);
    }
};

int RunBenchmark(const std::string& cli) {
    const TTempDir dir;
    std::filesystem::create_directory(dir.Path("received"));
    const std::string sentPath = dir.Path(kFileName);
    const TFileFacts sent = WriteRandomFile(sentPath, kFileBytes);
    const bool oursRuns = HasFileOptions(cli, dir);
    const auto runAnchor = [&] { return TPairRun(dir, AnchorCommands(dir, sentPath)).Run(sent); };
    const auto runOurs = [&] { return TPairRun(dir, OurCommands(cli, dir, sentPath)).Run(sent); };

    // Anchor, ours, ours, anchor: a load on the shared machine that rises or
    // falls meanwhile weighs on both alike. Other work can only slow a run
    // down, so the faster run of each side counts; the resident size is the
    // larger of our two.
    TBest anchor;
    TBest ours;
    anchor.Add(runAnchor());
    if (!oursRuns) {
        std::printf("file-transfer: ours skipped (%s has no --send and --accept-files), openssl %.1f MB/s\n",
                    cli.c_str(), anchor.megabytesPerSecond);
        return 0;
    }
    ours.Add(runOurs());
    ours.Add(runOurs());
    anchor.Add(runAnchor());
    std::printf("file-transfer: ours %.1f MB/s, openssl %.1f MB/s, ratio %.2f\n", ours.megabytesPerSecond,
                anchor.megabytesPerSecond, ours.megabytesPerSecond / anchor.megabytesPerSecond);
    std::printf("file-transfer-rss: ours %.1f MiB\n", ours.peakResidentMiB);
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // A child that dies early must not take us with it through a broken pipe.
    signal(SIGPIPE, SIG_IGN);
    try {
        const std::string cli = argc > 1 ? argv[1] : QUELLMERE_CLI;
        if (RunBenchmark(cli) != 0) return 1;
        std::printf("chat-stall: ours %.2f ms\n", ChatStall(cli));
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_transfer: %s\n", error.what());
        return 1;
    }
}
