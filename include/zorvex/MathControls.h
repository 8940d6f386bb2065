// Expression-aware Qt edit controls, and the interpreter as a widget that Qt
// Designer can place on a form. Library zorvex_widgets (Qt 6 Widgets).
#pragma once

#include <QColor>
#include <QComboBox>
#include <QFont>
#include <QIcon>
#include <QLineEdit>
#include <QMetaType>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTextEdit>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "zorvex/MathInterpreter.h"
#include "zorvex/Variant.h"

#if defined(_WIN32)
#  if defined(ZORVEX_BUILDING_WIDGETS)
#    define ZORVEX_WIDGETS_API __declspec(dllexport)
#  else
#    define ZORVEX_WIDGETS_API __declspec(dllimport)
#  endif
#else
#  define ZORVEX_WIDGETS_API __attribute__((visibility("default")))
#endif

class QKeyEvent;
class QMimeData;

namespace zorvex {

Q_NAMESPACE_EXPORT(ZORVEX_WIDGETS_API)

// Bit n of each set stands for its n-th member; the zero enumerators name
// the empty set, which .ui files could not carry otherwise.
enum TMathEditOption { meoNoEditOptions = 0x0, meoSelfUpdate = 0x1, meoExecuteOnReturn = 0x2 };
Q_DECLARE_FLAGS(TMathEditOptions, TMathEditOption)
Q_FLAG_NS(TMathEditOptions)

enum TMathErrorOption { meoNoErrorOptions = 0x0, meoRaiseExceptions = 0x1, meoWriteExceptionMessage = 0x2 };
Q_DECLARE_FLAGS(TMathErrorOptions, TMathErrorOption)
Q_FLAG_NS(TMathErrorOptions)

enum TMathRichEditOption { mroNoRichEditOptions = 0x0, mroUseResultFont = 0x1, mroUseErrorFont = 0x2 };
Q_DECLARE_FLAGS(TMathRichEditOptions, TMathRichEditOption)
Q_FLAG_NS(TMathRichEditOptions)

enum TMathHistoryOption { mhoAllowDuplicates, mhoDeleteDuplicates, mhoPreventDuplicates };
Q_ENUM_NS(TMathHistoryOption)

// ---------------------------------------------------------------- errors

// Where errors go that must not cross Qt's event loop: an error a control
// passes on while handling a key, and the design-time failures of the
// interpreter widget. The default shows a message box.
using TMathExceptionHandler = std::function<void(QWidget* sender, const std::exception& error)>;

// Installs a handler for the whole application and returns the previous one;
// an empty handler restores the message box.
ZORVEX_WIDGETS_API TMathExceptionHandler SetMathExceptionHandler(TMathExceptionHandler handler);
// Passes an error to the installed handler. Never throws.
ZORVEX_WIDGETS_API void ShowMathException(QWidget* sender, const std::exception& error);
// Runs an action started by the user (a key, a button, a menu entry): what it
// throws goes to the handler, never into Qt's event loop.
ZORVEX_WIDGETS_API void ReportExceptions(QWidget* sender, const std::function<void()>& action);

// Text crosses to the runtime as Latin-1, one byte a character. A character
// beyond Latin-1 raises a zorvex::Exception naming it and its position.
ZORVEX_WIDGETS_API std::string ToLatin1(const QString& text);
inline QString FromLatin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

class TMathInterpreterWidget;

// ---------------------------------------------------------------- shared

// What the four controls share: the link to an interpreter, the error
// options and the design-time state. Each control is also a Qt widget.
class ZORVEX_WIDGETS_API TMathControl {
public:
    virtual ~TMathControl();
    TMathControl(const TMathControl&) = delete;
    TMathControl& operator=(const TMathControl&) = delete;

    // The interpreter the control runs its expressions with, or null. A name
    // set through the MathInterpreter property is resolved here, on first use.
    TMathInterpreter* MathInterpreter() const;
    // The widget when the interpreter belongs to one.
    TMathInterpreterWidget* MathInterpreterWidget() const;

