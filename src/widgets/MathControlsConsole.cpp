// The two console controls: the memo and the rich edit.
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

#include "MathControlsInternal.h"
#include "zorvex/MathControls.h"

namespace zorvex {

namespace {

// Lines as the console counts them: an empty last line is where the next
// expression is typed, not a line of its own.
int LineCount(const QTextDocument& doc) {
    return doc.blockCount() - (doc.lastBlock().length() <= 1 ? 1 : 0);
}

QString LineText(const QTextDocument& doc, int line) {
    const QTextBlock block = doc.findBlockByNumber(line);
    return block.isValid() ? block.text() : QString();
}

template <typename Edit>
int SelLineOf(const Edit& edit) {
    return edit.document()->findBlock(edit.textCursor().selectionStart()).blockNumber();
}

bool IsLineBreakOrBlank(QChar c) {
    return c == u'\r' || c == u'\n' || c == u' ' || c == QChar::ParagraphSeparator || c == QChar::LineSeparator;
}

template <typename Edit>
bool SomethingAfterSelStartOf(const Edit& edit) {
    const QString text = edit.document()->toRawText();
    const qsizetype from = std::max(0, edit.textCursor().selectionStart() - 1);
    for (qsizetype i = from; i < text.size(); ++i)
        if (!IsLineBreakOrBlank(text.at(i))) return true;
    return false;
}

// Adds a line at the bottom in the normal format and returns its index. An
// empty last line takes the text and stays the last line, below it.
int AddLine(QTextDocument& doc, const QString& text) {
    QTextCursor cursor(&doc);
    cursor.movePosition(QTextCursor::End);
    const QTextCharFormat normal;
    if (doc.lastBlock().length() <= 1) {
        const int line = doc.blockCount() - 1;
        cursor.insertText(text + u'\n', normal);
        return line;
    }
    cursor.insertText(u'\n' + text, normal);
    return doc.blockCount() - 1;
}

template <typename Edit>
void CaretToEnd(Edit& edit) {
    QTextCursor cursor = edit.textCursor();
    cursor.movePosition(QTextCursor::End);
    edit.setTextCursor(cursor);
}

// The caret step: the caret goes to the end, and when the text does not end
// in a line break or blank, onto a new empty line.
template <typename Edit>
void CaretStepOf(Edit& edit) {
    CaretToEnd(edit);
    if (SomethingAfterSelStartOf(edit)) {
        AddLine(*edit.document(), QString());
        CaretToEnd(edit);
    }
}

// Edits that undo takes back in one step. Undo puts the caret back where
// `from` stood when the first of them began.
class EditBlock {
public:
    EditBlock(const QTextCursor& from, bool joinPrevious) : cursor_(from) {
        if (joinPrevious)
            cursor_.joinPreviousEditBlock();
        else
            cursor_.beginEditBlock();
    }
    ~EditBlock() { cursor_.endEditBlock(); }
    EditBlock(const EditBlock&) = delete;
    EditBlock& operator=(const EditBlock&) = delete;

private:
    QTextCursor cursor_;
};

// A longer result line would hold the memo in its text layout for minutes.
constexpr qsizetype kConsoleShown = 10000;

// One run of a console: the caret's line runs on the bound interpreter
// (`run` is the control's Run); a line above the last is first copied to
// the bottom, so the record reads in order. `write(text, error)` adds the
// result, or the message the error rule writes, at the bottom. The copy and
// what is written are one step of undo, which brings the caret back to the
// line run. No edit is open while the line runs, as the window repaints
// meanwhile. Unbound, nothing happens and the run counts as failed.
template <typename Edit, typename Run, typename Write>
TMathControl::Outcome RunConsole(Edit& edit, Variant& res, Run&& run, Write&& write) {
    TMathInterpreter* interpreter = edit.MathInterpreter();
    if (interpreter == nullptr) return TMathControl::Outcome::Failed;
    QTextDocument& doc = *edit.document();
    const int line = SelLineOf(edit);
    const QString expression = LineText(doc, line);
    bool copied = false;
    {
        const EditBlock block(edit.textCursor(), false);
        if (line < LineCount(doc) - 1) {
            AddLine(doc, expression);
            copied = true;
        }
    }
    const auto writeLine = [&](const QString& text, bool error) {
        {
            const EditBlock block(edit.textCursor(), copied);
            write(detail::ShownText(text, kConsoleShown), error);
        }
        // Once the edits are laid out: the end of the record, where the
        // caret now is, comes into view.
        edit.ensureCursorVisible();
        edit.verticalScrollBar()->setValue(edit.verticalScrollBar()->maximum());
    };
    const auto outcome = run(*interpreter, expression, res, [&](const QString& message) { writeLine(message, true); });
    if (outcome == TMathControl::Outcome::Done) writeLine(FromLatin1(VarToStr(res)), false);
    return outcome;
}

}  // namespace

// ---------------------------------------------------------------- memo

TMathMemo::TMathMemo(QWidget* parent) : QPlainTextEdit(parent), TMathControl(this, meoRaiseExceptions) {}

TMathMemo::~TMathMemo() = default;

int TMathMemo::SelLine() const { return SelLineOf(*this); }

bool TMathMemo::SomethingAfterSelStart() const { return SomethingAfterSelStartOf(*this); }

void TMathMemo::CaretStep() { CaretStepOf(*this); }

Variant TMathMemo::ExecuteExpression() {
    Variant res;
    const auto run = [this](auto&&... args) { return Run(args...); };
    const Outcome outcome = RunConsole(*this, res, run, [this](const QString& text, bool) {
        AddLine(*document(), text);
        CaretStep();
    });
    if (outcome == Outcome::Done) DoAfterExecuteExpression(res);
    return outcome == Outcome::Failed ? Variant() : res;
}

void TMathMemo::DoAfterExecuteExpression(const Variant& res) { emit AfterExecuteExpression(this, res); }

int TMathMemo::Room() const {
    const QTextCursor cursor = textCursor();
    const int length = document()->characterCount() - 1 - (cursor.selectionEnd() - cursor.selectionStart());
    return maxLength_ - length;
}

void TMathMemo::keyPressEvent(QKeyEvent* event) {
    // Return is handled here with any modifiers: it never breaks the line.
    if (IsReturnKey(event)) {
        event->accept();
        RunFromEvent([this] { ExecuteExpression(); });
        return;
    }
    const QString typed = event->text();
    const bool inserts = !typed.isEmpty() && (typed.at(0).isPrint() || typed.at(0) == u'\t');
    if (maxLength_ > 0 && inserts && typed.size() > Room()) {
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void TMathMemo::insertFromMimeData(const QMimeData* source) {
    if (maxLength_ <= 0 || !source->hasText()) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    const int room = Room();
    if (room > 0) insertPlainText(source->text().left(room));
}

void TMathMemo::ShowBinding(bool bound) {
    if (bound)
        clear();
    else
        setPlainText(objectName());
}

// ---------------------------------------------------------------- rich edit

TMathRichEdit::TMathRichEdit(QWidget* parent)
    : QTextEdit(parent), TMathControl(this, meoWriteExceptionMessage), errorColor_(Qt::red), resultColor_(Qt::blue) {
    errorFont_.setBold(true);
    resultFont_.setBold(true);
    setLineWrapMode(QTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

TMathRichEdit::~TMathRichEdit() = default;

int TMathRichEdit::SelLine() const { return SelLineOf(*this); }

bool TMathRichEdit::SomethingAfterSelStart() const { return SomethingAfterSelStartOf(*this); }

Variant TMathRichEdit::ExecuteExpression() {
    Variant res;
    const auto run = [this](auto&&... args) { return Run(args...); };
    const Outcome outcome = RunConsole(*this, res, run, [this](const QString& text, bool error) {
        const int line = AddLine(*document(), text);
        if (error)
            ColourStep(line, errorFont_, errorColor_, richEditOptions_ & mroUseErrorFont);
        else
            ColourStep(line, resultFont_, resultColor_, richEditOptions_ & mroUseResultFont);
    });
    if (outcome == Outcome::Done) DoAfterExecuteExpression(res);
    return outcome == Outcome::Failed ? Variant() : res;
}

void TMathRichEdit::ColourStep(int line, const QFont& font, const QColor& color, bool use) {
    QTextDocument& doc = *document();
    if (use) {
        QTextCharFormat format;
        format.setFont(font, QTextCharFormat::FontPropertiesSpecifiedOnly);
        format.setForeground(color);
        QTextCursor cursor(&doc);
        cursor.setPosition(doc.findBlockByNumber(line).position());
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cursor.setCharFormat(format);
    }
    CaretStepOf(*this);
    // A result ending in a blank leaves the caret on its line: what is typed
    // next is in the control's own font all the same.
    setCurrentCharFormat(QTextCharFormat());
}

void TMathRichEdit::DoAfterExecuteExpression(const Variant& res) { emit AfterExecuteExpression(this, res); }

void TMathRichEdit::keyPressEvent(QKeyEvent* event) {
    if (IsReturnKey(event)) {
        event->accept();
        RunFromEvent([this] { ExecuteExpression(); });
        return;
    }
    QTextEdit::keyPressEvent(event);
}

void TMathRichEdit::ShowBinding(bool bound) {
    if (bound)
        clear();
    else
        setPlainText(objectName());
}

}  // namespace zorvex
