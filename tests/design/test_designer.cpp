// A whole Qt Designer in process, with the plug-in found as Designer finds
// it: an interpreter dropped onto a form, changed through its verbs, with
// the form's modified state, undo and redo, the saved .ui text, and that
// text loaded back by QUiLoader through the plug-in.
#include <QAction>
#include <QBuffer>
#include <QCheckBox>
#include <QClipboard>
#include <QDesignerComponents>
#include <QDesignerFormEditorInterface>
#include <QDesignerFormWindowCursorInterface>
#include <QDesignerFormWindowInterface>
#include <QDesignerFormWindowManagerInterface>
#include <QDesignerIntegration>
#include <QDesignerPropertyEditorInterface>
#include <QDesignerTaskMenuExtension>
#include <QExtensionManager>
#include <QLineEdit>
#include <QPushButton>
#include <QMainWindow>
#include <QPluginLoader>
#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTreeWidget>
#include <QUiLoader>
#include <QUndoStack>

#include "DesignTestSupport.h"
#include "zorvex/Editexpressionform.h"
#include "zorvex/Matheditorform.h"

namespace zorvex::testing {
namespace {

constexpr const char* kEmptyForm = R"(<ui version="4.0"><class>Form</class>
<widget class="QWidget" name="Form"><property name="geometry"><rect><x>0</x><y>0</y><width>300</width>
<height>200</height></rect></property></widget></ui>)";

// One Designer for the whole run, as Designer has one core: the plug-in's
// entries take the core they are first given. Its action editor stays out:
// it leaks a menu of its own, and nothing here uses actions.
class Core : public ::testing::Environment {
public:
    static QDesignerFormEditorInterface* Get() {
        if (core_ == nullptr) {
            main_ = new QMainWindow;
            core_ = QDesignerComponents::createFormEditor(nullptr);
            QDesignerComponents::createTaskMenu(core_, main_);
            QDesignerComponents::initializePlugins(core_);
            core_->setWidgetBox(QDesignerComponents::createWidgetBox(core_, main_));
            core_->setPropertyEditor(QDesignerComponents::createPropertyEditor(core_, main_));
            core_->setObjectInspector(QDesignerComponents::createObjectInspector(core_, main_));
            new QDesignerIntegration(core_, main_);
        }
        return core_;
    }
    // Before the application goes: the form windows, the tools, the core.
    void TearDown() override {
        delete main_;
        delete core_;
    }

private:
    static inline QMainWindow* main_ = nullptr;
    static inline QDesignerFormEditorInterface* core_ = nullptr;
};
[[maybe_unused]] ::testing::Environment* const kCore = ::testing::AddGlobalTestEnvironment(new Core);

// A form window of its own, in a window of its own.
class Designer {
public:
    Designer() : core_(Core::Get()) {
        form = core_->formWindowManager()->createFormWindow(&window_);
        form->setContents(QString::fromLatin1(kEmptyForm));
        core_->formWindowManager()->setActiveFormWindow(form);
        window_.setCentralWidget(form);
        window_.show();
    }
    ~Designer() { delete form; }

