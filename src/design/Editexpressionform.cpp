// The expression dialog: buttons prefill a statement and place the caret
// where the rest is typed; nothing runs here.
#include "zorvex/Editexpressionform.h"

#include <QInputDialog>
#include <QTextCursor>

#include "DialogSupport.h"
#include "ui_Editexpressionform.h"

namespace zorvex {

TfrmEditExpression::TfrmEditExpression(QWidget* parent) : QDialog(parent) {
    Ui::TfrmEditExpression ui;
    ui.setupUi(this);
    ZORVEX_TAKE_WIDGETS(ui, GroupBox1, memExpression, pnlBottom, btnVariable, btnFunction, btnDeleteSymbol, btnOK,
                        btnCancel);

    dialogs::SetDialogFrame(*this);
    connect(btnVariable, &QPushButton::clicked, this, &TfrmEditExpression::btnVariableClick);
    connect(btnFunction, &QPushButton::clicked, this, &TfrmEditExpression::btnFunctionClick);
    connect(btnDeleteSymbol, &QPushButton::clicked, this, &TfrmEditExpression::btnDeleteSymbolClick);
    memExpression->installEventFilter(this);
    GroupBox1->installEventFilter(this);
    memExpression->setFocus();
}

TfrmEditExpression::~TfrmEditExpression() = default;

void TfrmEditExpression::btnVariableClick() {
    Prefill(QStringLiteral("New/Modify Variable"), QStringLiteral("Variable name:"), {}, QStringLiteral("="), 0);
}

void TfrmEditExpression::btnFunctionClick() {
    Prefill(QStringLiteral("New/Modify Function"), QStringLiteral("Function name:"), {}, QStringLiteral("():="), 3);
}

void TfrmEditExpression::btnDeleteSymbolClick() {
    Prefill(QStringLiteral("Delete symbol"), QStringLiteral("Name of the symbol to delete:"),
            QStringLiteral("delete "), {}, 0);
}

void TfrmEditExpression::Prefill(const QString& title, const QString& prompt, const QString& prefix,
                                 const QString& suffix, int caretBack) {
    // A cancelled box answers its (empty) default, as an empty one does.
    const QString name = QInputDialog::getText(this, title, prompt).trimmed();
    dialogs::Reactivate(*this);
    if (name.isEmpty()) return;
    const QString text = prefix + name + suffix;
    memExpression->setPlainText(text);
    QTextCursor caret = memExpression->textCursor();
    caret.setPosition(static_cast<int>(text.size()) - caretBack);
    memExpression->setTextCursor(caret);
    memExpression->setFocus();
}

bool TfrmEditExpression::eventFilter(QObject* watched, QEvent* event) {
    if (watched == memExpression && dialogs::IsEscape(event)) {
        reject();
        return true;
    }
    if (watched == GroupBox1 && dialogs::IsClick(event)) memExpression->setFocus();
    return QDialog::eventFilter(watched, event);
}

}  // namespace zorvex
