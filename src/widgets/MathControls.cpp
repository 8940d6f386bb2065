// What the controls share, the single-line controls, the error handler and
// the catalogue of widgets.
#include "zorvex/MathControls.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QStyleOptionComboBox>

#include <cstdio>
#include <exception>
#include <limits>
#include <stdexcept>

#include "InterpreterLink.h"
#include "MathControlsInternal.h"

namespace zorvex {

// ---------------------------------------------------------------- errors

namespace {

QString MessageOf(const std::exception& error) {
    if (const auto* own = dynamic_cast<const Exception*>(&error)) return FromLatin1(own->Message());
    return QString::fromLocal8Bit(error.what());
}

// In the role of the application's exception display.
void ShowInMessageBox(QWidget* sender, const std::exception& error) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        std::fprintf(stderr, "%s\n", MessageOf(error).toLocal8Bit().constData());
        return;
    }
    QMessageBox::critical(sender ? sender->window() : nullptr, QGuiApplication::applicationDisplayName(),
                          MessageOf(error));
}

TMathExceptionHandler& Handler() {
    static TMathExceptionHandler handler = ShowInMessageBox;
    return handler;
}

}  // namespace

TMathExceptionHandler SetMathExceptionHandler(TMathExceptionHandler handler) {
    TMathExceptionHandler previous = std::move(Handler());
    Handler() = handler ? std::move(handler) : TMathExceptionHandler(ShowInMessageBox);
    return previous;
}

void ShowMathException(QWidget* sender, const std::exception& error) {
    // A copy: the handler may install another while it runs.
    const TMathExceptionHandler handler = Handler();
    try {
        handler(sender, error);
    } catch (...) {
        // Nothing may leave through the event loop, not even the handler's own failure.
    }
}

void ReportExceptions(QWidget* sender, const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& error) {
        ShowMathException(sender, error);
    } catch (...) {
        ShowMathException(sender, std::runtime_error("Unknown exception."));
    }
}

std::string ToLatin1(const QString& text) {
    std::string bytes(static_cast<std::size_t>(text.size()), '\0');
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c > 0xFF) {
            throw ETypeError("The text holds a character that is not Latin-1 (U+" +
                                 QString::number(c, 16).toUpper().rightJustified(4, u'0').toStdString() +
                                 ") at position: " + std::to_string(i + 1) + ".",
                             static_cast<int>(i + 1));
        }
        bytes[static_cast<std::size_t>(i)] = static_cast<char>(c);
    }
    return bytes;
}

// ---------------------------------------------------------------- search

namespace detail {

namespace {

// The widgets directly below `parent`, without windows; a child being
// destroyed is already out of its parent's list.
template <typename F>
void ForEachChildWidget(const QWidget* parent, F&& f) {
    for (QObject* child : parent->children()) {
        if (child == nullptr || !child->isWidgetType()) continue;
        auto* widget = static_cast<QWidget*>(child);
        if (!widget->isWindow() && f(widget)) return;
    }
}

// As findChild: the children first, then their descendants.
TMathInterpreterWidget* FindBelow(const QWidget* root, const QString& name) {
    TMathInterpreterWidget* found = nullptr;
    ForEachChildWidget(root, [&](QWidget* child) {
        if (child->objectName() == name) found = qobject_cast<TMathInterpreterWidget*>(child);
        return found != nullptr;
    });
    if (found == nullptr) ForEachChildWidget(root, [&](QWidget* child) { return (found = FindBelow(child, name)); });
    return found;
}

// Qt Designer keeps the widgets removed from a form, for undo, in the form
// window around the form: a search stops before it.
bool IsDesignerFormWindow(const QWidget* widget) { return widget->inherits("QDesignerFormWindowInterface"); }

}  // namespace

void ForEachWidgetInWindow(QWidget* root, const std::function<void(QWidget*)>& visit) {
    ForEachChildWidget(root, [&](QWidget* child) {
        visit(child);
        ForEachWidgetInWindow(child, visit);
        return false;
    });
}

TMathInterpreterWidget* FindInterpreterWidget(const QWidget* control, const QString& name) {
    if (name.isEmpty()) return nullptr;
    for (const QWidget* below = control; !below->isWindow(); below = below->parentWidget()) {
        const QWidget* ancestor = below->parentWidget();
        if (ancestor == nullptr || IsDesignerFormWindow(ancestor)) break;
        if (TMathInterpreterWidget* found = FindBelow(ancestor, name)) return found;
    }
    return nullptr;
}

QString ShownText(const QString& text, qsizetype limit) {
    if (text.size() <= limit) return text;
    return text.left(limit) + QStringLiteral(" \u2026 (%1 characters)").arg(text.size());
}

}  // namespace detail

// ---------------------------------------------------------------- link

// The control's hold on its interpreter, and the name the property gave.
class TMathControl::Link final : public detail::InterpreterLink {
public:
    explicit Link(TMathControl& control) : control_(control) {}

    QString name;         // set through the property, until it is resolved
    bool byName = false;  // the interpreter was found by that name

protected:
    void Lost() override { control_.Detached(); }

private:
    TMathControl& control_;
};

