// What the controls and the interpreter widget share inside the library.
#pragma once

#include <QString>

#include "zorvex/MathInterpreter.h"

#include <functional>
#include <memory>

class QWidget;

namespace zorvex {

class TMathInterpreter;
class TMathInterpreterWidget;

namespace detail {

// Calls `visit` for every widget below `root` that shares its window; child
// windows (dialogs, previews) are left out. Safe while widgets of the tree
// are being destroyed.
void ForEachWidgetInWindow(QWidget* root, const std::function<void(QWidget*)>& visit);

// The interpreter widget of that object name nearest to `control`: among the
// widgets below its parent, then below its grandparent, and so on up to its
// window. A form designer's form window ends the search as a window does.
TMathInterpreterWidget* FindInterpreterWidget(const QWidget* control, const QString& name);

// A result as a control shows it: longer than `limit` characters, its start
// and its full length.
QString ShownText(const QString& text, qsizetype limit);

// Brackets an evaluation that a user started from a widget on the GUI
// thread. While it lasts the window keeps painting, a busy cursor shows, and
// Escape, Ctrl+C or Ctrl+. interrupt it; other keys and clicks are dropped,
// so that nothing typed meanwhile is applied after it. Runs nest.
class BusyRun {
public:
    explicit BusyRun(TMathInterpreter& interpreter);
    ~BusyRun();
    BusyRun(const BusyRun&) = delete;
    BusyRun& operator=(const BusyRun&) = delete;

    // Whether an evaluation of `interpreter` runs under a BusyRun.
    static bool Running(const TMathInterpreter& interpreter);

private:
    TMathInterpreter& interpreter_;
    // The host's own progress handler, back when the run ends.
    TMathInterpreter::TProgressEvent hostProgress_;
    std::uint32_t hostInterval_ = 50;
    bool active_ = false;
};

// Deletes an interpreter whose owner goes. When an evaluation of it is still
// under way (the owner went in a nested event loop), the evaluation is
// interrupted and the interpreter deleted once it has ended.
void DeleteWhenIdle(std::unique_ptr<TMathInterpreter> interpreter);

}  // namespace detail
}  // namespace zorvex
