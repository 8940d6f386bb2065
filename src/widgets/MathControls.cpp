// What the controls share, the single-line controls, the error handler and
// the catalogue of widgets.
#include "zorvex/MathControls.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QMessageBox>

#include <cstdio>
#include <stdexcept>

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
            throw Exception("The text holds a character that is not Latin-1 (U+" +
                            QString::number(c, 16).toUpper().rightJustified(4, u'0').toStdString() +
                            ") at position: " + std::to_string(i + 1) + ".");
        }
        bytes[static_cast<std::size_t>(i)] = static_cast<char>(c);
    }
    return bytes;
}

// ---------------------------------------------------------------- link

// Hears of the interpreter's removal wherever the interpreter lives.
class TMathControl::Link final : public TComponent {
public:
    explicit Link(TMathControl& control) : control_(control) {}
    ~Link() override { Destroying(); }

    void Bind(TMathInterpreter* interpreter) {
        if (interpreter == interpreter_) return;
        if (interpreter_) RemoveFreeNotification(interpreter_);
        interpreter_ = interpreter;
        if (interpreter_) FreeNotification(interpreter_);
    }
    TMathInterpreter* Interpreter() const { return interpreter_; }

    QString name;  // set through the property, resolved on first use

protected:
    void Notification(TComponent* component, TOperation operation) override {
        TComponent::Notification(component, operation);
        if (operation == TOperation::opRemove && component != nullptr && component == interpreter_) {
            interpreter_ = nullptr;
            control_.Detached();
        }
    }

private:
    TMathControl& control_;
    TMathInterpreter* interpreter_ = nullptr;
};

TMathControl::TMathControl(QWidget* self, TMathErrorOptions errorOptions)
    : self_(self), link_(std::make_unique<Link>(*this)), errorOptions_(errorOptions) {
    // At design time an unbound control shows its name, also a new one.
    QObject::connect(self_, &QObject::objectNameChanged, self_, [this] {
        if (designing_ && MathInterpreterName().isEmpty()) ShowBinding(false);
    });
}

TMathControl::~TMathControl() = default;

TMathInterpreter* TMathControl::MathInterpreter() const {
    if (link_->Interpreter() == nullptr && !link_->name.isEmpty()) {
        // uic creates the form's widgets in order, so the interpreter may
        // come after the control: look for it now, among all the ancestors'.
        for (QWidget* ancestor = self_->parentWidget(); ancestor; ancestor = ancestor->parentWidget()) {
            if (auto* found = ancestor->findChild<TMathInterpreterWidget*>(link_->name)) {
                link_->Bind(&found->Interpreter());
                break;
            }
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
    if (designing_) ShowBinding(!objectName.isEmpty());
}

void TMathControl::SetDesigning(bool value) {
    designing_ = value;
    if (designing_) ShowBinding(!MathInterpreterName().isEmpty());
}

void TMathControl::Detached() {
    link_->name.clear();
    if (designing_) ShowBinding(false);
}

bool TMathControl::ApplyErrorRule(const std::function<void()>& run,
                                  const std::function<void(const QString&)>& writeMessage) {
    try {
        run();
        return true;
    } catch (const Exception& error) {
        if (errorOptions_ & meoWriteExceptionMessage) writeMessage(FromLatin1(error.Message()));
        if (errorOptions_ & meoRaiseExceptions) throw;
        return false;
    }
}

void TMathControl::RunFromEvent(const std::function<void()>& action) { ReportExceptions(self_, action); }

bool TMathControl::IsReturnKey(const QKeyEvent* event) {
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

// ---------------------------------------------------------------- edit

TMathEdit::TMathEdit(QWidget* parent) : QLineEdit(parent), TMathControl(this, meoRaiseExceptions) {}

TMathEdit::~TMathEdit() = default;

Variant TMathEdit::ExecuteExpression() {
    TMathInterpreter* interpreter = MathInterpreter();
    if (interpreter == nullptr) return Variant();
    Variant res;
    if (!ApplyErrorRule([&] { res = interpreter->ExecuteExpression(ToLatin1(text())); },
                        [this](const QString& message) { setText(message); }))
        return Variant();
    if (editOptions_ & meoSelfUpdate) setText(FromLatin1(VarToStr(res)));
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
    if (!ApplyErrorRule([&] { res = interpreter->ExecuteExpression(ToLatin1(expression)); },
                        [this](const QString& message) { setEditText(message); }))
        return Variant();
    AddToHistory(expression);
    // No item is current, so changing the history leaves the text alone.
    setCurrentIndex(-1);
    setEditText((editOptions_ & meoSelfUpdate) ? FromLatin1(VarToStr(res)) : expression);
    lineEdit()->selectAll();
    DoAfterExecuteExpression(res);
    return res;
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