    // Binds in code, to a core interpreter anywhere or to an interpreter
    // widget; null detaches. The control lets go when the interpreter is
    // destroyed.
    void SetMathInterpreter(TMathInterpreter* interpreter);
    void SetMathInterpreter(TMathInterpreterWidget* interpreter);

    // The MathInterpreter property: the object name of an interpreter widget
    // among the control's ancestors and their descendants, within its window.
    QString MathInterpreterName() const;
    void setMathInterpreter(const QString& objectName);
    // Looks for the interpreter the property names again, as after it was
    // set: one found by name that has gone out of reach (a form designer
    // removed it) is let go of, its name kept. A binding made in code stays.
    void RefreshBinding();

    // How a run ended: with a result, with an error the error rule dealt
    // with, or with the control deleted meanwhile, when nothing of it may be
    // touched any more.
    enum class Outcome { Done, Failed, Gone };

    TMathErrorOptions MathErrorOptions() const { return errorOptions_; }
    void setMathErrorOptions(TMathErrorOptions options) { errorOptions_ = options; }

    // Set while a form designer edits the control: the control then shows
    // its binding (empty when bound, its object name when not).
    bool Designing() const { return designing_; }
    void SetDesigning(bool value);

protected:
    TMathControl(QWidget* self, TMathErrorOptions errorOptions);

    // Runs `text` on `interpreter` under the error rule, as a run the user
    // started: the window keeps painting and Escape stops it.
    Outcome Run(TMathInterpreter& interpreter, const QString& text, Variant& res,
                const std::function<void(const QString&)>& writeMessage);
    // Runs a key's action; whatever it throws goes to the exception handler.
    void RunFromEvent(const std::function<void()>& action);
    static bool IsReturnKey(const QKeyEvent* event);

    // Shows the binding at design time: `bound` empties the control,
    // otherwise its text becomes its object name.
    virtual void ShowBinding(bool bound) = 0;

private:
    class Link;
    void Detached();

    QWidget* self_;
    std::unique_ptr<Link> link_;
    // The interpreter of the run under way, which the control's end stops.
    TMathInterpreter* running_ = nullptr;
    TMathErrorOptions errorOptions_;
    bool designing_ = false;
};

// ---------------------------------------------------------------- controls

// A line edit that runs its whole text on Return.
class ZORVEX_WIDGETS_API TMathEdit : public QLineEdit, public TMathControl {
    Q_OBJECT
    Q_PROPERTY(zorvex::TMathEditOptions MathEditOptions READ MathEditOptions WRITE setMathEditOptions)
    Q_PROPERTY(zorvex::TMathErrorOptions MathErrorOptions READ MathErrorOptions WRITE setMathErrorOptions)
    Q_PROPERTY(QString MathInterpreter READ MathInterpreterName WRITE setMathInterpreter)
    Q_PROPERTY(bool AutoSelect READ AutoSelect WRITE setAutoSelect)

public:
    explicit TMathEdit(QWidget* parent = nullptr);
    ~TMathEdit() override;

    TMathEditOptions MathEditOptions() const { return editOptions_; }
    void setMathEditOptions(TMathEditOptions options) { editOptions_ = options; }
    // Whether the text is selected after a run.
    bool AutoSelect() const { return autoSelect_; }
    void setAutoSelect(bool value) { autoSelect_ = value; }

