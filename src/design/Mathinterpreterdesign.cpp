// The Qt Designer plug-in. Every change a verb makes to an interpreter goes
// through the form window's cursor, so that the form turns modified, undo
// and redo work and the saved .ui file carries the new values.
#include "Mathinterpreterdesign.h"

#include <QAbstractItemView>
#include <QAction>
#include <QDesignerFormEditorInterface>
#include <QDesignerFormWindowCursorInterface>
#include <QDesignerFormWindowInterface>
#include <QDesignerPropertyEditorInterface>
#include <QExtensionManager>
#include <QPlainTextEdit>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <QUndoStack>

#include <array>
#include <functional>

#include "DialogSupport.h"
#include "zorvex/Editexpressionform.h"
#include "zorvex/Mathdumpform.h"
#include "zorvex/Matheditorform.h"

namespace zorvex {

namespace {

// ---------------------------------------------------------------- the group

// Each entry's domXml lists every property its class keeps in a .ui file,
// so that all of them are written from the first save on.
const TMathWidgetEntry::Info kEntries[] = {
    {"zorvex::TMathInterpreterWidget", "TMathInterpreter", "mathInterpreter",
     "TMathInterpreter: evaluates expressions and holds their symbols",
     "An expression interpreter. The controls bound to it run their text on it; its symbols are kept in the "
     "form. Hidden at run time. Double-click it to try expressions and edit its symbols.",
     R"(<property name="CaseSensitiveSymbols"><bool>false</bool></property>
  <property name="DumpFormat"><set>zorvex::TMathInterpreterWidget::dfQualified</set></property>
  <property name="EscapeChar"><char><unicode>0</unicode></char></property>
  <property name="MaxFunctionNesting"><UInt>1000</UInt></property>
  <property name="Symbols"><cstring></cstring></property>)",
     R"(<stringpropertyspecification name="Expression" notr="true" type="multiline"/>
    <stringpropertyspecification name="ExpressionResult" notr="true" type="singleline"/>
    <stringpropertyspecification name="DumpText" notr="true" type="singleline"/>)"},
    {"zorvex::TMathEdit", "TMathEdit", "mathEdit", "TMathEdit: a line edit that evaluates its text on Return",
     "A line edit bound to an interpreter (MathInterpreter): Return runs its text and shows the result.",
     R"(<property name="MathEditOptions"><set>zorvex::meoSelfUpdate|zorvex::meoExecuteOnReturn</set></property>
  <property name="MathErrorOptions"><set>zorvex::meoRaiseExceptions</set></property>
  <property name="MathInterpreter"><string notr="true"></string></property>
  <property name="AutoSelect"><bool>true</bool></property>)",
     nullptr},
    {"zorvex::TMathComboBox", "TMathComboBox", "mathComboBox",
     "TMathComboBox: a combo box that evaluates its text on Return and keeps a history",
     "An editable combo box bound to an interpreter (MathInterpreter): Return runs its text; the expressions "
     "run in it become its items.",
     R"(<property name="MathEditOptions"><set>zorvex::meoSelfUpdate|zorvex::meoExecuteOnReturn</set></property>
  <property name="MathErrorOptions"><set>zorvex::meoRaiseExceptions</set></property>
  <property name="MathHistoryOption"><enum>zorvex::mhoDeleteDuplicates</enum></property>
  <property name="MathInterpreter"><string notr="true"></string></property>)",
     nullptr},
    {"zorvex::TMathMemo", "TMathMemo", "mathMemo", "TMathMemo: a console that evaluates the caret's line on Return",
     "A plain-text console bound to an interpreter (MathInterpreter): Return runs the caret's line and writes "
     "the result at the bottom.",
     R"(<property name="MathErrorOptions"><set>zorvex::meoRaiseExceptions</set></property>
  <property name="MathInterpreter"><string notr="true"></string></property>
  <property name="MaxLength"><number>65536</number></property>)",
     nullptr},
    {"zorvex::TMathRichEdit", "TMathRichEdit", "mathRichEdit",
     "TMathRichEdit: a console with results and errors in fonts of their own",
     "A rich-text console bound to an interpreter (MathInterpreter): Return runs the caret's line; results and "
     "error messages show in their own fonts and colours.",
     R"(<property name="MathErrorFont"><font><bold>true</bold></font></property>
  <property name="MathErrorColor"><color><red>255</red><green>0</green><blue>0</blue></color></property>
  <property name="MathErrorOptions"><set>zorvex::meoWriteExceptionMessage</set></property>
  <property name="MathInterpreter"><string notr="true"></string></property>
  <property name="MathResultFont"><font><bold>true</bold></font></property>
  <property name="MathResultColor"><color><red>0</red><green>0</green><blue>255</blue></color></property>
  <property name="MathRichEditOptions"><set>zorvex::mroUseResultFont|zorvex::mroUseErrorFont</set></property>)",
     nullptr},
};

