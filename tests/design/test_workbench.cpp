// zorvex-workbench: loading the files named on its command line, and the
// offer to save when the editor closes with changed symbols.
#include <QAbstractButton>
#include <QMessageBox>

#include "DesignTestSupport.h"
#include "Workbench.h"
#include "zorvex/Matheditorform.h"

namespace zorvex::testing {
namespace {

TEST(Workbench, FilesLoadInOrderAndAFailingOneLeavesTheTableAsItWas) {
    Files files;
    const QString first = files.Write("first.txt", "x=1;\r\ny=2");
    const QString second = files.Write("second.txt", "y=x*10;\r\nf(a):=a+y");
    const QString bad = files.Write("bad.txt", kFailsMidway);
    TMathInterpreter interpreter;
    ReportedErrors errors;
    const QStringList loaded =
        workbench::LoadFiles(interpreter, {first, bad, files.Path("missing.txt"), files.dir.path(), second});
    EXPECT_EQ(loaded, QStringList({first, second}));
    EXPECT_EQ(interpreter.Dump(" ", 0), "x=1 y=10 f(a):=a+y");
    ASSERT_EQ(errors.messages.size(), 3u);
    EXPECT_EQ(errors.messages[0], bad.toStdString() + ": " + kFailsMidwayError);  // each names its file
    EXPECT_EQ(errors.messages[1], "Cannot open file \"" + files.Path("missing.txt").toStdString() + "\".");
}

// Closes the editor after running `line` in its console.
void CloseAfter(const QString& line) {
    Answer<TfrmMathEditor>([line](TfrmMathEditor& editor) {
        if (!line.isEmpty()) {
            QTest::keyClicks(editor.mreExecute, line);
            QTest::keyClick(editor.mreExecute, Qt::Key_Return);
        }
        editor.close();
    });
}

// Answers the question to save; `then` registers what comes after it. The
// editor is still on screen while it asks.
void Reply(QMessageBox::StandardButton button, std::function<void()> then = {}) {
    Answer<QMessageBox>([button, then](QMessageBox& box) {
        auto* editor = qobject_cast<TfrmMathEditor*>(box.parentWidget());
        EXPECT_TRUE(editor && editor->isVisible());
        if (then) then();
        box.button(button)->click();
    });
}

TEST(Workbench, ClosingWithChangedSymbolsOffersToSaveThem) {
    Files files;
    const QString file = files.Write("table.txt", "x=1");
    TMathInterpreter interpreter;
    TfrmMathEditor editor;
    editor.MI = &interpreter;
    const QStringList loaded = workbench::LoadFiles(interpreter, {file});

    CloseAfter("1+1");  // the table as loaded: no question
    workbench::Run(editor, loaded);
    EXPECT_EQ(files.Read("table.txt"), "x=1");

    // Cancel goes back to the editor; Discard leaves the file alone.
    CloseAfter("y=2");
    Reply(QMessageBox::Cancel, [] {
        CloseAfter("");
        Reply(QMessageBox::Discard);
    });
    workbench::Run(editor, loaded);
    EXPECT_EQ(files.Read("table.txt"), "x=1");

    CloseAfter("z=3");
    Reply(QMessageBox::Save);
    workbench::Run(editor, loaded);
    EXPECT_EQ(files.Read("table.txt"), "x=1;\r\ny=2;\r\nz=3");
}

TEST(Workbench, SymbolsFromSeveralFilesOrNoneAreSavedWhereTheUserPicks) {
    Files files;
    TMathInterpreter interpreter;
    TfrmMathEditor editor;
    editor.MI = &interpreter;
    CloseAfter("x=1");
    Reply(QMessageBox::Save, [&files] {
        Answer<QFileDialog>([&files](QFileDialog& dialog) {
            // No file picked: back to the editor.
            CloseAfter("");
            Reply(QMessageBox::Save, [&files] { ChooseFile(files.Path("picked")); });
            dialog.reject();
        });
    });
    workbench::Run(editor, {});
    EXPECT_EQ(files.Read("picked.txt"), "x=1");
}

}  // namespace
}  // namespace zorvex::testing
