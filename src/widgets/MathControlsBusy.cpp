// Long evaluations on the GUI thread: the window stays alive, the user can
// stop them from the keyboard, and an interpreter whose widget goes meanwhile
// outlives the evaluation.
#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "MathControlsInternal.h"
#include "zorvex/MathInterpreter.h"

namespace zorvex::detail {

namespace {

constexpr std::uint32_t kPaintIntervalMs = 50;
constexpr int kReapIntervalMs = 20;

// The interpreters of the runs under way, the innermost last.
std::vector<TMathInterpreter*> running;
bool cursorShown = false;

bool IsStopKey(const QKeyEvent& key) {
    if (key.key() == Qt::Key_Escape) return true;
    const bool control = key.modifiers() & Qt::ControlModifier;
    return control && (key.key() == Qt::Key_C || key.key() == Qt::Key_Period);
}

void InterruptAll();

// Drops the user's input while a run lasts; the stop keys interrupt it.
class InputFilter final : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
            case QEvent::KeyPress:
                if (IsStopKey(*static_cast<QKeyEvent*>(event))) InterruptAll();
                return true;
            case QEvent::ShortcutOverride:
                // Accepted, so that no shortcut acts on the key.
                event->accept();
                return true;
            case QEvent::Close:
                if (!event->spontaneous()) return false;
                InterruptAll();
                event->ignore();
                return true;
            case QEvent::KeyRelease:
            case QEvent::Shortcut:
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::NonClientAreaMouseButtonPress:
            case QEvent::NonClientAreaMouseButtonRelease:
            case QEvent::NonClientAreaMouseButtonDblClick:
            case QEvent::Wheel:
            case QEvent::ContextMenu:
            case QEvent::InputMethod:
            case QEvent::TouchBegin:
            case QEvent::TouchUpdate:
            case QEvent::TouchEnd:
            case QEvent::TabletPress:
            case QEvent::TabletRelease:
            case QEvent::DragEnter:
            case QEvent::DragMove:
            case QEvent::Drop:
                return true;
            default:
                return false;
        }
    }
};

InputFilter* filter = nullptr;

// Escape stops every run under way, nested ones included.
void InterruptAll() {
    for (TMathInterpreter* interpreter : running) interpreter->Interrupt();
}

// Called by the interpreter about every kPaintIntervalMs of a long run.
void KeepAlive(TMathInterpreter&) {
    if (!cursorShown) {
        QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        cursorShown = true;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// ---------------------------------------------------------------- orphans

std::vector<std::unique_ptr<TMathInterpreter>> orphans;
QTimer* reaper = nullptr;

bool InUse(const TMathInterpreter& interpreter) {
    return interpreter.EvaluationDepth() > 0 || BusyRun::Running(interpreter);
}

void Reap() {
    std::erase_if(orphans, [](const std::unique_ptr<TMathInterpreter>& orphan) { return !InUse(*orphan); });
    if (orphans.empty() && reaper != nullptr) {
        reaper->deleteLater();
        reaper = nullptr;
    }
}

}  // namespace

BusyRun::BusyRun(TMathInterpreter& interpreter) : interpreter_(interpreter) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr ||
        QThread::currentThread() != QCoreApplication::instance()->thread())
        return;
    active_ = true;
    running.push_back(&interpreter_);
    // A progress handler of the host's own stays; it keeps its window alive.
    if (!interpreter_.Guard().HasProgress()) {
        interpreter_.SetOnProgress(KeepAlive, kPaintIntervalMs);
        ownsProgress_ = true;
    }
    if (filter == nullptr) {
        filter = new InputFilter;
        QCoreApplication::instance()->installEventFilter(filter);
    }
}

BusyRun::~BusyRun() {
    if (!active_) return;
    if (ownsProgress_) interpreter_.SetOnProgress(nullptr);
    running.pop_back();
    if (running.empty()) {
        delete filter;
        filter = nullptr;
        if (cursorShown) {
            QApplication::restoreOverrideCursor();
            cursorShown = false;
        }
    }
    if (!orphans.empty()) Reap();
}

bool BusyRun::Running(const TMathInterpreter& interpreter) {
    return std::find(running.begin(), running.end(), &interpreter) != running.end();
}

void DeleteWhenIdle(std::unique_ptr<TMathInterpreter> interpreter) {
    if (!interpreter || !InUse(*interpreter)) return;
    interpreter->Interrupt();
    orphans.push_back(std::move(interpreter));
    // Evaluations not under a BusyRun are seen to end by polling.
    if (reaper == nullptr && QCoreApplication::instance() != nullptr) {
        reaper = new QTimer;
        QObject::connect(reaper, &QTimer::timeout, Reap);
        reaper->start(kReapIntervalMs);
    }
}

}  // namespace zorvex::detail
