// Helpers shared by the widget tests.
#pragma once

#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>

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
inline const char* KindName(Kind kind) {
    switch (kind) {
        case Kind::Edit: return "TMathEdit";
        case Kind::Combo: return "TMathComboBox";
        case Kind::Memo: return "TMathMemo";
        case Kind::Rich: return "TMathRichEdit";
    }
    return "?";
}
constexpr Kind kAllKinds[] = {Kind::Edit, Kind::Combo, Kind::Memo, Kind::Rich};

// Type-independent access to a control of any kind.
struct AnyControl {
    QWidget* widget = nullptr;
    TMathControl* control = nullptr;
    Kind kind = Kind::Edit;

    static AnyControl Create(Kind kind, QWidget* parent) {
        QWidget* w = CreateMathWidget(KindName(kind), parent);
        return {w, dynamic_cast<TMathControl*>(w), kind};
    }
    QString Text() const {
        switch (kind) {
            case Kind::Edit: return static_cast<TMathEdit*>(widget)->text();
            case Kind::Combo: return static_cast<TMathComboBox*>(widget)->currentText();
            case Kind::Memo: return static_cast<TMathMemo*>(widget)->toPlainText();
            case Kind::Rich: return static_cast<TMathRichEdit*>(widget)->toPlainText();
        }
        return {};
    }
    void SetText(const QString& text) const {
        switch (kind) {
            case Kind::Edit: static_cast<TMathEdit*>(widget)->setText(text); break;
            case Kind::Combo: static_cast<TMathComboBox*>(widget)->setEditText(text); break;
            case Kind::Memo: static_cast<TMathMemo*>(widget)->setPlainText(text); break;
            case Kind::Rich: static_cast<TMathRichEdit*>(widget)->setPlainText(text); break;
        }
    }
    Variant Execute() const {
        switch (kind) {
            case Kind::Edit: return static_cast<TMathEdit*>(widget)->ExecuteExpression();
            case Kind::Combo: return static_cast<TMathComboBox*>(widget)->ExecuteExpression();
            case Kind::Memo: return static_cast<TMathMemo*>(widget)->ExecuteExpression();
            case Kind::Rich: return static_cast<TMathRichEdit*>(widget)->ExecuteExpression();
        }
        return {};
    }
    // Counts the AfterExecuteExpression signals from now on.
    std::shared_ptr<int> CountEvents() const {
        auto count = std::make_shared<int>(0);
        const auto bump = [count](QObject*, const Variant&) { ++*count; };
        switch (kind) {
            case Kind::Edit: QObject::connect(static_cast<TMathEdit*>(widget), &TMathEdit::AfterExecuteExpression, bump); break;
            case Kind::Combo: QObject::connect(static_cast<TMathComboBox*>(widget), &TMathComboBox::AfterExecuteExpression, bump); break;
            case Kind::Memo: QObject::connect(static_cast<TMathMemo*>(widget), &TMathMemo::AfterExecuteExpression, bump); break;
            case Kind::Rich: QObject::connect(static_cast<TMathRichEdit*>(widget), &TMathRichEdit::AfterExecuteExpression, bump); break;
        }
        return count;
    }
    void PressReturn(Qt::KeyboardModifiers modifiers = Qt::NoModifier) const {
        QTest::keyClick(widget, Qt::Key_Return, modifiers);
    }
};

}  // namespace zorvex::testing