// A control names its interpreter by object name.
constexpr const char* kControlSpecifications =
    R"(<stringpropertyspecification name="MathInterpreter" notr="true" type="objectname"/>)";

void SetDesigning(QWidget* widget, QDesignerFormWindowInterface* form) {
    if (auto* interpreter = qobject_cast<TMathInterpreterWidget*>(widget)) {
        interpreter->SetDesigning(true);
    } else if (auto* control = dynamic_cast<TMathControl*>(widget)) {
        control->SetDesigning(true);
        // Interpreters dropped, removed, renamed, and undo and redo of all
        // that: the control shows what its name finds now, and a renamed
        // interpreter it found keeps it.
        QObject::connect(form, &QDesignerFormWindowInterface::changed, widget,
                         [control] { control->RefreshBinding(); });
    }
}

// ---------------------------------------------------------------- changes

// The interpreter's properties that a .ui file keeps, in the order a form
// sets them: the symbols last, read under the settings before them.
constexpr std::array<const char*, 5> kPersisted = {"CaseSensitiveSymbols", "DumpFormat", "EscapeChar",
                                                   "MaxFunctionNesting", "Symbols"};
using Persisted = std::array<QVariant, kPersisted.size()>;

Persisted Snapshot(const QObject& component) {
    Persisted values;
    for (std::size_t i = 0; i < kPersisted.size(); ++i) values[i] = component.property(kPersisted[i]);
    return values;
}

void Restore(QObject& component, const Persisted& values) {
    for (std::size_t i = 0; i < kPersisted.size(); ++i) component.setProperty(kPersisted[i], values[i]);
}

// Records what a verb changed on an interpreter of a form as one step of the
// form's undo: the widget goes back to `before`, then every change is made
// again through the form window's cursor, after `first`.
void RecordChange(TMathInterpreterWidget& component, const QString& what, const Persisted& before,
                  const Persisted& after,
                  const std::function<void(QDesignerFormWindowCursorInterface&)>& first = {}) {
    QDesignerFormWindowInterface* form = QDesignerFormWindowInterface::findFormWindow(&component);
    if (form == nullptr || (before == after && !first)) return;
    Restore(component, before);
    QDesignerFormWindowCursorInterface* cursor = form->cursor();
    constexpr std::size_t symbols = kPersisted.size() - 1;
    // Case sensitivity and the escape character change how the symbols read,
    // and switching case sensitivity off clears them: around such a change
    // the table is empty, so that undo and redo both load the symbols under
    // their own settings.
    const bool rereads = before[0] != after[0] || before[2] != after[2];
    form->beginCommand(what);
    if (first) first(*cursor);
    if (rereads) cursor->setWidgetProperty(&component, QString::fromLatin1(kPersisted[symbols]), QByteArray());
    for (std::size_t i = 0; i < symbols; ++i)
        if (before[i] != after[i]) cursor->setWidgetProperty(&component, QString::fromLatin1(kPersisted[i]), after[i]);
    if (rereads || before[symbols] != after[symbols])
        cursor->setWidgetProperty(&component, QString::fromLatin1(kPersisted[symbols]), after[symbols]);
    form->endCommand();
}

QWidget* DialogParent(QWidget& component) {
    if (QDesignerFormWindowInterface* form = QDesignerFormWindowInterface::findFormWindow(&component)) return form;
    return component.window();
}

}  // namespace

// ---------------------------------------------------------------- entries

QIcon TMathWidgetEntry::icon() const { return MathWidgetIcon(name()); }

