// What a table holds comes back from its symbols text, whatever the escape
// character, the values or the file; and what cannot come back is refused
// before anything is written or changed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "zorvex/MathInterpreter.h"
#include "zorvex/SysUtils.h"

using namespace zorvex;
using zorvex::testing::ErrorOf;
namespace fs = std::filesystem;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// A string literal that reads as `text` under the escape character `e`, with
// every character escaped: another spelling than the one dumps write.
std::string EscapedLiteral(const std::string& text, char e) {
    const char quote = e == '\'' ? '"' : '\'';
    std::string out(1, quote);
    for (char c : text) (out += e) += c;
    return out + quote;
}

Variant Array(std::initializer_list<Variant> items) {
    Variant array = Variant::Array(items.size());
    int i = 0;
    for (const Variant& item : items) array.ArrayPut(i++, item);
    return array;
}

std::string Saved(TMathInterpreter& mi) {
    std::ostringstream out;
    mi.SaveSymbolsToStream(out);
    return out.str();
}

void Load(TMathInterpreter& mi, const std::string& text) {
    std::istringstream in(text);
    mi.LoadSymbolsFromStream(in);
}

std::string Slurp(const fs::path& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class SavedFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("zorvex-saved-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir / "ro", fs::perms::owner_all, ec);
        fs::remove_all(dir);
    }
    void Write(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
    fs::path dir;
};

}  // namespace

// ---------------------------------------------------------------- escape characters

// Strings in variables, bodies, arguments and nested calls, ending in the
// escape character or holding quotes, save and load back under every escape
// character, with the same values.
TEST(SavedStrings, EveryEscapeCharacterRoundTrips) {
    for (char e : {'\\', '\'', '"', ';', '#', 'a', ' ', '=', '(', ',', '\x01', '\r', '\n', '\xff'}) {
        SCOPED_TRACE(::testing::Message() << "escape character " << static_cast<int>(static_cast<unsigned char>(e)));
        const std::string tail = std::string("1") + e;              // ends in the escape character
        const std::string mixed = std::string("a") + e + "'\"" + e + "b;";
        TMathInterpreter mi;
        mi.SetEscapeChar(e);
        mi.Execute("v = " + EscapedLiteral(mixed, e) + ";\n" +                                      //
                   "f := Length(" + EscapedLiteral(mixed, e) + ");\n" +                             //
                   "g := 'x' + " + EscapedLiteral(tail, e) + ";\n" +                                //
                   "h(p) := IfF(p, Copy(" + EscapedLiteral(tail + tail, e) + ", 1, 3), " +         //
                   EscapedLiteral(std::string(1, e), e) + ");\n" +                                  //
                   "k := " + EscapedLiteral(tail, e) + ";\n" + "total = 42");
        ASSERT_EQ(VarToStr(mi.ExecuteExpression("g")), "x" + tail);
        const std::string text = Saved(mi);
        TMathInterpreter fresh;
        fresh.SetEscapeChar(e);
        Load(fresh, text);
        EXPECT_EQ(Saved(fresh), text);
        EXPECT_EQ(fresh.Dump(";", dfQualified), mi.Dump(";", dfQualified));
        for (const char* probe : {"v", "f", "g", "h(true)", "h(false)", "k", "total"}) {
            SCOPED_TRACE(::testing::Message() << probe << "\n" << text);
            EXPECT_VALUE(fresh.ExecuteExpression(probe), mi.ExecuteExpression(probe));
        }
        // A prepared tree dumps its strings the same way.
        const int handle = mi.PrepareExpression("Pos(" + EscapedLiteral(tail, e) + ", g)");
        TMathInterpreter again;
        again.SetEscapeChar(e);
        again.ExecuteExpression("g := 'x' + " + EscapedLiteral(tail, e));
        EXPECT_VALUE(again.ExecuteExpression(mi.PreparedExpressions()[handle]->Dump(0)), Variant(2));
    }
}

