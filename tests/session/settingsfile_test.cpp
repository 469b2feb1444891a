// The settings file's bytes: what start reads from them, and what close makes
// of them. Everything the user wrote must survive a write byte for byte.

#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "session/settings.h"

using namespace std::string_literals;

namespace {

const TWrittenSettings kWritten{"2048", false, "2000", "2001", "host.example"};

// The five keys as close writes them for kWritten, one per line.
std::string WrittenLines(const std::string& lineEnding) {
    return "RsaKeySize=2048" + lineEnding + "antikeylogging=false" + lineEnding + "listenPort=2000" + lineEnding +
           "remotePort=2001" + lineEnding + "remoteHost=host.example" + lineEnding;
}

void ExpectDefaults(const TSessionSettings& settings) {
    EXPECT_EQ(settings.RsaKeySize, "1024");
    EXPECT_FALSE(settings.debug);
    EXPECT_EQ(settings.sleepDuringTransfer, 0);
    EXPECT_EQ(settings.vantrelPath, "vantrel.exe");
    EXPECT_TRUE(settings.antikeylogging);
    EXPECT_EQ(settings.listenPort, "1801");
    EXPECT_EQ(settings.remotePort, "1801");
    EXPECT_FALSE(settings.saveHost);
    EXPECT_EQ(settings.remoteHost, "");
}

}  // namespace

// ---------------------------------------------------------------- reading

TEST(SettingsBytesRead, BytesWithoutMainSectionGiveEveryDefault) {
    for (const std::string& bytes :
         {""s, "\n\r\n"s, "RsaKeySize=2048\nlistenPort=9\n"s, "[other]\nRsaKeySize=2048\n"s,
          "[mainly]\nRsaKeySize=2048\n"s, "; [main]\nRsaKeySize=2048\n"s, "\0[main]\nRsaKeySize=2048\n"s}) {
        SCOPED_TRACE(bytes);
        ExpectDefaults(ParseSessionSettings(bytes));
    }
}

TEST(SettingsBytesRead, NamesIgnoreCaseValuesAreTrimmedBooleansNeedExactTrue) {
    const TSessionSettings settings = ParseSessionSettings(
        "  [ MAIN ]  \nrsakeysize =  2048  \nDEBUG=True\nAntiKeylogging=1\nsleepDuringTransfer=\t0X1f\t\n"
        "\tvantrelPath =  C:\\tools\\v.exe \nlistenport=99\nREMOTEPORT=100\n[other]\nRsaKeySize=7\n");
    EXPECT_EQ(settings.RsaKeySize, "2048");
    EXPECT_FALSE(settings.debug);
    EXPECT_FALSE(settings.antikeylogging);
    EXPECT_EQ(settings.sleepDuringTransfer, 31);
    EXPECT_EQ(settings.vantrelPath, "C:\\tools\\v.exe");
    EXPECT_EQ(settings.listenPort, "99");
    EXPECT_EQ(settings.remotePort, "100");
}

TEST(SettingsBytesRead, BooleansOnlyWhenExactlyTrue) {
    for (const auto& [text, expected] : std::vector<std::pair<std::string, bool>>{{"true", true},
                                                                                  {" true\t", true},
                                                                                  {"TRUE", false},
                                                                                  {"True", false},
                                                                                  {"1", false},
                                                                                  {"yes", false},
                                                                                  {"true1", false},
                                                                                  {"", false}}) {
        SCOPED_TRACE(text);
        const TSessionSettings settings =
            ParseSessionSettings("[main]\ndebug=" + text + "\nsaveHost=" + text + "\nantikeylogging=" + text + "\n");
        EXPECT_EQ(settings.debug, expected);
        EXPECT_EQ(settings.saveHost, expected);
        EXPECT_EQ(settings.antikeylogging, expected);
    }
}

TEST(SettingsBytesRead, PauseValues) {
    for (const auto& [text, expected] : std::vector<std::pair<std::string, int32_t>>{
             {"0x10", 16}, {"abc", 0}, {"25", 25}, {"-3", -3}, {"0x", 0}, {"", 0}, {" 12 ", 12}}) {
        EXPECT_EQ(ParseSessionSettings("[main]\nsleepDuringTransfer=" + text + "\n").sleepDuringTransfer, expected)
            << text;
    }
}