    Variant ExecuteExpression();

signals:
    void AfterExecuteExpression(QObject* sender, const zorvex::Variant& res);

protected:
    virtual void DoAfterExecuteExpression(const Variant& res);
    void keyPressEvent(QKeyEvent* event) override;
    void ShowBinding(bool bound) override;

private:
    TMathEditOptions editOptions_ = TMathEditOptions(meoSelfUpdate | meoExecuteOnReturn);
    bool autoSelect_ = true;
};

// An editable combo box that runs its text on Return and keeps the
// expressions run in it as its items, the latest at index 0.
class ZORVEX_WIDGETS_API TMathComboBox : public QComboBox, public TMathControl {
    Q_OBJECT
    Q_PROPERTY(zorvex::TMathEditOptions MathEditOptions READ MathEditOptions WRITE setMathEditOptions)
    Q_PROPERTY(zorvex::TMathErrorOptions MathErrorOptions READ MathErrorOptions WRITE setMathErrorOptions)
    Q_PROPERTY(zorvex::TMathHistoryOption MathHistoryOption READ MathHistoryOption WRITE setMathHistoryOption)
    Q_PROPERTY(QString MathInterpreter READ MathInterpreterName WRITE setMathInterpreter)

public:
    explicit TMathComboBox(QWidget* parent = nullptr);
    ~TMathComboBox() override;

    TMathEditOptions MathEditOptions() const { return editOptions_; }
    void setMathEditOptions(TMathEditOptions options) { editOptions_ = options; }
    TMathHistoryOption MathHistoryOption() const { return historyOption_; }
    void setMathHistoryOption(TMathHistoryOption option) { historyOption_ = option; }

    Variant ExecuteExpression();
    // As wide as a line edit, so that a name or an expression shows.
    QSize sizeHint() const override;

signals:
    void AfterExecuteExpression(QObject* sender, const zorvex::Variant& res);

protected:
    virtual void DoAfterExecuteExpression(const Variant& res);
    void keyPressEvent(QKeyEvent* event) override;
    void ShowBinding(bool bound) override;

private:
    void AddToHistory(const QString& expression);

    TMathEditOptions editOptions_ = TMathEditOptions(meoSelfUpdate | meoExecuteOnReturn);
    TMathHistoryOption historyOption_ = mhoDeleteDuplicates;
};

// A plain-text console: Return runs the caret's line and writes the result
// below, at the bottom.
class ZORVEX_WIDGETS_API TMathMemo : public QPlainTextEdit, public TMathControl {
    Q_OBJECT
    Q_PROPERTY(zorvex::TMathErrorOptions MathErrorOptions READ MathErrorOptions WRITE setMathErrorOptions)
    Q_PROPERTY(QString MathInterpreter READ MathInterpreterName WRITE setMathInterpreter)
    Q_PROPERTY(int MaxLength READ MaxLength WRITE setMaxLength)

public:
    explicit TMathMemo(QWidget* parent = nullptr);
    ~TMathMemo() override;

    // Most characters the user may type or paste (a line break counts one);
    // 0 for no limit. What the control writes itself is not limited.
    int MaxLength() const { return maxLength_; }
    void setMaxLength(int value) { maxLength_ = value < 0 ? 0 : value; }

    Variant ExecuteExpression();
    // Zero-based line of the caret, or of the selection's start.
    int SelLine() const;
    // Whether anything but CR, LF and blanks lies from the character before
    // the caret to the end.
    bool SomethingAfterSelStart() const;

signals:
    void AfterExecuteExpression(QObject* sender, const zorvex::Variant& res);

protected:
    virtual void DoAfterExecuteExpression(const Variant& res);
    void keyPressEvent(QKeyEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
    void ShowBinding(bool bound) override;

private:
    int Room() const;
    void CaretStep();

    int maxLength_ = 65536;
};

// A rich-text console: as the memo, with result and error lines in fonts
// and colours of their own.
class ZORVEX_WIDGETS_API TMathRichEdit : public QTextEdit, public TMathControl {
    Q_OBJECT
    Q_PROPERTY(QFont MathErrorFont READ MathErrorFont WRITE setMathErrorFont)
    Q_PROPERTY(QColor MathErrorColor READ MathErrorColor WRITE setMathErrorColor)
    Q_PROPERTY(zorvex::TMathErrorOptions MathErrorOptions READ MathErrorOptions WRITE setMathErrorOptions)
    Q_PROPERTY(QString MathInterpreter READ MathInterpreterName WRITE setMathInterpreter)
    Q_PROPERTY(QFont MathResultFont READ MathResultFont WRITE setMathResultFont)
    Q_PROPERTY(QColor MathResultColor READ MathResultColor WRITE setMathResultColor)
    Q_PROPERTY(zorvex::TMathRichEditOptions MathRichEditOptions READ MathRichEditOptions WRITE setMathRichEditOptions)

public:
    explicit TMathRichEdit(QWidget* parent = nullptr);
    ~TMathRichEdit() override;