// The reproducer: a body's literal was written unescaped, and one ending in
// the escape character swallowed every entry after it.
TEST(SavedStrings, BodyLiteralsAreEscaped) {
    TMathInterpreter mi;
    mi.SetEscapeChar('\\');
    mi.Execute(R"(f := Length('a\\b'); g := 'x' + '1\\'; total = 42)");
    EXPECT_EQ(mi.DumpSymbol("f", 0), R"(f():=Length('a\\b'))");
    EXPECT_EQ(mi.DumpSymbol("g", dfQualified), R"(g():='x'+'1\\')");
    EXPECT_EQ(mi.DumpSymbol("g", dfDetailed), R"(TMFunction["g"](){TMPlus(TMLiteral('x'),TMLiteral('1\'))})");
    TMathInterpreter fresh;
    fresh.SetEscapeChar('\\');
    Load(fresh, Saved(mi));
    EXPECT_VALUE(fresh.ExecuteExpression("f"), Variant(3));
    EXPECT_VALUE(fresh.ExecuteExpression("g"), Variant(std::string("x1\\")));
    EXPECT_VALUE(fresh.ExecuteExpression("total"), Variant(42));
}

// ---------------------------------------------------------------- numbers

TEST(SavedNumbers, NegativeZeroKeepsItsSignAndOtherRealsTheirForm) {
    TMathInterpreter mi;
    mi.Execute("f := ArcTan2(0, -0.0); x = -0.0; two = 2.0; zero = 0.0; g := 2.0 * -0.0");
    EXPECT_EQ(mi.Dump(";", 0), "f():=ArcTan2(0,-0.0);x=-0.0;two=2;zero=0;g():=2*-0.0");
    TMathInterpreter fresh;
    Load(fresh, Saved(mi));
    EXPECT_NEAR(VarToReal(fresh.ExecuteExpression("f")), M_PI, 1e-15);
    EXPECT_NEAR(VarToReal(fresh.ExecuteExpression("ArcTan2(0, x)")), M_PI, 1e-15);
    EXPECT_NEAR(VarToReal(fresh.ExecuteExpression("ArcTan2(0, g)")), M_PI, 1e-15);
    EXPECT_VALUE(fresh.ExecuteExpression("two"), Variant(2));
    EXPECT_VALUE(fresh.ExecuteExpression("zero"), Variant(0));
}

// NaN and the infinities are no values of the language: every way a host
// puts a value in refuses them, and the variable keeps its value.
TEST(SavedNumbers, HostCannotPutNaNOrInfinityIn) {
    TMathInterpreter mi;
    mi.Execute("x = 1; t = 't'");
    const int x = mi.GetVariableHandles("x");
    const int t = mi.GetVariableHandles("t");
    const std::string nan = "TMVar.SetValue() Value for \"x\" is NaN, which is no value of the language.";
    const std::string inf = "TMVar.SetValue() Value for \"x\" is infinite, which is no value of the language.";
    Variant array = Variant::Array(2);
    array.ArrayPut(1, Variant(-kInf));
    const struct {
        const char* how;
        std::function<void()> set;
        std::string message;
    } cases[] = {
        {"SetVariables", [&] { mi.SetVariables("x", Variant(kNaN)); }, nan},
        {"by handle", [&] { mi.SetVariablesByHandle(x, Variant(kInf)); }, inf},
        {"typed double", [&] { mi.SetVariablesByHandle(x, -kInf); }, inf},
        {"typed double, NaN", [&] { mi.SetVariablesByHandle(x, kNaN); }, nan},
        {"typed over a text", [&] { mi.SetVariablesByHandle(t, kNaN); },
         "TMVar.SetValue() Value for \"t\" is NaN, which is no value of the language."},
        {"in an array", [&] { mi.SetVariables("x", array); }, inf},
        {"the symbol itself", [&] { mi.Symbols().FindSymbol("x")->SetValue(Variant(kNaN)); }, nan},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        EXPECT_EQ(ErrorOf(c.set), c.message);
        EXPECT_VALUE(mi.GetVariables("x"), Variant(1));
    }
    EXPECT_VALUE(mi.GetVariables("t"), Variant(std::string("t")));
    // A literal of a prepared tree, and the answers of an unknown-symbol handler.
    const int h = mi.PrepareExpression("2.5 + x");
    auto* literal = static_cast<TMLiteral*>(static_cast<TMOperator*>(mi.PreparedExpressions()[h])->Operands[0]);
    EXPECT_EQ(ErrorOf([&] { literal->SetValue(Variant(kNaN)); }),
              "TMLiteral.SetValue() Value is NaN, which is no value of the language.");
    EXPECT_VALUE(mi.ExecutePreparedExpression(h), Variant(3.5));
    mi.SetOnUnknownSymbol([](TMathInterpreter&, const std::string&, const Variant&, Variant& value) { value = kNaN; });
    EXPECT_EQ(ErrorOf([&] { mi.ExecuteExpression("y == 0"); }),
              "TMVarRef.GetValue() Value for \"y\" is NaN, which is no value of the language.");
    EXPECT_EQ(ErrorOf([&] { mi.ExecuteExpression("u(1) + 1"); }),
              "TMFunctionCall.GetValue() Value for \"u\" is NaN, which is no value of the language.");
}

