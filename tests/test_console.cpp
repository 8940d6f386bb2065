// The zorvex console as its users see it: a separate process, its output
// streams and its exit status.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

struct Result {
    std::string out;
    std::string err;
    int status = -1;
};

std::string ConsolePath() {
    const char* dir = std::getenv("ZORVEX_BIN");
    return dir ? std::string(dir) + "/zorvex" : std::string("zorvex");
}

void ReadAvailable(int& fd, std::string& into) {
    char buf[4096];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
        into.append(buf, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
        close(fd);
        fd = -1;
    }
}

// Runs the console with `args`, feeding `input` on standard input. With
// `terminal`, standard input is a pseudo-terminal instead of a pipe.
Result RunConsole(const std::vector<std::string>& args, const std::string& input = "", bool terminal = false) {
    Result r;
    int inPipe[2], outPipe[2], errPipe[2];
    EXPECT_EQ(pipe(inPipe), 0);
    EXPECT_EQ(pipe(outPipe), 0);
    EXPECT_EQ(pipe(errPipe), 0);
    int master = -1;
    std::string slaveName;
    if (terminal) {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(master, 0);
        EXPECT_EQ(grantpt(master), 0);
        EXPECT_EQ(unlockpt(master), 0);
        slaveName = ptsname(master);
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (terminal)
        posix_spawn_file_actions_addopen(&actions, 0, slaveName.c_str(), O_RDWR | O_NOCTTY, 0);
    else
        posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
        posix_spawn_file_actions_addclose(&actions, fd);
    if (master >= 0) posix_spawn_file_actions_addclose(&actions, master);

    std::string path = ConsolePath();
    std::vector<std::string> all{path};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    EXPECT_EQ(rc, 0) << "cannot start " << path << ": " << std::strerror(rc);

    int in = inPipe[1];
    if (terminal) {
        // Canonical mode: Ctrl-D on an empty line is end of input.
        std::string typed = input + "\x04";
        EXPECT_EQ(write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
        close(in);
        in = -1;
    }
    std::size_t written = 0;
    if (in >= 0 && input.empty()) {
        close(in);
        in = -1;
    }
    int out = outPipe[0], err = errPipe[0];
    while (out >= 0 || err >= 0) {
        std::vector<pollfd> fds;
        if (out >= 0) fds.push_back({out, POLLIN, 0});
        if (err >= 0) fds.push_back({err, POLLIN, 0});
        if (in >= 0) fds.push_back({in, POLLOUT, 0});
        if (poll(fds.data(), fds.size(), 30000) <= 0) break;
        for (const pollfd& p : fds) {
            if (!p.revents) continue;
            if (p.fd == out) ReadAvailable(out, r.out);
            else if (p.fd == err) ReadAvailable(err, r.err);
            else if (p.fd == in) {
                ssize_t n = write(in, input.data() + written, input.size() - written);
                if (n > 0) written += static_cast<std::size_t>(n);
                if (n < 0 || written == input.size()) {
                    close(in);
                    in = -1;
                }
            }
        }
    }
    for (int fd : {in, out, err})
        if (fd >= 0) close(fd);
    int status = 0;
    if (rc == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) r.status = WEXITSTATUS(status);
    if (master >= 0) close(master);
    return r;
}

// The console on a pseudo-terminal of its own (all three streams, and its
// controlling terminal, so Ctrl-C raises a signal), driven key by key.
class TerminalSession {
public:
    // `home` empty: HOME is unset.
    explicit TerminalSession(const std::string& home) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            ADD_FAILURE() << "no pseudo-terminal: " << std::strerror(errno);
            return;
        }
        winsize size{};
        size.ws_row = 24;
        size.ws_col = 80;
        ioctl(master_, TIOCSWINSZ, &size);
        std::string slave = ptsname(master_);

        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            std::string var = *e;
            for (const char* drop : {"HOME=", "TERM=", "EDITRC="})
                if (var.rfind(drop, 0) == 0) var.clear();
            if (!var.empty()) env.push_back(var);
        }
        env.push_back("TERM=xterm");
        if (!home.empty()) env.push_back("HOME=" + home);
        std::vector<char*> envp;
        for (std::string& v : env) envp.push_back(v.data());
        envp.push_back(nullptr);

        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, master_);
        posix_spawn_file_actions_addopen(&actions, 0, slave.c_str(), O_RDWR, 0);
        posix_spawn_file_actions_adddup2(&actions, 0, 1);
        posix_spawn_file_actions_adddup2(&actions, 0, 2);
        std::string path = ConsolePath();
        char* argv[] = {path.data(), nullptr};
        int rc = posix_spawn(&pid_, path.c_str(), &actions, &attr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
        if (rc != 0) {
            ADD_FAILURE() << "cannot start " << path << ": " << std::strerror(rc);
            pid_ = -1;
        }
    }

    ~TerminalSession() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) close(master_);
    }

    // Waits for `text` in the output after what earlier calls matched.
    bool Expect(const std::string& text) {
        for (;;) {
            std::size_t at = output_.find(text, matched_);
            if (at != std::string::npos) {
                matched_ = at + text.size();
                return true;
            }
            if (!ReadSome()) {
                ADD_FAILURE() << "no " << ::testing::PrintToString(text) << " in "
                              << ::testing::PrintToString(output_.substr(matched_));
                return false;
            }
        }
    }

    void Type(const std::string& keys) {
        if (master_ >= 0) EXPECT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }

    // Waits for the prompt and for the terminal to be read key by key: the
    // editor switches modes only after showing the prompt, and a key typed
    // before would meet the kernel's line editing instead.
    bool Prompt() {
        if (!Expect("zorvex> ")) return false;
        for (int i = 0; i < 10000; ++i) {
            termios mode{};
            if (master_ >= 0 && tcgetattr(master_, &mode) == 0 && !(mode.c_lflag & ICANON)) return true;
            usleep(1000);
        }
        ADD_FAILURE() << "the terminal stays in line mode";
        return false;
    }

    // Waits for the console to end; its exit status, or -1.
    int Finish() {
        while (ReadSome()) {
        }
        int status = 0;
        if (pid_ <= 0) return -1;
        for (int i = 0; i < 1000; ++i) {
            pid_t done = waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            usleep(10000);
        }
        return -1;
    }

    const std::string& Output() const { return output_; }

