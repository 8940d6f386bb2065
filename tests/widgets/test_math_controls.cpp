// What the four controls share: running on Return, the error rule, the link
// to the interpreter and its end; the edit's and combo box's own behaviour.
#include <QLabel>
#include <QPointer>

#include "WidgetTestSupport.h"

namespace zorvex {
namespace {

using testing::AnyControl;
using testing::Form;
using testing::Kind;
using testing::kAllKinds;
using testing::KindName;
using testing::ReportedErrors;

const char* const kMissingOperand = "TMOperator.PullOperands() 2 operand(s) expected, but only 1 found. Position: 2.";

TEST(SingleLineControls, ReturnAndEnterWithAnyModifierRunTheTextAndSelectTheResult) {
    const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[] = {
        {Qt::Key_Return, Qt::NoModifier},      {Qt::Key_Return, Qt::ShiftModifier},
        {Qt::Key_Return, Qt::ControlModifier}, {Qt::Key_Return, Qt::AltModifier},
        {Qt::Key_Enter, Qt::KeypadModifier}};
    for (Kind kind : {Kind::Edit, Kind::Combo}) {
        for (const auto& [key, modifiers] : keys) {
            SCOPED_TRACE(std::string(KindName(kind)) + " key " + std::to_string(key) + " modifiers " +
                         std::to_string(modifiers.toInt()));
            Form form;
            AnyControl c = AnyControl::Create(kind, &form.window);
            c.control->SetMathInterpreter(form.interpreter);
            auto events = c.CountEvents();
            c.SetText("1+2");
            QTest::keyClick(c.widget, key, modifiers);
            EXPECT_EQ(c.Text(), "3");
            QLineEdit* line = kind == Kind::Edit ? static_cast<QLineEdit*>(c.widget)
                                                 : static_cast<TMathComboBox*>(c.widget)->lineEdit();
            EXPECT_EQ(line->selectedText(), "3");
            EXPECT_EQ(*events, 1);
        }
    }
}

TEST(SingleLineControls, OptionsDecideWhatReturnAndTheResultDo) {
    struct Case {
        TMathEditOptions options;
        bool viaReturn;
        const char* text;
        int events;
    };
    const Case cases[] = {
        {meoExecuteOnReturn, true, "x = 7", 1},  // the result reaches the event only
        {meoSelfUpdate, true, "x = 7", 0},       // Return does nothing special
        {meoSelfUpdate, false, "7", 1},          // ExecuteExpression still works
        {meoNoEditOptions, false, "x = 7", 1},
    };
    for (Kind kind : {Kind::Edit, Kind::Combo}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(KindName(kind)) + " options " + std::to_string(c.options.toInt()));
            Form form;
            AnyControl control = AnyControl::Create(kind, &form.window);
            control.control->SetMathInterpreter(form.interpreter);
            control.widget->setProperty("MathEditOptions", QVariant::fromValue(c.options));
            auto events = control.CountEvents();
            control.SetText("x = 7");
            Variant res;
            if (c.viaReturn)
                control.PressReturn();
            else
                res = control.Execute();
            EXPECT_EQ(control.Text(), c.text);
            EXPECT_EQ(*events, c.events);
            EXPECT_EQ(testing::Show(res), c.viaReturn ? "<Empty>" : "7");
        }
    }
}