TEST(SettingsBytesRead, ValuesAreCutAt2047Characters) {
    const std::string longPath(3000, 'p');
    EXPECT_EQ(ParseSessionSettings("[main]\nvantrelPath=" + longPath + "\n").vantrelPath, std::string(2047, 'p'));
    const std::string exact(2047, 'q');
    EXPECT_EQ(ParseSessionSettings("[main]\nvantrelPath=" + exact).vantrelPath, exact);
    // The cut comes after trimming, so leading blanks do not eat into it.
    EXPECT_EQ(ParseSessionSettings("[main]\nvantrelPath=   " + longPath).vantrelPath, std::string(2047, 'p'));
}

TEST(SettingsBytesRead, RemoteHostIsReadOnlyWithSaveHost) {
    EXPECT_EQ(ParseSessionSettings("[main]\nremoteHost=chat.example\nsaveHost=true\n").remoteHost, "chat.example");
    EXPECT_EQ(ParseSessionSettings("[main]\nremoteHost=chat.example\n").remoteHost, "");
    EXPECT_EQ(ParseSessionSettings("[main]\nremoteHost=chat.example\nsaveHost=false\n").remoteHost, "");
}

TEST(SettingsBytesRead, FirstOccurrenceOfKeyAndOfSectionWins) {
    const TSessionSettings settings = ParseSessionSettings(
        "[main]\nlistenPort=1\nLISTENPORT=2\nlistenPort=3\n[other]\nremotePort=4\n[MAIN]\nremotePort=5\n"
        "listenPort=6\nRsaKeySize=512\n[main]\nvantrelPath=x.exe\n");
    EXPECT_EQ(settings.listenPort, "1");
    // Keys of a later [main] are not read, even when the first lacks them.
    EXPECT_EQ(settings.remotePort, "1801");
    EXPECT_EQ(settings.RsaKeySize, "1024");
    EXPECT_EQ(settings.vantrelPath, "vantrel.exe");
}

TEST(SettingsBytesRead, CommentsAndLinesWithoutEqualsAreNotKeys) {
    const TSessionSettings settings = ParseSessionSettings(
        "listenPort=5\n[main]\n;RsaKeySize=512\n  #remotePort=6\nlistenPort 7\n\t; debug=true\n=8\n"
        "vantrelPath=a=b\nsaveHost=true\nremoteHost==\n");
    EXPECT_EQ(settings.RsaKeySize, "1024");
    EXPECT_EQ(settings.remotePort, "1801");
    EXPECT_EQ(settings.listenPort, "1801");
    EXPECT_FALSE(settings.debug);
    // Only the first "=" separates key from value.
    EXPECT_EQ(settings.vantrelPath, "a=b");
    EXPECT_EQ(settings.remoteHost, "=");
}

TEST(SettingsBytesRead, SectionEndsAtTheNextHeader) {
    const TSessionSettings settings = ParseSessionSettings("[main]\nRsaKeySize=512\n  [x]\nlistenPort=7\n");
    EXPECT_EQ(settings.RsaKeySize, "512");
    EXPECT_EQ(settings.listenPort, "1801");
}

TEST(SettingsBytesRead, OnlyCarriageReturnBeforeNewlineBelongsToTheLineEnding) {
    const TSessionSettings settings =
        ParseSessionSettings("[main]\r\nRsaKeySize=512\r\nlistenPort=7\r\r\nremotePort=8\rx\nvantrelPath=v\r");
    EXPECT_EQ(settings.RsaKeySize, "512");
    EXPECT_EQ(settings.listenPort, "7\r");
    EXPECT_EQ(settings.remotePort, "8\rx");
    EXPECT_EQ(settings.vantrelPath, "v\r");
}

TEST(SettingsBytesRead, NulBytesAreOrdinaryContent) {
    const TSessionSettings settings =
        ParseSessionSettings("[main]\0ignored\nvantrelPath=a\0b\n\0\0\nlistenPort=7\nRsaKeySize\0=9\nremotePort=\0\n"s);
    EXPECT_EQ(settings.vantrelPath, "a\0b"s);
    EXPECT_EQ(settings.listenPort, "7");
    EXPECT_EQ(settings.RsaKeySize, "1024");
    EXPECT_EQ(settings.remotePort, "\0"s);
}