// What slips past the setters (a value stored without them) compares equal
// to nothing, and a save refuses it before the file is touched.
TEST_F(SavedFiles, NonFiniteValuesAreRefusedOnSaveAndEqualNothing) {
    for (double bad : {kNaN, kInf, -kInf}) {
        TMathInterpreter mi;
        mi.Execute("a = 1; x = 0; z = 3");
        static_cast<TMVar*>(mi.Symbols().FindSymbol("x"))->Assign(Variant(bad));
        const fs::path file = dir / "s.sym";
        Write(file, "keep=1");
        const std::string why = std::isnan(bad) ? "it holds NaN" : "it holds an infinity";
        EXPECT_EQ(ErrorOf([&] { mi.SaveSymbolsToFile(file.string()); }),
                  "TMathInterpreter.DumpStreamable() Symbol: \"x\" can not be saved: " + why +
                      ", which symbols text can not hold.");
        EXPECT_EQ(Slurp(file), "keep=1");
        if (std::isnan(bad)) {
            for (const char* compare : {"x == 0", "x != 0", "x < 1", "0 >= x", "x == x"})
                EXPECT_EQ(ErrorOf([&] { mi.ExecuteExpression(compare); }), "Invalid floating point operation") << compare;
            EXPECT_EQ(ErrorOf([&] { VarCmp(Variant(kNaN), Variant(0)); }), "Invalid floating point operation");
            EXPECT_EQ(ErrorOf([&] { VarCmp(Variant(1), Variant(kNaN)); }), "Invalid floating point operation");
        }
    }
}

// A host-stored array dumps for reading; saving refuses it with the
// documented message.
TEST_F(SavedFiles, HostArraysDumpForReadingAndAreRefusedOnSave) {
    TMathInterpreter mi;
    mi.SetEscapeChar('\\');
    mi.Execute("n = 1; a = 0");
    Variant inner = Variant::Array(1);
    inner.ArrayPut(0, Variant(true));
    Variant array = Variant::Array(5);
    array.ArrayPut(0, Variant(1));
    array.ArrayPut(1, Variant(std::string("it's\\")));
    array.ArrayPut(2, Variant(2.5));
    array.ArrayPut(3, Variant::Null());
    array.ArrayPut(4, inner);
    mi.SetVariables("a", array);
    EXPECT_EQ(mi.Dump(";", 0), R"(n=1;a=[1,'it''s\\',2.5,,[True]])");
    EXPECT_EQ(mi.DumpSymbol("a", dfDetailed), R"(TMVar["a"]([1,'it''s\',2.5,,[True]]))");
    const fs::path file = dir / "s.sym";
    Write(file, "keep=1");
    const std::string refusal =
        "TMathInterpreter.DumpStreamable() Symbol: \"a\" can not be saved: it holds an array, which symbols text can "
        "not hold.";
    EXPECT_EQ(ErrorOf([&] { mi.SaveSymbolsToFile(file.string()); }), refusal);
    EXPECT_EQ(ErrorOf([&] { Saved(mi); }), refusal);
    EXPECT_EQ(Slurp(file), "keep=1");
}

// ---------------------------------------------------------------- reading

namespace {

// An endless stream of one byte, counting what it hands out.
class Endless : public std::streambuf {
public:
    explicit Endless(char byte) : buffer_(4096, byte) {}
    std::size_t served = 0;

protected:
    int_type underflow() override {
        served += buffer_.size();
        setg(buffer_.data(), buffer_.data(), buffer_.data() + buffer_.size());
        return traits_type::to_int_type(buffer_[0]);
    }

private:
    std::string buffer_;
};

// A stream that breaks after a few bytes.
class Broken : public std::streambuf {
protected:
    int_type underflow() override {
        if (calls_++ > 0) throw std::ios_base::failure("device gone");
        setg(bytes_, bytes_, bytes_ + 4);
        return 'x';
    }

private:
    char bytes_[5] = "x=1;";
    int calls_ = 0;
};

}  // namespace

