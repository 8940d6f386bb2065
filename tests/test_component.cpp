// The component layer: removal notices reach the owner's other components
// and those that asked, and the interpreter is still whole when they hear.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zorvex/Component.h"
#include "zorvex/MathInterpreter.h"

namespace zorvex {
namespace {

// Records the removal notices it hears and, like a control, lets go of the
// interpreter it is linked to; reading the interpreter then must still work.
class Listener : public TComponent {
public:
    explicit Listener(TComponent* owner = nullptr) : TComponent(owner) {}

    void Link(TMathInterpreter* interp) {
        linked = interp;
        if (interp) FreeNotification(interp);
    }

    TMathInterpreter* linked = nullptr;
    std::vector<std::string> heard;

protected:
    void Notification(TComponent* component, TOperation operation) override {
        TComponent::Notification(component, operation);
        if (operation != TOperation::opRemove || component != linked) return;
        heard.push_back(linked->Name() + ":" + std::to_string(linked->SymbolCount()));
        linked = nullptr;
    }
};

TMathInterpreter* NewInterpreter(TComponent* owner) {
    auto* interp = new TMathInterpreter(owner);
    interp->SetName("calc");
    interp->ExecuteExpression("x = 1");
    return interp;
}

TEST(Component, RemovalReachesSiblingsAndFreeNotifiedComponentsWhileTheInterpreterIsWhole) {
    struct Case {
        const char* name;
        bool sameOwner;
        bool askFreeNotification;
    };
    for (const Case& c : {Case{"sibling without asking", true, false}, Case{"sibling that asked", true, true},
                          Case{"elsewhere, asked", false, true}}) {
        SCOPED_TRACE(c.name);
        TComponent form;
        TComponent other;
        auto* listener = new Listener(c.sameOwner ? &form : &other);
        TMathInterpreter* interp = NewInterpreter(&form);
        listener->linked = interp;
        if (c.askFreeNotification) listener->Link(interp);
        delete interp;
        EXPECT_EQ(listener->linked, nullptr);
        EXPECT_EQ(listener->heard, std::vector<std::string>{"calc:1"});
        EXPECT_EQ(form.ComponentCount(), c.sameOwner ? 1 : 0);
    }
}

TEST(Component, OwnerTeardownInEitherOrderLeavesNoDanglingLink) {
    for (bool interpreterFirst : {true, false}) {
        SCOPED_TRACE(interpreterFirst ? "interpreter created first" : "listener created first");
        Listener outside;
        std::vector<std::string> heard;
        {
            TComponent form;
            TMathInterpreter* interp = interpreterFirst ? NewInterpreter(&form) : nullptr;
            auto* sibling = new Listener(&form);
            if (!interp) interp = NewInterpreter(&form);
            sibling->linked = interp;
            outside.Link(interp);
        }
        EXPECT_EQ(outside.linked, nullptr);
        EXPECT_EQ(outside.heard, std::vector<std::string>{"calc:1"});
    }
}

}  // namespace
}  // namespace zorvex