QString TMathWidgetEntry::domXml() const {
    return QStringLiteral(R"(<ui language="c++" displayname="%1">
 <widget class="%2" name="%3">
  %4
 </widget>
 <customwidgets>
  <customwidget>
   <class>%2</class>
   <propertyspecifications>
    %5
   </propertyspecifications>
  </customwidget>
 </customwidgets>
</ui>)")
        .arg(QLatin1String(info_.displayName), QLatin1String(info_.className), QLatin1String(info_.objectName),
             QLatin1String(info_.properties),
             QLatin1String(info_.specifications ? info_.specifications : kControlSpecifications));
}

void TMathWidgetEntry::initialize(QDesignerFormEditorInterface* core) {
    if (core_ != nullptr || core == nullptr) return;
    core_ = core;
    if (name() == QLatin1String(kEntries[0].className) && core->extensionManager() != nullptr) {
        QExtensionManager* manager = core->extensionManager();
        manager->registerExtensions(new TMathInterpreterEditorFactory(core, manager),
                                    Q_TYPEID(QDesignerTaskMenuExtension));
        new TMathTypingWatch(core);
    }
}

QWidget* TMathWidgetEntry::createWidget(QWidget* parent) {
    QWidget* widget = CreateMathWidget(name(), parent);
    if (widget == nullptr || core_ == nullptr) return widget;
    // Designer also creates widgets for the widget box's drag image and for
    // previews: only those on a form window are being designed. A form being
    // loaded parents its widgets there later.
    if (QDesignerFormWindowInterface* form = parent ? QDesignerFormWindowInterface::findFormWindow(parent) : nullptr) {
        SetDesigning(widget, form);
    } else {
        QTimer::singleShot(0, widget, [widget] {
            if (QDesignerFormWindowInterface* form = QDesignerFormWindowInterface::findFormWindow(widget))
                SetDesigning(widget, form);
        });
    }
    return widget;
}

TMathWidgetsPlugin::TMathWidgetsPlugin(QObject* parent) : QObject(parent) {
    for (const TMathWidgetEntry::Info& info : kEntries) entries_.append(new TMathWidgetEntry(info));
}

TMathWidgetsPlugin::~TMathWidgetsPlugin() { qDeleteAll(entries_); }

QObject* TMathInterpreterEditorFactory::createExtension(QObject* object, const QString& iid, QObject* parent) const {
    if (iid != Q_TYPEID(QDesignerTaskMenuExtension)) return nullptr;
    if (auto* interpreter = qobject_cast<TMathInterpreterWidget*>(object))
        return new TMathInterpreterComponentEditor(interpreter, core_, parent);
    return nullptr;
}

// ---------------------------------------------------------------- typing

namespace {

// Designer's text for its own change of a property, as its undo stack shows it.
QString ChangedText(const char* property, const QWidget& widget) {
    return QCoreApplication::translate("Command", "Changed '%1' of '%2'")
        .arg(QLatin1String(property), widget.objectName());
}

// Takes back Designer's own steps for `property` of `widget` down to the
// stack's index `start`; returns how many went.
int UndoTypedSteps(QDesignerFormWindowInterface& form, const QWidget& widget, const char* property, int start) {
    QUndoStack& stack = *form.commandHistory();
    const QString text = ChangedText(property, widget);
    int steps = 0;
    while (stack.index() == stack.count() - steps && stack.index() > start &&
           stack.command(stack.index() - 1)->text() == text) {
        stack.undo();
        ++steps;
    }
    return steps;
}

}  // namespace

TMathTypingWatch::TMathTypingWatch(QDesignerFormEditorInterface* core) : QObject(core), core_(core) {
    connect(qApp, &QApplication::focusChanged, this, &TMathTypingWatch::FocusChanged);
    qApp->installEventFilter(this);
}

bool TMathTypingWatch::InPropertyEditor(const QWidget* widget) const {
    const QWidget* editor = core_->propertyEditor();
    // Across windows: the editor's own text dialog belongs to it.
    for (; widget != nullptr && editor != nullptr; widget = widget->parentWidget())
        if (widget == editor) return true;
    return false;
}

bool TMathTypingWatch::IsValueEditor(const QWidget* widget) const {
    // Within the list of properties, not the editor's filter field.
    for (; widget != nullptr && widget != editor_; widget = widget->parentWidget())
        if (qobject_cast<const QAbstractItemView*>(widget) != nullptr) return true;
    return false;
}

