// The plug-in as Designer loads it: the collection and its entries, their
// domXml read back by QUiLoader through the plug-in, and the interpreter's
// verbs built through an extension manager.
#include <QAction>
#include <QBuffer>
#include <QPushButton>
#include <QDesignerFormEditorInterface>
#include <QDesignerTaskMenuExtension>
#include <QExtensionManager>
#include <QMetaProperty>
#include <QPlainTextEdit>
#include <QPluginLoader>
#include <QUiLoader>
#include <QXmlStreamReader>
#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>

#include "DesignTestSupport.h"
#include "zorvex/Editexpressionform.h"
#include "zorvex/Mathdumpform.h"
#include "zorvex/Matheditorform.h"

namespace zorvex::testing {
namespace {

QList<QDesignerCustomWidgetInterface*> Entries() {
    static QPluginLoader loader(ZORVEX_DESIGN_PLUGIN);
    auto* collection = qobject_cast<QDesignerCustomWidgetCollectionInterface*>(loader.instance());
    if (collection == nullptr) ADD_FAILURE() << loader.errorString().toStdString();
    return collection ? collection->customWidgets() : QList<QDesignerCustomWidgetInterface*>();
}

// The widget of a domXml: its class, display name and the properties it sets.
struct Dom {
    QString className, displayName;
    QStringList properties;
};

Dom ReadDom(const QString& xml) {
    Dom dom;
    QXmlStreamReader reader(xml);
    int depth = 0;
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::EndElement) --depth;
        if (!reader.isStartElement()) continue;
        ++depth;
        if (reader.name() == QLatin1String("ui")) dom.displayName = reader.attributes().value("displayname").toString();
        if (reader.name() == QLatin1String("widget")) dom.className = reader.attributes().value("class").toString();
        if (reader.name() == QLatin1String("property") && depth == 3)
            dom.properties.append(reader.attributes().value("name").toString());
    }
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    return dom;
}

TEST(DesignerPlugin, LoadsWithTheFiveWidgetsOfGroupZorvexInOrder) {
    QPluginLoader loader(ZORVEX_DESIGN_PLUGIN);
    EXPECT_EQ(loader.metaData().value("IID").toString(),
              "org.qt-project.Qt.QDesignerCustomWidgetCollectionInterface");
    const auto entries = Entries();
    ASSERT_EQ(entries.size(), 5);
    const QStringList displayNames{"TMathInterpreter", "TMathEdit", "TMathComboBox", "TMathMemo", "TMathRichEdit"};
    for (int i = 0; i < 5; ++i) {
        QDesignerCustomWidgetInterface& entry = *entries[i];
        SCOPED_TRACE(entry.name().toStdString());
        EXPECT_EQ(entry.name(), MathWidgetClassNames()[i]);
        EXPECT_EQ(ReadDom(entry.domXml()).displayName, displayNames[i]);
        EXPECT_EQ(ReadDom(entry.domXml()).className, entry.name());
        EXPECT_EQ(entry.group(), "Zorvex");
        EXPECT_EQ(entry.includeFile(), "zorvex/MathControls.h");
        EXPECT_FALSE(entry.icon().isNull());
        EXPECT_TRUE(entry.toolTip().startsWith(displayNames[i] + ":"));
        EXPECT_FALSE(entry.whatsThis().isEmpty());
        EXPECT_FALSE(entry.isContainer());
    }
}

// Every property a class keeps in .ui files is in its domXml, so Designer
// writes all of them; read back through the plug-in, they are the initial values.
TEST(DesignerPlugin, DomXmlCarriesEveryStoredPropertyWithItsInitialValue) {
    QUiLoader loader;
    loader.clearPluginPaths();
    loader.addPluginPath(QFileInfo(ZORVEX_DESIGN_PLUGIN).absolutePath());
    for (QDesignerCustomWidgetInterface* entry : Entries()) {
        SCOPED_TRACE(entry->name().toStdString());
        const Dom dom = ReadDom(entry->domXml());
        std::unique_ptr<QWidget> fresh(entry->createWidget(nullptr));
        ASSERT_NE(fresh, nullptr);
        const QMetaObject& meta = *fresh->metaObject();
        for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
            const QMetaProperty property = meta.property(i);
            if (property.isStored() && property.isWritable()) {
                EXPECT_TRUE(dom.properties.contains(property.name())) << property.name();
            }
        }

        QBuffer ui;
        ui.setData(entry->domXml().toUtf8());
        ui.open(QIODevice::ReadOnly);
        std::unique_ptr<QWidget> loaded(loader.load(&ui));
        ASSERT_NE(loaded, nullptr) << loader.errorString().toStdString();
        EXPECT_EQ(loaded->metaObject(), &meta);
        for (const QString& name : dom.properties) {
            const QByteArray key = name.toLatin1();
            EXPECT_EQ(loaded->property(key), fresh->property(key)) << key.constData();
        }
    }
}

// ---------------------------------------------------------------- verbs

class FormEditor : public QDesignerFormEditorInterface {
public:
    FormEditor() { setExtensionManager(new QExtensionManager(this)); }
};

// The plug-in's entries take their core once, as in Designer.
FormEditor& Core() {
    static FormEditor core;
    static const bool initialized = [] {
        for (QDesignerCustomWidgetInterface* entry : Entries()) entry->initialize(&core);
        return true;
    }();
    (void)initialized;
    return core;
}

