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
#include <chrono>
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

// This process's environment with a UTF-8 locale, without what would change
// the console's looks, and with `extra` ("NAME=value" adds or replaces,
// "NAME=" unsets).
std::vector<std::string> Environment(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string var = *e;
        bool drop = false;
        for (const char* name : {"HOME=", "TERM=", "EDITRC=", "NO_COLOR=", "LANG=", "LC_ALL=", "LC_CTYPE="})
            drop = drop || var.rfind(name, 0) == 0;
        if (!drop) env.push_back(var);
    }
    env.push_back("LANG=C.UTF-8");
    for (const std::string& e : extra) {
        const std::string name = e.substr(0, e.find('=') + 1);
        std::erase_if(env, [&](const std::string& v) { return v.rfind(name, 0) == 0; });
        if (e.size() > name.size()) env.push_back(e);
    }
    return env;
}

struct Envp {
    explicit Envp(std::vector<std::string> vars) : strings(std::move(vars)) {
        for (std::string& v : strings) pointers.push_back(v.data());
        pointers.push_back(nullptr);
    }
    std::vector<std::string> strings;
    std::vector<char*> pointers;
};

// Runs the console with `args`, feeding `input` on standard input. With
// `terminal`, standard input is a pseudo-terminal instead of a pipe.
Result RunConsole(const std::vector<std::string>& args, const std::string& input = "", bool terminal = false,
                  const std::string& cwd = "", const std::vector<std::string>& env = {}) {
    // A console that stops reading early must not take this process along.
    signal(SIGPIPE, SIG_IGN);
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
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());

    std::string path = ConsolePath();
    std::vector<std::string> all{path};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    Envp envp(Environment(env));
    int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), envp.pointers.data());
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
        if (poll(fds.data(), fds.size(), 30000) <= 0) {
            ADD_FAILURE() << "the console did not finish";
            if (rc == 0) kill(pid, SIGKILL);
            break;
        }
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
    // `home` empty: HOME is unset. `env` adds or replaces variables.
    explicit TerminalSession(const std::string& home, std::vector<std::string> args = {},
                             std::vector<std::string> extraEnv = {}, const std::string& cwd = "") {
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

        // Without a locale given, bytes as they are.
        extraEnv.insert(extraEnv.begin(), {"LANG=", "TERM=xterm", "NO_COLOR=1"});
        if (!home.empty()) extraEnv.push_back("HOME=" + home);
        Envp envp(Environment(extraEnv));

        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, master_);
        posix_spawn_file_actions_addopen(&actions, 0, slave.c_str(), O_RDWR, 0);
        posix_spawn_file_actions_adddup2(&actions, 0, 1);
        posix_spawn_file_actions_adddup2(&actions, 0, 2);
        if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
        std::string path = ConsolePath();
        args.insert(args.begin(), path);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int rc = posix_spawn(&pid_, path.c_str(), &actions, &attr, argv.data(), envp.pointers.data());
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
        if (master_ >= 0) {
            EXPECT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
        }
    }

    // Waits for the prompt and for the terminal to be read key by key: the
    // editor switches modes only after showing the prompt, and a key typed
    // before would meet the kernel's line editing instead.
    bool Prompt(const std::string& prompt = "zorvex> ") {
        if (!Expect(prompt)) return false;
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

// A script gives the same through FILE, "-", standard input and .run.
void ExpectScriptGives(const std::string& dir, const std::string& file, const std::vector<std::string>& options,
                       const std::string& out, const std::string& what) {
    std::string script;
    {
        std::ifstream f(file, std::ios::binary);
        std::stringstream content;
        content << f.rdbuf();
        script = content.str();
    }
    const int status = out.find("error: ") == std::string::npos ? 0 : 1;
    auto with = [&](std::vector<std::string> args) {
        args.insert(args.begin(), options.begin(), options.end());
        return args;
    };
    const struct {
        const char* form;
        Result r;
    } forms[] = {
        {"FILE", RunConsole(with({file}), "", false, dir)},
        {"-", RunConsole(with({"-"}), script, false, dir)},
        {"standard input", RunConsole(with({}), script, false, dir)},
        {".run", RunConsole(with({}), ".run " + file + "\n", false, dir)},
    };
    for (const auto& f : forms) {
        EXPECT_EQ(f.r.out, out) << what << " through " << f.form;
        EXPECT_EQ(f.r.err, "") << what << " through " << f.form;
        EXPECT_EQ(f.r.status, status) << what << " through " << f.form;
    }
}

TEST_F(ConsoleTest, ScriptFormOfFilesAndStandardInput) {
    const struct {
        const char* what;
        std::string script;
        std::vector<std::string> out;
        std::vector<std::string> options = {};
    } cases[] = {
        {"lines and semicolons", "1\n2 + 3; 4;5\nf := 1\n", {"1", "5", "4", "5", ""}},
        {"a blank piece after ';'", "1; \n", {"1", ""}},
        {"comments", "# heading\n1 # after\n  # indented\n'a # b' # c\n\"#\" + '#'\n", {"1", "a # b", "##"}},
        {"blank lines", "\n\n1\n \t\n\n2\n", {"1", "2"}},
        {"after a bracket", "Max(1,\n 2)\n(1 +\n\n2) * 3\n", {"2", "9"}},
        {"after an operator", "1 +\n2\n3 *\n# between\n4\nTRUE and\nfalse\n7 div\n2\nx =\n-\n1\n", {"3", "12", "False", "3", "-1"}},
        {"in a string", "'a\nb'\nLength('x\n# kept\ny')\n", {"a\nb", "10"}},
        {"CRLF", "1 +\r\n2\r\n'a\r\nb' # c\r\nx = 1\r\n.vars\r\n.clear\r\n.set digits 3\r\n1/3\r\n.quit\r\n5\r\n",
         {"3", "a\nb", "1", "x=1", "cleared 1 symbol(s)", "0.333"}},
        {"names and numbers that end like operators", "band = 1\nband\nx2e = 3\n2e3\n", {"1", "1", "3", "2000"}},
        {"';' ends a text", "1 +; 2\n", {"error: TMOperator.PullOperands() 2 operand(s) expected, but only 1 found. Position: 3.", "2"}},
        {"open at the end", "1\n(2\n", {"1", "error: TMathInterpreter.RPN() Unclosed left bracket on position: 1."}},
        {"a dot inside a text is no command", "Max(1,\n.5)\n", {"error: TMathInterpreter.Parse() Unknown char - ASCII code: #46, on position: 8."}},
        {"commands", ".set fixed 2\n1/3\n.quit\n4\n", {"0.33"}},
        {"a zero byte ends its line", std::string("1\0;2(\n3\n", 8), {"1", "3"}},
        {"#! line", "#!/usr/bin/env zorvex\n1\n", {"1"}},
        {"the escape character before a line break", "'a\\\nb'\n'c\\'\n'\n", {"a\nb", "c'\n"}, {"--escape-char", "\\"}},
    };
    for (const auto& c : cases) {
        std::string out;
        for (const std::string& line : c.out) out += line + "\n";
        ExpectScriptGives(dir_.string(), File("script.zx", c.script), c.options, out, c.what);
    }
}

// Each worked session of examples/ gives the output kept beside it.
TEST_F(ConsoleTest, ExamplesRunAsShown) {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(ZORVEX_EXAMPLES_DIR)) {
        if (entry.path().extension() != ".zx") continue;
        ++count;
        const std::string expected = Slurp(fs::path(entry.path()).replace_extension(".out").string());
        ExpectScriptGives(dir_.string(), entry.path().string(), {}, expected, entry.path().filename().string());
    }
    EXPECT_GE(count, 5);
}

