// A read-only view of an interpreter's dump with a find at line starts.
// Library zorvex_dialogs.
#pragma once

#include <QDialog>

#include "zorvex/DialogsExport.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace zorvex {

class TMathInterpreter;

class ZORVEX_DIALOGS_API TfrmMathDump : public QDialog {
    Q_OBJECT

public:
    // With an owner, the dialog shows the owner's DumpText each time it is
    // shown; without one, whoever opens it fills memDump.
    explicit TfrmMathDump(TMathInterpreter* owner = nullptr, QWidget* parent = nullptr);
    ~TfrmMathDump() override;

    TMathInterpreter* Owner() const { return owner_; }

    QGroupBox* gbDump;
    QPlainTextEdit* memDump;
    QWidget* pnlBottom;
    QGroupBox* gbFind;
    QLineEdit* memFindSymbol;
    QWidget* pnlCase;
    QCheckBox* chkCaseSensitive;
    QWidget* pnlCancel;
    QPushButton* btnClose;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FillDump();
    void memFindSymbolChange();

    TMathInterpreter* owner_;
};

// Selects in `memo` the start of the first line that begins with `search`
// (trimmed; case-insensitive for ASCII letters unless `caseSensitive`).
// Leaves the selection alone when no line matches or the search is blank.
ZORVEX_DIALOGS_API void FindAtLineStart(QPlainTextEdit& memo, const QString& search, bool caseSensitive);

}  // namespace zorvex
