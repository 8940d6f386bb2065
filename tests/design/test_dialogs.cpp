// The three editor dialogs: their handlers and edge cases, driven as a user
// drives them, with input boxes and file dialogs answered by the test.
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTextBlock>
#include <QTimer>
#include <QMessageBox>

#include "DesignTestSupport.h"
#include "zorvex/Editexpressionform.h"
#include "zorvex/Mathdumpform.h"
#include "zorvex/Matheditorform.h"

namespace zorvex::testing {
namespace {

// ---------------------------------------------------------------- expression

TEST(EditExpressionDialog, ButtonsReplaceTheWholeTextAndPlaceTheCaret) {
    struct Case {
        const char* button;
        QString name;
        QString text;
        int caret;
    };
    const Case cases[] = {
        {"btnVariable", "x", "x=", 2},
        {"btnFunction", "f", "f():=", 2},
        {"btnFunction", "  area\t", "area():=", 5},
        {"btnDeleteSymbol", "y", "delete y", 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        TfrmEditExpression dialog;
        dialog.memExpression->setPlainText("1+2\n3");
        dialog.show();
        AnswerInput(c.name);
        dialog.findChild<QPushButton*>(c.button)->click();
        EXPECT_EQ(dialog.memExpression->toPlainText(), c.text);
        EXPECT_EQ(dialog.memExpression->textCursor().position(), c.caret);
    }
}

TEST(EditExpressionDialog, EmptyBlankOrCancelledInputBoxesChangeNothing) {
    for (const char* button : {"btnVariable", "btnFunction", "btnDeleteSymbol"}) {
        for (const QString& input : {QString(), QString("  \t "), QString("<cancel>")}) {
            SCOPED_TRACE(std::string(button) + " '" + input.toStdString() + "'");
            TfrmEditExpression dialog;
            dialog.memExpression->setPlainText("keep");
            dialog.show();
            if (input == "<cancel>")
                CancelDialog();
            else
                AnswerInput(input);
            dialog.findChild<QPushButton*>(button)->click();
            EXPECT_EQ(dialog.memExpression->toPlainText(), "keep");
        }
    }
}

TEST(EditExpressionDialog, TabIsTypedEscapeCancelsOkConfirms) {
    TfrmEditExpression dialog;
    dialog.show();
    QTest::keyClick(dialog.memExpression, Qt::Key_Tab);
    EXPECT_EQ(dialog.memExpression->toPlainText(), "\t");
    QTest::keyClick(dialog.memExpression, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    dialog.show();
    dialog.btnOK->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

// ---------------------------------------------------------------- dump

TEST(MathDumpDialog, FindSelectsTheStartOfTheFirstMatchingLine) {
    struct Case {
        QString search;
        bool caseSensitive;
        int line;  // -1: the selection stays as it was
        QString selected;
    };
    const Case cases[] = {
        {"ab", false, 1, "Ab"},  {"ab", true, 2, "ab"},   {"  AB ", false, 1, "Ab"}, {"ABD", false, 2, "abd"},
        {"zab", true, 3, "zab"}, {"b", false, -1, "x="},  {"   ", false, -1, "x="},  {"abc=2x", false, -1, "x="},
    };
    TfrmMathDump dialog;
    dialog.memDump->setPlainText("x=1\nAbc=2\nabd=3\nzab=4");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.search.toStdString());
        QTextCursor start(dialog.memDump->document());
        start.setPosition(2, QTextCursor::KeepAnchor);
        dialog.memDump->setTextCursor(start);
        dialog.memFindSymbol->clear();
        dialog.chkCaseSensitive->setChecked(c.caseSensitive);
        dialog.memFindSymbol->setText(c.search);
        const QTextCursor found = dialog.memDump->textCursor();
        EXPECT_EQ(found.selectedText(), c.selected);
        EXPECT_EQ(found.block().blockNumber(), std::max(c.line, 0));
    }
    // Toggling the box runs the search again.
    dialog.chkCaseSensitive->setChecked(false);
    dialog.memFindSymbol->setText("ab");
    dialog.chkCaseSensitive->setChecked(true);
    EXPECT_EQ(dialog.memDump->textCursor().block().blockNumber(), 2);
}

TEST(MathDumpDialog, EscapeClearsTheSearchFirstAndClosesOnAnEmptyOne) {
    TfrmMathDump dialog;
    dialog.show();
    dialog.memFindSymbol->setText("ab");
    QTest::keyClick(dialog.memFindSymbol, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.memFindSymbol->text(), "");
    QTest::keyClick(dialog.memFindSymbol, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    dialog.show();
    QTest::keyClick(dialog.memDump, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
}

TEST(MathDumpDialog, AnOwnerFillsTheDumpEachTimeItShows) {
    TMathInterpreter interpreter;
    interpreter.Execute("x=5; s='a'");
    TfrmMathDump owned(&interpreter);
    owned.show();
    EXPECT_EQ(owned.memDump->toPlainText(), "x=5;\ns='a'");
    TfrmMathDump unowned;
    unowned.memDump->setPlainText("as given");
    unowned.show();
    EXPECT_EQ(unowned.memDump->toPlainText(), "as given");
}

// ---------------------------------------------------------------- editor

struct Editor {
    explicit Editor(const char* symbols = "") {
        interpreter.Execute(symbols);
        dialog.MI = &interpreter;
        dialog.show();
    }
    void Page(QWidget* page) { dialog.PC->setCurrentWidget(page); }
    void Type(const QString& line) {
        QTest::keyClicks(dialog.mreExecute, line);
        QTest::keyClick(dialog.mreExecute, Qt::Key_Return);
    }
    QStringList ConsoleLines() const { return dialog.mreExecute->toPlainText().split('\n'); }
    std::string Symbols() const { return interpreter.Dump(" ", 0); }

    TMathInterpreter interpreter;
    TfrmMathEditor dialog;
};

TEST(MathEditorDialog, WithoutAnInterpreterItRaises) {
    TfrmMathEditor dialog;
    try {
        dialog.exec();
        FAIL() << "no exception";
    } catch (const Exception& error) {
        EXPECT_EQ(error.Message(),
                  "TfrmMathEditor.FormShow() Innternal error in Zorvex Design package. MI not assigned.");
    }
}

TEST(MathEditorDialog, TheConsoleRunsOnTheInterpreterAndEscapeCloses) {
    Editor editor;
    editor.Type("x = 6*7");
    editor.Type("1+");
    EXPECT_EQ(editor.Symbols(), "x=42");
    const QStringList lines = editor.ConsoleLines();
    ASSERT_GE(lines.size(), 4);
    EXPECT_EQ(lines[1], "42");
    EXPECT_TRUE(lines[3].startsWith("TM")) << lines[3].toStdString();  // the error, written into the console
    QTest::keyClick(editor.dialog.mreExecute, Qt::Key_Escape);
    EXPECT_FALSE(editor.dialog.isVisible());
}

TEST(MathEditorDialog, SymbolsPageRefreshesAndLocatesWithTheInterpretersCase) {
    Editor editor("alpha=1; Beta=2; beta2=3");
    editor.Page(editor.dialog.tsSymbols);
    EXPECT_EQ(editor.dialog.memDump->toPlainText(), "alpha=1;\nBeta=2;\nbeta2=3");
    editor.dialog.memLocateSymbol->setText("be");
    EXPECT_EQ(editor.dialog.memDump->textCursor().selectedText(), "Be");
    editor.interpreter.SetCaseSensitiveSymbols(true);
    editor.dialog.memLocateSymbol->setText("bet");
    EXPECT_EQ(editor.dialog.memDump->textCursor().block().text(), "beta2=3");

    editor.dialog.Button1->click();
    EXPECT_EQ(editor.interpreter.SymbolCount(), 0);
    EXPECT_EQ(editor.dialog.memDump->toPlainText(), "");
}

TEST(MathEditorDialog, DeleteSymbolRunsDeleteForTheCaretLine) {
    struct Case {
        TDumpFormat format;
        QString command;
        std::string symbolsAfter;
    };
    const Case cases[] = {
        {0, "delete y", "x=1 z=3"},
        {dfQualified, "delete y", "x=1 z=3"},
        {dfDetailed, "delete TMVar", "x=1 y=2 z=3"},  // detailed lines start with the class name
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command.toStdString());
        Editor editor("x=1; y=2; z=3");
        editor.interpreter.SetDumpFormat(c.format);
        editor.Type("1");
        editor.Page(editor.dialog.tsSymbols);
        QTextCursor caret(editor.dialog.memDump->document()->findBlockByNumber(1));  // y's line
        caret.movePosition(QTextCursor::Right, QTextCursor::MoveAnchor, 2);
        editor.dialog.memDump->setTextCursor(caret);
        const int offset = caret.position();
        editor.dialog.btnDeleteSymbol->click();

        EXPECT_EQ(editor.Symbols(), c.symbolsAfter);
        const QStringList lines = editor.ConsoleLines();
        ASSERT_GE(lines.size(), 4);
        EXPECT_EQ(lines[2], c.command);  // in the empty line the run of 1 left
        EXPECT_EQ(editor.dialog.memDump->toPlainText(), FromLatin1(editor.interpreter.DumpText()).replace("\r\n", "\n"));
        EXPECT_EQ(editor.dialog.memDump->textCursor().position(), offset);
    }
}

TEST(MathEditorDialog, LeavingOrClosingThePropertiesPageStoresIt) {
    Editor editor("x=1");
    editor.interpreter.SetCaseSensitiveSymbols(true);
    editor.interpreter.SetEscapeChar('\\');
    TfrmMathEditor& d = editor.dialog;
    editor.Page(d.tsProperties);
    EXPECT_TRUE(d.chkCaseSensitiveSymbols->isChecked());
    EXPECT_FALSE(d.chkDfDetailed->isChecked());
    EXPECT_TRUE(d.chkDfQualified->isChecked());
    EXPECT_EQ(d.edEscapeChar->text(), "\\");
    EXPECT_EQ(d.edMaxFunctionNesting->text(), "1000");

    d.chkCaseSensitiveSymbols->setChecked(false);
    d.chkDfDetailed->setChecked(true);
    d.chkDfQualified->setChecked(false);
    d.edEscapeChar->setText("#");
    d.edMaxFunctionNesting->setText(" 4294967295 ");
    editor.Page(d.tsExecute);
    EXPECT_FALSE(editor.interpreter.CaseSensitiveSymbols());
    EXPECT_EQ(editor.interpreter.SymbolCount(), 0);  // switching case sensitivity off clears the table
    EXPECT_EQ(editor.interpreter.DumpFormat(), dfDetailed);
    EXPECT_EQ(editor.interpreter.EscapeChar(), '#');
    EXPECT_EQ(editor.interpreter.MaxFunctionNesting(), 4294967295u);

    // An empty field stores the character with code 0, also when the dialog closes.
    editor.Page(d.tsProperties);
    d.edEscapeChar->clear();
    d.edMaxFunctionNesting->setText("0");
    d.close();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(editor.interpreter.EscapeChar(), '\0');
    EXPECT_EQ(editor.interpreter.MaxFunctionNesting(), 0u);
}

TEST(MathEditorDialog, FieldsTheInterpreterCannotTakeAreRejectedAndThePageStays) {
    for (const QString nesting : {"abc", "-1", "4294967296", "1.5", "", "+5"}) {
        SCOPED_TRACE(nesting.toStdString());
        Editor editor("x=1");
        TfrmMathEditor& d = editor.dialog;
        editor.Page(d.tsProperties);
        d.chkDfDetailed->setChecked(true);
        d.edMaxFunctionNesting->setText(nesting);
        ReportedErrors errors;
        // The refusal comes up over the page being left.
        QWidget* shownUnder = nullptr;
        const TMathExceptionHandler recording = SetMathExceptionHandler(
            [&](QWidget* sender, const std::exception& error) {
                if (shownUnder == nullptr) shownUnder = d.PC->currentWidget();
                recording(sender, error);
            });
        editor.Page(d.tsSymbols);
        SetMathExceptionHandler(recording);
        EXPECT_EQ(shownUnder, d.tsProperties);
        EXPECT_EQ(d.PC->currentWidget(), d.tsProperties);
        d.reject();
        EXPECT_TRUE(d.isVisible());
        ASSERT_EQ(errors.messages.size(), 2u);
        EXPECT_NE(errors.messages[0].find("MaxFunctionNesting must be a whole number from 0 to 4294967295"),
                  std::string::npos)
            << errors.messages[0];
        EXPECT_EQ(editor.interpreter.DumpFormat(), dfQualified);
        EXPECT_EQ(editor.interpreter.MaxFunctionNesting(), 1000u);
        d.edMaxFunctionNesting->setText("7");
        d.reject();
        EXPECT_FALSE(d.isVisible());
        EXPECT_EQ(editor.interpreter.MaxFunctionNesting(), 7u);
    }
    Editor editor;
    editor.Page(editor.dialog.tsProperties);
    editor.dialog.edEscapeChar->setText(QString::fromUtf8("€"));
    ReportedErrors errors;
    editor.Page(editor.dialog.tsExecute);
    EXPECT_EQ(editor.dialog.PC->currentWidget(), editor.dialog.tsProperties);
    ASSERT_EQ(errors.messages.size(), 1u);
    EXPECT_NE(errors.messages[0].find("EscapeChar must be a Latin-1 character"), std::string::npos);
}

TEST(MathEditorDialog, SymbolFilesFromThePropertiesPage) {
    Files files;
    const QString good = files.Write("good.txt", "g=1;\r\nf(a):=a*g");
    const QString bad = files.Write("bad.txt", kFailsMidway);
    const QString script = files.Write("script.txt", "g = g + 10; h = 5");
    Editor editor("x=1");
    TfrmMathEditor& d = editor.dialog;
    editor.Page(d.tsProperties);

    ChooseFile(good);
    d.btnLoadSymbolsFormFile->click();
    EXPECT_EQ(editor.Symbols(), "g=1 f(a):=a*g");
    {
        ReportedErrors errors;
        ChooseFile(bad);
        d.btnLoadSymbolsFormFile->click();
        EXPECT_EQ(editor.Symbols(), "g=1 f(a):=a*g");  // as before the failed load
        ASSERT_EQ(errors.messages.size(), 1u);
        EXPECT_EQ(errors.messages[0], bad.toStdString() + ": " + kFailsMidwayError);
    }
    ChooseFile(script);
    d.btnExecuteFromFile->click();
    EXPECT_EQ(editor.Symbols(), "g=11 f(a):=a*g h=5");
    ChooseFile(files.Path("saved"));
    d.btnSaveSymbolsToFile->click();
    EXPECT_EQ(files.Read("saved.txt"), "g=11;\r\nf(a):=a*g;\r\nh=5");  // the default suffix
    for (QPushButton* button : {d.btnLoadSymbolsFormFile, d.btnExecuteFromFile, d.btnSaveSymbolsToFile}) {
        CancelDialog();
        button->click();
    }
    EXPECT_EQ(editor.Symbols(), "g=11 f(a):=a*g h=5");
    {
        ReportedErrors errors;
        const QString unwritable = files.Path("blocked.txt");
        ChooseFile(unwritable, files.Block(unwritable));
        d.btnSaveSymbolsToFile->click();
        ASSERT_EQ(errors.messages.size(), 1u);
        EXPECT_EQ(errors.messages[0], "Cannot create file \"" + unwritable.toStdString() +
                                          "\": it is a directory, and a save replaces only a regular file.");
    }
}

TEST(MathEditorDialog, ClosesWhenItsInterpreterIsDestroyed) {
    auto interpreter = std::make_unique<TMathInterpreter>();
    TfrmMathEditor dialog;
    dialog.MI = interpreter.get();
    dialog.show();
    dialog.PC->setCurrentWidget(dialog.tsProperties);
    interpreter.reset();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.MI, nullptr);
    EXPECT_EQ(dialog.mreExecute->MathInterpreter(), nullptr);
    dialog.Button1->click();
    QTest::keyClick(dialog.mreExecute, Qt::Key_Return);
}

// A long run in the console: Escape stops it and leaves the dialog open
// with the symbols as they were; the next Escape closes it.
TEST(MathEditorDialog, EscapeStopsALongRunInTheConsoleFirst) {
    Editor editor("x = 1; fib(n) := IfF(n < 2, n, fib(n-1) + fib(n-2))");
    QTimer::singleShot(200, editor.dialog.mreExecute,
                       [&] { QTest::keyClick(editor.dialog.mreExecute, Qt::Key_Escape); });
    editor.Type("fib(35)");
    EXPECT_TRUE(editor.dialog.isVisible());
    EXPECT_EQ(editor.ConsoleLines().value(1), "TMathInterpreter.Interrupt() Evaluation interrupted.");
    EXPECT_EQ(editor.Symbols(), "x=1 fib(n):=IfF(n<2,n,fib(n-1)+fib(n-2))");
    QTest::keyClick(editor.dialog.mreExecute, Qt::Key_Escape);
    EXPECT_FALSE(editor.dialog.isVisible());
}

// Nothing but a window manager gives a dialog its activation back when a
// box over it closes, and Alt accelerators act only in the active window:
// the dialogs take it back themselves.
TEST(Dialogs, TheDialogIsActiveAgainOnceABoxOverItCloses) {
    const auto activeAgain = [](QWidget& dialog) {
        return QTest::qWaitFor([&] { return QApplication::activeWindow() == &dialog; }, 1000);
    };
    TfrmEditExpression expression;
    expression.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&expression));
    AnswerInput("x");
    expression.btnVariable->click();
    EXPECT_EQ(expression.memExpression->toPlainText(), "x=");
    EXPECT_TRUE(activeAgain(expression));

