// The Qt Designer plug-in: the widget group "Zorvex" and the interpreter's
// editors as task-menu verbs.
#pragma once

#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>
#include <QDesignerTaskMenuExtension>
#include <QDesignerPropertyEditorInterface>
#include <QExtensionFactory>
#include <QPointer>

class QDesignerFormWindowInterface;

namespace zorvex {

class TMathInterpreterWidget;

// One widget of the group.
class TMathWidgetEntry final : public QDesignerCustomWidgetInterface {
public:
    struct Info {
        const char* className;
        const char* displayName;
        const char* objectName;  // of a widget when dropped
        const char* toolTip;
        const char* whatsThis;
        const char* properties;      // as a .ui file writes them, with their initial values
        const char* specifications;  // of its string properties; null for a control's
    };
    explicit TMathWidgetEntry(const Info& info) : info_(info) {}

    QString name() const override { return QString::fromLatin1(info_.className); }
    QString group() const override { return QStringLiteral("Zorvex"); }
    QString toolTip() const override { return QString::fromLatin1(info_.toolTip); }
    QString whatsThis() const override { return QString::fromLatin1(info_.whatsThis); }
    QString includeFile() const override { return QStringLiteral("zorvex/MathControls.h"); }
    QIcon icon() const override;
    bool isContainer() const override { return false; }
    QWidget* createWidget(QWidget* parent) override;
    bool isInitialized() const override { return core_ != nullptr; }
    void initialize(QDesignerFormEditorInterface* core) override;
    QString domXml() const override;

private:
    Info info_;
    QDesignerFormEditorInterface* core_ = nullptr;
};

class TMathWidgetsPlugin final : public QObject, public QDesignerCustomWidgetCollectionInterface {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QDesignerCustomWidgetCollectionInterface")
    Q_INTERFACES(QDesignerCustomWidgetCollectionInterface)

public:
    explicit TMathWidgetsPlugin(QObject* parent = nullptr);
    ~TMathWidgetsPlugin() override;
    QList<QDesignerCustomWidgetInterface*> customWidgets() const override { return entries_; }

private:
    QList<QDesignerCustomWidgetInterface*> entries_;
};

// The verbs of an interpreter on a form: the component editor's three and
// the two property editors, which Designer has no other place for.
class TMathInterpreterComponentEditor final : public QObject, public QDesignerTaskMenuExtension {
    Q_OBJECT
    Q_INTERFACES(QDesignerTaskMenuExtension)

public:
    TMathInterpreterComponentEditor(TMathInterpreterWidget* component, QDesignerFormEditorInterface* core,
                                    QObject* parent);

    QAction* preferredEditAction() const override { return actions_.value(0); }
    QList<QAction*> taskActions() const override { return actions_; }

    static int GetVerbCount() { return 3; }
    static QString GetVerb(int index);
    void ExecuteVerb(int index);

private:
    void MathEditor();
    void LoadSymbols();
    void SaveSymbols();

    QPointer<TMathInterpreterWidget> component_;
    QDesignerFormEditorInterface* core_;
    QList<QAction*> actions_;
};

// Designer's property editor sets a property at each keystroke. The watch
// tells an interpreter that it is being typed for, and commits what was
// typed once the edit is done (Return, or the focus leaving the editor): an
// Expression then runs, and with its text is one step of the form's undo;
// a Symbols text that does not load is taken back with a message. It also
// keeps the display properties from being typed into.
class TMathTypingWatch final : public QObject {
public:
    explicit TMathTypingWatch(QDesignerFormEditorInterface* core);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What was typed for a widget since the form's undo index `start`.
    struct Typed {
        QPointer<TMathInterpreterWidget> widget;
        int start;
        bool expression;
        bool symbols;
    };

    bool InPropertyEditor(const QWidget* widget) const;
    bool IsValueEditor(const QWidget* widget) const;
    void FocusChanged(QWidget* old, QWidget* now);
    void PropertyChanged(const QString& name);
    void QueueCommit();
    void Commit(Typed typed);
    void RunTypedExpression(QDesignerFormWindowInterface& form, QPointer<TMathInterpreterWidget>& widget,
                            int start);

    QDesignerFormEditorInterface* core_;
    QPointer<QDesignerPropertyEditorInterface> editor_;
    QPointer<TMathInterpreterWidget> typing_;
    int start_ = 0;
    bool expressionTyped_ = false;
    bool symbolsTyped_ = false;
};

// Designer's stand-ins for the property editors of Expression and DumpText.
struct TMathExpressionProperty {
    static void Edit(TMathInterpreterWidget* component, QDesignerFormEditorInterface* core);
};
struct TMathDumpProperty {
    static void Edit(TMathInterpreterWidget* component);
};

class TMathInterpreterEditorFactory final : public QExtensionFactory {
    Q_OBJECT

public:
    TMathInterpreterEditorFactory(QDesignerFormEditorInterface* core, QExtensionManager* parent)
        : QExtensionFactory(parent), core_(core) {}

protected:
    QObject* createExtension(QObject* object, const QString& iid, QObject* parent) const override;

private:
    QDesignerFormEditorInterface* core_;
};

}  // namespace zorvex
