// The math editor: console, symbols and properties of one interpreter.
#include "zorvex/Matheditorform.h"

#include <QFile>
#include <QPointer>
#include <QTextBlock>
#include <QTextCursor>

#include <cstdint>
#include <limits>

#include "DialogSupport.h"
#include "InterpreterLink.h"
#include "ui_Matheditorform.h"
#include "zorvex/Mathdumpform.h"

namespace zorvex {

namespace {

const char* const kMINotAssigned =
    "TfrmMathEditor.FormShow() Innternal error in Zorvex Design package. MI not assigned.";

bool IsIdentifierChar(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_';
}

}  // namespace

// Hears of the interpreter's end wherever it lives.
class TfrmMathEditor::Watch final : public detail::InterpreterLink {
public:
    explicit Watch(TfrmMathEditor& form) : form_(form) {}

protected:
    void Lost() override { form_.Lost(); }

private:
    TfrmMathEditor& form_;
};

TfrmMathEditor::TfrmMathEditor(QWidget* parent) : QDialog(parent), watch_(std::make_unique<Watch>(*this)) {
    Ui::TfrmMathEditor ui;
    ui.setupUi(this);
    ZORVEX_TAKE_WIDGETS(ui, PC, tsExecute, mreExecute, tsSymbols, memDump, gbLocateSymbol, memLocateSymbol,
                        btnDeleteSymbol, Button1, tsProperties, chkCaseSensitiveSymbols, gbDumpFormat, chkDfDetailed,
                        chkDfQualified, edEscapeChar, edMaxFunctionNesting, btnLoadSymbolsFormFile, btnExecuteFromFile,
                        btnSaveSymbolsToFile);
    OpenDialog1 = CreateSymbolsFileDialog(this, QFileDialog::AcceptOpen);
    SaveDialog1 = CreateSymbolsFileDialog(this, QFileDialog::AcceptSave);

    dialogs::SetDialogFrame(*this);
    dialogs::KeepSelectionVisible(*memDump);
    // One character: as wide as a few, not the whole row.
    edEscapeChar->setMaximumWidth(edEscapeChar->minimumSizeHint().width() +
                                  edEscapeChar->fontMetrics().horizontalAdvance(QLatin1Char('W')) * 2);
    // Key preview: the form sees every key of its own controls first.
    for (QWidget* child : findChildren<QWidget*>())
        if (child->window() == this) child->installEventFilter(this);

    connect(PC, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == page_) return;
        if (page_ == PC->indexOf(tsProperties)) {
            // Back on the Properties page first: a refusal shows over it.
            {
                const QSignalBlocker stay(PC);
                PC->setCurrentIndex(page_);
            }
            if (!PCChanging()) return;
            const QSignalBlocker go(PC);
            PC->setCurrentIndex(index);
        }
        page_ = index;
        dialogs::RunOver(*this, [&] { PCChange(index); });
    });
    connect(memLocateSymbol, &QLineEdit::textChanged, this, [this] { Guarded(&TfrmMathEditor::memLocateSymbolChange); });
    connect(btnDeleteSymbol, &QPushButton::clicked, this, [this] { Guarded(&TfrmMathEditor::btnDeleteSymbolClick); });
    connect(Button1, &QPushButton::clicked, this, [this] { Guarded(&TfrmMathEditor::Button1Click); });
    connect(btnLoadSymbolsFormFile, &QPushButton::clicked, this,
            [this] { Guarded(&TfrmMathEditor::btnLoadSymbolsFormFileClick); });
    connect(btnExecuteFromFile, &QPushButton::clicked, this,
            [this] { Guarded(&TfrmMathEditor::btnExecuteFromFileClick); });
    connect(btnSaveSymbolsToFile, &QPushButton::clicked, this,
            [this] { Guarded(&TfrmMathEditor::btnSaveSymbolsToFileClick); });
}

TfrmMathEditor::~TfrmMathEditor() {
    // The console lets go of the interpreter before the watch does.
    mreExecute->SetMathInterpreter(static_cast<TMathInterpreter*>(nullptr));
}

int TfrmMathEditor::exec() {
    if (MI == nullptr) throw Exception(kMINotAssigned);
    return QDialog::exec();
}