    // The fonts apply only the attributes set in them (initially bold); the
    // rest follows the control's font.
    QFont MathErrorFont() const { return errorFont_; }
    void setMathErrorFont(const QFont& font) { errorFont_ = font; }
    QColor MathErrorColor() const { return errorColor_; }
    void setMathErrorColor(const QColor& color) { errorColor_ = color; }
    QFont MathResultFont() const { return resultFont_; }
    void setMathResultFont(const QFont& font) { resultFont_ = font; }
    QColor MathResultColor() const { return resultColor_; }
    void setMathResultColor(const QColor& color) { resultColor_ = color; }
    TMathRichEditOptions MathRichEditOptions() const { return richEditOptions_; }
    void setMathRichEditOptions(TMathRichEditOptions options) { richEditOptions_ = options; }

    Variant ExecuteExpression();
    int SelLine() const;
    bool SomethingAfterSelStart() const;

signals:
    void AfterExecuteExpression(QObject* sender, const zorvex::Variant& res);

protected:
    virtual void DoAfterExecuteExpression(const Variant& res);
    void keyPressEvent(QKeyEvent* event) override;
    void ShowBinding(bool bound) override;

private:
    void ColourStep(int line, const QFont& font, const QColor& color, bool use);

    QFont errorFont_;
    QColor errorColor_;
    QFont resultFont_;
    QColor resultColor_;
    TMathRichEditOptions richEditOptions_ = TMathRichEditOptions(mroUseResultFont | mroUseErrorFont);
};

// ---------------------------------------------------------------- interpreter

// A TMathInterpreter as a widget, so that a form designer can place it and
// a .ui file can carry its properties and symbols. Hidden at run time; at
// design time a small box with its icon.
class ZORVEX_WIDGETS_API TMathInterpreterWidget : public QWidget {
    Q_OBJECT

public:
    enum TDumpFormatOption { dfPlain = 0x0, dfDetailed = 0x1, dfQualified = 0x2 };
    Q_DECLARE_FLAGS(TDumpFormat, TDumpFormatOption)
    Q_FLAG(TDumpFormat)

private:
    Q_PROPERTY(bool CaseSensitiveSymbols READ CaseSensitiveSymbols WRITE setCaseSensitiveSymbols)
    Q_PROPERTY(TDumpFormat DumpFormat READ DumpFormat WRITE setDumpFormat)
    Q_PROPERTY(QString DumpText READ DumpText WRITE setDumpText STORED false)
    Q_PROPERTY(QChar EscapeChar READ EscapeChar WRITE setEscapeChar)
    Q_PROPERTY(QString Expression READ Expression WRITE setExpression STORED false)
    Q_PROPERTY(QString ExpressionResult READ ExpressionResult WRITE setExpressionResult STORED false)
    Q_PROPERTY(uint MaxFunctionNesting READ MaxFunctionNesting WRITE setMaxFunctionNesting)
    Q_PROPERTY(QByteArray Symbols READ Symbols WRITE setSymbols)

public:
    explicit TMathInterpreterWidget(QWidget* parent = nullptr);
    ~TMathInterpreterWidget() override;

    TMathInterpreter& Interpreter() { return *interpreter_; }
    const TMathInterpreter& Interpreter() const { return *interpreter_; }
    // The widget that owns a core interpreter, or null.
    static TMathInterpreterWidget* FromInterpreter(const TMathInterpreter* interpreter);