void TMathTypingWatch::FocusChanged(QWidget* old, QWidget* now) {
    // Designer sets up its property editor after the plug-ins.
    if (QDesignerPropertyEditorInterface* editor = core_->propertyEditor(); editor && editor != editor_) {
        editor_ = editor;
        connect(editor, &QDesignerPropertyEditorInterface::propertyChanged, this, &TMathTypingWatch::PropertyChanged);
    }
    if (typing_ && InPropertyEditor(old)) QueueCommit();
    TMathInterpreterWidget* target = nullptr;
    if (editor_ && InPropertyEditor(now)) target = qobject_cast<TMathInterpreterWidget*>(editor_->object());
    if (target != nullptr && !target->Designing()) target = nullptr;
    // The display properties take no typing in the editor of their value.
    const QString property = editor_ ? editor_->currentPropertyName() : QString();
    if (auto* line = qobject_cast<QLineEdit*>(now); line && target && IsValueEditor(line) &&
        (property == QLatin1String("DumpText") || property == QLatin1String("ExpressionResult")))
        line->setReadOnly(true);
    if (target == typing_) return;
    if (typing_) typing_->SetTyping(false);
    typing_ = target;
    if (typing_) {
        typing_->SetTyping(true);
        QDesignerFormWindowInterface* form = QDesignerFormWindowInterface::findFormWindow(typing_);
        start_ = form ? form->commandHistory()->index() : 0;
    }
}

void TMathTypingWatch::PropertyChanged(const QString& name) {
    // Designer tells of the changes typed (or set in its text dialog), not of
    // undo and redo.
    if (!typing_ || editor_->object() != typing_) return;
    if (name == QLatin1String("Expression")) expressionTyped_ = true;
    if (name == QLatin1String("Symbols")) symbolsTyped_ = true;
}

bool TMathTypingWatch::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && typing_ && watched->isWidgetType() &&
        InPropertyEditor(static_cast<QWidget*>(watched))) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) QueueCommit();
    }
    return QObject::eventFilter(watched, event);
}

void TMathTypingWatch::QueueCommit() {
    if (!expressionTyped_ && !symbolsTyped_) return;
    const Typed typed{typing_, start_, expressionTyped_, symbolsTyped_};
    expressionTyped_ = symbolsTyped_ = false;
    // After the event at hand: a message box must not come up inside it.
    QMetaObject::invokeMethod(this, [this, typed] { Commit(typed); }, Qt::QueuedConnection);
}

void TMathTypingWatch::Commit(Typed typed) {
    QPointer<TMathInterpreterWidget>& widget = typed.widget;
    QDesignerFormWindowInterface* form = widget ? QDesignerFormWindowInterface::findFormWindow(widget) : nullptr;
    if (form == nullptr) return;
    if (typed.symbols) {
        // Designer's steps of the typing become one; text that fails leaves
        // the table as it was, and no step behind.
        const std::optional<Exception> error = widget->TakeSymbolsError();
        const QByteArray text = widget->Symbols();
        if (UndoTypedSteps(*form, *widget, "Symbols", typed.start) > 0 && !error)
            form->cursor()->setWidgetProperty(widget, QStringLiteral("Symbols"), text);
        if (error) ShowMathException(widget, *error);
    }
    if (widget && typed.expression) RunTypedExpression(*form, widget, typed.start);
    if (!widget) return;
    if (widget == typing_) start_ = form->commandHistory()->index();
    if (editor_ && editor_->object() == widget) {
        for (const char* property : {"Expression", "ExpressionResult", "DumpText", "Symbols"})
            editor_->setPropertyValue(QLatin1String(property), widget->property(property), false);
    }
}

void TMathTypingWatch::RunTypedExpression(QDesignerFormWindowInterface& form,
                                          QPointer<TMathInterpreterWidget>& widget, int start) {
    // The typed text and what it does to the symbols become one step.
    const QString text = widget->Expression();
    UndoTypedSteps(form, *widget, "Expression", start);
    const QString untyped = widget->Expression();
    const Persisted before = Snapshot(*widget);
    widget->RunExpression(text);
    if (!widget) return;
    widget->setExpression(untyped);  // so that undo comes back to it
    RecordChange(*widget, ChangedText("Expression", *widget), before, Snapshot(*widget),
                 [&](QDesignerFormWindowCursorInterface& cursor) {
                     cursor.setWidgetProperty(widget, QStringLiteral("Expression"), text);
                 });
}