// ---------------------------------------------------------------- writing

struct TUpdateCase {
    const char* name;
    std::string input;
    TWrittenSettings written;
    std::string expected;
};

TEST(SettingsBytesUpdate, Table) {
    const std::vector<TUpdateCase> cases = {
        {"empty", "", kWritten, "[main]\n" + WrittenLines("\n")},
        {"antikeylogging on", "", TWrittenSettings{"1024", true, "1", "2", ""},
         "[main]\nRsaKeySize=1024\nantikeylogging=true\nlistenPort=1\nremotePort=2\nremoteHost=\n"},
        {"no section, comment only", "; c\n", kWritten, "; c\n[main]\n" + WrittenLines("\n")},
        {"no section, no final newline", "[other]\nx=1", kWritten, "[other]\nx=1\n[main]\n" + WrittenLines("\n")},
        {"no section, CRLF", "[other]\r\nx=1\r\n", kWritten, "[other]\r\nx=1\r\n[main]\r\n" + WrittenLines("\r\n")},
        {"every key present, spacing and endings kept",
         "; mine\r\n[main]\r\nRsaKeySize = 1024  \r\n; note\r\n\r\nantikeylogging=\ttrue\r\nlistenPort=1801\r\n"
         "remotePort =1801\r\nremoteHost=\r\ndebug = true\r\nno equals here\r\n[other]\r\nRsaKeySize=7\r\n",
         kWritten,
         "; mine\r\n[main]\r\nRsaKeySize = 2048\r\n; note\r\n\r\nantikeylogging=\tfalse\r\nlistenPort=2000\r\n"
         "remotePort =2001\r\nremoteHost=host.example\r\ndebug = true\r\nno equals "
         "here\r\n[other]\r\nRsaKeySize=7\r\n"},
        {"names matched without regard to case", "[MAIN]\nrsakeysize=1\nREMOTEHOST=old\n", kWritten,
         "[MAIN]\nrsakeysize=2048\nREMOTEHOST=host.example\nantikeylogging=false\nlistenPort=2000\nremotePort=2001\n"},
        {"missing keys before blank lines and the next section", "[main]\nRsaKeySize=1\n\n \t\n[other]\nk=v\n",
         kWritten, "[main]\n" + WrittenLines("\n") + "\n \t\n[other]\nk=v\n"},
        {"missing keys in a CRLF file", "[Main]\r\ndebug=true\r\n", kWritten,
         "[Main]\r\ndebug=true\r\n" + WrittenLines("\r\n")},
        {"line ending judged by the first line", "[main]\ndebug=true\r\n", kWritten,
         "[main]\ndebug=true\r\n" + WrittenLines("\n")},
        {"missing keys after a last line without ending", "[main]\nlistenPort=5", kWritten,
         "[main]\nlistenPort=2000\nRsaKeySize=2048\nantikeylogging=false\nremotePort=2001\nremoteHost=host.example\n"},
        {"header alone without ending", "[main]", kWritten, "[main]\n" + WrittenLines("\n")},
        {"value on the last line keeps having no ending",
         "[main]\nRsaKeySize=1\nantikeylogging=true\nlistenPort=1\nremotePort=1\nremoteHost=old", kWritten,
         "[main]\n" + WrittenLines("\n").substr(0, WrittenLines("\n").size() - 1)},
        {"value made of blanks", "[main]\nRsaKeySize=   \nlistenPort=\t \r\n", kWritten,
         "[main]\nRsaKeySize=   2048\nlistenPort=\t 2000\r\nantikeylogging=false\nremotePort=2001\n"
         "remoteHost=host.example\n"},
        {"only the first of a repeated key changes", "[main]\nlistenPort=1\nlistenPort=2\n", kWritten,
         "[main]\nlistenPort=2000\nlistenPort=2\nRsaKeySize=2048\nantikeylogging=false\nremotePort=2001\n"
         "remoteHost=host.example\n"},
        {"only the first of a repeated section changes", "[main]\nlistenPort=1\n[other]\n[main]\nremotePort=9\n",
         kWritten,
         "[main]\nlistenPort=2000\nRsaKeySize=2048\nantikeylogging=false\nremotePort=2001\nremoteHost=host.example\n"
         "[other]\n[main]\nremotePort=9\n"},
        {"keys outside the section and comments are left alone", "listenPort=1\n[main]\n;listenPort=1\n#remotePort=1\n",
         kWritten, "listenPort=1\n[main]\n;listenPort=1\n#remotePort=1\n" + WrittenLines("\n")},
        {"NUL bytes survive", "[main]\0x\nvantrelPath=a\0b\nlistenPort=1\0\n\0tail"s, kWritten,
         "[main]\0x\nvantrelPath=a\0b\nlistenPort=2000\n\0tail\nRsaKeySize=2048\nantikeylogging=false\n"
         "remotePort=2001\nremoteHost=host.example\n"s},
        // A "\r" ending the file is content; a plain "\n" after it would turn it
        // into half a line ending and change what the line says.
        {"trailing carriage return stays content", "[main]\nvantrelPath=v\r", kWritten,
         "[main]\nvantrelPath=v\r\r\n" + WrittenLines("\n")},
        {"written values never add lines", "[main]\nremoteHost=old\n",
         TWrittenSettings{"12\n34", true, "\r\n", "5\r6", "evil\n[main]\nRsaKeySize=1"},
         "[main]\nremoteHost=evil\nRsaKeySize=12\nantikeylogging=true\nlistenPort=\nremotePort=5\n"},
        {"written values lose their edge blanks", "", TWrittenSettings{" 2048 ", true, "\t1\t", "2", " a b "},
         "[main]\nRsaKeySize=2048\nantikeylogging=true\nlistenPort=1\nremotePort=2\nremoteHost=a b\n"},
    };
    for (const TUpdateCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(UpdateSessionSettings(c.input, c.written), c.expected);
    }
}