// Every reader stops at the length limit while it reads, and a load that
// fails reading leaves the table as it was.
TEST(SavedReading, ReadersStopAtTheLengthLimitAndChangeNothing) {
    TMathInterpreter mi;
    mi.ExecuteExpression("keep = 1");
    const struct {
        const char* operation;
        std::function<void(std::istream&)> read;
    } readers[] = {
        {"LoadSymbolsFromStream", [&](std::istream& in) { mi.LoadSymbolsFromStream(in); }},
        {"ExecuteFromStream", [&](std::istream& in) { mi.ExecuteFromStream(in); }},
    };
    for (const auto& reader : readers) {
        Endless endless('x');
        std::istream in(&endless);
        EXPECT_EQ(ErrorOf([&] { reader.read(in); }),
                  std::string("TMathInterpreter.") + reader.operation +
                      "() Text is longer than the maximum length of 67108864 characters; nothing of it was run.");
        EXPECT_LE(endless.served, MaxTextLength + 128 * 1024) << reader.operation;
        // A stream that breaks, whether it reports by its state or by throwing.
        for (auto mask : {std::ios::goodbit, std::ios::badbit, std::ios::failbit | std::ios::badbit}) {
            Broken broken;
            std::istream bad(&broken);
            bad.exceptions(mask);
            EXPECT_EQ(ErrorOf([&] { reader.read(bad); }), "Stream read error") << reader.operation;
        }
        EXPECT_EQ(mi.Dump(";", 0), "keep=1") << reader.operation;
    }
    // Endless zeros are an empty text: it ends at the first zero byte.
    Endless zeros('\0');
    std::istream in(&zeros);
    EXPECT_VALUE(mi.ExecuteFromStream(in), Variant::Array(1));
    EXPECT_LE(zeros.served, 128u * 1024);
    // A stream that throws at its end is read to the end all the same.
    std::istringstream throwing("x = 5; x * 2");
    throwing.exceptions(std::ios::failbit | std::ios::eofbit);
    EXPECT_VALUE(mi.ExecuteFromStream(throwing), Array({Variant(5), Variant(10)}));
}

TEST_F(SavedFiles, ByteOrderMarkIsSkippedAtTheStartOnly) {
    const fs::path file = dir / "bom.sym";
    Write(file, "\xEF\xBB\xBFx=1;\r\ny=2");
    TMathInterpreter mi;
    mi.LoadSymbolsFromFile(file.string());
    EXPECT_EQ(mi.Dump(";", 0), "x=1;y=2");
    std::istringstream stream("\xEF\xBB\xBFx=3;\r\ny=4");
    mi.LoadSymbolsFromStream(stream);
    EXPECT_EQ(mi.Dump(";", 0), "x=3;y=4");
    EXPECT_VALUE(mi.ExecuteFromFile(file.string()), Array({Variant(1), Variant(2)}));
    Write(file, "x=1;\xEF\xBB\xBFy=2");
    EXPECT_EQ(ErrorOf([&] { mi.LoadSymbolsFromFile(file.string()); }),
              "TMathInterpreter.Parse() Unknown char - ASCII code: #239, on position: 1.");
}

// ---------------------------------------------------------------- files

TEST_F(SavedFiles, OnlyRegularFilesAreReplaced) {
    TMathInterpreter mi;
    mi.ExecuteExpression("x = 1");
    const fs::path fifo = dir / "fifo", socket = dir / "socket", device = dir / "device", folder = dir / "folder";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket.c_str());
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    fs::create_directory(folder);
    std::vector<std::pair<fs::path, std::string>> targets = {
        {fifo, "a FIFO"}, {socket, "a socket"}, {folder, "a directory"}};
    // A device node of the null device, where the system lets us make one.
    if (::mknod(device.c_str(), S_IFCHR | 0644, makedev(1, 3)) == 0) targets.push_back({device, "a device"});
    for (const auto& [path, kind] : targets) {
        const fs::file_type type = fs::symlink_status(path).type();
        EXPECT_EQ(ErrorOf([&] { mi.SaveSymbolsToFile(path.string()); }),
                  "Cannot create file \"" + path.string() + "\": it is " + kind +
                      ", and a save replaces only a regular file.");
        EXPECT_EQ(fs::symlink_status(path).type(), type) << kind;
        // Through a link the same.
        const fs::path link = dir / ("link-" + path.filename().string());
        fs::create_symlink(path, link);
        EXPECT_NE(ErrorOf([&] { mi.SaveSymbolsToFile(link.string()); }).find(kind), std::string::npos);
        EXPECT_EQ(fs::symlink_status(path).type(), type) << kind;
    }
    ::close(s);
    // Nothing is left beside them.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()),
              static_cast<long>(2 * targets.size()));
}

