// Helpers shared by the widget tests.
#pragma once

#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "zorvex/MathControls.h"

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace zorvex::testing {

// Records what reaches the application-wide exception handler meanwhile.
class ReportedErrors {
public:
    ReportedErrors() {
        previous_ = SetMathExceptionHandler(
            [this](QWidget*, const std::exception& error) { messages.push_back(error.what()); });
    }
    ~ReportedErrors() { SetMathExceptionHandler(previous_); }
    ReportedErrors(const ReportedErrors&) = delete;
    ReportedErrors& operator=(const ReportedErrors&) = delete;

    std::vector<std::string> messages;

private:
    TMathExceptionHandler previous_;
};

// A form holding an interpreter widget, as uic builds one.
struct Form {
    Form() {
        interpreter = new TMathInterpreterWidget(&window);
        interpreter->setObjectName("interpreter");
    }
    TMathInterpreter& Core() { return interpreter->Interpreter(); }

    QWidget window;
    TMathInterpreterWidget* interpreter;
};

// The four controls by kind, for tables that run a case on each.
enum class Kind { Edit, Combo, Memo, Rich };
constexpr Kind kAllKinds[] = {Kind::Edit, Kind::Combo, Kind::Memo, Kind::Rich};
inline const char* KindName(Kind kind) {
    static const char* const names[] = {"TMathEdit", "TMathComboBox", "TMathMemo", "TMathRichEdit"};
    return names[static_cast<int>(kind)];
}

// A control of any kind.
struct AnyControl {
    QWidget* widget = nullptr;
    TMathControl* control = nullptr;
    Kind kind = Kind::Edit;

    static AnyControl Create(Kind kind, QWidget* parent) {
        QWidget* w = CreateMathWidget(KindName(kind), parent);
        return {w, dynamic_cast<TMathControl*>(w), kind};
    }
    // Calls `f` with the control as its own class.
    template <typename F>
    auto Visit(F&& f) const {
        switch (kind) {
            case Kind::Edit: return f(*static_cast<TMathEdit*>(widget));
            case Kind::Combo: return f(*static_cast<TMathComboBox*>(widget));
            case Kind::Memo: return f(*static_cast<TMathMemo*>(widget));
            default: return f(*static_cast<TMathRichEdit*>(widget));
        }
    }
    // The same for the memo and the rich edit only.
    template <typename F>
    auto VisitConsole(F&& f) const {
        if (kind == Kind::Memo) return f(*static_cast<TMathMemo*>(widget));
        return f(*static_cast<TMathRichEdit*>(widget));
    }
    const char* TextProperty() const {
        return kind == Kind::Edit ? "text" : kind == Kind::Combo ? "currentText" : "plainText";
    }
    QString Text() const { return widget->property(TextProperty()).toString(); }
    void SetText(const QString& text) const { widget->setProperty(TextProperty(), text); }
    Variant Execute() const {
        return Visit([](auto& c) { return c.ExecuteExpression(); });
    }
    // Calls `f` with the result of each AfterExecuteExpression from now on.
    void OnResult(std::function<void(const Variant&)> f) const {
        Visit([&](auto& c) {
            using Control = std::remove_reference_t<decltype(c)>;
            return QObject::connect(&c, &Control::AfterExecuteExpression,
                                    [f](QObject*, const Variant& res) { f(res); });
        });
    }
    // Counts the AfterExecuteExpression signals from now on.
    std::shared_ptr<int> CountEvents() const {
        auto count = std::make_shared<int>(0);
        OnResult([count](const Variant&) { ++*count; });
        return count;
    }
    void PressReturn(Qt::KeyboardModifiers modifiers = Qt::NoModifier) const {
        QTest::keyClick(widget, Qt::Key_Return, modifiers);
    }
};

}  // namespace zorvex::testing