TEST(SettingsBytesUpdate, SameValuesLeaveTheFileByteIdentical) {
    const std::string file =
        "\0; settings\r\n[other]\r\nlistenPort=1\r\n\r\n  [ main ]  trailing\r\n\tRsaKeySize\t=\t2048\r\n"
        "antikeylogging = false\r\nweird line\0\r\n#x=y\r\nlistenPort=2000\r\nremotePort=2001\r\n"
        "remoteHost = host.example\r\nlistenPort=3\r\n\r\n[main]\r\nRsaKeySize=1\r\n\0"s;
    // Trailing blanks after a value are part of the value, so none here.
    EXPECT_EQ(UpdateSessionSettings(file, kWritten), file);
}

TEST(SettingsBytesUpdate, LongValuesAreWrittenWhole) {
    const std::string longHost(3000, 'h');
    const std::string updated =
        UpdateSessionSettings("[main]\nsaveHost=true\n", TWrittenSettings{"1024", true, "1", "2", longHost});
    EXPECT_EQ(updated,
              "[main]\nsaveHost=true\nRsaKeySize=1024\nantikeylogging=true\nlistenPort=1\nremotePort=2\n"
              "remoteHost=" +
                  longHost + "\n");
    EXPECT_EQ(ParseSessionSettings(updated).remoteHost, std::string(2047, 'h'));
}

TEST(SettingsBytesUpdate, WrittenValuesReadBack) {
    const std::string updated = UpdateSessionSettings(
        "[main]\r\ndebug=true\r\nsaveHost=true\r\nvantrelPath=v.exe\r\nsleepDuringTransfer=0x10\r\n", kWritten);
    const TSessionSettings settings = ParseSessionSettings(updated);
    EXPECT_EQ(settings.RsaKeySize, "2048");
    EXPECT_FALSE(settings.antikeylogging);
    EXPECT_EQ(settings.listenPort, "2000");
    EXPECT_EQ(settings.remotePort, "2001");
    EXPECT_EQ(settings.remoteHost, "host.example");
    EXPECT_TRUE(settings.debug);
    EXPECT_TRUE(settings.saveHost);
    EXPECT_EQ(settings.vantrelPath, "v.exe");
    EXPECT_EQ(settings.sleepDuringTransfer, 16);
}

// ---------------------------------------------------------------- random files

namespace {

// Random files made of lines that are mostly close to real ones (headers,
// keys, comments) with random bytes mixed in, so that sections, keys, NULs and
// odd line endings all turn up often.
class TRandomFiles {
public:
    std::string File() {
        static const std::vector<std::string> endings = {"\n", "\r\n", "\r\r\n", "\r"};
        if (Below(4) == 0) return RawBytes();
        std::string file;
        const std::size_t lineCount = Below(12);
        for (std::size_t i = 0; i < lineCount; ++i) {
            file += Line();
            if (i + 1 < lineCount || Below(2) == 0) file += endings[Below(endings.size())];
        }
        return file;
    }

