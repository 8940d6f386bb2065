// The dump dialog and the find at line starts that the math editor shares.
#include "zorvex/Mathdumpform.h"

#include <QTextBlock>
#include <QTextCursor>

#include "DialogSupport.h"
#include "ui_Mathdumpform.h"

namespace zorvex {

namespace {

// As the runtime compares names: only a..z change.
QString AsciiUpper(QString text) {
    for (QChar& c : text)
        if (c >= u'a' && c <= u'z') c = QChar(c.unicode() - (u'a' - u'A'));
    return text;
}

// Blanks as the runtime trims them: every code up to 32.
QString TrimBlanks(const QString& text) {
    qsizetype from = 0, to = text.size();
    while (from < to && text.at(from).unicode() <= 32) ++from;
    while (to > from && text.at(to - 1).unicode() <= 32) --to;
    return text.mid(from, to - from);
}

}  // namespace

void FindAtLineStart(QPlainTextEdit& memo, const QString& search, bool caseSensitive) {
    QString s = TrimBlanks(search);
    if (s.isEmpty()) return;
    if (!caseSensitive) s = AsciiUpper(s);
    for (QTextBlock line = memo.document()->firstBlock(); line.isValid(); line = line.next()) {
        QString start = line.text().left(s.size());
        if (!caseSensitive) start = AsciiUpper(start);
        if (start != s) continue;
        QTextCursor selection(line);
        selection.setPosition(line.position() + static_cast<int>(s.size()), QTextCursor::KeepAnchor);
        memo.setTextCursor(selection);
        memo.ensureCursorVisible();
        return;
    }
}

TfrmMathDump::TfrmMathDump(TMathInterpreter* owner, QWidget* parent) : QDialog(parent), owner_(owner) {
    Ui::TfrmMathDump ui;
    ui.setupUi(this);
    ZORVEX_TAKE_WIDGETS(ui, gbDump, memDump, pnlBottom, gbFind, memFindSymbol, pnlCase, chkCaseSensitive, pnlCancel,
                        btnClose);

    dialogs::SetDialogFrame(*this);
    dialogs::KeepSelectionVisible(*memDump);
    connect(memFindSymbol, &QLineEdit::textChanged, this, &TfrmMathDump::memFindSymbolChange);
    connect(chkCaseSensitive, &QCheckBox::toggled, this, &TfrmMathDump::memFindSymbolChange);
    memFindSymbol->installEventFilter(this);
    memDump->installEventFilter(this);
    gbFind->installEventFilter(this);
}

TfrmMathDump::~TfrmMathDump() = default;

void TfrmMathDump::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FillDump();
}

void TfrmMathDump::FillDump() {
    if (owner_ != nullptr) memDump->setPlainText(dialogs::MemoText(owner_->DumpText()));
}

void TfrmMathDump::memFindSymbolChange() {
    FindAtLineStart(*memDump, memFindSymbol->text(), chkCaseSensitive->isChecked());
}

bool TfrmMathDump::eventFilter(QObject* watched, QEvent* event) {
    if (dialogs::IsEscape(event)) {
        // The first Escape in a search that holds text clears it.
        if (watched == memFindSymbol && !memFindSymbol->text().isEmpty())
            memFindSymbol->clear();
        else if (watched == memFindSymbol || watched == memDump)
            reject();
        else
            return QDialog::eventFilter(watched, event);
        return true;
    }
    if (watched == gbFind && dialogs::IsClick(event)) memFindSymbol->setFocus();
    return QDialog::eventFilter(watched, event);
}

}  // namespace zorvex
