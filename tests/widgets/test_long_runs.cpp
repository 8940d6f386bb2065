// Long evaluations in the controls: the window keeps painting while a busy
// cursor shows, Escape (Ctrl+C, Ctrl+.) stops the run with the symbols as
// they were, and what is typed meanwhile is dropped. The interpreter and the
// control may go in a nested event loop; the sanitizer build checks that
// nothing dangles.
#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>

#include "WidgetTestSupport.h"

namespace zorvex {
namespace {

using testing::AnyControl;
using testing::Form;
using testing::Kind;
using testing::kAllKinds;
using testing::KindName;

constexpr const char* kFib = "fib(n) := IfF(n < 2, n, fib(n-1) + fib(n-2))";
constexpr const char* kInterrupted = "TMathInterpreter.Interrupt() Evaluation interrupted.";

// Counts the paint events of a widget.
class Paints : public QObject {
public:
    explicit Paints(QWidget* widget) { widget->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++count;
        return false;
    }
};

TEST(LongRuns, AStopKeyEndsTheRunTheSymbolsStayAndWhatWasTypedIsDropped) {
    const std::pair<Qt::Key, Qt::KeyboardModifiers> stopKeys[] = {
        {Qt::Key_Escape, Qt::NoModifier}, {Qt::Key_C, Qt::ControlModifier}, {Qt::Key_Period, Qt::ControlModifier}};
    for (Kind kind : kAllKinds) {
        for (const auto& [key, modifiers] : stopKeys) {
            SCOPED_TRACE(std::string(KindName(kind)) + " key " + std::to_string(key));
            Form form;
            form.Core().Execute(std::string("x = 1; ") + kFib);
            AnyControl c = AnyControl::Create(kind, &form.window);
            c.control->SetMathInterpreter(form.interpreter);
            c.control->setMathErrorOptions(meoWriteExceptionMessage);
            form.window.show();
            c.widget->setFocus();
            c.SetText("fib(35)");
            Paints paints(c.widget);
            int paintsBefore = -1;
            Qt::CursorShape cursor = Qt::ArrowCursor;
            QTimer::singleShot(80, c.widget, [&] {
                paintsBefore = paints.count;
                c.widget->update();
            });
            QTimer::singleShot(250, c.widget, [&, key = key, modifiers = modifiers] {
                if (const QCursor* shown = QApplication::overrideCursor()) cursor = shown->shape();
                QTest::keyClicks(c.widget, "abc");
                QTest::keyClick(c.widget, Qt::Key_Return);
                QTest::keyClick(c.widget, key, modifiers);
            });
            const auto events = c.CountEvents();
            c.PressReturn();

            const bool console = kind == Kind::Memo || kind == Kind::Rich;
            EXPECT_EQ(c.Text(), console ? QString("fib(35)\n%1\n").arg(kInterrupted) : QString(kInterrupted));
            EXPECT_EQ(*events, 0);
            EXPECT_EQ(testing::Show(form.Core().GetVariables("x")), "1");
            EXPECT_EQ(form.Core().Dump(" ", 0), "x=1 fib(n):=IfF(n<2,n,fib(n-1)+fib(n-2))");
            EXPECT_EQ(cursor, Qt::WaitCursor);
            EXPECT_EQ(QApplication::overrideCursor(), nullptr);
            EXPECT_GT(paints.count, paintsBefore);
            // The next run is an ordinary one.
            c.SetText("x + 1");
            c.PressReturn();
            EXPECT_TRUE(c.Text().endsWith(console ? "2\n" : "2"));
        }
    }
}

// A host that keeps its own progress handler has it called during a
// control's run, and has it back afterwards.
TEST(LongRuns, TheHostsProgressHandlerIsCalledAndComesBack) {
    Form form;
    form.Core().Execute(kFib);
    int calls = 0;
    form.Core().SetOnProgress([&](TMathInterpreter& sender) {
        if (++calls == 3) sender.Interrupt();
    }, 20);
    AnyControl c = AnyControl::Create(Kind::Edit, &form.window);
    c.control->SetMathInterpreter(form.interpreter);
    c.control->setMathErrorOptions(meoWriteExceptionMessage);
    form.window.show();
    c.SetText("fib(35)");
    c.PressReturn();
    EXPECT_EQ(c.Text(), QString(kInterrupted));
    EXPECT_EQ(calls, 3);
    ASSERT_TRUE(static_cast<bool>(form.Core().OnProgress()));
    EXPECT_EQ(form.Core().ProgressInterval(), 20u);
}

// The interpreter widget, the control or both deleted while the run waits
// in an event loop: an unknown-symbol handler that processes events, or the
// loop that keeps a long run's window alive.
TEST(LongRuns, DeletingTheInterpreterOrTheControlMeanwhileIsSafe) {
    enum class Gone { Interpreter, Control, Both };
    for (bool inHandler : {true, false}) {
        for (Kind kind : kAllKinds) {
            for (Gone gone : {Gone::Interpreter, Gone::Control, Gone::Both}) {
                SCOPED_TRACE(std::string(KindName(kind)) + (inHandler ? " handler" : " long run") + " gone " +
                             std::to_string(static_cast<int>(gone)));
                Form form;
                form.Core().ExecuteExpression(kFib);
                QPointer<TMathInterpreterWidget> interpreter = form.interpreter;
                AnyControl c = AnyControl::Create(kind, &form.window);
                QPointer<QWidget> control = c.widget;
                c.control->setMathInterpreter("interpreter");
                c.control->setMathErrorOptions(meoWriteExceptionMessage);
                const auto deleteThem = [&] {
                    if (gone != Gone::Control) delete interpreter;
                    if (gone != Gone::Interpreter) delete control;
                };
                form.Core().SetOnUnknownSymbol([&](TMathInterpreter&, const std::string&, const Variant&, Variant& value) {
                    QTimer::singleShot(0, deleteThem);
                    QTest::qWait(20);
                    value = Variant(7);
                });
                if (!inHandler) QTimer::singleShot(120, deleteThem);
                c.SetText(inHandler ? "ask + 1" : "fib(35)");
                c.Execute();
                if (control) {
                    EXPECT_EQ(c.control->MathInterpreter(), nullptr);
                    EXPECT_EQ(c.control->MathInterpreterName(), "");
                    EXPECT_TRUE(c.Text().contains(inHandler ? "8" : kInterrupted)) << c.Text().toStdString();
                }
                EXPECT_EQ(interpreter.isNull(), gone != Gone::Control);
                QTest::qWait(50);
            }
        }
    }
}

// A host's own call, not through a control, in whose handler the widget goes.
TEST(LongRuns, AnInterpreterWhoseWidgetGoesDuringAHostsCallOutlivesTheCall) {
    Form form;
    auto* interpreter = form.interpreter;
    TMathInterpreter& core = interpreter->Interpreter();
    core.SetOnUnknownSymbol([&](TMathInterpreter&, const std::string&, const Variant&, Variant& value) {
        QTimer::singleShot(0, [&] { delete interpreter; });
        QTest::qWait(20);
        value = Variant(7);
    });
    EXPECT_EQ(testing::Show(core.ExecuteExpression("ask * 6")), "42");
    QTest::qWait(100);  // it goes once the call is over
}

// A host's unknown-symbol handler may ask the user: the dialog it shows
// during the run takes the keys typed into it.
TEST(LongRuns, ADialogThatAHandlerShowsDuringTheRunTakesInput) {
    Form form;
    TMathEdit edit(&form.window);
    edit.SetMathInterpreter(form.interpreter);
    form.window.show();
    form.Core().SetOnUnknownSymbol([](TMathInterpreter&, const std::string&, const Variant&, Variant& value) {
        QInputDialog ask;
        QTimer::singleShot(50, &ask, [&ask] {
            auto* line = ask.findChild<QLineEdit*>();
            QTest::keyClicks(line, "6");
            QTest::keyClick(line, Qt::Key_Return);
        });
        QTimer::singleShot(3000, &ask, &QInputDialog::reject);  // rather than hang
        ask.exec();
        value = Variant(ask.textValue().toInt());
    });
    edit.setText("rate * 7");
    QTest::keyClick(&edit, Qt::Key_Return);
    EXPECT_EQ(edit.text(), "42");
}

}  // namespace
}  // namespace zorvex
