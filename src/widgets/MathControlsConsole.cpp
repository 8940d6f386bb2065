// The two console controls: the memo and the rich edit.
#include <QKeyEvent>
#include <QMimeData>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

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
    edit.ensureCursorVisible();
}

// One run of the console is one step of undo.
class EditBlock {
public:
    explicit EditBlock(QTextDocument* doc) : cursor_(doc) { cursor_.beginEditBlock(); }
    ~EditBlock() { cursor_.endEditBlock(); }
    EditBlock(const EditBlock&) = delete;
    EditBlock& operator=(const EditBlock&) = delete;

private:
    QTextCursor cursor_;
};

}  // namespace

bool TMathControl::RunConsoleLine(QTextDocument& doc, int line, Variant& res,
                                  const std::function<void(const QString&)>& writeMessage) {
    TMathInterpreter* interpreter = MathInterpreter();
    const QString expression = LineText(doc, line);
    // So the record reads in order; the copy is in the normal format.
    if (line < LineCount(doc) - 1) AddLine(doc, expression);
    return ApplyErrorRule([&] { res = interpreter->ExecuteExpression(ToLatin1(expression)); }, writeMessage);
}

// ---------------------------------------------------------------- memo

TMathMemo::TMathMemo(QWidget* parent) : QPlainTextEdit(parent), TMathControl(this, meoRaiseExceptions) {}

TMathMemo::~TMathMemo() = default;

int TMathMemo::SelLine() const { return SelLineOf(*this); }

bool TMathMemo::SomethingAfterSelStart() const { return SomethingAfterSelStartOf(*this); }

void TMathMemo::CaretStep() { CaretStepOf(*this); }

Variant TMathMemo::ExecuteExpression() {
    if (MathInterpreter() == nullptr) return Variant();
    QTextDocument& doc = *document();
    Variant res;
    {
        EditBlock block(&doc);
        const auto writeLine = [&](const QString& text) {
            AddLine(doc, text);
            CaretStep();
        };
        if (!RunConsoleLine(doc, SelLine(), res, writeLine)) return Variant();
        writeLine(FromLatin1(VarToStr(res)));
    }
    DoAfterExecuteExpression(res);
    return res;
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
    if (MathInterpreter() == nullptr) return Variant();
    QTextDocument& doc = *document();
    Variant res;
    {
        EditBlock block(&doc);
        const auto writeError = [&](const QString& message) {
            ColourStep(AddLine(doc, message), errorFont_, errorColor_, richEditOptions_ & mroUseErrorFont);
        };
        if (!RunConsoleLine(doc, SelLine(), res, writeError)) return Variant();
        ColourStep(AddLine(doc, FromLatin1(VarToStr(res))), resultFont_, resultColor_,
                   richEditOptions_ & mroUseResultFont);
    }
    DoAfterExecuteExpression(res);
    return res;
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