// An interpreter with its task menu, on no form: changes go to it directly.
struct Verbs {
    Verbs() {
        interpreter = static_cast<TMathInterpreterWidget*>(Entries()[0]->createWidget(&form));
        menu = qt_extension<QDesignerTaskMenuExtension*>(core.extensionManager(), interpreter);
    }
    QStringList Texts() const {
        QStringList texts;
        for (QAction* action : menu->taskActions()) texts.append(action->isSeparator() ? "-" : action->text());
        return texts;
    }
    void Run(const QString& text) const {
        for (QAction* action : menu->taskActions())
            if (action->text() == text) return action->trigger();
        ADD_FAILURE() << "no verb " << text.toStdString();
    }
    std::string Symbols() const { return interpreter->Interpreter().Dump(" ", 0); }

    FormEditor& core = Core();
    QWidget form;
    TMathInterpreterWidget* interpreter;
    QDesignerTaskMenuExtension* menu;
};

TEST(DesignerVerbs, TheInterpreterHasTheVerbsInOrderAndOpensTheMathEditorOnDoubleClick) {
    Verbs verbs;
    ASSERT_NE(verbs.menu, nullptr);
    EXPECT_EQ(verbs.Texts(), QStringList({"Math editor...", "Load symbols...", "Save symbols...", "-",
                                          "Edit Expression...", "View dump..."}));
    EXPECT_EQ(verbs.menu->preferredEditAction(), verbs.menu->taskActions().first());
    TMathEdit edit(&verbs.form);
    EXPECT_EQ(qt_extension<QDesignerTaskMenuExtension*>(verbs.core.extensionManager(), &edit), nullptr);
}

TEST(DesignerVerbs, LoadSymbolsLoadsOrKeepsTheTableWhole) {
    Files files;
    const QString good = files.Write("good.txt", "x=1;\r\nf(a):=a+x");
    Verbs verbs;
    ChooseFile(good);
    verbs.Run("Load symbols...");
    EXPECT_EQ(verbs.Symbols(), "x=1 f(a):=a+x");

    CancelDialog();
    verbs.Run("Load symbols...");
    EXPECT_EQ(verbs.Symbols(), "x=1 f(a):=a+x");

    ReportedErrors errors;
    ChooseFile(files.Write("bad.txt", kFailsMidway));
    verbs.Run("Load symbols...");
    const QString gone = files.Write("gone.txt", "y=2");
    ChooseFile(gone, [gone] { QFile::remove(gone); });
    verbs.Run("Load symbols...");
    EXPECT_EQ(verbs.Symbols(), "x=1 f(a):=a+x");
    ASSERT_EQ(errors.messages.size(), 2u);
    EXPECT_EQ(errors.messages[1], "Cannot open file \"" + gone.toStdString() + "\".");
}

TEST(DesignerVerbs, SaveSymbolsWritesTheFileWithItsDefaultSuffix) {
    Files files;
    Verbs verbs;
    verbs.interpreter->Interpreter().Execute("x=5; s='a'");
    ChooseFile(files.Path("symbols"));
    verbs.Run("Save symbols...");
    EXPECT_EQ(files.Read("symbols.txt"), "x=5;\r\ns='a'");
    ReportedErrors errors;
    const QString unwritable = files.Path("blocked.txt");
    ChooseFile(unwritable, files.Block(unwritable));
    verbs.Run("Save symbols...");
    EXPECT_EQ(errors.messages, std::vector<std::string>{"Cannot create file \"" + unwritable.toStdString() +
                                                        "\": it is a directory, and a save replaces only a regular file."});
}

TEST(DesignerVerbs, MathEditorWorksOnTheInterpreter) {
    Verbs verbs;
    Answer<TfrmMathEditor>([&](TfrmMathEditor& editor) {
        EXPECT_EQ(editor.MI, &verbs.interpreter->Interpreter());
        QTest::keyClicks(editor.mreExecute, "y = 3");
        QTest::keyClick(editor.mreExecute, Qt::Key_Return);
        editor.close();
    });
    verbs.Run("Math editor...");
    EXPECT_EQ(verbs.Symbols(), "y=3");
}

TEST(DesignerVerbs, EditExpressionStoresOnOkEvenUnchangedAndNothingOnCancel) {
    Verbs verbs;
    verbs.interpreter->Interpreter().Execute("n=1");
    Answer<TfrmEditExpression>([](TfrmEditExpression& dialog) {
        dialog.memExpression->setPlainText("n = n +\n 1");
        dialog.btnOK->click();
    });
    verbs.Run("Edit Expression...");
    Answer<TfrmEditExpression>([](TfrmEditExpression& dialog) {
        EXPECT_EQ(dialog.memExpression->toPlainText(), "n = n +\n 1");
        dialog.btnOK->click();
    });
    verbs.Run("Edit Expression...");
    EXPECT_EQ(verbs.Symbols(), "n=3");
    EXPECT_EQ(verbs.interpreter->ExpressionResult(), "3");
    Answer<TfrmEditExpression>([](TfrmEditExpression& dialog) {
        dialog.memExpression->setPlainText("n = 100");
        dialog.btnCancel->click();
    });
    verbs.Run("Edit Expression...");
    EXPECT_EQ(verbs.Symbols(), "n=3");
    EXPECT_EQ(verbs.interpreter->Expression(), "n = n +\n 1");
}

TEST(DesignerVerbs, ViewDumpShowsTheDumpText) {
    Verbs verbs;
    verbs.interpreter->Interpreter().Execute("x=1; f(a):=a*x");
    Answer<TfrmMathDump>([](TfrmMathDump& dialog) {
        EXPECT_EQ(dialog.memDump->toPlainText(), "x=1;\nf(a):=f.a*x");
        dialog.btnClose->click();
    });
    verbs.Run("View dump...");
}

}  // namespace
}  // namespace zorvex::testing