TMathControl::TMathControl(QWidget* self, TMathErrorOptions errorOptions)
    : self_(self), link_(std::make_unique<Link>(*this)), errorOptions_(errorOptions) {
    // At design time an unbound control shows its name, also a new one.
    QObject::connect(self_, &QObject::objectNameChanged, self_, [this] {
        if (designing_ && MathInterpreter() == nullptr) ShowBinding(false);
    });
}

TMathControl::~TMathControl() {
    // Nobody is left to take the result of a run under way.
    if (running_ != nullptr) running_->Interrupt();
}

TMathInterpreter* TMathControl::MathInterpreter() const {
    if (link_->Interpreter() == nullptr && !link_->name.isEmpty()) {
        // uic creates the form's widgets in order, so the interpreter may
        // come after the control: look for it now.
        if (TMathInterpreterWidget* found = detail::FindInterpreterWidget(self_, link_->name)) {
            link_->Bind(&found->Interpreter());
            link_->byName = true;
            link_->name.clear();
        }
    }
    return link_->Interpreter();
}

TMathInterpreterWidget* TMathControl::MathInterpreterWidget() const {
    return TMathInterpreterWidget::FromInterpreter(MathInterpreter());
}

void TMathControl::SetMathInterpreter(TMathInterpreter* interpreter) {
    link_->Bind(interpreter);
    link_->name.clear();
    link_->byName = false;
    if (designing_) ShowBinding(interpreter != nullptr);
}

void TMathControl::SetMathInterpreter(TMathInterpreterWidget* interpreter) {
    SetMathInterpreter(interpreter ? &interpreter->Interpreter() : nullptr);
}

QString TMathControl::MathInterpreterName() const {
    if (TMathInterpreter* interpreter = link_->Interpreter()) {
        if (TMathInterpreterWidget* widget = TMathInterpreterWidget::FromInterpreter(interpreter))
            return widget->objectName();
        return FromLatin1(interpreter->Name());
    }
    return link_->name;
}

void TMathControl::setMathInterpreter(const QString& objectName) {
    link_->Bind(nullptr);
    link_->name = objectName;
    link_->byName = false;
    if (designing_) ShowBinding(MathInterpreter() != nullptr);
}

void TMathControl::RefreshBinding() {
    if (link_->Interpreter() == nullptr || link_->byName)
        setMathInterpreter(MathInterpreterName());
    else if (designing_)
        ShowBinding(true);
}

void TMathControl::SetDesigning(bool value) {
    designing_ = value;
    if (designing_) ShowBinding(MathInterpreter() != nullptr);
}

void TMathControl::Detached() {
    link_->name.clear();
    link_->byName = false;
    if (designing_) ShowBinding(false);
}

TMathControl::Outcome TMathControl::Run(TMathInterpreter& interpreter, const QString& text, Variant& res,
                                        const std::function<void(const QString&)>& writeMessage) {
    // The run keeps the window alive, so anything may happen meanwhile,
    // the end of this control included.
    const QPointer<QWidget> alive(self_);
    struct Running {
        Running(TMathControl& c, TMathInterpreter& interpreter, const QPointer<QWidget>& a)
            : control(c), alive(a), outer(c.running_) {
            control.running_ = &interpreter;
        }
        ~Running() {
            if (alive) control.running_ = outer;
        }
        TMathControl& control;
        const QPointer<QWidget>& alive;
        TMathInterpreter* outer;
    };
    std::exception_ptr error;
    QString message;
    {
        const Running running(*this, interpreter, alive);
        detail::BusyRun busy(interpreter);
        try {
            res = interpreter.ExecuteExpression(ToLatin1(text));
        } catch (const Exception& e) {
            error = std::current_exception();
            message = FromLatin1(e.Message());
        }
    }
    if (!alive) return Outcome::Gone;
    if (!error) return Outcome::Done;
    if (errorOptions_ & meoWriteExceptionMessage) writeMessage(message);
    if (errorOptions_ & meoRaiseExceptions) std::rethrow_exception(error);
    return Outcome::Failed;
}

void TMathControl::RunFromEvent(const std::function<void()>& action) { ReportExceptions(self_, action); }

