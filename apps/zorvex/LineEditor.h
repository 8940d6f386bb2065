// Line editing, history and Tab completion at a terminal, through libedit.
#pragma once

#include <string>
#include <vector>

#include "Script.h"

namespace console {

class Console;

#ifdef ZORVEX_HAVE_LIBEDIT

class LineEditor : public LineSource {
public:
    // `utf8`: the terminal speaks UTF-8; bytes that are none reach the
    // console as they came, so that it can say so.
    LineEditor(Console& console, const char* prompt, const char* morePrompt, bool utf8);
    ~LineEditor() override;
    LineEditor(const LineEditor&) = delete;
    LineEditor& operator=(const LineEditor&) = delete;

    bool Open();

    // Every line read is remembered in the history.
    Input Read(std::string& line, bool more) override;
    std::string Where() const override { return "the prompt"; }

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
    void Remember(const std::string& line);

    struct Impl;
    Impl* impl_;
};

#endif

}  // namespace console