void TfrmMathEditor::Guarded(void (TfrmMathEditor::*handler)()) {
    if (MI == nullptr) return;
    dialogs::RunOver(*this, [&] { (this->*handler)(); });
}

void TfrmMathEditor::Lost() {
    MI = nullptr;
    if (isVisible()) reject();
}

void TfrmMathEditor::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    ReportExceptions(this, [this] { FormShow(); });
}

void TfrmMathEditor::FormShow() {
    if (MI == nullptr) throw Exception(kMINotAssigned);
    watch_->Bind(MI);
    mreExecute->SetMathInterpreter(MI);
    // A dialog shown again shows the interpreter as it is now.
    page_ = PC->currentIndex();
    PCChange(page_);
}

void TfrmMathEditor::hideEvent(QHideEvent* event) {
    PCChanging();
    QDialog::hideEvent(event);
}

void TfrmMathEditor::done(int result) {
    // Bad text on the Properties page keeps the dialog open on it.
    if (!PCChanging()) return;
    if (MI != nullptr && OnCloseQuery) {
        bool close = false;
        dialogs::RunOver(*this, [&] { close = OnCloseQuery(); });
        if (!close) return;
    }
    QDialog::done(result);
}

bool TfrmMathEditor::eventFilter(QObject* watched, QEvent* event) {
    if (dialogs::IsEscape(event) && isVisible()) {
        close();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmMathEditor::PCChange(int index) {
    if (MI == nullptr) return;
    if (index == PC->indexOf(tsSymbols)) RefreshDump();
    if (index == PC->indexOf(tsProperties)) LoadProperties();
}

bool TfrmMathEditor::PCChanging() {
    if (MI == nullptr || page_ != PC->indexOf(tsProperties)) return true;
    bool stored = false;
    dialogs::RunOver(*this, [&] { stored = StoreProperties(); });
    return stored;
}

void TfrmMathEditor::LoadProperties() {
    chkCaseSensitiveSymbols->setChecked(MI->CaseSensitiveSymbols());
    chkDfDetailed->setChecked(MI->DumpFormat() & dfDetailed);
    chkDfQualified->setChecked(MI->DumpFormat() & dfQualified);
    const char escape = MI->EscapeChar();
    edEscapeChar->setText(escape == '\0' ? QString() : QString(QChar(static_cast<unsigned char>(escape))));
    edMaxFunctionNesting->setText(QString::number(MI->MaxFunctionNesting()));
}

bool TfrmMathEditor::StoreProperties() {
    // Checked first, so that a field the interpreter cannot take stores nothing.
    const QString escapeText = edEscapeChar->text();
    if (!escapeText.isEmpty() && escapeText.at(0).unicode() > 0xFF) {
        edEscapeChar->setFocus();
        throw ETypeError(
            "EscapeChar must be a Latin-1 character; U+" +
            QString::number(escapeText.at(0).unicode(), 16).toUpper().rightJustified(4, u'0').toStdString() +
            " is not one. The properties are kept as they were.");
    }
    const QString nestingText = edMaxFunctionNesting->text().trimmed();
    bool isNumber = false;
    const qulonglong nesting = nestingText.toULongLong(&isNumber);
    if (!isNumber || nestingText.startsWith(u'+') || nesting > std::numeric_limits<std::uint32_t>::max()) {
        edMaxFunctionNesting->setFocus();
        edMaxFunctionNesting->selectAll();
        throw ETypeError("MaxFunctionNesting must be a whole number from 0 to 4294967295; '" +
                         ToLatin1(nestingText.left(40)) + "' is not one. The properties are kept as they were.");
    }

    MI->SetCaseSensitiveSymbols(chkCaseSensitiveSymbols->isChecked());
    TDumpFormat format = MI->DumpFormat();
    format = chkDfDetailed->isChecked() ? (format | dfDetailed) : (format & ~dfDetailed);
    format = chkDfQualified->isChecked() ? (format | dfQualified) : (format & ~dfQualified);
    MI->SetDumpFormat(format);
    MI->SetEscapeChar(escapeText.isEmpty() ? '\0' : static_cast<char>(escapeText.at(0).unicode()));
    MI->SetMaxFunctionNesting(static_cast<std::uint32_t>(nesting));
    return true;
}

void TfrmMathEditor::RefreshDump() { memDump->setPlainText(dialogs::MemoText(MI->DumpText())); }

void TfrmMathEditor::memLocateSymbolChange() {
    FindAtLineStart(*memDump, memLocateSymbol->text(), MI->CaseSensitiveSymbols());
}

void TfrmMathEditor::btnDeleteSymbolClick() {
    const QString line = memDump->textCursor().block().text();
    qsizetype length = 0;
    while (length < line.size() && IsIdentifierChar(line.at(length))) ++length;
    const QString command = QStringLiteral("delete ") + line.left(length);

    // The command goes into the console's last line as if typed there; an
    // empty last line is the place for it.
    QTextDocument& console = *mreExecute->document();
    QTextCursor caret(&console);
    caret.movePosition(QTextCursor::End);
    if (console.lastBlock().length() > 1) caret.insertBlock();
    caret.insertText(command, QTextCharFormat());
    caret.movePosition(QTextCursor::StartOfBlock);
    mreExecute->setTextCursor(caret);
    mreExecute->ExecuteExpression();

    const int offset = memDump->textCursor().position();
    RefreshDump();
    QTextCursor back = memDump->textCursor();
    back.setPosition(std::min(offset, memDump->document()->characterCount() - 1));
    memDump->setTextCursor(back);
}

void TfrmMathEditor::Button1Click() {
    MI->ClearSymbols();
    RefreshDump();
}

void TfrmMathEditor::btnLoadSymbolsFormFileClick() {
    if (OpenDialog1->exec() != QDialog::Accepted || MI == nullptr) return;
    LoadSymbolsFromFileKeeping(*MI, OpenDialog1->selectedFiles().value(0));
}

void TfrmMathEditor::btnExecuteFromFileClick() {
    if (OpenDialog1->exec() != QDialog::Accepted || MI == nullptr) return;
    const QString fileName = OpenDialog1->selectedFiles().value(0);
    try {
        MI->ExecuteFromFile(RuntimeFileName(fileName));
    } catch (Exception& error) {
        // Named after the file, of its own class still.
        error.SetMessage(FileErrorMessage(fileName, error.Message()));
        throw;
    }
}

void TfrmMathEditor::btnSaveSymbolsToFileClick() {
    if (SaveDialog1->exec() != QDialog::Accepted || MI == nullptr) return;
    MI->SaveSymbolsToFile(RuntimeFileName(SaveDialog1->selectedFiles().value(0)));
}

// ---------------------------------------------------------------- files

QFileDialog* CreateSymbolsFileDialog(QWidget* parent, QFileDialog::AcceptMode mode) {
    auto* dialog = new QFileDialog(parent);
    dialog->setAcceptMode(mode);
    dialog->setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    // Shown as "*.txt" and "*.*"; the second takes every file.
    dialog->setNameFilters({QStringLiteral("*.txt (*.txt)"), QStringLiteral("*.* (*)")});
    dialog->setOption(QFileDialog::HideNameFilterDetails);
    dialog->setDefaultSuffix(QStringLiteral("txt"));
    return dialog;
}

QString PickSymbolsFile(QWidget* parent, QFileDialog::AcceptMode mode) {
    // The parent may take the dialog along while it runs.
    QPointer<QFileDialog> dialog = CreateSymbolsFileDialog(parent, mode);
    const bool chosen = dialog->exec() == QDialog::Accepted && dialog;
    const QString fileName = chosen ? dialog->selectedFiles().value(0) : QString();
    delete dialog;
    return fileName;
}

std::string RuntimeFileName(const QString& fileName) { return QFile::encodeName(fileName).toStdString(); }

std::string FileErrorMessage(const QString& fileName, const std::string& message) {
    const std::string name = RuntimeFileName(fileName);
    return message.find(name) != std::string::npos ? message : name + ": " + message;
}

void LoadSymbolsFromFileKeeping(TMathInterpreter& interpreter, const QString& fileName) {
    const std::string before = interpreter.DumpStreamable();
    try {
        interpreter.LoadSymbolsFromFile(RuntimeFileName(fileName));
    } catch (Exception& error) {
        interpreter.ClearSymbols();
        TReader reader(before);
        interpreter.ReadSymbols(reader);
        error.SetMessage(FileErrorMessage(fileName, error.Message()));
        throw;
    }
}

}  // namespace zorvex