    Editor editor;
    ASSERT_TRUE(QTest::qWaitForWindowActive(&editor.dialog));
    editor.Page(editor.dialog.tsProperties);
    editor.dialog.edMaxFunctionNesting->setText("x");
    const TMathExceptionHandler previous = SetMathExceptionHandler([](QWidget* sender, const std::exception&) {
        QMessageBox box(sender);
        QTimer::singleShot(0, &box, &QMessageBox::accept);
        box.exec();
    });
    editor.Page(editor.dialog.tsSymbols);
    SetMathExceptionHandler(previous);
    EXPECT_EQ(editor.dialog.PC->currentWidget(), editor.dialog.tsProperties);
    EXPECT_TRUE(activeAgain(editor.dialog));
}

TEST(Dialogs, OneRowPanelsKeepTheirHeightAndTheEscapeCharFieldIsNarrow) {
    TfrmMathDump dump;
    dump.resize(544, 700);
    dump.show();
    EXPECT_LE(dump.pnlBottom->height(), dump.pnlBottom->sizeHint().height());
    EXPECT_GT(dump.memDump->height(), 450);
    Editor editor;
    editor.dialog.resize(900, 500);
    editor.Page(editor.dialog.tsProperties);
    EXPECT_LT(editor.dialog.edEscapeChar->width(), 4 * editor.dialog.edEscapeChar->fontMetrics().height());
}

}  // namespace
}  // namespace zorvex::testing