// The error rule: the four combinations of MathErrorOptions, by a direct
// call and from a key.
TEST(AllControls, ErrorOptionsDecideWhetherTheMessageIsWrittenAndTheErrorPassedOn) {
    struct Case {
        TMathErrorOptions options;
        bool written;
        bool raised;
    };
    const Case cases[] = {{meoRaiseExceptions, false, true},
                          {meoWriteExceptionMessage, true, false},
                          {meoRaiseExceptions | meoWriteExceptionMessage, true, true},
                          {meoNoErrorOptions, false, false}};
    for (Kind kind : kAllKinds) {
        for (const Case& c : cases) {
            for (bool viaReturn : {false, true}) {
                SCOPED_TRACE(std::string(KindName(kind)) + " options " + std::to_string(c.options.toInt()) +
                             (viaReturn ? " via Return" : " called"));
                Form form;
                AnyControl control = AnyControl::Create(kind, &form.window);
                control.control->SetMathInterpreter(form.interpreter);
                control.control->setMathErrorOptions(c.options);
                auto events = control.CountEvents();
                control.SetText("1+");
                ReportedErrors reported;
                std::string thrown = "<no exception>";
                if (viaReturn)
                    control.PressReturn();
                else
                    thrown = testing::ErrorOf([&] { control.Execute(); });

                const bool console = kind == Kind::Memo || kind == Kind::Rich;
                const QString message = QString::fromLatin1(kMissingOperand);
                EXPECT_EQ(control.Text(), !c.written ? "1+" : console ? "1+\n" + message + "\n" : message);
                const std::vector<std::string> none, one{kMissingOperand};
                EXPECT_EQ(thrown, !viaReturn && c.raised ? kMissingOperand : "<no exception>");
                EXPECT_EQ(reported.messages, viaReturn && c.raised ? one : none);
                EXPECT_EQ(*events, 0);
                if (kind == Kind::Combo) {
                    EXPECT_EQ(static_cast<QComboBox*>(control.widget)->count(), 0);
                }
            }
        }
    }
}

