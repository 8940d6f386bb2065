#include "Workbench.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>

#include "zorvex/MathControls.h"
#include "zorvex/Matheditorform.h"

namespace zorvex::workbench {

namespace {

// The file the symbols go to; empty when the user cancels.
QString SaveTarget(QWidget* parent, const QStringList& loaded) {
    return loaded.size() == 1 ? loaded.front() : PickSymbolsFile(parent, QFileDialog::AcceptSave);
}

// Whether the editor may go, asked when its symbols differ from those loaded.
bool MayClose(TfrmMathEditor& editor, const QStringList& loaded) {
    const QString question =
        loaded.size() == 1
            ? QStringLiteral("The symbols have changed. Save them to %1?").arg(QFileInfo(loaded.front()).fileName())
            : QStringLiteral("The symbols have changed. Save them to a file?");
    const auto answer = QMessageBox::question(&editor, QGuiApplication::applicationDisplayName(), question,
                                              QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                                              QMessageBox::Save);
    if (answer == QMessageBox::Discard) return true;
    if (answer != QMessageBox::Save) return false;
    const QString target = SaveTarget(&editor, loaded);
    if (target.isEmpty()) return false;
    try {
        editor.MI->SaveSymbolsToFile(RuntimeFileName(target));
    } catch (const std::exception& error) {
        ShowMathException(&editor, error);
        return false;
    }
    return true;
}

}  // namespace

void AddSymbolsFromFile(TMathInterpreter& interpreter, const QString& fileName) {
    QFile file(fileName);
    if (QFileInfo(fileName).isDir() || !file.open(QIODevice::ReadOnly))
        throw EFileError("Cannot open file \"" + RuntimeFileName(fileName) + "\".");
    QByteArray text = file.readAll();
    // As the interpreter reads a file: it ends at the first zero byte.
    if (const qsizetype zero = text.indexOf('\0'); zero >= 0) text.truncate(zero);
    const std::string before = interpreter.DumpStreamable();
    const std::string added = text.toStdString();
    try {
        interpreter.ClearSymbols();
        TReader reader(before.empty() ? added : before + ";\r\n" + added);
        interpreter.ReadSymbols(reader);
    } catch (const Exception& error) {
        interpreter.ClearSymbols();
        TReader reader(before);
        interpreter.ReadSymbols(reader);
        throw Exception(FileErrorMessage(fileName, error.Message()));
    }
}

QStringList LoadFiles(TMathInterpreter& interpreter, const QStringList& fileNames) {
    QStringList loaded;
    for (const QString& fileName : fileNames) {
        try {
            AddSymbolsFromFile(interpreter, fileName);
            loaded.append(fileName);
        } catch (const std::exception& error) {
            ShowMathException(nullptr, error);
        }
    }
    return loaded;
}

void Run(TfrmMathEditor& editor, const QStringList& loaded) {
    const std::string loadedSymbols = editor.MI->DumpStreamable();
    // Asked while the editor is still on screen.
    editor.OnCloseQuery = [&] { return editor.MI->DumpStreamable() == loadedSymbols || MayClose(editor, loaded); };
    editor.exec();
    editor.OnCloseQuery = nullptr;
}

}  // namespace zorvex::workbench
