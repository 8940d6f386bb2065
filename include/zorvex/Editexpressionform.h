// A multi-line editor of an interpreter's Expression text, with buttons that
// prefill the usual statement shapes. Library zorvex_dialogs.
#pragma once

#include <QDialog>

#include "zorvex/DialogsExport.h"

class QGroupBox;
class QPlainTextEdit;
class QPushButton;

namespace zorvex {

class ZORVEX_DIALOGS_API TfrmEditExpression : public QDialog {
    Q_OBJECT

public:
    explicit TfrmEditExpression(QWidget* parent = nullptr);
    ~TfrmEditExpression() override;

    // The form's controls, as its layout names them.
    QGroupBox* GroupBox1;
    QPlainTextEdit* memExpression;
    QWidget* pnlBottom;
    QPushButton* btnVariable;
    QPushButton* btnFunction;
    QPushButton* btnDeleteSymbol;
    QPushButton* btnOK;
    QPushButton* btnCancel;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void btnVariableClick();
    void btnFunctionClick();
    void btnDeleteSymbolClick();
    // Asks for a name; when one is given, the memo's whole text becomes
    // prefix + name + suffix with the caret `caretBack` characters before its end.
    void Prefill(const QString& title, const QString& prompt, const QString& prefix, const QString& suffix,
                 int caretBack);
};

}  // namespace zorvex