TEST(AllControls, InitialValuesNotSeenElsewhere) {
    TMathComboBox combo;
    TMathMemo memo;
    TMathRichEdit rich;
    EXPECT_EQ(combo.MathHistoryOption(), mhoDeleteDuplicates);
    EXPECT_TRUE(combo.isEditable());
    EXPECT_EQ(memo.MaxLength(), 65536);
    EXPECT_EQ(rich.lineWrapMode(), QTextEdit::NoWrap);
    EXPECT_EQ(rich.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(rich.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

TEST(ComboBox, HistoryOptionsTreatARepeatedExpressionAsThePartSays) {
    struct Case {
        TMathHistoryOption option;
        QStringList sequence;
        QStringList history;
    };
    const Case cases[] = {
        {mhoDeleteDuplicates, {"a", "b", "a"}, {"a", "b"}},
        {mhoPreventDuplicates, {"a", "b", "a"}, {"b", "a"}},
        {mhoAllowDuplicates, {"a", "b", "a"}, {"a", "b", "a"}},
        {mhoDeleteDuplicates, {"X+1", "x+1"}, {"x+1", "X+1"}},  // compared case-sensitively
        {mhoPreventDuplicates, {"X+1", "x+1"}, {"x+1", "X+1"}},
        {mhoDeleteDuplicates, {"a", "1+", "b"}, {"b", "a"}},  // a failure enters nothing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sequence.join(", ").toStdString() + " option " + std::to_string(c.option));
        Form form;
        form.Core().Execute("a = 1; b = 2; x = 3");
        TMathComboBox combo(&form.window);
        combo.SetMathInterpreter(form.interpreter);
        combo.setMathErrorOptions(meoNoErrorOptions);
        combo.setMathHistoryOption(c.option);
        for (const QString& expression : c.sequence) {
            combo.setEditText(expression);
            QTest::keyClick(&combo, Qt::Key_Return);
        }
        QStringList history;
        for (int i = 0; i < combo.count(); ++i) history << combo.itemText(i);
        EXPECT_EQ(history, c.history);
    }
}

TEST(ComboBox, ReturnInTheLineEditRunsOnceAndDownWalksTheHistory) {
    Form form;
    form.Core().ExecuteExpression("n = 0");
    TMathComboBox combo(&form.window);
    combo.SetMathInterpreter(form.interpreter);
    combo.setMathEditOptions(meoExecuteOnReturn);
    for (const char* expression : {"n = n + 1", "n"}) {
        combo.setEditText(expression);
        QTest::keyClick(combo.lineEdit(), Qt::Key_Return);
    }
    EXPECT_EQ(testing::Show(form.Core().GetVariables("n")), "1");
    QTest::keyClick(&combo, Qt::Key_Down);
    EXPECT_EQ(combo.currentText(), "n");
    QTest::keyClick(&combo, Qt::Key_Down);
    EXPECT_EQ(combo.currentText(), "n = n + 1");
    QTest::keyClick(&combo, Qt::Key_Enter, Qt::KeypadModifier);  // a chosen item runs again
    EXPECT_EQ(testing::Show(form.Core().GetVariables("n")), "2");
}

TEST(Link, ObjectNamesResolveOnFirstUseAndNamesOfNothingLeaveTheControlUnbound) {
    for (const char* name : {"interpreter", "nothing", "label", ""}) {
        SCOPED_TRACE(name);
        const bool binds = std::string(name) == "interpreter";
        QWidget window;
        auto* box = new QWidget(&window);
        auto* edit = new TMathEdit(box);  // created before the interpreter, as uic may
        edit->setMathInterpreter(name);
        (new QLabel(&window))->setObjectName("label");
        auto* interpreter = new TMathInterpreterWidget(&window);
        interpreter->setObjectName("interpreter");
        EXPECT_EQ(edit->MathInterpreterName(), name);
        edit->setText("6*7");
        QTest::keyClick(edit, Qt::Key_Return);
        EXPECT_EQ(edit->text(), binds ? "42" : "6*7");
        EXPECT_EQ(edit->MathInterpreterWidget(), binds ? interpreter : nullptr);
    }
}

// Deleting the interpreter detaches every control bound to it, wherever the
// interpreter lives; the sanitizer build checks that nothing dangles. The
// controls then act as controls that never had an interpreter.
TEST(Link, DeletingTheInterpreterDetachesTheControls) {
    enum class Where { Never, SameParent, OtherWindow, CoreAlone, CoreOwnedByComponent };
    for (Where where : {Where::Never, Where::SameParent, Where::OtherWindow, Where::CoreAlone,
                        Where::CoreOwnedByComponent}) {
        SCOPED_TRACE(static_cast<int>(where));
        QWidget window;
        auto other = std::make_unique<QWidget>();
        auto owner = std::make_unique<TComponent>();
        QPointer<TMathInterpreterWidget> widget;
        TMathInterpreter* core = nullptr;
        if (where == Where::SameParent) widget = new TMathInterpreterWidget(&window);
        if (where == Where::OtherWindow) widget = new TMathInterpreterWidget(other.get());
        if (where == Where::CoreAlone) core = new TMathInterpreter;
        if (where == Where::CoreOwnedByComponent) core = new TMathInterpreter(owner.get());
        if (widget) {
            widget->setObjectName("calc");
            core = &widget->Interpreter();
        }
        if (core) core->SetName("calc");
        std::vector<AnyControl> controls;
        for (Kind kind : kAllKinds) {
            AnyControl c = AnyControl::Create(kind, &window);
            c.control->SetMathInterpreter(core);
            EXPECT_EQ(c.control->MathInterpreterName(), core ? "calc" : "");
            c.SetText("1+2");
            auto events = c.CountEvents();
            if (core) {
                EXPECT_EQ(testing::Show(c.Execute()), "3");
            }
            EXPECT_EQ(*events, core ? 1 : 0);
            c.SetText("1+2");
            controls.push_back(c);
        }
        delete widget;
        if (where == Where::CoreAlone) delete core;
        owner.reset();
        for (const AnyControl& c : controls) {
            EXPECT_EQ(c.control->MathInterpreter(), nullptr);
            EXPECT_EQ(c.control->MathInterpreterName(), "");
            c.PressReturn();
            EXPECT_TRUE(c.Execute().IsEmpty());
            EXPECT_EQ(c.Text(), "1+2");  // the memos do not break the line either
        }
    }
}

TEST(Link, AFormGoesWholeWhicheverChildComesFirst) {
    for (bool interpreterFirst : {true, false}) {
        SCOPED_TRACE(interpreterFirst ? "interpreter first" : "controls first");
        auto window = std::make_unique<QWidget>();
        if (interpreterFirst) (new TMathInterpreterWidget(window.get()))->setObjectName("interpreter");
        for (Kind kind : kAllKinds) AnyControl::Create(kind, window.get()).control->setMathInterpreter("interpreter");
        if (!interpreterFirst) (new TMathInterpreterWidget(window.get()))->setObjectName("interpreter");
        for (auto* control : window->findChildren<QWidget*>()) {
            if (auto* c = dynamic_cast<TMathControl*>(control)) {
                EXPECT_NE(c->MathInterpreter(), nullptr);
            }
        }
        window.reset();
    }
}

// At design time a control shows whether its name finds an interpreter:
// empty when it does, its own object name when not.
TEST(Link, AtDesignTimeTheControlShowsItsBinding) {
    for (Kind kind : kAllKinds) {
        SCOPED_TRACE(KindName(kind));
        QWidget window;
        AnyControl c = AnyControl::Create(kind, &window);
        c.widget->setObjectName("edSum");
        c.SetText("typed");
        c.control->SetDesigning(true);
        EXPECT_EQ(c.Text(), "edSum");
        c.widget->setObjectName("edTotal");
        EXPECT_EQ(c.Text(), "edTotal");
        auto* interpreter = new TMathInterpreterWidget(&window);
        c.control->SetMathInterpreter(interpreter);
        EXPECT_EQ(c.Text(), "");
        delete interpreter;
        EXPECT_EQ(c.Text(), "edTotal");
        c.control->setMathInterpreter("calc");
        EXPECT_EQ(c.Text(), "edTotal");  // names nothing yet
        interpreter = new TMathInterpreterWidget(&window);
        interpreter->setObjectName("calc");
        c.control->RefreshBinding();
        EXPECT_EQ(c.Text(), "");
        interpreter->setObjectName("sum");  // a rename is followed
        EXPECT_EQ(c.control->MathInterpreterName(), "sum");
        auto* elsewhere = new QWidget;
        interpreter->setParent(elsewhere);  // out of reach, as a designer's removed widget is
        c.control->RefreshBinding();
        EXPECT_EQ(c.Text(), "edTotal");
        EXPECT_EQ(c.control->MathInterpreterName(), "sum");
        interpreter->setParent(&window);  // back, as undo brings it
        c.control->RefreshBinding();
        EXPECT_EQ(c.Text(), "");
        delete elsewhere;
    }
}

// A control bound by name as uic binds it, that never ran, lets go of the
// name when the interpreter goes, as a control that ran does.
TEST(Link, DeletingTheInterpreterUnbindsControlsThatNeverLookedForIt) {
    for (bool designing : {false, true}) {
        SCOPED_TRACE(designing ? "designing" : "running");
        QWidget window;
        auto* box = new QWidget(&window);
        std::vector<AnyControl> controls;
        for (Kind kind : kAllKinds) {
            AnyControl c = AnyControl::Create(kind, box);
            c.widget->setObjectName(KindName(kind));
            c.control->setMathInterpreter("interpreter");
            controls.push_back(c);
        }
        auto* interpreter = new TMathInterpreterWidget(&window);
        interpreter->setObjectName("interpreter");
        controls[0].Execute();  // one of them has looked
        for (const AnyControl& c : controls) c.control->SetDesigning(designing);
        delete interpreter;
        (new TMathInterpreterWidget(&window))->setObjectName("interpreter");
        for (const AnyControl& c : controls) {
            SCOPED_TRACE(KindName(c.kind));
            EXPECT_EQ(c.control->MathInterpreterName(), "");
            EXPECT_EQ(c.control->MathInterpreter(), nullptr);
            if (designing) {
                EXPECT_EQ(c.Text(), KindName(c.kind));
            }
        }
    }
}

// The search for a named interpreter stays within the control's window: a
// dialog's control never runs on its parent window's interpreter, nor the
// other way round.
TEST(Link, AnInterpreterIsFoundWithinTheControlsWindowOnly) {
    enum class Where { SameWindow, NestedBox, ControlInDialog, InterpreterInDialog, ControlIsAWindow };
    for (Where where : {Where::SameWindow, Where::NestedBox, Where::ControlInDialog, Where::InterpreterInDialog,
                        Where::ControlIsAWindow}) {
        SCOPED_TRACE(static_cast<int>(where));
        QWidget window;
        auto* dialog = new QWidget(&window, Qt::Dialog);
        auto* box = new QWidget(new QWidget(&window));
        QWidget* controlParent = where == Where::ControlInDialog ? dialog : where == Where::NestedBox ? box : &window;
        auto* interpreter = new TMathInterpreterWidget(where == Where::InterpreterInDialog ? dialog : &window);
        interpreter->setObjectName("calc");
        auto* edit = new TMathEdit(controlParent);
        if (where == Where::ControlIsAWindow) edit->setWindowFlags(Qt::Window);
        edit->setMathInterpreter("calc");
        const bool found = where == Where::SameWindow || where == Where::NestedBox;
        EXPECT_EQ(edit->MathInterpreterWidget(), found ? interpreter : nullptr);
    }
}

TEST(SingleLineControls, LongTextsAreKeptWholeAndHugeResultsShownShortenedWithTheirLength) {
    struct Case {
        QString expression;
        qsizetype shownLength;  // of the text after the run
        QString shownEnd;
        std::size_t resultLength;
    };
    QString sum = "1";
    for (int i = 1; i < 20000; ++i) sum += "+1";  // 39,999 characters
    const QString huge = QStringLiteral(" \u2026 (600000 characters)");
    const Case cases[] = {
        {sum, 5, "20000", 5},
        {"StringOfChar('x', 40000)", 40000, "xxx", 40000},
        {"StringOfChar('x', 600000)", 100000 + huge.size(), huge, 600000},
    };
    for (Kind kind : {Kind::Edit, Kind::Combo}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(KindName(kind)) + " " + c.expression.left(30).toStdString());
            Form form;
            AnyControl control = AnyControl::Create(kind, &form.window);
            control.control->SetMathInterpreter(form.interpreter);
            control.SetText(c.expression);
            EXPECT_EQ(control.Text().size(), c.expression.size());
            std::size_t resultLength = 0;
            control.OnResult([&](const Variant& res) { resultLength = VarToStr(res).size(); });
            control.PressReturn();
            EXPECT_EQ(control.Text().size(), c.shownLength);
            EXPECT_TRUE(control.Text().endsWith(c.shownEnd));
            EXPECT_EQ(resultLength, c.resultLength);
        }
    }
}

// Errors from keys reach the handler (see the error options above); one that
// fails itself is contained as well.
TEST(Errors, AHandlerThatThrowsIsContained) {
    Form form;
    TMathEdit edit(&form.window);
    edit.SetMathInterpreter(form.interpreter);
    edit.setText("nosuch");
    TMathExceptionHandler previous = SetMathExceptionHandler([](QWidget*, const std::exception&) { throw 1; });
    QTest::keyClick(&edit, Qt::Key_Return);
    SetMathExceptionHandler(previous);
    EXPECT_EQ(edit.text(), "nosuch");
}

TEST(Latin1, TextCrossesAsLatin1AndOtherCharactersAreAClearError) {
    Form form;
    TMathEdit edit(&form.window);
    edit.SetMathInterpreter(form.interpreter);
    edit.setMathErrorOptions(meoWriteExceptionMessage);
    const std::pair<QString, QString> cases[] = {
        {"DegToStr(45.5)", QString::fromUtf8("45°30'0\"")},
        {QString::fromUtf8("Length('ä°')"), "2"},
        {QString::fromUtf8("'a€'"), "The text holds a character that is not Latin-1 (U+20AC) at position: 3."},
    };
    for (const auto& [typed, shown] : cases) {
        edit.setText(typed);
        QTest::keyClick(&edit, Qt::Key_Return);
        EXPECT_EQ(edit.text(), shown);
    }
}

}  // namespace
}  // namespace zorvex