    // Drops an entry of the widget box onto the form, as a paste of its
    // entry does, and returns the new widget.
    template <typename W = TMathInterpreterWidget>
    W* Drop(int entry = 0) {
        QPluginLoader plugin(ZORVEX_DESIGN_PLUGIN);
        auto* collection = qobject_cast<QDesignerCustomWidgetCollectionInterface*>(plugin.instance());
        if (collection == nullptr) return nullptr;
        const QString xml = collection->customWidgets().value(entry)->domXml();
        const qsizetype start = xml.indexOf("<widget"), end = xml.indexOf("</widget>") + 9;
        QApplication::clipboard()->setText(R"(<ui version="4.0"><widget name="__qt_fake_top_level">)" +
                                           xml.mid(start, end - start) + "</widget></ui>");
        QApplication::processEvents();  // Designer enables Paste when it sees the clipboard change
        const QList<W*> before = form->mainContainer()->findChildren<W*>();
        core_->formWindowManager()->action(QDesignerFormWindowManagerInterface::PasteAction)->trigger();
        QApplication::processEvents();
        for (W* widget : form->mainContainer()->findChildren<W*>())
            if (!before.contains(widget)) return widget;
        return nullptr;
    }
    TMathInterpreterWidget* DropInterpreter() { return Drop(); }
    // An interpreter with these symbols, dropped with no step of undo.
    TMathInterpreterWidget* DropInterpreter(const QByteArray& symbols) {
        TMathInterpreterWidget* interpreter = Drop();
        if (interpreter) interpreter->setSymbols(symbols);
        steps = form->commandHistory()->count();
        return interpreter;
    }
    int steps = 0;
    void Select(QWidget* widget) {
        form->clearSelection();
        form->selectWidget(widget, true);
        core_->propertyEditor()->setObject(widget);
    }
    // The property editor's row of a property of `widget`.
    QTreeWidgetItem* PropertyRow(QWidget* widget, const char* property) {
        Select(widget);
        QWidget* tools = core_->propertyEditor()->window();
        tools->show();
        tools->activateWindow();
        [[maybe_unused]] const bool active = QTest::qWaitForWindowActive(tools);
        auto* tree = core_->propertyEditor()->findChild<QTreeWidget*>();
        const auto rows = tree ? tree->findItems(property, Qt::MatchRecursive | Qt::MatchExactly, 0)
                               : QList<QTreeWidgetItem*>();
        return rows.value(0);
    }
    // Starts editing a property in the property editor, as a click on its
    // value does, and gives the editor's text field the focus.
    QLineEdit* EditProperty(QWidget* widget, const char* property) {
        QTreeWidgetItem* row = PropertyRow(widget, property);
        if (row == nullptr) return nullptr;
        QTreeWidget* tree = row->treeWidget();
        tree->setCurrentItem(row, 1);
        tree->editItem(row, 1);
        QApplication::processEvents();
        for (auto* line : tree->viewport()->findChildren<QLineEdit*>()) {
            if (!line->isVisible()) continue;
            line->setFocus();
            QApplication::processEvents();
            return line;
        }
        return nullptr;
    }
    // Moves the focus out of the property editor, as a click on the form does.
    void LeaveEditor() {
        window_.activateWindow();
        [[maybe_unused]] const bool active = QTest::qWaitForWindowActive(&window_);
        form->setFocus();
        QApplication::processEvents();
        QApplication::processEvents();
    }
    QDesignerFormEditorInterface* Core() const { return core_; }
    void Run(QWidget* widget, const QString& verb) {
        auto* menu = qt_extension<QDesignerTaskMenuExtension*>(core_->extensionManager(), widget);
        ASSERT_NE(menu, nullptr);
        for (QAction* action : menu->taskActions())
            if (action->text() == verb) return action->trigger();
        ADD_FAILURE() << "no verb " << verb.toStdString();
    }
    // The Symbols text of the form as saved.
    QString SavedSymbols() const {
        const QRegularExpression symbols(R"(<property name="Symbols">\s*<cstring>([^<]*)</cstring>)");
        const auto match = symbols.match(form->contents());
        return match.hasMatch() ? match.captured(1) : QString("<none>");
    }

