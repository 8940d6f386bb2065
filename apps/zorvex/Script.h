// The script form the console reads, from files and standard input alike:
// lines joined into texts, `#` comments, and sources of lines.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace console {

// Lines joined into texts. A `#` outside strings starts a comment that runs
// to the end of the line; a text goes on over the next line while a bracket
// or a string is open or it ends with an operator. Lines keep their breaks,
// so a string that spans lines holds them.
class ScriptText {
public:
    // Takes one line without its line break. True when the text now stands
    // complete: Take hands it over.
    bool Add(std::string&& line, char escapeChar);
    // The text without its comments; empty when it held nothing else.
    std::string Take();
    // A text waits for its next line.
    bool Pending() const { return !text_.empty(); }
    std::size_t Size() const { return text_.size(); }
    void Clear();

private:
    std::string text_;
    char quote_ = '\0';    // of the string open at the end, or none
    bool escaped_ = false;  // the next character is the escaped one
    std::size_t depth_ = 0;  // brackets open
    bool operatorLast_ = false;
    bool anything_ = false;  // more than blanks and comments
};

// Where lines come from: a file, standard input, the line editor.
class LineSource {
public:
    enum class Input { Line, Discarded, End };
    virtual ~LineSource() = default;
    // The next line without its line break. `more`: it continues a text
    // (a prompt says so). Discarded: Ctrl-C came while waiting. A failure
    // to read raises ReadError, and the source has ended.
    virtual Input Read(std::string& line, bool more) = 0;
    // "line 3 of NAME", for messages about the last line read.
    virtual std::string Where() const = 0;
};

struct ReadError {
    std::string message;
};

// Lines of a file descriptor, read as they come: a script runs while it is
// still being written. No line may pass the runtime's text limit.
class FdLines : public LineSource {
public:
    // Closes `fd` at its end when `owned`. Prompts go to standard output
    // before each read when given.
    FdLines(int fd, std::string name, bool owned, const char* prompt = nullptr, const char* morePrompt = nullptr);
    ~FdLines() override;
    FdLines(const FdLines&) = delete;
    FdLines& operator=(const FdLines&) = delete;

    Input Read(std::string& line, bool more) override;
    std::string Where() const override;

private:
    int fd_;
    std::string name_;
    bool owned_;
    const char* prompt_;
    const char* morePrompt_;
    std::vector<char> buffer_;  // grows as asked, where a string doubles
    std::size_t start_ = 0;    // of the next line in buffer_
    std::size_t scanned_ = 0;  // no line break before this
    std::size_t lineNumber_ = 0;
    bool ended_ = false;
};

// A line as a line: without the carriage return of a CRLF ending, and
// ending at its first zero byte as every text does.
void TrimLineEnd(std::string& line);

// A message for a text or line that would pass the runtime's text limit.
std::string TooLong(const std::string& where);

// The tokenizer's rules for names and numbers, for scans of a text.
inline bool IsIdentifierStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
inline bool IsIdentifierChar(char c) { return IsIdentifierStart(c) || IsDigit(c); }
// The operators that need an operand after them: symbols and words.
inline bool IsOperatorChar(char c) { return c != '\0' && std::strchr("+-*/^<>=,", c) != nullptr; }
bool IsOperatorWord(std::string_view word);
// The end of the number literal starting at `i`: "2e+" is one (bad) literal,
// "2x" the number 2 and a name.
std::size_t NumberEnd(std::string_view text, std::size_t i);

}  // namespace console