    bool CaseSensitiveSymbols() const;
    void setCaseSensitiveSymbols(bool value);
    TDumpFormat DumpFormat() const;
    void setDumpFormat(TDumpFormat value);
    QString DumpText() const;
    QChar EscapeChar() const;
    // A character beyond Latin-1 is refused through the exception handler.
    void setEscapeChar(QChar value);
    QString Expression() const;
    QString ExpressionResult() const;
    uint MaxFunctionNesting() const;
    void setMaxFunctionNesting(uint value);
    // The symbols text, in UTF-8 as .ui files carry it. Setting it clears the
    // table and runs the text; a failing entry goes to the exception handler
    // and leaves the entries before it (while designing: none of it).
    QByteArray Symbols() const;
    void setSymbols(const QByteArray& text);

    // As the core's: they throw, except while designing, when the error goes
    // to the exception handler. While designing, setting Expression only
    // tries it (see RunExpression).
    void setExpression(const QString& text);
    void setDumpText(const QString& text);
    void setExpressionResult(const QString& text);

    // A form designer sets Expression at each keystroke of its property
    // editor, and its undo and redo set it again. So while designing,
    // setting Expression tries it on a copy of the symbols, stopped after
    // half a second: ExpressionResult shows what it gives, and nothing else
    // changes. RunExpression stores the text and runs it on the interpreter
    // itself, as the designer does once the edit is committed: an error then
    // goes to the exception handler and its message becomes ExpressionResult,
    // and Escape stops a long run. Outside a designer it is setExpression.
    void RunExpression(const QString& text);

    // Set by a form designer while its property editor is typed into for
    // this widget. Symbols set while designing replace the table only when
    // the whole text loads, and otherwise leave it as it was; while typing,
    // such a text is kept for Symbols to read back and its error waits for
    // TakeSymbolsError (the designer reports it once the edit is done).
    bool Typing() const { return typing_; }
    void SetTyping(bool value) { typing_ = value; }
    // The error of the last Symbols text typed, if it did not load; cleared.
    std::optional<Exception> TakeSymbolsError();

    bool Designing() const;
    void SetDesigning(bool value);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Report(const std::exception& error);
    template <typename F>
    void RaiseUnlessDesigning(F&& f);
    QString TryExpression(const QString& text) const;

    std::unique_ptr<TMathInterpreter> interpreter_;
    bool typing_ = false;
    // A Symbols text typed that did not load, and why.
    std::optional<std::pair<QByteArray, Exception>> failedSymbols_;
    // While designing: the Expression last tried and what it gave, until it runs.
    std::optional<std::pair<QString, QString>> tried_;
    // The error of a design-time run, reported once the run is over.
    std::optional<Exception> runError_;
};

// ---------------------------------------------------------------- catalogue

// The class names of the interpreter widget and the four controls, as .ui
// files name them, in palette order.
ZORVEX_WIDGETS_API QStringList MathWidgetClassNames();
// Creates one of them by class name (with or without "zorvex::"), or null.
ZORVEX_WIDGETS_API QWidget* CreateMathWidget(const QString& className, QWidget* parent = nullptr);
// The 24x24 palette icon of a class ("TMathInterpreter" for the widget).
ZORVEX_WIDGETS_API QIcon MathWidgetIcon(const QString& className);

}  // namespace zorvex

Q_DECLARE_OPERATORS_FOR_FLAGS(zorvex::TMathEditOptions)
Q_DECLARE_OPERATORS_FOR_FLAGS(zorvex::TMathErrorOptions)
Q_DECLARE_OPERATORS_FOR_FLAGS(zorvex::TMathRichEditOptions)
Q_DECLARE_OPERATORS_FOR_FLAGS(zorvex::TMathInterpreterWidget::TDumpFormat)
Q_DECLARE_METATYPE(zorvex::Variant)