bool TMathControl::IsReturnKey(const QKeyEvent* event) {
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

// ---------------------------------------------------------------- edit

namespace {

// Longer results show shortened: a line edit lays out a million characters
// for seconds.
constexpr qsizetype kLineShown = 100000;

}  // namespace

TMathEdit::TMathEdit(QWidget* parent) : QLineEdit(parent), TMathControl(this, meoRaiseExceptions) {
    // Qt's default of 32767 would cut long expressions and results silently.
    setMaxLength(std::numeric_limits<int>::max());
}

TMathEdit::~TMathEdit() = default;

Variant TMathEdit::ExecuteExpression() {
    TMathInterpreter* interpreter = MathInterpreter();
    if (interpreter == nullptr) return Variant();
    Variant res;
    switch (Run(*interpreter, text(), res, [this](const QString& message) { setText(message); })) {
        case Outcome::Gone: return res;
        case Outcome::Failed: return Variant();
        case Outcome::Done: break;
    }
    if (editOptions_ & meoSelfUpdate) setText(detail::ShownText(FromLatin1(VarToStr(res)), kLineShown));
    if (autoSelect_) selectAll();
    DoAfterExecuteExpression(res);
    return res;
}

void TMathEdit::DoAfterExecuteExpression(const Variant& res) { emit AfterExecuteExpression(this, res); }

void TMathEdit::keyPressEvent(QKeyEvent* event) {
    QLineEdit::keyPressEvent(event);
    if (IsReturnKey(event) && (editOptions_ & meoExecuteOnReturn)) RunFromEvent([this] { ExecuteExpression(); });
}

void TMathEdit::ShowBinding(bool bound) {
    if (bound)
        clear();
    else
        setText(objectName());
}

// ---------------------------------------------------------------- combo box

TMathComboBox::TMathComboBox(QWidget* parent) : QComboBox(parent), TMathControl(this, meoRaiseExceptions) {
    setEditable(true);
    lineEdit()->setMaxLength(std::numeric_limits<int>::max());
    // The history is ours; completing from it would run an older expression
    // in place of the one typed.
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
}

TMathComboBox::~TMathComboBox() = default;

Variant TMathComboBox::ExecuteExpression() {
    TMathInterpreter* interpreter = MathInterpreter();
    if (interpreter == nullptr) return Variant();
    const QString expression = currentText();
    Variant res;
    switch (Run(*interpreter, expression, res, [this](const QString& message) { setEditText(message); })) {
        case Outcome::Gone: return res;
        case Outcome::Failed: return Variant();
        case Outcome::Done: break;
    }
    AddToHistory(expression);
    // No item is current, so changing the history leaves the text alone.
    setCurrentIndex(-1);
    setEditText((editOptions_ & meoSelfUpdate) ? detail::ShownText(FromLatin1(VarToStr(res)), kLineShown)
                                               : expression);
    lineEdit()->selectAll();
    DoAfterExecuteExpression(res);
    return res;
}

QSize TMathComboBox::sizeHint() const {
    constexpr int kCharacters = 17;  // as a line edit's
    QStyleOptionComboBox option;
    initStyleOption(&option);
    const QSize content(fontMetrics().horizontalAdvance(QLatin1Char('x')) * kCharacters, fontMetrics().height());
    const QSize wide = style()->sizeFromContents(QStyle::CT_ComboBox, &option, content, this);
    const QSize hint = QComboBox::sizeHint();
    return {std::max(hint.width(), wide.width()), hint.height()};
}

void TMathComboBox::AddToHistory(const QString& expression) {
    bool add = true;
    switch (historyOption_) {
        case mhoAllowDuplicates:
            break;
        case mhoPreventDuplicates:
            add = findText(expression, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0;
            break;
        case mhoDeleteDuplicates:
            for (int i = count() - 1; i >= 0; --i)
                if (itemText(i) == expression) removeItem(i);
            break;
    }
    if (add) insertItem(0, expression);
}

void TMathComboBox::DoAfterExecuteExpression(const Variant& res) { emit AfterExecuteExpression(this, res); }

void TMathComboBox::keyPressEvent(QKeyEvent* event) {
    QComboBox::keyPressEvent(event);
    if (IsReturnKey(event) && (editOptions_ & meoExecuteOnReturn)) RunFromEvent([this] { ExecuteExpression(); });
}

void TMathComboBox::ShowBinding(bool bound) {
    if (bound) {
        clear();
        clearEditText();
    } else {
        setCurrentIndex(-1);
        setEditText(objectName());
    }
}

// ---------------------------------------------------------------- catalogue

namespace {

QString Unqualified(const QString& className) {
    return className.startsWith(QLatin1String("zorvex::")) ? className.mid(8) : className;
}

}  // namespace

QStringList MathWidgetClassNames() {
    return {QStringLiteral("zorvex::TMathInterpreterWidget"), QStringLiteral("zorvex::TMathEdit"),
            QStringLiteral("zorvex::TMathComboBox"), QStringLiteral("zorvex::TMathMemo"),
            QStringLiteral("zorvex::TMathRichEdit")};
}

QWidget* CreateMathWidget(const QString& className, QWidget* parent) {
    const QString name = Unqualified(className);
    if (name == QLatin1String("TMathInterpreterWidget")) return new TMathInterpreterWidget(parent);
    if (name == QLatin1String("TMathEdit")) return new TMathEdit(parent);
    if (name == QLatin1String("TMathComboBox")) return new TMathComboBox(parent);
    if (name == QLatin1String("TMathMemo")) return new TMathMemo(parent);
    if (name == QLatin1String("TMathRichEdit")) return new TMathRichEdit(parent);
    return nullptr;
}

QIcon MathWidgetIcon(const QString& className) {
    QString name = Unqualified(className);
    if (name == QLatin1String("TMathInterpreterWidget")) name = QStringLiteral("TMathInterpreter");
    const QString path = QStringLiteral(":/zorvex/icons/%1.png").arg(name);
    return QFile::exists(path) ? QIcon(path) : QIcon();
}

}  // namespace zorvex
