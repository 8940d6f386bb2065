#ifdef ZORVEX_HAVE_LIBEDIT

#include "LineEditor.h"

#include <dirent.h>
#include <histedit.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "Console.h"
#include "Interrupts.h"
#include "zorvex/SysUtils.h"

namespace console {

namespace {

constexpr int kHistorySize = 1000;

bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

bool StartsWithNoCase(const std::string& word, const std::string& prefix) {
    return word.size() >= prefix.size() && zorvex::UpperCase(word.substr(0, prefix.size())) == zorvex::UpperCase(prefix);
}

// Entries of the directory part of `partial` whose names continue its last
// part; directories end in "/".
std::vector<std::string> FileCandidates(const std::string& partial, std::size_t& baseLength) {
    const std::size_t slash = partial.rfind('/');
    std::string dir = slash == std::string::npos ? "." : partial.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? partial : partial.substr(slash + 1);
    baseLength = base.size();
    std::string opened = dir;
    const char* home = std::getenv("HOME");
    if (opened.rfind("~/", 0) == 0 && home != nullptr) opened = home + opened.substr(1);
    std::vector<std::string> names;
    DIR* d = opendir(opened.c_str());
    if (d == nullptr) return names;
    while (dirent* entry = readdir(d)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || name.compare(0, base.size(), base) != 0) continue;
        if (base.empty() && name[0] == '.') continue;
        struct stat info {};
        const bool isDir = stat((opened + "/" + name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        names.push_back(isDir ? name + "/" : name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

struct LineEditor::Impl {
    Impl(Console& c, const char* p, const char* more, bool u) : console(c), prompt(p), primary(p), morePrompt(more), utf8(u) {}
    Console& console;
    const char* prompt;
    const char* primary;
    const char* morePrompt;
    bool utf8;
    EditLine* editor = nullptr;
    History* history = nullptr;
    std::string path;
    bool discarded = false;
    const LineEditor* owner = nullptr;
    int invalid = -1;     // the first byte of the line that began no character
    int pushedBack = -1;  // a byte read too far

    // Keys as characters, decoded here rather than by libedit, which drops
    // bytes that are no UTF-8 without a trace. Such a byte shows as U+FFFD
    // and is remembered.
    static int ReadChar(EditLine* editor, wchar_t* out) {
        Impl* self = From(editor);
        std::size_t need = 0, have = 0;
        unsigned char first = 0;
        unsigned long code = 0;
        for (;;) {
            unsigned char b = 0;
            if (self->pushedBack >= 0) {
                b = static_cast<unsigned char>(self->pushedBack);
                self->pushedBack = -1;
            } else {
                const ssize_t n = read(STDIN_FILENO, &b, 1);
                if (n < 0 && errno == EINTR) {
                    if (Interrupted()) {
                        self->discarded = true;
                        *out = 0;
                        return 0;
                    }
                    el_resize(editor);
                    continue;
                }
                if (n <= 0) {
                    *out = 0;
                    return n == 0 ? 0 : -1;
                }
            }
            if (need == 0) {
                if (b < 0x80) {
                    *out = static_cast<wchar_t>(b);
                    return 1;
                }
                need = b >= 0xC2 && b <= 0xDF ? 1 : b >= 0xE0 && b <= 0xEF ? 2 : b >= 0xF0 && b <= 0xF4 ? 3 : 0;
                if (need == 0) return self->Invalid(b, out);
                first = b;
                code = b & (0x3Fu >> need);
                continue;
            }
            // No overlong forms, surrogates or code points past U+10FFFF.
            unsigned char low = 0x80, high = 0xBF;
            if (have == 0) {
                if (first == 0xE0) low = 0xA0;
                if (first == 0xED) high = 0x9F;
                if (first == 0xF0) low = 0x90;
                if (first == 0xF4) high = 0x8F;
            }
            if (b < low || b > high) {
                self->pushedBack = b;
                return self->Invalid(first, out);
            }
            code = (code << 6) | (b & 0x3Fu);
            if (++have == need) {
                *out = static_cast<wchar_t>(code);
                return 1;
            }
        }
    }

    int Invalid(unsigned char byte, wchar_t* out) {
        if (invalid < 0) invalid = byte;
        *out = 0xFFFD;
        return 1;
    }

    static LineEditor::Impl* From(EditLine* editor) {
        LineEditor::Impl* self = nullptr;
        el_get(editor, EL_CLIENTDATA, &self);
        return self;
    }
    static const char* Prompt(EditLine* editor) { return From(editor)->prompt; }

    static unsigned char Discard(EditLine* editor, int) {
        if (Impl* self = From(editor)) self->discarded = true;
        return CC_EOF;
    }

    // What the terminal does for Ctrl-Z, with the terminal modes restored
    // around the stop.
    static unsigned char Suspend(EditLine* editor, int) {
        el_set(editor, EL_PREP_TERM, 0);
        kill(0, SIGTSTP);
        el_set(editor, EL_PREP_TERM, 1);
        return CC_REDISPLAY;
    }

    static unsigned char Tab(EditLine* editor, int) {
        Impl* self = From(editor);
        const LineInfo* info = el_line(editor);
        if (self == nullptr || info == nullptr) return CC_ERROR;
        const std::string before(info->buffer, static_cast<std::size_t>(info->cursor - info->buffer));
        const Completion c = self->owner->Complete(before);
        if (c.candidates.empty()) return CC_ERROR;
        const std::string word = before.substr(before.size() - c.wordLength);
        // The longest beginning all candidates share, spelled as the first.
        std::string common = c.candidates[0];
        for (const std::string& other : c.candidates) {
            std::size_t n = 0;
            while (n < common.size() && n < other.size() &&
                   (c.files ? common[n] == other[n]
                            : std::toupper(static_cast<unsigned char>(common[n])) ==
                                  std::toupper(static_cast<unsigned char>(other[n]))))
                ++n;
            common.resize(n);
        }
        if (c.candidates.size() == 1 || common.size() > word.size()) {
            std::string insert = common;
            if (c.candidates.size() == 1 && !c.files && !c.bare) insert += self->console.AfterName(common);
            if (c.candidates.size() == 1 && common[0] == '.') insert += ' ';  // a command: its argument follows
            el_deletestr(editor, static_cast<int>(word.size()));
            el_insertstr(editor, insert.c_str());
            return CC_REFRESH;
        }
        // Nothing to add: show the choices under the line.
        std::string list = "\n";
        std::size_t width = 0;
        for (const std::string& s : c.candidates) width = std::max(width, s.size());
        const std::size_t columns = std::max<std::size_t>(1, 78 / (width + 2));
        for (std::size_t i = 0; i < c.candidates.size(); ++i) {
            list += c.candidates[i];
            list += (i + 1) % columns == 0 || i + 1 == c.candidates.size()
                        ? std::string("\n")
                        : std::string(width + 2 - c.candidates[i].size(), ' ');
        }
        std::fputs(list.c_str(), stdout);
        std::fflush(stdout);
        return CC_REDISPLAY;
    }

    void LoadHistory() {
        const char* home = std::getenv("HOME");
        if (!home || !*home) return;
        path = std::string(home) + "/.zorvex_history";
        struct stat info;
        if (stat(path.c_str(), &info) != 0) {
            // Only a file that is not there yet may be created.
            if (errno != ENOENT) path.clear();
            return;
        }
        HistEvent event;
        // A file not in our format is left alone rather than overwritten.
        if (!S_ISREG(info.st_mode)) {
            path.clear();
        } else if (info.st_size > 0 && ::history(history, &event, H_LOAD, path.c_str()) < 0) {
            path.clear();
        }
    }

    // Written beside the old file and renamed over it, so a failed write
    // never costs the history already kept.
    void SaveHistory() {
        if (path.empty()) return;
        std::string temp = path + ".XXXXXX";
        int fd = mkstemp(temp.data());
        if (fd < 0) return;
        std::FILE* f = fdopen(fd, "w");
        if (!f) {
            close(fd);
            unlink(temp.c_str());
            return;
        }
        HistEvent event;
        bool ok = ::history(history, &event, H_SAVE_FP, f) >= 0;
        ok = std::fflush(f) == 0 && ok;
        ok = std::fclose(f) == 0 && ok;
        if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) unlink(temp.c_str());
    }
};

LineEditor::LineEditor(Console& console, const char* prompt, const char* morePrompt, bool utf8)
    : impl_(new Impl(console, prompt, morePrompt, utf8)) {
    impl_->owner = this;
}

LineEditor::~LineEditor() {
    if (impl_->editor) el_end(impl_->editor);
    if (impl_->history) history_end(impl_->history);
    delete impl_;
}

bool LineEditor::Open() {
    Impl& m = *impl_;
    m.history = history_init();
    m.editor = m.history ? el_init("zorvex", stdin, stdout, stderr) : nullptr;
    if (!m.editor) return false;
    HistEvent event;
    ::history(m.history, &event, H_SETSIZE, kHistorySize);
    ::history(m.history, &event, H_SETUNIQUE, 1);
    el_set(m.editor, EL_CLIENTDATA, impl_);
    el_set(m.editor, EL_HIST, ::history, m.history);
    el_set(m.editor, EL_EDITOR, "emacs");
    el_set(m.editor, EL_SIGNAL, 1);
    el_set(m.editor, EL_PROMPT, Impl::Prompt);
    // Only where the C library itself reads UTF-8 can the editor hold what
    // is decoded here.
    if (m.utf8 && MB_CUR_MAX > 1) el_set(m.editor, EL_GETCFN, Impl::ReadChar);
    // Ctrl-C and Ctrl-Z reach the editor as keys: a signal arriving just
    // before the editor waits for a key would be lost, and the terminal
    // left in line mode. While an expression runs they are signals again.
    el_set(m.editor, EL_SETTY, "-d", "-isig", nullptr);
    // The wide form keeps the names as given; the narrow one leaks copies.
    el_wset(m.editor, EL_ADDFN, L"zorvex-discard", L"Discard the line", Impl::Discard);
    el_set(m.editor, EL_BIND, "^C", "zorvex-discard", nullptr);
    el_wset(m.editor, EL_ADDFN, L"zorvex-suspend", L"Suspend the console", Impl::Suspend);
    el_set(m.editor, EL_BIND, "^Z", "zorvex-suspend", nullptr);
    el_wset(m.editor, EL_ADDFN, L"zorvex-complete", L"Complete the word", Impl::Tab);
    el_set(m.editor, EL_BIND, "^I", "zorvex-complete", nullptr);
    // Keys many terminals send that libedit leaves unbound.
    el_set(m.editor, EL_BIND, "\033[1~", "ed-move-to-beg", nullptr);
    el_set(m.editor, EL_BIND, "\033[4~", "ed-move-to-end", nullptr);
    el_set(m.editor, EL_BIND, "\033[3~", "ed-delete-next-char", nullptr);
    el_set(m.editor, EL_BIND, "\033[1;5D", "ed-prev-word", nullptr);
    el_set(m.editor, EL_BIND, "\033[1;5C", "em-next-word", nullptr);
    el_source(m.editor, nullptr);  // the user's ~/.editrc
    m.LoadHistory();
    return true;
}

LineSource::Input LineEditor::Read(std::string& line, bool more) {
    impl_->discarded = false;
    impl_->invalid = -1;
    impl_->prompt = more ? impl_->morePrompt : impl_->primary;
    std::cout.flush();
    int count = 0;
    const char* text = el_gets(impl_->editor, &count);
    // A SIGINT that came as a signal, not as a key, ends the read as well.
    if (impl_->discarded || (text == nullptr && Interrupted())) return Input::Discarded;
    if (!text || count <= 0) return Input::End;
    line.assign(text, static_cast<std::size_t>(count));
    if (!line.empty() && line.back() == '\n') line.pop_back();
    Remember(line);
    // The byte that was no character takes its place again, for the
    // console to name.
    const std::size_t shown = line.find("\xEF\xBF\xBD");
    if (impl_->invalid >= 0 && shown != std::string::npos) line.replace(shown, 3, 1, static_cast<char>(impl_->invalid));
    return Input::Line;
}

void LineEditor::Remember(const std::string& line) {
    if (line.find_first_not_of(" \t\r\f\v") == std::string::npos) return;
    HistEvent event;
    ::history(impl_->history, &event, H_ENTER, line.c_str());
    impl_->SaveHistory();
}

LineEditor::Completion LineEditor::Complete(const std::string& before) const {
    Completion c;
    const std::size_t start = before.find_first_not_of(" \t");
    if (start != std::string::npos && before[start] == '.') {
        const std::size_t space = before.find_first_of(" \t", start);
        if (space == std::string::npos) {
            c.wordLength = before.size() - start;
            for (const std::string& command : Console::Commands())
                if (command.compare(0, c.wordLength, before, start, c.wordLength) == 0) c.candidates.push_back(command);
            return c;
        }
        const std::string command = before.substr(start, space - start);
        const std::size_t argStart = before.find_first_not_of(" \t", space);
        const std::string arg = argStart == std::string::npos ? std::string() : before.substr(argStart);
        if (Console::TakesFile(command)) {
            c.files = true;
            c.candidates = FileCandidates(arg, c.wordLength);
            return c;
        }
        if (command != ".help") return c;
        c.bare = true;
    }
    std::size_t n = 0;
    while (n < before.size() && IsWordChar(before[before.size() - 1 - n])) ++n;
    const std::string word = before.substr(before.size() - n);
    if (word.empty() || std::isdigit(static_cast<unsigned char>(word[0]))) return c;
    c.wordLength = n;
    for (const std::string& w : impl_->console.Words())
        if (StartsWithNoCase(w, word) && std::find(c.candidates.begin(), c.candidates.end(), w) == c.candidates.end())
            c.candidates.push_back(w);
    return c;
}

}  // namespace console

#endif
