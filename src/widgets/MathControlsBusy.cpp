// Long evaluations on the GUI thread: the window stays alive, the user can
// stop them from the keyboard, and an interpreter whose widget goes meanwhile
// outlives the evaluation.
#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QPointer>
#include <QThread>
#include <QWidget>
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

// The runs under way, the innermost last: the interpreter, and the modal
// window that took input when the run began.
struct Run {
    TMathInterpreter* interpreter;
    QPointer<QWidget> modal;
};
std::vector<Run> running;
bool cursorShown = false;

void HideBusyCursor() {
    if (!cursorShown) return;
    QApplication::restoreOverrideCursor();
    cursorShown = false;
}

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
        // A window that came up during the run, as a host's unknown-symbol
        // handler may show to ask the user, takes input as usual.
        if (running.empty() || QApplication::activeModalWidget() != running.back().modal) {
            HideBusyCursor();
            return false;
        }
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
    for (const Run& run : running) run.interpreter->Interrupt();
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
    return interpreter.Evaluating() || BusyRun::Running(interpreter);
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
    running.push_back({&interpreter_, QApplication::activeModalWidget()});
    // A progress handler of the host's own is called as well, at its own
    // interval at the most, and comes back when the run ends.
    hostProgress_ = interpreter_.OnProgress();
    hostInterval_ = interpreter_.ProgressInterval();
    if (hostProgress_)
        interpreter_.SetOnProgress(
            [host = hostProgress_](TMathInterpreter& sender) {
                KeepAlive(sender);
                host(sender);
            },
            std::min(hostInterval_, kPaintIntervalMs));
    else
        interpreter_.SetOnProgress(KeepAlive, kPaintIntervalMs);
    if (filter == nullptr) {
        filter = new InputFilter;
        QCoreApplication::instance()->installEventFilter(filter);
    }
}

BusyRun::~BusyRun() {
    if (!active_) return;
    interpreter_.SetOnProgress(std::move(hostProgress_), hostInterval_);
    running.pop_back();
    if (running.empty()) {
        delete filter;
        filter = nullptr;
        HideBusyCursor();
    }
    if (!orphans.empty()) Reap();
}

bool BusyRun::Running(const TMathInterpreter& interpreter) {
    return std::any_of(running.begin(), running.end(),
                       [&](const Run& run) { return run.interpreter == &interpreter; });
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
