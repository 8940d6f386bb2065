// The interpreter as a widget: its published properties and "Symbols" as Qt
// properties, hidden at run time.
#include <QPainter>
#include <QPointer>
#include <QStringDecoder>
#include <QStyleOption>

#include "MathControlsInternal.h"
#include "zorvex/MathControls.h"

namespace zorvex {

namespace {

// The core knows the widget that owns it, so a control bound to the core
// can name the widget.
class OwnedInterpreter final : public TMathInterpreter {
public:
    explicit OwnedInterpreter(TMathInterpreterWidget* face) : Face(face) {}
    TMathInterpreterWidget* Face;

    // The widget goes: whoever hears of the interpreter's end hears now,
    // also when an evaluation keeps the interpreter a little longer.
    void Orphan() {
        Face = nullptr;
        Destroying();
    }
};

constexpr int kIconSize = 24;
constexpr int kBoxSize = kIconSize + 4;
// How long a designer's try of an Expression may take.
constexpr std::uint32_t kTryLimitMs = 500;

}  // namespace

TMathInterpreterWidget::TMathInterpreterWidget(QWidget* parent)
    : QWidget(parent), interpreter_(std::make_unique<OwnedInterpreter>(this)) {
    interpreter_->ShowException = [this](const Exception& error) { runError_ = error; };
    connect(this, &QObject::objectNameChanged, this,
            [this](const QString& name) { interpreter_->SetName(name.toLatin1().toStdString()); });
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setToolTip(QStringLiteral("TMathInterpreter"));
    setVisible(false);
}

TMathInterpreterWidget::~TMathInterpreterWidget() {
    interpreter_->ShowException = nullptr;
    // Controls that name this widget and have not looked for it yet let go
    // of the name as the others do.
    detail::ForEachWidgetInWindow(window(), [this](QWidget* widget) {
        auto* control = dynamic_cast<TMathControl*>(widget);
        if (control != nullptr && control->MathInterpreterName() == objectName()) control->MathInterpreter();
    });
    // The controls let go while this widget is still whole; an evaluation
    // under way (this widget went in a nested event loop) keeps the
    // interpreter until it has stopped.
    static_cast<OwnedInterpreter&>(*interpreter_).Orphan();
    detail::DeleteWhenIdle(std::move(interpreter_));
}

TMathInterpreterWidget* TMathInterpreterWidget::FromInterpreter(const TMathInterpreter* interpreter) {
    const auto* owned = dynamic_cast<const OwnedInterpreter*>(interpreter);
    return owned ? owned->Face : nullptr;
}

bool TMathInterpreterWidget::CaseSensitiveSymbols() const { return interpreter_->CaseSensitiveSymbols(); }

void TMathInterpreterWidget::setCaseSensitiveSymbols(bool value) {
    // Switching it off clears the table, which fails during an evaluation.
    try {
        interpreter_->SetCaseSensitiveSymbols(value);
    } catch (const std::exception& error) {
        Report(error);
    }
}

TMathInterpreterWidget::TDumpFormat TMathInterpreterWidget::DumpFormat() const {
    return TDumpFormat(static_cast<int>(interpreter_->DumpFormat()));
}

void TMathInterpreterWidget::setDumpFormat(TDumpFormat value) {
    interpreter_->SetDumpFormat(static_cast<zorvex::TDumpFormat>(value.toInt() & (dfDetailed | dfQualified)));
}

QString TMathInterpreterWidget::DumpText() const { return FromLatin1(interpreter_->DumpText()); }

QChar TMathInterpreterWidget::EscapeChar() const {
    return QChar(static_cast<char16_t>(static_cast<unsigned char>(interpreter_->EscapeChar())));
}

void TMathInterpreterWidget::setEscapeChar(QChar value) {
    if (value.unicode() > 0xFF) {
        Report(ETypeError("TMathInterpreter.EscapeChar must be a Latin-1 character; it stays as it was."));
        return;
    }
    interpreter_->SetEscapeChar(static_cast<char>(value.unicode()));
}

QString TMathInterpreterWidget::Expression() const {
    return tried_ ? tried_->first : FromLatin1(interpreter_->Expression());
}

QString TMathInterpreterWidget::ExpressionResult() const {
    return tried_ ? tried_->second : FromLatin1(interpreter_->ExpressionResult());
}

uint TMathInterpreterWidget::MaxFunctionNesting() const { return interpreter_->MaxFunctionNesting(); }

void TMathInterpreterWidget::setMaxFunctionNesting(uint value) { interpreter_->SetMaxFunctionNesting(value); }

QByteArray TMathInterpreterWidget::Symbols() const {
    return failedSymbols_ ? failedSymbols_->first : FromLatin1(interpreter_->DumpStreamable()).toUtf8();
}

void TMathInterpreterWidget::setSymbols(const QByteArray& text) {
    failedSymbols_.reset();
    // Undo, redo and reloading a form set it again: the table starts empty.
    // A designer's text that fails leaves the table as it was; a form being
    // loaded keeps the entries before the failing one, as a symbols file does.
    const bool whole = Designing();
    try {
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString decoded = utf8(text);
        if (utf8.hasError()) throw ETypeError("The Symbols text is not valid UTF-8.");
        const std::string symbols = ToLatin1(decoded);
        const std::string before = whole ? interpreter_->DumpStreamable() : std::string();
        interpreter_->ClearSymbols();
        try {
            TReader reader(symbols);
            interpreter_->ReadSymbols(reader);
        } catch (...) {
            if (whole) {
                interpreter_->ClearSymbols();
                TReader reader(before);
                interpreter_->ReadSymbols(reader);
            }
            throw;
        }
    } catch (const Exception& error) {
        if (whole && typing_)
            failedSymbols_.emplace(text, error);
        else
            Report(error);
    } catch (const std::exception& error) {
        Report(error);
    }
}

std::optional<Exception> TMathInterpreterWidget::TakeSymbolsError() {
    std::optional<Exception> error;
    if (failedSymbols_) error = failedSymbols_->second;
    failedSymbols_.reset();
    return error;
}

template <typename F>
void TMathInterpreterWidget::RaiseUnlessDesigning(F&& f) {
    if (!Designing()) {
        f();
        return;
    }
    try {
        f();
    } catch (const std::exception& error) {
        Report(error);
    }
}

void TMathInterpreterWidget::setExpression(const QString& text) {
    if (!Designing()) {
        interpreter_->SetExpression(ToLatin1(text));
        return;
    }
    tried_.emplace(text, TryExpression(text));
}

QString TMathInterpreterWidget::TryExpression(const QString& text) const {
    try {
        const TMathInterpreter& core = *interpreter_;
        TMathInterpreter copy;
        copy.SetCaseSensitiveSymbols(core.CaseSensitiveSymbols());
        copy.SetDumpFormat(core.DumpFormat());
        copy.SetEscapeChar(core.EscapeChar());
        copy.SetMaxFunctionNesting(core.MaxFunctionNesting());
        copy.SetMemoryBudget(core.MemoryBudget());
        copy.SetOnUnknownSymbol(core.OnUnknownSymbol());
        TReader reader(core.DumpStreamable());
        copy.ReadSymbols(reader);
        copy.SetEvaluationTimeLimit(kTryLimitMs);
        return FromLatin1(VarToStr(copy.ExecuteExpression(ToLatin1(text))));
    } catch (const Exception& error) {
        return FromLatin1(error.Message());
    }
}

void TMathInterpreterWidget::RunExpression(const QString& text) {
    tried_.reset();
    if (!Designing()) {
        interpreter_->SetExpression(ToLatin1(text));
        return;
    }
    std::string bytes;
    try {
        bytes = ToLatin1(text);
    } catch (const Exception& error) {
        tried_.emplace(text, FromLatin1(error.Message()));
        Report(error);
        return;
    }
    const QPointer<TMathInterpreterWidget> alive(this);
    runError_.reset();
    {
        detail::BusyRun busy(*interpreter_);
        interpreter_->SetExpression(bytes);
    }
    // Reported once the run is over: while it lasts, input is not taken.
    if (alive && runError_) {
        const Exception error = *runError_;
        runError_.reset();
        Report(error);
    }
}

void TMathInterpreterWidget::setDumpText(const QString& text) {
    RaiseUnlessDesigning([&] { interpreter_->SetDumpText(ToLatin1(text)); });
}

void TMathInterpreterWidget::setExpressionResult(const QString& text) {
    RaiseUnlessDesigning([&] { interpreter_->SetExpressionResult(ToLatin1(text)); });
}

bool TMathInterpreterWidget::Designing() const { return interpreter_->Designing(); }

void TMathInterpreterWidget::SetDesigning(bool value) {
    interpreter_->SetDesigning(value);
    setVisible(value);
}

QSize TMathInterpreterWidget::sizeHint() const { return {kBoxSize, kBoxSize}; }

QSize TMathInterpreterWidget::minimumSizeHint() const { return sizeHint(); }

void TMathInterpreterWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionFrame frame;
    frame.initFrom(this);
    frame.lineWidth = 1;
    frame.frameShape = QFrame::Box;
    painter.fillRect(rect(), palette().button());
    style()->drawPrimitive(QStyle::PE_Frame, &frame, &painter, this);
    const QPixmap icon = MathWidgetIcon(QStringLiteral("TMathInterpreter")).pixmap(kIconSize, kIconSize);
    painter.drawPixmap((width() - kIconSize) / 2, (height() - kIconSize) / 2, icon);
}

void TMathInterpreterWidget::Report(const std::exception& error) { ShowMathException(this, error); }

}  // namespace zorvex