    TWrittenSettings Written() { return TWrittenSettings{Value(), Below(2) == 0, Value(), Value(), Value()}; }

private:
    std::string Line() {
        static const std::vector<std::string> heads = {"[main]",
                                                       "[MAIN]",
                                                       " [ Main ] x",
                                                       "[other]",
                                                       "[main",
                                                       "RsaKeySize",
                                                       "antikeylogging",
                                                       "listenPort",
                                                       "remotePort",
                                                       "remoteHost",
                                                       "saveHost",
                                                       "debug",
                                                       "vantrelPath",
                                                       "sleepDuringTransfer",
                                                       ";",
                                                       "#",
                                                       ""};
        static const std::vector<std::string> joins = {"=", " = ", "\t=", "", " "};
        static const std::vector<std::string> tails = {"true", "0x1f", "12", " true ", "", "x=y"};
        static const std::vector<std::string> whole = {"[main]", "[other]", "saveHost=true", "remoteHost=old"};
        static const std::string bytes = "[]=;#\0 \tamiMAINkeyx"s;
        if (Below(3) == 0) return whole[Below(whole.size())];
        std::string line = heads[Below(heads.size())] + joins[Below(joins.size())] + tails[Below(tails.size())];
        for (std::size_t noise = Below(4) == 0 ? Below(4) : 0; noise > 0; --noise)
            line.insert(Below(line.size() + 1), 1, bytes[Below(bytes.size())]);
        return line;
    }

    std::string RawBytes() {
        static const std::string bytes = "[]=;#\r\n\0 amiMAINkeyx"s;
        std::string file;
        for (std::size_t length = Below(40); length > 0; --length) file += bytes[Below(bytes.size())];
        return file;
    }

    std::string Value() {
        static const std::string bytes = "0123 \t=[];#ab\0\r\n"s;
        std::string value;
        const std::size_t length = Below(8);
        for (std::size_t i = 0; i < length; ++i) value += bytes[Below(bytes.size())];
        return value;
    }

    std::size_t Below(std::size_t bound) { return std::uniform_int_distribution<std::size_t>(0, bound - 1)(random_); }

    std::mt19937 random_{20240611};
};

// What reading gives back for a value that was written.
std::string AsRead(const std::string& written) {
    const std::string line = written.substr(0, written.find_first_of("\r\n"));
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return line.substr(first, line.find_last_not_of(" \t") - first + 1);
}

}  // namespace

TEST(SettingsBytesRandom, UpdateIsStableAndReadsBackAndKeepsTheOtherSettings) {
    TRandomFiles random;
    int hostsChecked = 0;
    for (int round = 0; round < 5000; ++round) {
        const std::string file = random.File();
        const TWrittenSettings written = random.Written();
        SCOPED_TRACE(::testing::PrintToString(file));
        TSessionSettings before;
        ASSERT_NO_THROW(before = ParseSessionSettings(file));
        const std::string updated = UpdateSessionSettings(file, written);
        ASSERT_EQ(UpdateSessionSettings(updated, written), updated);

        const TSessionSettings after = ParseSessionSettings(updated);
        ASSERT_EQ(after.RsaKeySize, AsRead(written.RsaKeySize));
        ASSERT_EQ(after.antikeylogging, written.antikeylogging);
        ASSERT_EQ(after.listenPort, AsRead(written.listenPort));
        ASSERT_EQ(after.remotePort, AsRead(written.remotePort));
        ASSERT_EQ(after.debug, before.debug);
        ASSERT_EQ(after.sleepDuringTransfer, before.sleepDuringTransfer);
        ASSERT_EQ(after.vantrelPath, before.vantrelPath);
        ASSERT_EQ(after.saveHost, before.saveHost);
        if (after.saveHost) {
            ASSERT_EQ(after.remoteHost, AsRead(written.remoteHost));
            ++hostsChecked;
        }
    }
    // The generator must reach the case where the host is read back at all.
    EXPECT_GT(hostsChecked, 100);
}
