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
#include <QDesignerFormWindowInterface>
#include <QDesignerFormWindowManagerInterface>
#include <QDesignerIntegration>
#include <QDesignerTaskMenuExtension>
#include <QExtensionManager>
#include <QLineEdit>
#include <QPushButton>
#include <QMainWindow>
#include <QPluginLoader>
#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <QRegularExpression>
#include <QTabWidget>
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

    // Drops the widget box's interpreter onto the form, as a paste of its
    // entry does, and returns it.
    TMathInterpreterWidget* DropInterpreter() {
        QPluginLoader plugin(ZORVEX_DESIGN_PLUGIN);
        auto* collection = qobject_cast<QDesignerCustomWidgetCollectionInterface*>(plugin.instance());
        if (collection == nullptr) return nullptr;
        const QString entry = collection->customWidgets().value(0)->domXml();
        const qsizetype start = entry.indexOf("<widget"), end = entry.indexOf("</widget>") + 9;
        QApplication::clipboard()->setText(R"(<ui version="4.0"><widget name="__qt_fake_top_level">)" +
                                           entry.mid(start, end - start) + "</widget></ui>");
        QApplication::processEvents();  // Designer enables Paste when it sees the clipboard change
        core_->formWindowManager()->action(QDesignerFormWindowManagerInterface::PasteAction)->trigger();
        QApplication::processEvents();
        return form->mainContainer()->findChild<TMathInterpreterWidget*>();
    }
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

}  // namespace
}  // namespace zorvex::testing