TEST_F(ConsoleTest, DashReadsStandardInputAsAScript) {
    Result r = RunConsole({"-e", "z = 3", "-"}, "z +\n4;\n");
    EXPECT_EQ(r.out, Lines({"3", "7"}));
    EXPECT_EQ(r.status, 0);
    Result none = RunConsole({});
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.status, 0);
}

TEST_F(ConsoleTest, TerminalGetsBannerPromptAndNoLinesForNull) {
    // Output to a pipe: the plain prompt, no line editing; typing errors do
    // not fail the session.
    Result r = RunConsole({}, "2 * 3\nf := 1\n)\n1 +\n2\n(\n", true);
    EXPECT_THAT(r.out, ::testing::MatchesRegex("Zorvex [0-9.]+ expression console. Type .help for help, .quit to "
                                               "leave.\n.*"));
    EXPECT_THAT(r.out, ::testing::EndsWith("\nzorvex> 6\nzorvex> zorvex> error: TMathInterpreter.RPN() Unclosed right "
                                           "bracket, position: 1.\nzorvex>    ...> 3\nzorvex>    ...> \nerror: "
                                           "TMathInterpreter.RPN() Unclosed left bracket on position: 1.\n"));
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
    again.Type(")\r");
    ASSERT_TRUE(again.Expect("error: "));
    ASSERT_TRUE(again.Prompt());
    again.Type("\x04");
    EXPECT_EQ(again.Finish(), 0);  // a typing error is no failure of the session
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

TEST_F(ConsoleTest, TerminalSessionAsAPersonUsesIt) {
    if (!HasLineEditing()) GTEST_SKIP() << "console built without line editing";
    File("workspace-one.txt", "w = 1");
    TerminalSession s(dir_.string(), {}, {}, dir_.string());
    ASSERT_TRUE(s.Expect("Zorvex "));
    ASSERT_TRUE(s.Expect("Type .help for help"));
    ASSERT_TRUE(s.Prompt());
    s.Type("1+2\r");
    ASSERT_TRUE(s.Expect("\n3\r\n"));
    ASSERT_TRUE(s.Prompt());
    s.Type("ans*2\r");
    ASSERT_TRUE(s.Expect("\n6\r\n"));
    ASSERT_TRUE(s.Prompt());
    s.Type("2 * (3 +\r");  // a text goes on over lines, under a prompt of its own
    ASSERT_TRUE(s.Prompt("\n   ...> "));
    s.Type("4)\r");
    ASSERT_TRUE(s.Expect("\n14\r\n"));
    ASSERT_TRUE(s.Prompt());
    s.Type("1 +\r");
    ASSERT_TRUE(s.Prompt("   ...> "));
    s.Type("\x03");  // Ctrl-C abandons the text
    ASSERT_TRUE(s.Prompt());
    s.Type(".help Payment\r");
    ASSERT_TRUE(s.Expect("Payment(rate, n, pv, fv, when)"));
    ASSERT_TRUE(s.Expect("money paid negative"));
    ASSERT_TRUE(s.Expect("when: 0 for payments at the end"));
    ASSERT_TRUE(s.Prompt());
    s.Type("Fact\t");  // the editor writes only what completion added
    ASSERT_TRUE(s.Expect("Fact"));
    ASSERT_TRUE(s.Expect("orial("));
    s.Type("5)\r");
    ASSERT_TRUE(s.Expect("\n120\r\n"));
    ASSERT_TRUE(s.Prompt());
    s.Type("area(r) := 3 * r^2; wall := 2\r");
    ASSERT_TRUE(s.Prompt());
    s.Type("are\t");  // "(" after a function of your own that takes operands
    ASSERT_TRUE(s.Expect("a("));
    s.Type("wa\t");  // none after one without
    ASSERT_TRUE(s.Expect("ll"));
    s.Type(")\r");
    ASSERT_TRUE(s.Expect("\n12\r\n"));
    ASSERT_TRUE(s.Prompt());
    s.Type(".set digits 4\r");
    ASSERT_TRUE(s.Prompt());
    s.Type("2/3\r");
    ASSERT_TRUE(s.Expect("\n0.6667\r\n"));
    ASSERT_TRUE(s.Prompt());
    s.Type("quit\r");
    ASSERT_TRUE(s.Expect("\n(commands start with a dot: .help for help, .quit to leave)\r\n"));
    ASSERT_TRUE(s.Prompt());
    s.Type(".help ans\r");
    ASSERT_TRUE(s.Expect("ans    the last result, neither Null nor Empty: 0.6667\r\n"));
    ASSERT_TRUE(s.Prompt());
    s.Type(".help area\r");
    ASSERT_TRUE(s.Expect("area(r):=3*r^2    your function\r\n"));
    ASSERT_TRUE(s.Prompt());
    s.Type(".load work\t");
    ASSERT_TRUE(s.Expect("space-one.txt"));
    s.Type("\r");
    ASSERT_TRUE(s.Expect("loaded 1 symbol(s)"));
    ASSERT_TRUE(s.Prompt());
    s.Type("x = 7\r");
    ASSERT_TRUE(s.Prompt());
    s.Type("fib(n) := IfF(n < 2, n, fib(n - 1) + fib(n - 2)); fib(40)\r");
    ASSERT_TRUE(s.Expect("fib(40)\r\n"));
    usleep(300000);
    // At once, where finishing would take a minute.
    s.Type("\x03");
    ASSERT_TRUE(s.Expect("error: TMathInterpreter.Interrupt() Evaluation interrupted."));
    ASSERT_TRUE(s.Prompt());
    s.Type("x + w + fib(10)\r");
    ASSERT_TRUE(s.Expect("\n63\r\n"));
    ASSERT_TRUE(s.Prompt());
    s.Type(".quit\r");
    EXPECT_EQ(s.Finish(), 0);
}

// The caret stands under where an error is in the typed text: its position
// (one the message states, or the operator or built-in whose operation
// failed), the end of a text that lacks an operand, or the call that led
// into a user function where the error happened.
TEST_F(ConsoleTest, TerminalCaretUnderWhatFailed) {
    if (!HasLineEditing()) GTEST_SKIP() << "console built without line editing";
    TerminalSession s(dir_.string());
    ASSERT_TRUE(s.Prompt());
    s.Type("f(x) := 1/x; g := f(0) + 1; h(s) := Sqrt(s)\r");
    ASSERT_TRUE(s.Prompt());
    const struct {
        const char* typed;
        int column;  // -1: no caret
        const char* error;
    } cases[] = {
        {"(1+2))", 5, "TMathInterpreter.RPN() Unclosed right bracket"},
        {"y", 0, "TMVarRef.GetValue() Referenced symbol: \"y\" is not defied"},
        {"x = 1 + ; 2", 6, "TMOperator.PullOperands() 2 operand(s) expected"},
        {"1 $ 2", 2, "TMathInterpreter.Parse() Unknown char - ASCII code: #36"},
        {"not 1", 0, "TMNot.GetValue() NOT operator (position: 1)"},
        {"'f(0)' + 2 * f(0)", 13, "Floating point division by zero Most outer function: \"f\"."},
        {"3 + g", 4, "Floating point division by zero Most outer function: \"g\"."},
        {"H(-1)", 0, "Invalid floating point operation Most outer function: \"h\"."},
        {"Sqrt(-1)", 0, "Invalid floating point operation"},
        {"2 * (1 + 'a')", 7, "Could not convert variant of type (String) into type (Double)"},
        {"1; 7 div 0", 5, "Division by zero"},
        {"x = 2 ^ 'b'", 6, "Could not convert variant of type (String) into type (Double)"},
        {"1 + 2 + true", 6, "Invalid variant operation"},
    };
    for (const auto& c : cases) {
        s.Type(std::string(c.typed) + "\r");
        const std::string caret = c.column < 0 ? "" : std::string(8 + c.column, ' ') + "^\r\n";
        ASSERT_TRUE(s.Expect(std::string(c.typed) + "\r\n" + caret + "error: " + c.error)) << c.typed;
        ASSERT_TRUE(s.Prompt());
    }
    // After other output, and on an earlier line of the text, the line is
    // shown again above the caret.
    s.Type("1; 2 +; 3\r");
    ASSERT_TRUE(s.Expect("\n1\r\n        1; 2 +; 3\r\n             ^\r\nerror: "));
    ASSERT_TRUE(s.Prompt());
    s.Type("(1 $\r");
    ASSERT_TRUE(s.Prompt("   ...> "));
    s.Type("2)\r");
    ASSERT_TRUE(s.Expect("2)\r\n        (1 $\r\n           ^\r\nerror: TMathInterpreter.Parse() Unknown char"));
    ASSERT_TRUE(s.Prompt());
    s.Type("\x04");
    EXPECT_EQ(s.Finish(), 0);
}

// Ctrl-C stops a load, a script and a load of the sources as it stops what
// is typed, and the session goes on.
TEST_F(ConsoleTest, TerminalCtrlCReachesLoadsAndScripts) {
    if (!HasLineEditing()) GTEST_SKIP() << "console built without line editing";
    const std::string slow = File("slow.txt", "f(n):=IfF(n<2,n,f(n-1)+f(n-2));\r\nx=f(40);\r\ny=2");
    File("slow.zx", "a = 1\nf(n) := IfF(n < 2, n, f(n - 1) + f(n - 2))\nf(40)\nb = 2\n");
    TerminalSession s(dir_.string(), {"--load", slow}, {}, dir_.string());
    usleep(300000);
    s.Type("\x03");
    ASSERT_TRUE(s.Expect("\r\nerror: TMathInterpreter.Interrupt() Evaluation interrupted.\r\n"));
    ASSERT_TRUE(s.Prompt());
    s.Type(".vars\r");
    ASSERT_TRUE(s.Expect("\nf(n):=IfF(n<2,n,f(n-1)+f(n-2))\r\n"));
    ASSERT_TRUE(s.Prompt());
    for (const char* command : {".load slow.txt", ".run slow.zx"}) {
        s.Type(std::string(command) + "\r");
        usleep(300000);
        s.Type("\x03");
        ASSERT_TRUE(s.Expect("error: TMathInterpreter.Interrupt() Evaluation interrupted.")) << command;
        ASSERT_TRUE(s.Prompt());
    }
    // The load took nothing; the script stopped after its first line.
    s.Type(".vars\r");
    ASSERT_TRUE(s.Expect("\nf(n):=IfF(n<2,n,f(n-1)+f(n-2))\r\na=1\r\n"));
    ASSERT_TRUE(s.Prompt());
    s.Type("\x04");
    EXPECT_EQ(s.Finish(), 1);  // the --load failed
}

TEST_F(ConsoleTest, TerminalEncodingAndColour) {
    if (!HasLineEditing()) GTEST_SKIP() << "console built without line editing";
    const struct {
        std::vector<std::string> env;
        bool utf8;
        const char* degrees;
        bool colour;
    } cases[] = {
        {{"LANG=C.UTF-8"}, true, "10\xC2\xB0" "30'0\"", false},
        {{"LANG=C.UTF-8", "NO_COLOR="}, true, "10\xC2\xB0" "30'0\"", true},
        {{"LANG=C"}, false, "10\xB0" "30'0\"", false},
    };
    for (const auto& c : cases) {
        TerminalSession s(dir_.string(), {}, c.env);
        ASSERT_TRUE(s.Prompt());
        s.Type("DegToStr(10.5)\r");
        ASSERT_TRUE(s.Expect(std::string("\n") + c.degrees + "\r\n"));
        ASSERT_TRUE(s.Prompt());
        if (c.utf8) {
            s.Type("Length('\xC3\xA9t\xC3\xA9')\r");  // one byte each for the runtime
            ASSERT_TRUE(s.Expect("\n3\r\n"));
            ASSERT_TRUE(s.Prompt());
            s.Type("'\xE2\x82\xAC'\r");  // the euro sign has no Latin-1 byte
            ASSERT_TRUE(s.Expect(std::string(c.colour ? "\033[31m" : "") + "error: the character U+20AC is not in "));
            ASSERT_TRUE(s.Prompt());
            // Bytes that are no UTF-8 (U+110000 is none either) are named,
            // not dropped.
            for (const char* bad : {"'\xFF'", "Length('\xC3')", "'\xF4\x90\x80\x80'"}) {
                s.Type(std::string(bad) + "\r");
                ASSERT_TRUE(s.Expect("error: the text is not valid UTF-8 (byte 0x")) << bad;
                ASSERT_TRUE(s.Prompt());
            }
        }
        s.Type("\x04");
        EXPECT_EQ(s.Finish(), 0);
        EXPECT_EQ(s.Output().find("\033[31m") != std::string::npos, c.colour);
    }
    // A -e text typed at such a terminal is converted like a typed line.
    TerminalSession e(dir_.string(), {"-e", "Length('\xC3\xA9t\xC3\xA9'); '\xC3\xA9t\xC3\xA9'"}, {"LANG=C.UTF-8"});
    ASSERT_TRUE(e.Expect("3\r\n\xC3\xA9t\xC3\xA9\r\n"));
    EXPECT_EQ(e.Finish(), 0);
}

// The character set is the locale's, wherever the text comes from or goes.
TEST_F(ConsoleTest, EncodingFollowsTheLocale) {
    const std::string latin1 = "'\xE9t\xE9'; Length('\xE9t\xE9'); DegToStr(10.5)\n";
    const std::string utf8 = "'\xC3\xA9t\xC3\xA9'; Length('\xC3\xA9t\xC3\xA9'); DegToStr(10.5)\n";
    const std::string inUtf8 = Lines({"\xC3\xA9t\xC3\xA9", "3", "10\xC2\xB0" "30'0\""});
    const std::string inLatin1 = Lines({"\xE9t\xE9", "3", "10\xB0" "30'0\""});
    const struct {
        std::vector<std::string> env;
        std::vector<std::string> args;
        std::string input;
        std::string out;
        bool terminal = false;
    } cases[] = {
        {{}, {}, utf8, inUtf8},
        {{}, {}, utf8, inUtf8, true},  // typed at a terminal, out to a pipe
        {{"LANG=C"}, {}, latin1, inLatin1},
        {{"LANG=C", "LC_CTYPE=de_DE.UTF-8"}, {}, utf8, inUtf8},
        {{"LC_ALL=C"}, {}, latin1, inLatin1},
        {{}, {"--bytes"}, latin1, inLatin1},
        {{}, {"-e", "'\xC3\xA9t\xC3\xA9'; DegToStr(10.5)"}, "", Lines({"\xC3\xA9t\xC3\xA9", "10\xC2\xB0" "30'0\""})},
        {{}, {}, "'\xFF'\n'\xE2\x82\xAC'\n'\xC0\xAF'\n'\xED\xA0\x80'\nLength('\xC3')\n'\xC3\xA9'\n",
         Lines({"error: the text is not valid UTF-8 (byte 0xFF)",
                "error: the character U+20AC is not in Latin-1, the only characters expressions can hold",
                "error: the text is not valid UTF-8 (byte 0xC0)", "error: the text is not valid UTF-8 (byte 0xED)",
                "error: the text is not valid UTF-8 (byte 0xC3)", "\xC3\xA9"})},
    };
    for (const auto& c : cases) {
        Result r = RunConsole(c.args, c.input, c.terminal, "", c.env);
        const std::string shown = ::testing::PrintToString(c.env) + ::testing::PrintToString(c.args);
        if (c.terminal)
            EXPECT_THAT(r.out, HasSubstr(c.out)) << shown;
        else
            EXPECT_EQ(r.out, c.out) << shown;
    }
    Result bad = RunConsole({"-e", "'\xFF'"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_THAT(bad.err, HasSubstr("-e text: the text is not valid UTF-8 (byte 0xFF)"));
    EXPECT_EQ(RunConsole({"--bytes", "-e", "Length('\xFF\xC3\xA9')"}).out, "3\n");
}

// How reals are shown changes; values, dumps and saved tables do not.
TEST_F(ConsoleTest, DigitsAndFixedDecimals) {
    const std::string saved = Path("saved.txt");
    const struct {
        std::vector<std::string> args;
        std::string input;
        std::vector<std::string> out;
    } cases[] = {
        {{"--digits", "4", "-e", "2/3; 1e20/3; 7 div 2; 0.1 + 0.2 == 0.3"}, "", {"0.6667", "3.333E+19", "3", "False"}},
        {{"--digits", "17", "-e", "0.1 + 0.2"}, "", {"0.30000000000000004"}},
        {{"--fixed", "2", "--typed", "-e", "2/3; -0.001; 5; 2.5; 'a'"}, "",
         {"real 0.67", "real -0.00", "integer 5", "real 2.50", "string a"}},
        {{"--fixed", "0", "-e", "2.5; 3.5"}, "", {"2", "4"}},
        {{"--fixed", "2", "--digits", "3", "-e", "2/3"}, "", {"0.667"}},  // the later one wins
        {{"--fixed", "3", "-e", "x = 1/3; FloatToStr(x)", "--dump", "--save", saved}, "",
         {"0.333", "0.333333333333333", "x=0.3333333333333333"}},
        {{}, ".set digits 3\n2/3\n.set fixed 1\n2/3\n.set fixed off\n2/3\n.set digits 0\n.set fixed x\n.set\n",
         {"0.667", "0.7", "0.667", "error: digits is 1 to 17", "error: fixed is 0 to 17", "digits          3",
          "fixed           off", "time-limit      0", "case-sensitive  off", "escape-char     none",
          "max-nesting     1000", "dump-format     qualified"}},
    };
    for (const auto& c : cases) {
        Result r = RunConsole(c.args, c.input);
        std::string out;
        for (const std::string& line : c.out) out += line + "\n";
        EXPECT_EQ(r.out, out) << ::testing::PrintToString(c.args) << c.input;
    }
    EXPECT_EQ(Slurp(saved), "x=0.3333333333333333");
}

// Every evaluation, whatever its source, stops at the time limit; the next
// one runs.
TEST_F(ConsoleTest, TimeLimit) {
    const std::string fib = "f(n) := IfF(n < 2, n, f(n - 1) + f(n - 2))";
    const std::string stopped = "error: TMathInterpreter.EvaluationTimeLimit Evaluation stopped at its limit of ";
    const std::string slow = File("slow.txt", "f(n):=IfF(n<2,n,f(n-1)+f(n-2));\r\nx=f(40);\r\ny=2");
    Result e = RunConsole({"--time-limit", "50", "-e", fib + "; f(40); f(10)"});
    EXPECT_EQ(e.out, Lines({"", (stopped + "50 ms.").c_str(), "55"}));
    EXPECT_EQ(e.status, 1);
    Result load = RunConsole({"--time-limit=50", "--load", slow, "--dump", "--dump-format", ""});
    EXPECT_EQ(load.out, Lines({(stopped + "50 ms.").c_str(), "f(n):=IfF(n<2,n,f(n-1)+f(n-2))"}));
    Result set = RunConsole({}, ".set time-limit 40\n" + fib + "\nf(40); 1\n.set time-limit -1\n.load " + slow + "\n");
    EXPECT_EQ(set.out, Lines({"", (stopped + "40 ms.").c_str(), "1", "error: time-limit is 0 to 4294967295",
                              (stopped + "40 ms. (nothing loaded; the symbols are as they were)").c_str()}));
}

// Reading stops at the runtime's text limit, however the text comes.
TEST_F(ConsoleTest, TextLimitWhileReading) {
    Result zero = RunConsole({"/dev/zero", "-e", "1"});
    EXPECT_EQ(zero.out, Lines({"1", "error: the text at line 1 of /dev/zero is longer than 67108864 bytes, the most "
                                    "a text may hold; the rest is not read"}));
    EXPECT_EQ(zero.status, 1);
    // A line, and a text over lines.
    const std::string mib(1 << 20, 'a');
    std::string lines = "'";
    for (int i = 0; i < 65; ++i) lines += mib + "\n";
    for (const std::string& input : {std::string(65 << 20, ' ') + "1\n2\n", lines + "'\n2\n"}) {
        Result r = RunConsole({}, input);
        EXPECT_THAT(r.out, StartsWith("error: the text at line ")) << r.out.substr(0, 100);
        EXPECT_THAT(r.out, ::testing::EndsWith(" of standard input is longer than 67108864 bytes, the most a text may "
                                               "hold; the rest is not read\n"));
    }
    // Within it, one long line is read as fast as a file.
    const std::string line = "Length('" + std::string(16 << 20, 'x') + "')\n";
    EXPECT_EQ(RunConsole({}, line).out, "16777216\n");
    EXPECT_EQ(RunConsole({File("long.zx", line)}).out, "16777216\n");
}

// Names the user typed are quoted as the runtime quotes them: cut.
TEST_F(ConsoleTest, LongNamesInMessagesAreCut) {
    const std::string name(100000, 'n');
    const std::string cut = name.substr(0, 10) + "...'";
    for (const std::string& line : {".help " + name, ".set " + name + " 1", "." + name})
        EXPECT_THAT(RunConsole({}, line + "\n").out, ::testing::AllOf(HasSubstr(cut), ::testing::SizeIs(::testing::Lt(200u))));
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--" + name}, {"--load", name}, {name}})
        EXPECT_THAT(RunConsole(args).err, ::testing::AllOf(HasSubstr(name.substr(0, 10) + "..."),
                                                           ::testing::SizeIs(::testing::Lt(200u))));
}

TEST_F(ConsoleTest, DashAtTerminalEndsOnFirstCtrlD) {
    // Only one Ctrl-D is sent; waiting for a second would never finish.
    Result r = RunConsole({"-e", "y = 1", "-"}, "y +\n2\n", true);
    EXPECT_EQ(r.out, Lines({"1", "3"}));
    EXPECT_EQ(r.status, 0);
}

// ---------------------------------------------------------------- lines, ans and commands

TEST_F(ConsoleTest, LinesFromAPipe) {
    EXPECT_EQ(RunConsole({}, "x = 2\ny = x^10\n").out, Lines({"2", "1024"}));
    // The last result answers `ans` until a symbol of that name exists; it is
    // never a symbol itself.
    std::string saved = Path("ans.txt");
    Result r = RunConsole({"--save", saved}, "ans\n1 + 2\nans * 2\nf := 1\nANS + 1\n.vars\nans = 5\nans + 1\n.vars\n");
    EXPECT_EQ(r.out, Lines({"error: TMVarRef.GetValue() Referenced symbol: \"ans\" is not defied, position: 1.", "3",
                            "6", "", "7", "f():=1", "5", "6", "f():=1", "ans=5"}));
    EXPECT_EQ(Slurp(saved), "f():=1;\r\nans=5");
    // Errors of piped lines count.
    EXPECT_EQ(r.status, 1);
}

TEST_F(ConsoleTest, DotCommands) {
    std::string ws = Path("ws.txt");
    File("run.txt", "#!/usr/bin/env zorvex\nz = 3;\nz * 2");
    const std::string input = ".help\n.help sqrt\n.help .load\n.funcs\n.set\n.set escape-char \\\n"
                              ".set dump-format plain\n.set max-nesting 7\n.set\n.set colour on\n"
                              "a = 1; b(x) := x + a\n.dump\n.save " + ws + "\n.clear\n.vars\n"
                              ".load " + ws + "\n.help b\n.run " + Path("run.txt") + "\n.run " + Path("none") +
                              "\n.load " + Path("run.txt") + "\n.vars\n.bogus\n.quit\nnever = 1\n";
    Result r = RunConsole({}, input);
    for (const char* expected :
         {"  .load FILE       replace the symbols", "Sqrt(x)    built-in, Powers, roots and logarithms\n  square root",
          ".load FILE    clear the symbols", "Financial:\n  DoubleDecliningBalance",
          "digits          15\nfixed           off\ntime-limit      0\n"
          "case-sensitive  off\nescape-char     none\nmax-nesting     1000\ndump-format     qualified\n",
          "escape-char     \\\nmax-nesting     7\ndump-format     plain\n",
          "error: no setting 'colour' (digits, fixed, time-limit, case-sensitive, escape-char, max-nesting, "
          "dump-format)\n",
          "1\n\na=1\nb(x):=x+a\nsaved 2 symbol(s)\ncleared 2 symbol(s)\nno symbols\nloaded 2 symbol(s)\n"
          "b(x):=x+a    your function\n3\n6\nerror: cannot open '",
          // A file that fails part-way loads nothing and keeps the symbols.
          " (nothing loaded; the symbols are as they were)\na=1\nb(x):=x+a\nz=3\nerror: unknown command '.bogus'"})
        EXPECT_THAT(r.out, HasSubstr(expected));
    EXPECT_THAT(r.out, ::testing::Not(HasSubstr("never")));
    EXPECT_EQ(Slurp(ws), "a=1;\r\nb(x):=x+a");
}

TEST_F(ConsoleTest, InteractiveAfterSourcesAndScriptLines) {
    std::string script = File("script.zx", "#!/usr/bin/env -S zorvex -i\nk = 4;\nk * k");
    Result r = RunConsole({"-i", script}, "k + 1\n");
    EXPECT_EQ(r.out, Lines({"4", "16", "5"}));
    EXPECT_EQ(r.status, 0);
    // At a terminal the prompt follows the sources.
    Result t = RunConsole({"-i", "-e", "k = 2", "-e", "("}, "k * 3\n)\n", true);
    EXPECT_THAT(t.out, StartsWith("2\nerror: TMathInterpreter.RPN() Unclosed left bracket on position: 1.\nZorvex "));
    EXPECT_THAT(t.out, HasSubstr("zorvex> 6\nzorvex> error: "));
    EXPECT_EQ(t.status, 1);  // the failed source counts, the typed error not
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

TEST_F(ConsoleTest, LoadEntryFailureIsReportedAndSourcesStillRun) {
    Result r = RunConsole({"--load", File("bad.txt", "a=1;\r\nb=(;\r\nc=3"), "-e", "a + 1", "--dump"});
    EXPECT_EQ(r.out, Lines({"error: TMathInterpreter.RPN() Unclosed left bracket on position: 5.", "2", "a=1"}));
    EXPECT_EQ(r.status, 1);
}

TEST_F(ConsoleTest, DumpWritesWhatSaveWritesUnderAnEscapeChar) {
    std::string saved = Path("escaped.txt");
    Result r = RunConsole({"--escape-char", "\\", "-e", "s = 'a\\\\b'; f := 'x\\\\y'", "--save", saved, "--dump",
                           "--dump-format", ""});
    EXPECT_EQ(Slurp(saved), "s='a\\\\b';\r\nf():='x\\\\y'");
    EXPECT_EQ(r.out, Lines({"a\\b", "", "s='a\\\\b'", "f():='x\\\\y'"}));
    // What was dumped reads back as the same string.
    Result back = RunConsole({"--escape-char", "\\", "--typed", "-e", "s='a\\\\b'; s"});
    EXPECT_EQ(back.out, Lines({"string a\\b", "string a\\b"}));
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
        {"--load", Path("missing.txt")},
        {"--load", dir_.string()},
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
