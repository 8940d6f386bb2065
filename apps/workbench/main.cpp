// zorvex-workbench: the math editor on an interpreter of its own, for people
// without Qt Designer.
#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <string_view>

#include "Workbench.h"
#include "zorvex/MathInterpreter.h"
#include "zorvex/Matheditorform.h"

namespace {

void DescribeCommandLine(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral(
        "Tries expressions and edits symbols on an interpreter of its own. The symbols files named are loaded "
        "in order; a later file's symbol replaces an earlier one of the same name."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("A symbols file to load."),
                                 QStringLiteral("[FILE...]"));
}

// --help and --version print text only: they must work where no window
// system can be reached, so they are answered before QApplication connects
// to one. --help-all lists the window system's options, so it waits for it.
bool AsksForTextOnly(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") return false;
        if (arg == "-h" || arg == "--help" || arg == "-v" || arg == "--version") return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication::setApplicationName(QStringLiteral("zorvex-workbench"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZORVEX_VERSION));
    if (AsksForTextOnly(argc, argv)) {
        QCoreApplication app(argc, argv);
        QCommandLineParser parser;
        DescribeCommandLine(parser);
        parser.process(app);  // prints and exits
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Zorvex Workbench"));
    QCommandLineParser parser;
    DescribeCommandLine(parser);
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
