// Line editing, history and Tab completion at a terminal, through libedit.
#pragma once

#include <string>
#include <vector>

namespace console {

class Console;

#ifdef ZORVEX_HAVE_LIBEDIT

class LineEditor {
public:
    LineEditor(Console& console, const char* prompt);
    ~LineEditor();
    LineEditor(const LineEditor&) = delete;
    LineEditor& operator=(const LineEditor&) = delete;

    bool Open();

    enum class Input { Line, Discarded, End };
    Input ReadLine(std::string& line);
    void Remember(const std::string& line);

    // What Tab does with the text before the cursor: the candidates for its
    // last word, and how long that word is.
    struct Completion {
        std::vector<std::string> candidates;
        std::size_t wordLength = 0;
        bool files = false;
        bool bare = false;  // names only, no "(" after a function
    };
    Completion Complete(const std::string& before) const;

private:
    struct Impl;
    Impl* impl_;
};

#endif

}  // namespace console
