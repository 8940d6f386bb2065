// zorvex-workbench: the math editor on an interpreter of its own, for people
// without Qt Designer.
#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>

#include "Workbench.h"
#include "zorvex/MathInterpreter.h"
#include "zorvex/Matheditorform.h"

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

    zorvex::TMathInterpreter interpreter;
    zorvex::TfrmMathEditor editor;
    editor.MI = &interpreter;
    // A window of its own, not a dialog over a form: room for the console.
    editor.resize(640, 480);
    const QStringList loaded = zorvex::workbench::LoadFiles(interpreter, parser.positionalArguments());
    if (!loaded.isEmpty()) {
        QStringList names;
        for (const QString& fileName : loaded) names.append(QFileInfo(fileName).fileName());
        editor.setWindowTitle(editor.windowTitle() + QStringLiteral(" - ") + names.join(QStringLiteral(", ")));
    }
    zorvex::workbench::Run(editor, loaded);
    return 0;
}
