// The memo and the rich edit as consoles: which line runs, where the copy
// and the result go, the caret step, the rich edit's fonts and colours.
#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTextBlock>

#include "WidgetTestSupport.h"

namespace zorvex {
namespace {

using testing::AnyControl;
using testing::Form;
using testing::Kind;
using testing::ReportedErrors;

// The console of a kind with `text`, the caret at `position`.
AnyControl Console(Kind kind, QWidget* parent, const char* text, qsizetype position) {
    AnyControl c = AnyControl::Create(kind, parent);
    c.SetText(text);
    c.VisitConsole([&](auto& edit) {
        QTextCursor cursor(edit.document());
        cursor.setPosition(static_cast<int>(position));
        edit.setTextCursor(cursor);
        return 0;
    });
    return c;
}

// The format of a line's first run of equally formatted characters.
QTextCharFormat FormatOfLine(const QTextDocument& doc, int line) {
    return doc.findBlockByNumber(line).begin().fragment().charFormat();
}
std::string Describe(const QTextCharFormat& format) {
    std::string text = format.fontWeight() >= QFont::Bold ? "bold" : "normal";
    if (format.hasProperty(QTextFormat::ForegroundBrush)) text += " " + format.foreground().color().name().toStdString();
    return text;
}

TEST(Memo, ALineRunFromAnywhereIsCopiedToTheBottomAboveItsResult) {
    struct Case {
        const char* text;
        int line;
        const char* after;
    };
    const Case cases[] = {
        {"2*3", 0, "2*3\n6\n"},                            // the text then ends in 6: an empty line follows
        {"a=1\nb=2\na+b", 0, "a=1\nb=2\na+b\na=1\n1\n"},  // first line: copied
        {"a=1\nb=2\na+b", 1, "a=1\nb=2\na+b\nb=2\n2\n"},  // middle line: copied
        {"a=1\nb=2\na+b", 2, "a=1\nb=2\na+b\n3\n"},       // last line: no copy
        {"a+b\n3\n", 0, "a+b\n3\na+b\n3\n"},              // the empty last line takes the copy
        {"a+b \n", 0, "a+b \n3\n"},                       // a blank at the end: no line is added
    };
    for (const Case& c : cases) {
        for (Kind kind : {Kind::Memo, Kind::Rich}) {
            SCOPED_TRACE(std::string(c.text) + " line " + std::to_string(c.line) + " " + testing::KindName(kind));
            Form form;
            form.Core().Execute("a = 1; b = 2");
            qsizetype start = 0;
            for (int i = 0; i < c.line; ++i) start = QString(c.text).indexOf(u'\n', start) + 1;
            AnyControl console = Console(kind, &form.window, c.text, start);
            console.control->SetMathInterpreter(form.interpreter);
            EXPECT_EQ(console.VisitConsole([](auto& edit) { return edit.SelLine(); }), c.line);
            console.PressReturn(Qt::ShiftModifier);
            EXPECT_EQ(console.Text(), c.after);
            EXPECT_EQ(console.VisitConsole([](auto& edit) { return edit.textCursor().atEnd(); }), true);
        }
    }
}

TEST(Memo, TypingOnAfterEachResultMakesARunningRecord) {
    Form form;
    TMathMemo memo(&form.window);
    memo.SetMathInterpreter(form.interpreter);
    for (const char* typed : {"x = 5", "x*2", "1+"}) {
        QTest::keyClicks(&memo, typed);
        ReportedErrors reported;  // the memo raises by default: from a key, to the handler
        QTest::keyClick(&memo, Qt::Key_Return, Qt::ControlModifier);
    }
    EXPECT_EQ(memo.toPlainText(), "x = 5\n5\nx*2\n10\n1+");
    EXPECT_EQ(memo.SelLine(), 4);
    // One run is one step of undo.
    memo.setPlainText("x = 5\n5\n");
    memo.moveCursor(QTextCursor::End);
    QTest::keyClicks(&memo, "x+1");
    QTest::keyClick(&memo, Qt::Key_Return);
    QTest::keyClick(&memo, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(memo.toPlainText(), "x = 5\n5\nx+1");
}

// After each run the new last line is in view, and undo takes the run back
// with the caret on the line that ran, so that Return runs it again.
TEST(Console, TheNewLineIsInViewAndUndoReturnsToTheLineRun) {
    for (Kind kind : {Kind::Memo, Kind::Rich}) {
        SCOPED_TRACE(testing::KindName(kind));
        Form form;
        AnyControl console = AnyControl::Create(kind, &form.window);
        console.control->SetMathInterpreter(form.interpreter);
        console.widget->resize(200, 120);
        form.window.show();
        console.VisitConsole([&](auto& edit) {
            for (int i = 0; i < 12; ++i) {
                QTest::keyClicks(&edit, QString("%1*2").arg(i));
                QTest::keyClick(&edit, Qt::Key_Return);
                QApplication::processEvents();
                EXPECT_TRUE(edit.viewport()->rect().contains(edit.cursorRect())) << i;
            }
            EXPECT_GT(edit.verticalScrollBar()->maximum(), 0);
            EXPECT_EQ(edit.verticalScrollBar()->value(), edit.verticalScrollBar()->maximum());
            QTest::keyClicks(&edit, "7*6");
            QTest::keyClick(&edit, Qt::Key_Return);
            QTest::keyClicks(&edit, "5+5");
            QTest::keyClick(&edit, Qt::Key_Return);
            QTest::keyClick(&edit, Qt::Key_Z, Qt::ControlModifier);
            QTest::keyClicks(&edit, "0");
            EXPECT_TRUE(edit.toPlainText().endsWith("7*6\n42\n5+50"));
            // A line from higher up: its copy and result go; the caret is back on it.
            edit.moveCursor(QTextCursor::Start);
            QTest::keyClick(&edit, Qt::Key_Return);
            QTest::keyClick(&edit, Qt::Key_Z, Qt::ControlModifier);
            EXPECT_TRUE(edit.toPlainText().endsWith("7*6\n42\n5+50"));
            EXPECT_EQ(edit.SelLine(), 0);
            return 0;
        });
    }
}

// Laying out a line of a million characters takes a memo minutes: results
// beyond 10,000 characters show shortened, the event still gets them whole.
TEST(Console, AHugeResultIsShownShortenedWithItsLength) {
    for (Kind kind : {Kind::Memo, Kind::Rich}) {
        SCOPED_TRACE(testing::KindName(kind));
        Form form;
        AnyControl console = AnyControl::Create(kind, &form.window);
        console.control->SetMathInterpreter(form.interpreter);
        form.window.show();
        std::size_t length = 0;
        console.OnResult([&](const Variant& res) { length = VarToStr(res).size(); });
        console.SetText("s = StringOfChar('x', 2000000)");
        console.PressReturn();
        EXPECT_EQ(length, 2000000u);
        EXPECT_EQ(console.Text(), "s = StringOfChar('x', 2000000)\n" + QString(10000, 'x') +
                                      QString::fromUtf8(" \u2026 (2000000 characters)\n"));
        EXPECT_EQ(form.Core().GetVariables("s").AsString().size(), 2000000u);
    }
}

TEST(Memo, SomethingAfterSelStartLooksFromTheCharacterBeforeTheCaret) {
    struct Case {
        const char* text;
        int caret;
        bool something;
    };
    const Case cases[] = {{"", 0, false},     {"abc", 3, true},   {"abc\n", 4, false}, {"ab \n ", 3, false},
                          {"a\n  ", 0, true}, {"\n\nx", 1, true}, {"\t", 1, true}};
    for (const Case& c : cases) {
        for (Kind kind : {Kind::Memo, Kind::Rich}) {
            SCOPED_TRACE(std::string(c.text) + " at " + std::to_string(c.caret) + " " + testing::KindName(kind));
            AnyControl console = Console(kind, nullptr, c.text, c.caret);
            EXPECT_EQ(console.VisitConsole([](auto& edit) { return edit.SomethingAfterSelStart(); }), c.something);
            delete console.widget;
        }
    }
}

TEST(Memo, MaxLengthLimitsWhatTheUserTypesAndPastesButNotTheResults) {
    Form form;
    TMathMemo memo(&form.window);
    memo.SetMathInterpreter(form.interpreter);
    memo.setMaxLength(6);
    QTest::keyClicks(&memo, "10*1000000");
    EXPECT_EQ(memo.toPlainText(), "10*100");
    QTest::keyClick(&memo, Qt::Key_Return);
    EXPECT_EQ(memo.toPlainText(), "10*100\n1000\n");
    memo.setPlainText("1");
    memo.moveCursor(QTextCursor::End);
    QApplication::clipboard()->setText("23456789");
    memo.paste();
    EXPECT_EQ(memo.toPlainText(), "123456");
    memo.selectAll();
    memo.paste();  // the selection makes room
    EXPECT_EQ(memo.toPlainText(), "234567");
}

TEST(RichEdit, ResultAndErrorLinesTakeTheirFontsAndWhatIsTypedNextIsNormal) {
    struct Case {
        TMathRichEditOptions options;
        const char* resultLine;
        const char* errorLine;
    };
    const Case cases[] = {{mroUseResultFont | mroUseErrorFont, "bold #0000ff", "bold #ff0000"},
                          {mroUseErrorFont, "normal", "bold #ff0000"},
                          {mroUseResultFont, "bold #0000ff", "normal"},
                          {mroNoRichEditOptions, "normal", "normal"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.toInt());
        Form form;
        TMathRichEdit rich(&form.window);
        rich.SetMathInterpreter(form.interpreter);
        rich.setMathRichEditOptions(c.options);
        QTest::keyClicks(&rich, "1+2");
        QTest::keyClick(&rich, Qt::Key_Return);
        QTest::keyClicks(&rich, "1+");
        QTest::keyClick(&rich, Qt::Key_Enter, Qt::KeypadModifier);
        QTest::keyClicks(&rich, "abc");
        QTextDocument& doc = *rich.document();
        ASSERT_EQ(rich.toPlainText(),
                  "1+2\n3\n1+\nTMOperator.PullOperands() 2 operand(s) expected, but only 1 found. Position: 2.\nabc");
        EXPECT_EQ(Describe(FormatOfLine(doc, 0)), "normal");
        EXPECT_EQ(Describe(FormatOfLine(doc, 1)), c.resultLine);
        EXPECT_EQ(Describe(FormatOfLine(doc, 2)), "normal");
        EXPECT_EQ(Describe(FormatOfLine(doc, 3)), c.errorLine);
        EXPECT_EQ(Describe(FormatOfLine(doc, 4)), "normal");
        EXPECT_EQ(doc.findBlockByNumber(4).begin().fragment().length(), 3);
    }
}

TEST(RichEdit, AfterAResultEndingInABlankTypingGoesOnInTheNormalFont) {
    Form form;
    TMathRichEdit rich(&form.window);
    rich.SetMathInterpreter(form.interpreter);
    rich.setPlainText("'x '");
    QTest::keyClick(&rich, Qt::Key_Return);
    QTest::keyClicks(&rich, "1");
    ASSERT_EQ(rich.toPlainText(), "'x '\nx 1");
    QTextBlock::iterator last = rich.document()->findBlockByNumber(1).end();
    --last;
    EXPECT_EQ(last.fragment().text(), "1");
    EXPECT_EQ(Describe(last.fragment().charFormat()), "normal");
}

TEST(RichEdit, TheCopyOfALineFromHigherUpIsNormalAndTheFontsFollowTheControlsFont) {
    Form form;
    TMathRichEdit rich(&form.window);
    rich.SetMathInterpreter(form.interpreter);
    QFont result;
    result.setItalic(true);
    rich.setMathResultFont(result);
    rich.setMathResultColor(Qt::darkGreen);
    rich.setPlainText("6*7\nlater");
    QTest::keyClick(&rich, Qt::Key_Return);
    const QTextDocument& doc = *rich.document();
    ASSERT_EQ(rich.toPlainText(), "6*7\nlater\n6*7\n42\n");
    EXPECT_EQ(Describe(FormatOfLine(doc, 2)), "normal");
    const QTextCharFormat format = FormatOfLine(doc, 3);
    EXPECT_TRUE(format.fontItalic());
    EXPECT_FALSE(format.hasProperty(QTextFormat::FontWeight));  // not set in the font: the control's own
    EXPECT_FALSE(format.hasProperty(QTextFormat::FontPointSize));
    EXPECT_EQ(format.foreground().color(), QColor(Qt::darkGreen));
}

}  // namespace
}  // namespace zorvex