private:
    // False once the terminal is closed or nothing came for a while.
    bool ReadSome() {
        if (master_ < 0) return false;
        pollfd p{master_, POLLIN, 0};
        int ready = poll(&p, 1, 10000);
        if (ready < 0 && errno == EINTR) return true;
        if (ready <= 0) return false;
        char buf[4096];
        ssize_t n = read(master_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) return true;
        if (n <= 0) return false;  // EIO: the console closed the terminal
        output_.append(buf, static_cast<std::size_t>(n));
        return true;
    }

    int master_ = -1;
    pid_t pid_ = -1;
    std::string output_;
    std::size_t matched_ = 0;
};

std::string Lines(std::initializer_list<const char*> lines) {
    std::string s;
    for (const char* l : lines) s += std::string(l) + "\n";
    return s;
}

class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "zorvex-console-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string File(const std::string& name, const std::string& content) {
        fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary) << content;
        return p.string();
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    static std::string Slurp(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }

    fs::path dir_;
};

// ---------------------------------------------------------------- results

TEST_F(ConsoleTest, TypedKindsOfOperatorResults) {
    Result r = RunConsole({"--typed", "-e",
                    "7/2;7 div 2;7 mod 2;2^3;2^3^2;2-3-4;1+2<4;1 shl 2 + 1;not (1<2);1 and 3;-2^2"});
    EXPECT_EQ(r.out, Lines({"real 3.5", "integer 3", "integer 1", "real 8", "real 64", "integer -5",
                            "boolean True", "integer 8", "boolean False", "integer 1", "real 4"}));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST_F(ConsoleTest, FailedExpressionDoesNotStopTheRest) {
    Result r = RunConsole({"-e", "1;(;2"});
    EXPECT_EQ(r.out, Lines({"1", "error: TMathInterpreter.RPN() Unclosed left bracket on position: 1.", "2"}));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 1);
}