// ---------------------------------------------------------------- verbs

TMathInterpreterComponentEditor::TMathInterpreterComponentEditor(TMathInterpreterWidget* component,
                                                                 QDesignerFormEditorInterface* core,
                                                                 QObject* parent)
    : QObject(parent), component_(component), core_(core) {
    for (int index = 0; index < GetVerbCount(); ++index) {
        auto* verb = new QAction(GetVerb(index), this);
        connect(verb, &QAction::triggered, this, [this, index] { ExecuteVerb(index); });
        actions_.append(verb);
    }
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    actions_.append(separator);
    auto* expression = new QAction(QStringLiteral("Edit Expression..."), this);
    connect(expression, &QAction::triggered, this,
            [this] { ReportExceptions(component_, [this] { TMathExpressionProperty::Edit(component_, core_); }); });
    actions_.append(expression);
    auto* dump = new QAction(QStringLiteral("View dump..."), this);
    connect(dump, &QAction::triggered, this,
            [this] { ReportExceptions(component_, [this] { TMathDumpProperty::Edit(component_); }); });
    actions_.append(dump);
}

QString TMathInterpreterComponentEditor::GetVerb(int index) {
    switch (index) {
        case 0: return QStringLiteral("Math editor...");
        case 1: return QStringLiteral("Load symbols...");
        case 2: return QStringLiteral("Save symbols...");
        default: return {};
    }
}

void TMathInterpreterComponentEditor::ExecuteVerb(int index) {
    if (!component_) return;
    ReportExceptions(component_, [&] {
        switch (index) {
            case 0: MathEditor(); break;
            case 1: LoadSymbols(); break;
            case 2: SaveSymbols(); break;
            default: break;
        }
    });
}

void TMathInterpreterComponentEditor::MathEditor() {
    const Persisted before = Snapshot(*component_);
    QPointer<TfrmMathEditor> editor = new TfrmMathEditor(DialogParent(*component_));
    editor->MI = &component_->Interpreter();
    editor->exec();
    delete editor;
    if (component_) RecordChange(*component_, QStringLiteral("Math editor"), before, Snapshot(*component_));
}

void TMathInterpreterComponentEditor::LoadSymbols() {
    const QString fileName = PickSymbolsFile(DialogParent(*component_), QFileDialog::AcceptOpen);
    if (fileName.isEmpty() || !component_) return;
    const Persisted before = Snapshot(*component_);
    LoadSymbolsFromFileKeeping(component_->Interpreter(), fileName);
    RecordChange(*component_, QStringLiteral("Load symbols"), before, Snapshot(*component_));
}

void TMathInterpreterComponentEditor::SaveSymbols() {
    const QString fileName = PickSymbolsFile(DialogParent(*component_), QFileDialog::AcceptSave);
    if (fileName.isEmpty() || !component_) return;
    component_->Interpreter().SaveSymbolsToFile(RuntimeFileName(fileName));
}

void TMathExpressionProperty::Edit(TMathInterpreterWidget* component, QDesignerFormEditorInterface* core) {
    if (component == nullptr) return;
    QPointer<TMathInterpreterWidget> alive = component;
    QPointer<TfrmEditExpression> dialog = new TfrmEditExpression(DialogParent(*component));
    dialog->memExpression->setPlainText(component->Expression());
    const bool confirmed = dialog->exec() == QDialog::Accepted && dialog;
    const QString text = confirmed ? dialog->memExpression->toPlainText() : QString();
    delete dialog;
    if (!confirmed || !alive) return;
    // It runs once stored; what it does to the symbols is a change of the form.
    const Persisted before = Snapshot(*component);
    ReportExceptions(component, [&] { component->RunExpression(text); });
    if (!alive) return;
    RecordChange(*component, QStringLiteral("Edit Expression"), before, Snapshot(*component));
    if (core != nullptr && core->propertyEditor() != nullptr && core->propertyEditor()->object() == component)
        core->propertyEditor()->setObject(component);
}

void TMathDumpProperty::Edit(TMathInterpreterWidget* component) {
    if (component == nullptr) return;
    QPointer<TfrmMathDump> dialog = new TfrmMathDump(nullptr, DialogParent(*component));
    dialog->memDump->setPlainText(dialogs::MemoText(component->DumpText()));
    dialog->exec();
    delete dialog;
}

}  // namespace zorvex
