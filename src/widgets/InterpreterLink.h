// A hold on one interpreter, wherever it lives, that lets go when the
// interpreter ends. The controls and the math editor each keep one.
#pragma once

#include "zorvex/Component.h"
#include "zorvex/MathInterpreter.h"

namespace zorvex::detail {

class InterpreterLink : public TComponent {
public:
    InterpreterLink() = default;
    ~InterpreterLink() override { Destroying(); }

    void Bind(TMathInterpreter* interpreter) {
        if (interpreter == interpreter_) return;
        if (interpreter_) RemoveFreeNotification(interpreter_);
        interpreter_ = interpreter;
        if (interpreter_) FreeNotification(interpreter_);
    }
    TMathInterpreter* Interpreter() const { return interpreter_; }

protected:
    // The interpreter has ended; the link has already let go of it.
    virtual void Lost() = 0;

    void Notification(TComponent* component, TOperation operation) override {
        TComponent::Notification(component, operation);
        if (operation == TOperation::opRemove && component != nullptr && component == interpreter_) {
            interpreter_ = nullptr;
            Lost();
        }
    }

private:
    TMathInterpreter* interpreter_ = nullptr;
};

}  // namespace zorvex::detail
