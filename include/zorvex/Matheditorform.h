// A workbench for one interpreter: a console, the symbol list with locate and
// delete, and the interpreter's properties and symbol files.
// Library zorvex_dialogs.
#pragma once

#include <QDialog>
#include <QFileDialog>

#include <functional>
#include <memory>
#include <string>

#include "zorvex/DialogsExport.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;

namespace zorvex {

class TMathInterpreter;
class TMathRichEdit;

class ZORVEX_DIALOGS_API TfrmMathEditor : public QDialog {
    Q_OBJECT

public:
    explicit TfrmMathEditor(QWidget* parent = nullptr);
    ~TfrmMathEditor() override;

    // The interpreter to work on; not owned. Set it before showing the
    // dialog. Should the interpreter be destroyed meanwhile, the dialog
    // lets go of it and closes.
    TMathInterpreter* MI = nullptr;

    // Raises when MI is not set; otherwise runs the dialog modally.
    int exec() override;

    // Asked, with the dialog still shown, before it closes (once the
    // Properties page is stored); false keeps it open.
    std::function<bool()> OnCloseQuery;

    QTabWidget* PC;
    QWidget* tsExecute;
    TMathRichEdit* mreExecute;
    QWidget* tsSymbols;
    QPlainTextEdit* memDump;
    QGroupBox* gbLocateSymbol;
    QLineEdit* memLocateSymbol;
    QPushButton* btnDeleteSymbol;
    QPushButton* Button1;
    QWidget* tsProperties;
    QCheckBox* chkCaseSensitiveSymbols;
    QGroupBox* gbDumpFormat;
    QCheckBox* chkDfDetailed;
    QCheckBox* chkDfQualified;
    QLineEdit* edEscapeChar;
    QLineEdit* edMaxFunctionNesting;
    QPushButton* btnLoadSymbolsFormFile;
    QPushButton* btnExecuteFromFile;
    QPushButton* btnSaveSymbolsToFile;
    QFileDialog* OpenDialog1;
    QFileDialog* SaveDialog1;

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Watch;

    void FormShow();
    void PCChange(int index);
    // Stores the Properties page when it is the one being left. False, with
    // the reason reported, when its fields hold what the interpreter cannot
    // take; then nothing is stored and the page stays.
    bool PCChanging();
    bool StoreProperties();
    void LoadProperties();
    void memLocateSymbolChange();
    void btnDeleteSymbolClick();
    void Button1Click();
    void btnLoadSymbolsFormFileClick();
    void btnExecuteFromFileClick();
    void btnSaveSymbolsToFileClick();
    void RefreshDump();
    void Guarded(void (TfrmMathEditor::*handler)());
    void Lost();

    std::unique_ptr<Watch> watch_;
    int page_ = 0;
};

// A file dialog for symbols files: "*.txt" and all files, default suffix txt.
ZORVEX_DIALOGS_API QFileDialog* CreateSymbolsFileDialog(QWidget* parent, QFileDialog::AcceptMode mode);

// Runs such a dialog once: the file the user picks, or an empty name.
ZORVEX_DIALOGS_API QString PickSymbolsFile(QWidget* parent, QFileDialog::AcceptMode mode);

// The file name as the runtime's file operations take it.
ZORVEX_DIALOGS_API std::string RuntimeFileName(const QString& fileName);

// The message of an error of a file operation, with the file's name in
// front unless it names it already.
ZORVEX_DIALOGS_API std::string FileErrorMessage(const QString& fileName, const std::string& message);

// LoadSymbolsFromFile that loses nothing: when an entry fails midway, the
// table is put back as it was and the error, naming the file, passed on.
ZORVEX_DIALOGS_API void LoadSymbolsFromFileKeeping(TMathInterpreter& interpreter, const QString& fileName);

}  // namespace zorvex