TEST_F(ConsoleTest, SemicolonsAndQuotesInsideStrings) {
    Result r = RunConsole({"--typed", "-e", "'a;b';\"it's\""});
    EXPECT_EQ(r.out, Lines({"string a;b", "string it's"}));
    EXPECT_EQ(r.status, 0);
}

TEST_F(ConsoleTest, NullResultIsAnEmptyLineOrItsKind) {
    EXPECT_EQ(RunConsole({"-e", "f(x) := x * 2; f(4)"}).out, Lines({"", "8"}));
    EXPECT_EQ(RunConsole({"--typed", "-e", "f(x) := x * 2; f(4)"}).out, Lines({"null", "integer 8"}));
    EXPECT_EQ(RunConsole({"--typed", "-e", "0.1 + 0.2; 1e20; 'x' + 'y'; 2 > 3"}).out,
              Lines({"real 0.3", "real 1E+20", "string xy", "boolean False"}));
}

// ---------------------------------------------------------------- sources

TEST_F(ConsoleTest, ExecuteTextsRunBeforeFilesOnOneInterpreter) {
    std::string a = File("a.txt", "x * 10");
    std::string b = File("b.txt", "x + 1; y");
    Result r = RunConsole({a, "-e", "x = 2", b, "--execute", "y = 'why'"});
    EXPECT_EQ(r.out, Lines({"2", "why", "20", "3", "why"}));
    EXPECT_EQ(r.status, 0);
}

TEST_F(ConsoleTest, FileIsOneTextAndEndsAtZeroByte) {
    std::string f = File("f.txt", std::string("1 +\r\n2;\n3 *\n  4;\n'a\nb'\0;garbage(", 25));
    Result r = RunConsole({f});
    EXPECT_EQ(r.out, Lines({"3", "12", "a\nb"}));
    EXPECT_EQ(r.status, 0);
}

TEST_F(ConsoleTest, DashReadsStandardInputAsOneText) {
    // The blank piece after the last ";" is an expression too, as in Execute.
    Result r = RunConsole({"-e", "z = 3", "-"}, "z +\n4;\n");
    EXPECT_EQ(r.out, Lines({"3", "7", ""}));
    EXPECT_EQ(r.status, 0);
}

TEST_F(ConsoleTest, WithoutSourcesEachInputLineIsOneText) {
    // Not a terminal: no prompt, and Null still gives its line.
    Result r = RunConsole({}, "1 + 1\n\nv = 4; v * v\nf := 1\n(\n'unclosed;\n");
    EXPECT_EQ(r.out, Lines({"2", "4", "16", "",
                            "error: TMathInterpreter.RPN() Unclosed left bracket on position: 1.",
                            "error: ParseString() Unclosed string starting at position: 1."}));
    EXPECT_EQ(r.status, 1);
    Result none = RunConsole({});
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.status, 0);
}

TEST_F(ConsoleTest, TerminalGetsPromptAndNoLinesForNull) {
    // Output to a pipe: the plain prompt, no line editing.
    Result r = RunConsole({}, "2 * 3\nf := 1\n", true);
    EXPECT_EQ(r.out, "zorvex> 6\nzorvex> zorvex> \n");
    EXPECT_EQ(r.status, 0);
}

