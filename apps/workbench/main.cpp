// zorvex-workbench: the math editor on an interpreter of its own, for people
// without Qt Designer.
#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>

#include "zorvex/MathControls.h"
#include "zorvex/Matheditorform.h"

namespace {

using namespace zorvex;

// Adds the symbols of a file to the table: a symbol of the same name is
// replaced, the others stay, and an entry may use the symbols before it. A
// file that fails leaves the table as it was.
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
    } catch (...) {
        interpreter.ClearSymbols();
        TReader reader(before);
        interpreter.ReadSymbols(reader);
        throw;
    }
}

// The file the symbols go to on saving: the one file they came from, else
// one the user picks. Empty when the user cancels.
QString SaveTarget(QWidget* parent, const QStringList& loaded) {
    if (loaded.size() == 1) return loaded.front();
    QPointer<QFileDialog> dialog = CreateSymbolsFileDialog(parent, QFileDialog::AcceptSave);
    const QString chosen = dialog->exec() == QDialog::Accepted ? dialog->selectedFiles().value(0) : QString();
    delete dialog;
    return chosen;
}

enum class Exit { Yes, No };

// Asked when the editor closes with symbols that differ from those loaded.
Exit OfferToSave(TfrmMathEditor& editor, const QStringList& loaded) {
    const QString question =
        loaded.size() == 1
            ? QStringLiteral("The symbols have changed. Save them to %1?").arg(QFileInfo(loaded.front()).fileName())
            : QStringLiteral("The symbols have changed. Save them to a file?");
    const auto answer = QMessageBox::question(&editor, QGuiApplication::applicationDisplayName(), question,
                                              QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                                              QMessageBox::Save);
    if (answer == QMessageBox::Discard) return Exit::Yes;
    if (answer != QMessageBox::Save) return Exit::No;
    const QString target = SaveTarget(&editor, loaded);
    if (target.isEmpty()) return Exit::No;
    try {
        editor.MI->SaveSymbolsToFile(RuntimeFileName(target));
    } catch (const std::exception& error) {
        ShowMathException(&editor, error);
        return Exit::No;
    }
    return Exit::Yes;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zorvex-workbench"));
    QApplication::setApplicationDisplayName(QStringLiteral("Zorvex Workbench"));
    QApplication::setApplicationVersion(QStringLiteral(ZORVEX_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Tries expressions and edits symbols on an interpreter of its own. The symbols files named are loaded "
        "in order; a later file's symbol replaces an earlier one of the same name."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("A symbols file to load."),
                                 QStringLiteral("[FILE...]"));
    parser.process(app);

    TMathInterpreter interpreter;
    TfrmMathEditor editor;
    editor.MI = &interpreter;
    QStringList loaded;
    for (const QString& fileName : parser.positionalArguments()) {
        try {
            AddSymbolsFromFile(interpreter, fileName);
            loaded.append(fileName);
        } catch (const std::exception& error) {
            ShowMathException(nullptr, error);
        }
    }
    if (!loaded.isEmpty()) {
        QStringList names;
        for (const QString& fileName : loaded) names.append(QFileInfo(fileName).fileName());
        editor.setWindowTitle(editor.windowTitle() + QStringLiteral(" - ") + names.join(QStringLiteral(", ")));
    }

    const std::string loadedSymbols = interpreter.DumpStreamable();
    do {
        editor.exec();
    } while (interpreter.DumpStreamable() != loadedSymbols && OfferToSave(editor, loaded) == Exit::No);
    return 0;
}
