#include "Script.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "Interrupts.h"
#include "zorvex/SysUtils.h"

namespace console {

// The keywords that stand between operands or before one.
bool IsOperatorWord(std::string_view word) {
    if (word.size() < 2 || word.size() > 3) return false;
    const std::string w = zorvex::LowerCase(word);
    for (const char* op : {"and", "or", "xor", "shl", "shr", "div", "mod", "not"})
        if (w == op) return true;
    return false;
}

std::size_t NumberEnd(std::string_view text, std::size_t i) {
    const std::size_t n = text.size();
    while (i < n && IsDigit(text[i])) ++i;
    if (i < n && text[i] == '.')
        for (++i; i < n && IsDigit(text[i]);) ++i;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
        while (i < n && IsDigit(text[i])) ++i;
    }
    return i;
}

bool ScriptText::Add(std::string&& line, char escapeChar) {
    if (!text_.empty()) {
        text_ += '\n';
        escaped_ = false;  // the line break was the escaped character
    }
    std::size_t keep = line.size();
    const std::size_t n = line.size();
    for (std::size_t i = 0; i < n;) {
        const char c = line[i];
        if (quote_ != '\0') {
            if (escaped_) {
                escaped_ = false;
            } else if (escapeChar != '\0' && c == escapeChar) {
                escaped_ = true;
            } else if (c == quote_) {
                if (i + 1 < n && line[i + 1] == quote_)
                    ++i;  // a doubled quote stands for one
                else
                    quote_ = '\0';
            }
            ++i;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++i;
            continue;
        }
        if (c == '#') {
            keep = i;
            break;
        }
        anything_ = true;
        operatorLast_ = false;
        if (c == '\'' || c == '"') {
            quote_ = c;
            ++i;
        } else if (IsIdentifierStart(c)) {
            const std::size_t start = i;
            while (i < n && IsIdentifierChar(line[i])) ++i;
            operatorLast_ = IsOperatorWord(std::string_view(line).substr(start, i - start));
        } else if (IsDigit(c)) {
            i = NumberEnd(line, i);
        } else {
            if (c == '(') ++depth_;
            if (c == ')' && depth_ > 0) --depth_;
            operatorLast_ = IsOperatorChar(c);
            ++i;
        }
    }
    // Blank lines and comments before a text are no part of it.
    line.resize(keep);
    if (!anything_ && quote_ == '\0')
        text_.clear();
    else if (text_.empty())
        text_ = std::move(line);  // a long line is not copied again
    else
        text_ += line;
    return quote_ == '\0' && depth_ == 0 && !operatorLast_;
}

std::string ScriptText::Take() {
    std::string text = anything_ ? std::move(text_) : std::string();
    Clear();
    return text;
}

void ScriptText::Clear() {
    text_.clear();
    quote_ = '\0';
    escaped_ = false;
    depth_ = 0;
    operatorLast_ = false;
    anything_ = false;
}

FdLines::FdLines(int fd, std::string name, bool owned, const char* prompt, const char* morePrompt)
    : fd_(fd), name_(std::move(name)), owned_(owned), prompt_(prompt), morePrompt_(morePrompt) {}

FdLines::~FdLines() {
    if (owned_ && fd_ >= 0) close(fd_);
}

std::string FdLines::Where() const { return "line " + std::to_string(lineNumber_) + " of " + name_; }

LineSource::Input FdLines::Read(std::string& line, bool more) {
    if (prompt_ != nullptr) std::cout << (more && morePrompt_ != nullptr ? morePrompt_ : prompt_) << std::flush;
    constexpr std::size_t kChunk = 65536;
    for (;;) {
        // Each byte is looked at once, however long its line.
        const void* nl =
            scanned_ < buffer_.size() ? std::memchr(buffer_.data() + scanned_, '\n', buffer_.size() - scanned_) : nullptr;
        const std::size_t end = nl != nullptr ? static_cast<const char*>(nl) - buffer_.data() : buffer_.size();
        scanned_ = end;
        if (end - start_ > zorvex::MaxTextLength) {
            ++lineNumber_;
            ended_ = true;
            buffer_ = {};
            start_ = scanned_ = 0;
            throw ReadError{TooLong(Where())};
        }
        if (nl != nullptr || (ended_ && start_ < buffer_.size())) {
            ++lineNumber_;
            line.assign(buffer_.data() + start_, end - start_);
            start_ = scanned_ = nl != nullptr ? end + 1 : end;
            // The room a long line took goes with it.
            if (start_ == buffer_.size() && buffer_.capacity() > 16 * kChunk) {
                buffer_ = {};
                start_ = scanned_ = 0;
            }
            return Input::Line;
        }
        if (ended_) return Input::End;
        // What was taken goes before more is read, at most as often as the
        // rest doubles.
        if (start_ > 0 && start_ * 2 >= buffer_.size()) {
            buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
            scanned_ -= start_;
            start_ = 0;
        }
        const std::size_t old = buffer_.size();
        // Growing by doubling, but not past the longest line there may be.
        if (buffer_.capacity() < old + kChunk) {
            std::size_t room = 2 * buffer_.capacity();
            if (room >= zorvex::MaxTextLength) room = zorvex::MaxTextLength + 2 * kChunk;
            buffer_.reserve(std::max(old + kChunk, room));
        }
        buffer_.resize(old + kChunk);
        const ssize_t got = read(fd_, buffer_.data() + old, kChunk);
        const int err = errno;
        buffer_.resize(old + (got > 0 ? static_cast<std::size_t>(got) : 0));
        // One read of zero bytes is the end: at a terminal that is the first
        // Ctrl-D, and no second one is waited for.
        if (got == 0) {
            ended_ = true;
        } else if (got < 0 && err == EINTR) {
            if (Interrupted()) {
                // What was typed on the line goes with the Ctrl-C.
                buffer_.resize(start_);
                scanned_ = start_;
                return Input::Discarded;
            }
        } else if (got < 0) {
            ended_ = true;
            throw ReadError{"cannot read " + name_ + ": " + std::strerror(err)};
        }
    }
}

void TrimLineEnd(std::string& line) {
    const std::size_t zero = line.find('\0');
    if (zero != std::string::npos) line.resize(zero);
    if (!line.empty() && line.back() == '\r') line.pop_back();
}

std::string TooLong(const std::string& where) {
    return "the text at " + where + " is longer than " + std::to_string(zorvex::MaxTextLength) +
           " bytes, the most a text may hold; the rest is not read";
}

}  // namespace console