namespace {

// Runs `check` as an unprivileged user (in a child process when this one
// runs as root, whose rights bypass the permission bits); true when it held.
bool AsUnprivileged(const std::function<bool()>& check) {
    if (::geteuid() != 0) return check();
    const pid_t child = ::fork();
    if (child == 0) {
        const bool dropped = ::setgid(65534) == 0 && ::setuid(65534) == 0;
        ::_exit(dropped && check() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

// Write permission as the system reports it for this process: refused
// without it, with the reason; where it is given (root's rights) the save
// goes ahead and the file keeps its mode. Either way nothing is left behind.
TEST_F(SavedFiles, WritePermissionIsRespected) {
    fs::permissions(dir, fs::perms::all);
    const fs::path readOnly = dir / "ro.sym";
    Write(readOnly, "old=1");
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::create_directory(dir / "ro");
    const fs::path inReadOnlyFolder = dir / "ro" / "w.sym";
    Write(inReadOnlyFolder, "old=1");
    fs::permissions(inReadOnlyFolder, fs::perms::all);
    fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    const auto refused = [](const fs::path& file, const std::string& reason) {
        TMathInterpreter mi;
        mi.ExecuteExpression("x = 1");
        return ErrorOf([&] { mi.SaveSymbolsToFile(file.string()); }) ==
                   "Cannot create file \"" + file.string() + "\": " + reason + "." &&
               Slurp(file) == "old=1";
    };
    EXPECT_TRUE(AsUnprivileged([&] { return refused(readOnly, "it is read-only"); }));
    EXPECT_TRUE(AsUnprivileged([&] {
        return refused(inReadOnlyFolder,
                       "its folder is read-only, and a save writes the new file there to replace the old one");
    }));
    if (::access(readOnly.c_str(), W_OK) == 0) {
        TMathInterpreter mi;
        mi.ExecuteExpression("x = 1");
        mi.SaveSymbolsToFile(readOnly.string());
        EXPECT_EQ(Slurp(readOnly), "x=1");
        EXPECT_EQ(fs::status(readOnly).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "ro"), fs::directory_iterator()), 1);
}

// Temporary files that killed saves left behind never block a save, and a
// save leaves none of its own; through a link the file it points to is
// replaced.
TEST_F(SavedFiles, StaleTemporaryFilesDoNotBlockASave) {
    const fs::path file = dir / "s.sym";
    for (int i = 0; i < 150; ++i) Write(dir / ("s.sym.tmp" + std::to_string(i)), "stale");
    TMathInterpreter mi;
    for (int round = 0; round < 3; ++round) {
        mi.ExecuteExpression("x = " + std::to_string(round));
        mi.SaveSymbolsToFile(file.string());
        EXPECT_EQ(Slurp(file), "x=" + std::to_string(round));
    }
    const fs::path link = dir / "link.sym";
    fs::create_symlink(file, link);
    mi.ExecuteExpression("x = 9");
    mi.SaveSymbolsToFile(link.string());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Slurp(file), "x=9");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 152);
}

// File names are quoted in messages as every quoted text is: cut to 60
// characters.
TEST_F(SavedFiles, LongFileNamesAreCutInMessages) {
    const std::string name = (dir / std::string(100000, 'n')).string();
    const std::string quoted = "\"" + name.substr(0, 60) + "...\"";
    TMathInterpreter mi;
    mi.ExecuteExpression("x = 1");
    EXPECT_EQ(ErrorOf([&] { mi.LoadSymbolsFromFile(name); }), "Cannot open file " + quoted + ".");
    EXPECT_EQ(ErrorOf([&] { mi.ExecuteFromFile(name); }), "Cannot open file " + quoted + ".");
    EXPECT_EQ(ErrorOf([&] { mi.SaveSymbolsToFile(name); }).substr(0, 19 + quoted.size()),
              "Cannot create file " + quoted);
    EXPECT_EQ(mi.Dump(";", 0), "x=1");
}
