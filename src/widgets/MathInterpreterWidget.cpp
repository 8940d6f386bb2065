// The interpreter as a widget: its published properties and "Symbols" as Qt
// properties, hidden at run time.
#include <QPainter>
#include <QStringDecoder>
#include <QStyleOption>
#include <QTimer>

#include "zorvex/MathControls.h"

namespace zorvex {

namespace {

// The core knows the widget that owns it, so a control bound to the core
// can name the widget.
class OwnedInterpreter final : public TMathInterpreter {
public:
    explicit OwnedInterpreter(TMathInterpreterWidget* face) : Face(face) {}
    TMathInterpreterWidget* const Face;
};

constexpr int kIconSize = 24;
// How long typing must pause before an expression's error is shown.
constexpr int kTypingPauseMs = 700;
constexpr int kBoxSize = kIconSize + 4;

}  // namespace

TMathInterpreterWidget::TMathInterpreterWidget(QWidget* parent)
    : QWidget(parent), interpreter_(std::make_unique<OwnedInterpreter>(this)) {
    interpreter_->ShowException = [this](const Exception& error) { ReportWhenTypingPauses(error.Message()); };
    connect(this, &QObject::objectNameChanged, this,
            [this](const QString& name) { interpreter_->SetName(name.toLatin1().toStdString()); });
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setToolTip(QStringLiteral("TMathInterpreter"));
    setVisible(false);
}

TMathInterpreterWidget::~TMathInterpreterWidget() {
    // The controls let go while this widget is still whole.
    interpreter_.reset();
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
        Report(Exception("TMathInterpreter.EscapeChar must be a Latin-1 character; it stays as it was."));
        return;
    }
    interpreter_->SetEscapeChar(static_cast<char>(value.unicode()));
}

QString TMathInterpreterWidget::Expression() const { return FromLatin1(interpreter_->Expression()); }

QString TMathInterpreterWidget::ExpressionResult() const { return FromLatin1(interpreter_->ExpressionResult()); }

uint TMathInterpreterWidget::MaxFunctionNesting() const { return interpreter_->MaxFunctionNesting(); }

void TMathInterpreterWidget::setMaxFunctionNesting(uint value) { interpreter_->SetMaxFunctionNesting(value); }

QByteArray TMathInterpreterWidget::Symbols() const { return FromLatin1(interpreter_->DumpStreamable()).toUtf8(); }

void TMathInterpreterWidget::setSymbols(const QByteArray& text) {
    // Undo, redo and reloading a form set it again: the table starts empty.
    try {
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString decoded = utf8(text);
        if (utf8.hasError()) throw Exception("The Symbols text is not valid UTF-8.");
        const std::string symbols = ToLatin1(decoded);
        interpreter_->ClearSymbols();
        TReader reader(symbols);
        interpreter_->ReadSymbols(reader);
    } catch (const std::exception& error) {
        Report(error);
    }
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
    RaiseUnlessDesigning([&] { interpreter_->SetExpression(ToLatin1(text)); });
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

void TMathInterpreterWidget::ReportWhenTypingPauses(const std::string& message) {
    pendingError_ = message;
    if (expressionError_ == nullptr) {
        expressionError_ = new QTimer(this);
        expressionError_->setSingleShot(true);
        connect(expressionError_, &QTimer::timeout, this, [this] {
            if (interpreter_->ExpressionResult() == pendingError_) Report(Exception(pendingError_));
        });
    }
    expressionError_->start(kTypingPauseMs);
}

}  // namespace zorvex
