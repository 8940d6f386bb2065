// The interpreter as a widget: its Qt properties, "Symbols", the designer
// branch of its setters, and the catalogue of the five widgets.
#include "WidgetTestSupport.h"

namespace zorvex {
namespace {

using testing::ReportedErrors;

TEST(InterpreterWidget, ItsObjectNameIsTheCoresNameAndTheCoreKnowsItsWidget) {
    TMathInterpreterWidget widget;
    widget.setObjectName("calc");
    EXPECT_EQ(widget.Interpreter().Name(), "calc");
    EXPECT_EQ(TMathInterpreterWidget::FromInterpreter(&widget.Interpreter()), &widget);
    TMathInterpreter alone;
    EXPECT_EQ(TMathInterpreterWidget::FromInterpreter(&alone), nullptr);
}

TEST(InterpreterWidget, SymbolsStartFromAnEmptyTableAndKeepLatin1Exactly) {
    TMathInterpreterWidget widget;
    const QByteArray text = QString::fromUtf8("t='20°C';\r\nf(a):=a*2").toUtf8();
    widget.setSymbols(text);
    widget.setSymbols(text);  // as undo, redo and reloading do
    EXPECT_EQ(widget.Interpreter().SymbolCount(), 2);
    EXPECT_EQ(widget.Interpreter().GetVariables("t").AsString(), "20\xB0""C");
    EXPECT_EQ(widget.Symbols(), text);
    EXPECT_EQ(widget.DumpText(), QString::fromUtf8("t='20°C';\r\nf(a):=f.a*2"));
}

TEST(InterpreterWidget, AFailingSymbolsTextIsReportedAndKeepsTheEntriesBeforeIt) {
    struct Case {
        QByteArray text;
        const char* message;
        const char* symbols;  // the table afterwards
    };
    const Case cases[] = {
        {"a=1;\r\nb=1+;\r\nc=3", "TMOperator.PullOperands() 2 operand(s) expected, but only 1 found. Position: 4.",
         "a=1"},
        {"a=1;\r\ns='\xE2\x82\xAC'", "The text holds a character that is not Latin-1 (U+20AC) at position: 10.",
         "old=1"},
        {"a=1;\r\ns='\xB0'", "The Symbols text is not valid UTF-8.", "old=1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        TMathInterpreterWidget widget;
        widget.setSymbols("old=1");
        ReportedErrors reported;
        widget.setSymbols(c.text);
        EXPECT_EQ(reported.messages, std::vector<std::string>{c.message});
        EXPECT_EQ(widget.Symbols(), c.symbols);
    }
}

TEST(InterpreterWidget, ExpressionAndDisplayPropertiesRaiseOutsideTheDesignerAndReportInIt) {
    using Setter = void (TMathInterpreterWidget::*)(const QString&);
    struct Case {
        Setter set;
        const char* value;
        const char* message;
        bool resultIsMessage;  // while designing, ExpressionResult reads the message
    };
    const Case cases[] = {
        {&TMathInterpreterWidget::setExpression, "1+",
         "TMOperator.PullOperands() 2 operand(s) expected, but only 1 found. Position: 2.", true},
        {&TMathInterpreterWidget::setDumpText, "x", "TMathInterpreter.DumpText property is for display purposes only.",
         false},
        {&TMathInterpreterWidget::setExpressionResult, "x",
         "TMathInterpreter.ExpressionResult property is for display purposes only.", false},
    };
    for (const Case& c : cases) {
        for (bool designing : {false, true}) {
            SCOPED_TRACE(std::string(c.message) + (designing ? " designing" : " running"));
            TMathInterpreterWidget widget;
            widget.SetDesigning(designing);
            ReportedErrors reported;
            const std::string thrown = testing::ErrorOf([&] {
                (widget.*c.set)(c.value);
                // A designer runs the Expression once its edit is committed.
                if (designing && c.resultIsMessage) widget.RunExpression(c.value);
            });
            const std::vector<std::string> none, one{c.message};
            EXPECT_EQ(thrown, designing ? "<no exception>" : c.message);
            EXPECT_EQ(reported.messages, designing ? one : none);
            EXPECT_EQ(widget.ExpressionResult().toStdString(), designing && c.resultIsMessage ? c.message : "");
        }
    }
    TMathInterpreterWidget widget;
    widget.setExpression("1+2");
    EXPECT_EQ(widget.Expression(), "1+2");
    EXPECT_EQ(widget.ExpressionResult(), "3");
}

TEST(InterpreterWidget, AnEscapeCharBeyondLatin1IsRefused) {
    TMathInterpreterWidget widget;
    widget.setEscapeChar(QChar(0xB0));
    ReportedErrors reported;
    widget.setEscapeChar(QChar(0x20AC));
    EXPECT_EQ(reported.messages.size(), 1u);
    EXPECT_EQ(widget.EscapeChar(), QChar(0xB0));
}

// Designer sets Expression at each keystroke, and again at undo and redo:
// while designing, a set only tries the text on a copy of the symbols;
// RunExpression runs it on the table.
TEST(InterpreterWidget, WhileDesigningExpressionIsTriedOnACopyUntilItRuns) {
    TMathInterpreterWidget widget;
    widget.SetDesigning(true);
    widget.setSymbols("x=5");
    ReportedErrors reported;
    const char* const typed[] = {"x", "x ", "x =", "x = x", "x = x +", "x = x + 1", "x = x + 10"};
    for (const char* text : typed) widget.setExpression(text);
    EXPECT_EQ(widget.ExpressionResult(), "15");
    EXPECT_EQ(widget.Symbols(), "x=5");
    widget.RunExpression(widget.Expression());
    EXPECT_EQ(widget.Symbols(), "x=15");
    EXPECT_EQ(widget.ExpressionResult(), "15");
    widget.setExpression("x = x + 1/0");
    EXPECT_EQ(widget.ExpressionResult(), "Floating point division by zero");
    widget.setExpression("StringOfChar('x', 9) + f(1)");
    EXPECT_EQ(widget.ExpressionResult(), "TMFunctionCall.GetValue() Undefined function reference: \"f\", position: 24.");
    widget.setSymbols("x=15;\r\nfib(n):=IfF(n<2,n,fib(n-1)+fib(n-2))");
    widget.setExpression("fib(40)");  // a try stops after half a second
    EXPECT_EQ(widget.ExpressionResult(), "TMathInterpreter.EvaluationTimeLimit Evaluation stopped at its limit of 500 ms.");
    EXPECT_TRUE(reported.messages.empty());
    EXPECT_EQ(widget.Interpreter().Dump(" ", 0), "x=15 fib(n):=IfF(n<2,n,fib(n-1)+fib(n-2))");
}

// While designing, a Symbols text replaces the table only when all of it
// loads. One typed that fails is read back and its error waits for the
// designer; set otherwise (undo, redo), the error is reported at once.
TEST(InterpreterWidget, WhileDesigningSymbolsLoadWholeOrNotAtAll) {
    struct Case {
        QByteArray text;
        bool typing;
        const char* table;  // afterwards
        const char* readBack;
        std::size_t reported;
        bool waiting;
    };
    const Case cases[] = {
        {"a=1;b=a+1", true, "a=1 b=2", "a=1;\r\nb=2", 0, false},
        {"a=1;b=1+;c=3", true, "old=1", "a=1;b=1+;c=3", 0, true},
        {"a=1;b=1+;c=3", false, "old=1", "old=1", 1, false},
        {"", true, "", "", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString() + (c.typing ? " typed" : " set"));
        TMathInterpreterWidget widget;
        widget.SetDesigning(true);
        widget.setSymbols("old=1");
        widget.SetTyping(c.typing);
        ReportedErrors reported;
        widget.setSymbols(c.text);
        EXPECT_EQ(widget.Interpreter().Dump(" ", 0), c.table);
        EXPECT_EQ(widget.Symbols(), c.readBack);
        EXPECT_EQ(reported.messages.size(), c.reported);
        EXPECT_EQ(widget.TakeSymbolsError().has_value(), c.waiting);
        EXPECT_EQ(widget.Symbols(), QByteArray(c.table).replace(" ", ";\r\n"));
    }
}

TEST(InterpreterWidget, HiddenAtRunTimeAndAnIconBoxWhileDesigning) {
    QWidget window;
    auto* widget = new TMathInterpreterWidget(&window);
    window.show();
    EXPECT_FALSE(widget->isVisible());
    widget->SetDesigning(true);
    EXPECT_TRUE(widget->isVisible());
    EXPECT_TRUE(widget->Interpreter().Designing());
    EXPECT_EQ(widget->sizeHint(), QSize(28, 28));
    EXPECT_FALSE(widget->grab().isNull());
}

TEST(Catalogue, FiveWidgetsInPaletteOrderWithTheirIcons) {
    const QStringList names = MathWidgetClassNames();
    ASSERT_EQ(names, QStringList({"zorvex::TMathInterpreterWidget", "zorvex::TMathEdit", "zorvex::TMathComboBox",
                                  "zorvex::TMathMemo", "zorvex::TMathRichEdit"}));
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        std::unique_ptr<QWidget> widget(CreateMathWidget(name));
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(QString(widget->metaObject()->className()), name);
        EXPECT_EQ(MathWidgetIcon(name).pixmap(24, 24).size(), QSize(24, 24));
    }
    EXPECT_EQ(CreateMathWidget("QLineEdit"), nullptr);
    EXPECT_TRUE(MathWidgetIcon("QLineEdit").isNull());
}

}  // namespace
}  // namespace zorvex