// Built without libedit, the console has no line editing to try.
bool HasLineEditing() {
    std::ifstream f(ConsolePath(), std::ios::binary);
    std::string binary((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    return binary.find("libedit.so") != std::string::npos;
}

constexpr char kUp[] = "\033[A";
constexpr char kLeft[] = "\033[D";

TEST_F(ConsoleTest, TerminalEditsLinesAndKeepsHistoryAcrossSessions) {
    if (!HasLineEditing()) GTEST_SKIP() << "console built without line editing";
    {
        TerminalSession s(dir_.string());
        ASSERT_TRUE(s.Prompt());
        s.Type("6 * 7\r");
        ASSERT_TRUE(s.Expect("\n42\r\n"));
        ASSERT_TRUE(s.Prompt());
        s.Type(std::string(kUp) + "\r");  // the same line again
        ASSERT_TRUE(s.Expect("\n42\r\n"));
        ASSERT_TRUE(s.Prompt());
        s.Type(std::string("12*3") + kLeft + "\x7f+\r");  // 12*3 becomes 12+3
        ASSERT_TRUE(s.Expect("\n15\r\n"));
        ASSERT_TRUE(s.Prompt());
        s.Type("1 + (");
        ASSERT_TRUE(s.Expect("("));
        s.Type("\x03");  // Ctrl-C drops the line, not the console
        ASSERT_TRUE(s.Prompt());
        s.Type("  \r");
        ASSERT_TRUE(s.Prompt());
        s.Type("\x04");
        EXPECT_EQ(s.Finish(), 0);
        EXPECT_THAT(s.Output(), ::testing::Not(HasSubstr("error")));
    }
    // The typed line and the edited one; no repeat, blank or dropped line.
    std::string saved = Slurp(Path(".zorvex_history"));
    EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 3) << saved;

    TerminalSession again(dir_.string());
    ASSERT_TRUE(again.Prompt());
    again.Type(std::string(kUp) + "\r");
    ASSERT_TRUE(again.Expect("\n15\r\n"));
    ASSERT_TRUE(again.Prompt());
    again.Type("(\r");
    ASSERT_TRUE(again.Expect("error: "));
    ASSERT_TRUE(again.Prompt());
    again.Type("\x04");
    EXPECT_EQ(again.Finish(), 1);
}

TEST_F(ConsoleTest, TerminalWorksWithoutHome) {
    if (!HasLineEditing()) GTEST_SKIP() << "console built without line editing";
    TerminalSession s("");
    ASSERT_TRUE(s.Prompt());
    s.Type("2 + 5\r");
    ASSERT_TRUE(s.Expect("\n7\r\n"));
    ASSERT_TRUE(s.Prompt());
    s.Type("\x04");
    EXPECT_EQ(s.Finish(), 0);
}

// ---------------------------------------------------------------- options

TEST_F(ConsoleTest, EscapeCharAppliesToSplittingAndStrings) {
    Result r = RunConsole({"--escape-char", "\\", "-e", "'it\\'s;x'; 1"});
    EXPECT_EQ(r.out, Lines({"it's;x", "1"}));
    EXPECT_EQ(r.status, 0);
}

TEST_F(ConsoleTest, CaseSensitiveSymbols) {
    EXPECT_EQ(RunConsole({"-e", "Abc = 1; aBC"}).out, Lines({"1", "1"}));
    Result r = RunConsole({"--case-sensitive", "-e", "Abc = 1; aBC"});
    ASSERT_EQ(r.status, 1);
    EXPECT_THAT(r.out, StartsWith("1\nerror: "));
    EXPECT_THAT(r.out, HasSubstr("aBC"));
}

TEST_F(ConsoleTest, MaxNestingLimitsUserFunctions) {
    EXPECT_EQ(RunConsole({"-e", "b := 2; b"}).out, Lines({"", "2"}));
    Result r = RunConsole({"--max-nesting", "0", "-e", "b := 2; b"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, HasSubstr("error: TMFunction.GetValue() Function nesting level too deep"));
}

TEST_F(ConsoleTest, SaveThenLoadAndDump) {
    std::string saved = Path("symbols.txt");
    Result s = RunConsole({"-e", "x = 5; s = 'a;b'; f(a) := a * 2", "--save", saved});
    ASSERT_EQ(s.status, 0) << s.out;
    EXPECT_EQ(Slurp(saved), "x=5;\r\ns='a;b';\r\nf(a):=a*2");

    Result l = RunConsole({"--load", saved, "-e", "f(x); s", "--dump", "--dump-format", ""});
    EXPECT_EQ(l.out, Lines({"10", "a;b", "x=5", "s='a;b'", "f(a):=a*2"}));
    EXPECT_EQ(l.status, 0);

    Result d = RunConsole({"--load", saved, "--dump", "--dump-format", "detailed,qualified", "-e", "1"});
    EXPECT_EQ(d.status, 0);
    EXPECT_THAT(d.out, StartsWith("1\n"));
    EXPECT_EQ(std::count(d.out.begin(), d.out.end(), '\n'), 4);
}

TEST_F(ConsoleTest, LoadFailureIsReportedAndSourcesStillRun) {
    Result r = RunConsole({"--load", Path("missing.txt"), "-e", "1 + 1"});
    EXPECT_THAT(r.out, StartsWith("error: "));
    EXPECT_THAT(r.out, ::testing::EndsWith("\n2\n"));
    EXPECT_EQ(r.status, 1);
}

TEST_F(ConsoleTest, SaveAndDumpRunAfterFailures) {
    std::string saved = Path("after.txt");
    Result r = RunConsole({"--dump", "--dump-format", "", "--save", saved, "-e", "q = 1; )"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, StartsWith("1\nerror: "));
    EXPECT_THAT(r.out, ::testing::EndsWith("\nq=1\n"));
    EXPECT_EQ(Slurp(saved), "q=1");

    Result bad = RunConsole({"--save", Path("no/such/dir/x.txt"), "-e", "2"});
    EXPECT_THAT(bad.out, StartsWith("2\nerror: "));
    EXPECT_EQ(bad.status, 1);
}

TEST_F(ConsoleTest, DumpWritesAssignmentsInBodies) {
    Result r = RunConsole({"-e", "g := y = 1; x = 3", "--dump", "--dump-format", ""});
    EXPECT_EQ(r.out, Lines({"", "3", "g():=y=1", "x=3"}));
    EXPECT_EQ(r.status, 0);
}

TEST_F(ConsoleTest, HelpAndVersion) {
    Result h = RunConsole({"--help"});
    EXPECT_EQ(h.status, 0);
    EXPECT_THAT(h.out, StartsWith("Usage: zorvex [OPTIONS] [FILE...]"));
    EXPECT_THAT(h.out, HasSubstr("--dump-format"));
    EXPECT_EQ(RunConsole({"-h", "-e", "1"}).out, h.out);

    Result v = RunConsole({"--version"});
    EXPECT_EQ(v.status, 0);
    EXPECT_THAT(v.out, ::testing::MatchesRegex("zorvex [0-9]+\\.[0-9]+\\.[0-9]+\n"));
}

TEST_F(ConsoleTest, UsageErrorsRunNothing) {
    std::string good = File("good.txt", "1");
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus"},
        {"-x"},
        {"-e"},
        {"--load"},
        {"--max-nesting", "abc"},
        {"--max-nesting", "-1"},
        {"--max-nesting", "4294967296"},
        {"--max-nesting", ""},
        {"--escape-char", ""},
        {"--escape-char", "ab"},
        {"--dump-format", "fancy"},
        {"--typed=yes"},
        {Path("missing.txt")},
        {dir_.string()},
        {good, Path("missing.txt")},
    };
    for (std::vector<std::string> args : cases) {
        args.insert(args.begin(), {"--save", Path("never.txt"), "-e", "1"});
        Result r = RunConsole(args);
        std::string shown = ::testing::PrintToString(args);
        EXPECT_EQ(r.status, 2) << shown;
        EXPECT_EQ(r.out, "") << shown;
        EXPECT_THAT(r.err, StartsWith("zorvex: ")) << shown;
        EXPECT_FALSE(fs::exists(Path("never.txt"))) << shown;
    }
}

TEST_F(ConsoleTest, OptionFormsAndEndOfOptions) {
    EXPECT_EQ(RunConsole({"-e1", "--execute=2", "--max-nesting=5", "--typed"}).out, Lines({"integer 1", "integer 2"}));
    // After "--" an option name is a file name.
    Result r = RunConsole({"-e1", "--", "--typed"});
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr("'--typed'"));
    EXPECT_EQ(r.out, "");
}

}  // namespace