    QDesignerFormWindowInterface* form = nullptr;

private:
    QDesignerFormEditorInterface* core_;
    QMainWindow window_;
};

std::string SymbolsOf(TMathInterpreterWidget* interpreter) { return interpreter->Interpreter().Dump(" ", 0); }

TEST(DesignerInProcess, LoadSymbolsMarksTheFormModifiedUndoesAndIsSaved) {
    Files files;
    const QString good = files.Write("good.txt", "x=1;\r\nf(a):=a+x;\r\nt='20\xB0'");
    Designer designer;
    TMathInterpreterWidget* interpreter = designer.DropInterpreter();
    ASSERT_NE(interpreter, nullptr);
    EXPECT_TRUE(interpreter->Designing());
    QUndoStack& history = *designer.form->commandHistory();
    designer.form->setDirty(false);
    const int steps = history.count();

    CancelDialog();
    designer.Run(interpreter, "Load symbols...");
    EXPECT_FALSE(designer.form->isDirty());
    {
        ReportedErrors errors;
        ChooseFile(files.Write("bad.txt", kFailsMidway));
        designer.Run(interpreter, "Load symbols...");
        EXPECT_EQ(errors.messages.size(), 1u);
        EXPECT_FALSE(designer.form->isDirty());
        EXPECT_EQ(history.count(), steps);
    }

    ChooseFile(good);
    designer.Run(interpreter, "Load symbols...");
    EXPECT_TRUE(designer.form->isDirty());
    EXPECT_EQ(history.count(), steps + 1);
    EXPECT_EQ(SymbolsOf(interpreter), "x=1 f(a):=a+x t='20\xB0'");
    EXPECT_EQ(designer.SavedSymbols().remove('\r').remove('\n'), QString::fromUtf8("x=1;f(a):=a+x;t='20°'"));
    for (const char* property : {"CaseSensitiveSymbols", "DumpFormat", "EscapeChar", "MaxFunctionNesting"})
        EXPECT_TRUE(designer.form->contents().contains(QString("<property name=\"%1\">").arg(property))) << property;

    // The saved form, loaded at run time: QUiLoader finds the widget through the plug-in.
    QUiLoader loader;
    QBuffer ui;
    ui.setData(designer.form->contents().toUtf8());
    ui.open(QIODevice::ReadOnly);
    std::unique_ptr<QWidget> loaded(loader.load(&ui));
    ASSERT_NE(loaded, nullptr) << loader.errorString().toStdString();
    auto* copy = loaded->findChild<TMathInterpreterWidget*>(interpreter->objectName());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(SymbolsOf(copy), "x=1 f(a):=a+x t='20\xB0'");
    EXPECT_FALSE(copy->Designing());

    history.undo();
    EXPECT_EQ(SymbolsOf(interpreter), "");
    history.redo();
    EXPECT_EQ(SymbolsOf(interpreter), "x=1 f(a):=a+x t='20\xB0'");

    designer.form->setDirty(false);
    ChooseFile(files.Path("saved.txt"));
    designer.Run(interpreter, "Save symbols...");
    EXPECT_FALSE(designer.form->isDirty());
    EXPECT_EQ(files.Read("saved.txt"), "x=1;\r\nf(a):=a+x;\r\nt='20\xB0'");
}

// What the math editor changed is one step: undone, the symbols come back
// under the settings they were read with.
TEST(DesignerInProcess, MathEditorAndEditExpressionChangesAreOneStepOfUndoEach) {
    Designer designer;
    TMathInterpreterWidget* interpreter = designer.DropInterpreter();
    ASSERT_NE(interpreter, nullptr);
    interpreter->setSymbols("X=1;\r\ns='a#b'");
    QUndoStack& history = *designer.form->commandHistory();
    designer.form->setDirty(false);
    const int steps = history.count();

    Answer<TfrmMathEditor>([](TfrmMathEditor& editor) {
        QTest::keyClicks(editor.mreExecute, "y = X + 1");
        QTest::keyClick(editor.mreExecute, Qt::Key_Return);
        editor.PC->setCurrentWidget(editor.tsProperties);
        editor.chkCaseSensitiveSymbols->setChecked(true);
        editor.edEscapeChar->setText("#");
        editor.edMaxFunctionNesting->setText("50");
        editor.close();
    });
    designer.Run(interpreter, "Math editor...");
    const std::string after = "X=1 s='a##b' y=2";  // '#' now escapes
    EXPECT_EQ(SymbolsOf(interpreter), after);
    EXPECT_TRUE(interpreter->CaseSensitiveSymbols());
    EXPECT_EQ(interpreter->EscapeChar(), QChar('#'));
    EXPECT_EQ(interpreter->MaxFunctionNesting(), 50u);
    EXPECT_TRUE(designer.form->isDirty());
    ASSERT_EQ(history.count(), steps + 1);
    EXPECT_EQ(history.undoText(), "Math editor");

    history.undo();
    EXPECT_EQ(SymbolsOf(interpreter), "X=1 s='a#b'");
    EXPECT_FALSE(interpreter->CaseSensitiveSymbols());
    EXPECT_EQ(interpreter->EscapeChar(), QChar(0));
    EXPECT_EQ(interpreter->MaxFunctionNesting(), 1000u);
    history.redo();
    EXPECT_EQ(SymbolsOf(interpreter), after);
    EXPECT_TRUE(interpreter->CaseSensitiveSymbols());

    Answer<TfrmEditExpression>([](TfrmEditExpression& dialog) {
        dialog.memExpression->setPlainText("z = y * 10");
        dialog.btnOK->click();
    });
    designer.Run(interpreter, "Edit Expression...");
    EXPECT_EQ(SymbolsOf(interpreter), after + " z=20");
    EXPECT_EQ(interpreter->ExpressionResult(), "20");
    EXPECT_EQ(history.undoText(), "Edit Expression");
    history.undo();
    EXPECT_EQ(SymbolsOf(interpreter), after);
}

TEST(DesignerInProcess, AFormClosedUnderAnOpenDialogTakesTheDialogAlong) {
    for (const char* verb : {"Math editor...", "Edit Expression...", "View dump...", "Load symbols..."}) {
        SCOPED_TRACE(verb);
        Designer designer;
        TMathInterpreterWidget* interpreter = designer.DropInterpreter();
        ASSERT_NE(interpreter, nullptr);
        Answer<QDialog>([&designer](QDialog&) {
            delete designer.form;
            designer.form = nullptr;
        });
        designer.Run(interpreter, verb);
        EXPECT_EQ(designer.form, nullptr);
    }
}

// Designer sets Expression at each keystroke: nothing runs until the edit is
// committed, with Return or by leaving the editor, and then the text and
// what it did are one step of undo.
TEST(DesignerInProcess, ATypedExpressionRunsOnceWhenCommittedAndUndoesInOneStep) {
    for (bool withReturn : {true, false}) {
        SCOPED_TRACE(withReturn ? "Return" : "focus out");
        Designer designer;
        TMathInterpreterWidget* interpreter = designer.DropInterpreter("x=5");
        ASSERT_NE(interpreter, nullptr);
        QUndoStack& history = *designer.form->commandHistory();
        const int steps = designer.steps;
        QLineEdit* line = designer.EditProperty(interpreter, "Expression");
        ASSERT_NE(line, nullptr);
        {
            ReportedErrors errors;  // an error of a prefix shows nowhere
            QTest::keyClicks(line, "x = x + 10 +");
            QTest::keyClick(line, Qt::Key_Backspace);
            EXPECT_TRUE(errors.messages.empty());
        }
        EXPECT_EQ(SymbolsOf(interpreter), "x=5");
        EXPECT_EQ(interpreter->ExpressionResult(), "15");
        if (withReturn)
            QTest::keyClick(line, Qt::Key_Return);
        else
            designer.LeaveEditor();
        QApplication::processEvents();
        EXPECT_EQ(SymbolsOf(interpreter), "x=15");
        EXPECT_EQ(designer.SavedSymbols(), "x=15");
        ASSERT_EQ(history.count(), steps + 1);
        history.undo();
        EXPECT_EQ(SymbolsOf(interpreter), "x=5");
        EXPECT_EQ(interpreter->Expression(), "");
        history.redo();
        EXPECT_EQ(SymbolsOf(interpreter), "x=15");
        EXPECT_EQ(interpreter->Expression(), "x = x + 10 ");
        designer.LeaveEditor();
        EXPECT_EQ(SymbolsOf(interpreter), "x=15");  // redo does not run it again
    }
}

// Typing into Symbols changes nothing until committed; text that fails then
// leaves the table as it was, says why once, and leaves no step behind.
TEST(DesignerInProcess, TypedSymbolsApplyWhenCommittedAndFailingTextKeepsTheTable) {
    struct Case {
        const char* typed;
        const char* symbols;
        bool fails;
    };
    const Case cases[] = {{"a=1;b=a+1", "a=1 b=2", false}, {"a=1;b=1+", "x=5", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        Designer designer;
        TMathInterpreterWidget* interpreter = designer.DropInterpreter("x=5");
        ASSERT_NE(interpreter, nullptr);
        QUndoStack& history = *designer.form->commandHistory();
        const int steps = designer.steps;
        QLineEdit* line = designer.EditProperty(interpreter, "Symbols");
        ASSERT_NE(line, nullptr);
        ReportedErrors errors;
        line->selectAll();
        QTest::keyClicks(line, c.typed);
        EXPECT_TRUE(errors.messages.empty());
        EXPECT_EQ(line->text(), c.typed);
        designer.LeaveEditor();
        EXPECT_EQ(SymbolsOf(interpreter), c.symbols);
        EXPECT_EQ(errors.messages.size(), c.fails ? 1u : 0u);
        EXPECT_EQ(history.index(), c.fails ? steps : steps + 1);
        if (!c.fails) {
            history.undo();
            EXPECT_EQ(SymbolsOf(interpreter), "x=5");
        }
    }
}

// A control follows its interpreter's rename and shows it is unbound once
// the interpreter is removed; Form > Preview never reaches the designed
// form's interpreter.
TEST(DesignerInProcess, ControlsFollowARenameShowARemovalAndPreviewsStayApart) {
    Designer designer;
    TMathInterpreterWidget* interpreter = designer.DropInterpreter();
    auto* memo = designer.Drop<TMathMemo>(3);
    ASSERT_TRUE(interpreter && memo);
    designer.form->cursor()->setWidgetProperty(memo, "MathInterpreter", QStringLiteral("mathInterpreter"));
    EXPECT_EQ(memo->toPlainText(), "");
    QUndoStack& history = *designer.form->commandHistory();

    designer.form->cursor()->setWidgetProperty(interpreter, "objectName", QStringLiteral("calc"));
    EXPECT_EQ(memo->MathInterpreterName(), "calc");
    EXPECT_TRUE(designer.form->contents().contains(QRegularExpression(R"(MathInterpreter">\s*<string[^>]*>calc<)")));
    history.undo();
    EXPECT_EQ(memo->MathInterpreterName(), "mathInterpreter");
    EXPECT_EQ(memo->toPlainText(), "");

    designer.Select(interpreter);
    designer.Core()->formWindowManager()->action(QDesignerFormWindowManagerInterface::DeleteAction)->trigger();
    EXPECT_EQ(memo->toPlainText(), "mathMemo");
    EXPECT_EQ(memo->MathInterpreterName(), "mathInterpreter");

    // The preview's memo has no interpreter to run on, least of all the removed one.
    const QWidgetList before = QApplication::topLevelWidgets();
    designer.Core()->formWindowManager()->action(QDesignerFormWindowManagerInterface::DefaultPreviewAction)->trigger();
    QApplication::processEvents();
    TMathMemo* previewMemo = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (!before.contains(top) && (previewMemo = top->findChild<TMathMemo*>()) != nullptr) break;
    ASSERT_NE(previewMemo, nullptr);
    QTest::keyClicks(previewMemo, "pv = 99");
    QTest::keyClick(previewMemo, Qt::Key_Return);
    EXPECT_EQ(previewMemo->toPlainText(), "pv = 99");
    previewMemo->window()->close();

    history.undo();
    EXPECT_EQ(memo->toPlainText(), "");
    EXPECT_FALSE(interpreter->Interpreter().SymbolExists("pv"));
}

TEST(DesignerInProcess, DisplayPropertiesAreReadOnlyAndADroppedComboShowsItsName) {
    Designer designer;
    TMathInterpreterWidget* interpreter = designer.DropInterpreter("x=5");
    ASSERT_NE(interpreter, nullptr);
    QUndoStack& history = *designer.form->commandHistory();
    const int steps = designer.steps;
    for (const char* property : {"DumpText", "ExpressionResult", "Expression"}) {
        SCOPED_TRACE(property);
        QLineEdit* line = designer.EditProperty(interpreter, property);
        ASSERT_NE(line, nullptr);
        const bool display = std::string(property) != "Expression";
        EXPECT_EQ(line->isReadOnly(), display);
        if (!display) continue;
        // The property editor's own filter field still takes typing.
        QLineEdit* filter = nullptr;
        for (auto* field : designer.Core()->propertyEditor()->findChildren<QLineEdit*>())
            if (field->placeholderText() == "Filter") filter = field;
        ASSERT_NE(filter, nullptr);
        filter->setFocus();
        QApplication::processEvents();
        EXPECT_FALSE(filter->isReadOnly());
        line->setFocus();
        QTest::keyClicks(line, "1");
        designer.LeaveEditor();
        EXPECT_EQ(interpreter->DumpText(), "x=5");
        EXPECT_EQ(history.count(), steps);
    }
    auto* combo = designer.Drop<TMathComboBox>(2);
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->currentText(), "mathComboBox");
    QLineEdit* line = combo->lineEdit();
    EXPECT_GE(line->width(), line->fontMetrics().horizontalAdvance("mathComboBox") + 4);
}

}  // namespace
}  // namespace zorvex::testing
