// The interpreter as a widget: its Qt properties, "Symbols", the designer
// branch of its setters, and the catalogue of the five widgets.
#include "WidgetTestSupport.h"

namespace zorvex {
namespace {

using testing::ReportedErrors;

TEST(InterpreterWidget, QtPropertiesReachTheCoreAsAFormLoaderSetsThem) {
    TMathInterpreterWidget widget;
    TMathInterpreter& core = widget.Interpreter();
    EXPECT_EQ(widget.property("DumpFormat").toInt(), TMathInterpreterWidget::dfQualified);
    EXPECT_EQ(widget.property("MaxFunctionNesting").toUInt(), 1000u);
    EXPECT_EQ(widget.property("EscapeChar").value<QChar>(), QChar(0));

    ASSERT_TRUE(widget.setProperty("CaseSensitiveSymbols", true));
    ASSERT_TRUE(widget.setProperty("DumpFormat", QVariant::fromValue(TMathInterpreterWidget::TDumpFormat(
                                                     TMathInterpreterWidget::dfDetailed))));
    ASSERT_TRUE(widget.setProperty("EscapeChar", QChar(u'\\')));
    ASSERT_TRUE(widget.setProperty("MaxFunctionNesting", 7u));
    ASSERT_TRUE(widget.setProperty("Symbols", QByteArray("X=1;\r\nx='a\\'b'")));
    EXPECT_TRUE(core.CaseSensitiveSymbols());
    EXPECT_EQ(core.DumpFormat(), zorvex::dfDetailed);
    EXPECT_EQ(core.EscapeChar(), '\\');
    EXPECT_EQ(core.MaxFunctionNesting(), 7u);
    EXPECT_EQ(core.SymbolCount(), 2);
    EXPECT_EQ(widget.Symbols(), QByteArray("X=1;\r\nx='a''b'"));

    widget.setObjectName("calc");
    EXPECT_EQ(core.Name(), "calc");
    EXPECT_EQ(TMathInterpreterWidget::FromInterpreter(&core), &widget);
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
    struct Case {
        const char* property;
        const char* value;
        const char* message;
        const char* result;  // ExpressionResult afterwards
    };
    const Case cases[] = {
        {"Expression", "1+", "TMOperator.PullOperands() 2 operand(s) expected, but only 1 found. Position: 2.", nullptr},
        {"DumpText", "x", "TMathInterpreter.DumpText property is for display purposes only.", ""},
        {"ExpressionResult", "x", "TMathInterpreter.ExpressionResult property is for display purposes only.", ""},
    };
    for (const Case& c : cases) {
        for (bool designing : {false, true}) {
            SCOPED_TRACE(std::string(c.property) + (designing ? " designing" : " running"));
            TMathInterpreterWidget widget;
            widget.SetDesigning(designing);
            ReportedErrors reported;
            const std::string thrown = testing::ErrorOf([&] {
                if (std::string(c.property) == "Expression") widget.setExpression(c.value);
                if (std::string(c.property) == "DumpText") widget.setDumpText(c.value);
                if (std::string(c.property) == "ExpressionResult") widget.setExpressionResult(c.value);
            });
            const std::vector<std::string> none, one{c.message};
            EXPECT_EQ(thrown, designing ? "<no exception>" : c.message);
            EXPECT_EQ(reported.messages, designing ? one : none);
            const char* result = c.result ? c.result : designing ? c.message : "";
            EXPECT_EQ(widget.ExpressionResult().toStdString(), result);
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
