// The example form, compiled by uic and loaded at run time by QUiLoader:
// the interpreter takes its properties and symbols from the .ui file, and
// each control runs on it.
#include <QBuffer>
#include <QFile>
#include <QUiLoader>

#include "WidgetTestSupport.h"
#include "ui_ZorvexExample.h"

namespace zorvex {
namespace {

// A loader that knows the five widgets.
class MathUiLoader : public QUiLoader {
public:
    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
        if (QWidget* widget = CreateMathWidget(className, parent)) {
            widget->setObjectName(name);
            return widget;
        }
        return QUiLoader::createWidget(className, parent, name);
    }
};

void CheckExampleForm(QWidget& form) {
    auto* interpreter = form.findChild<TMathInterpreterWidget*>("interpreter");
    ASSERT_NE(interpreter, nullptr);
    const TMathInterpreter& core = interpreter->Interpreter();
    EXPECT_FALSE(core.CaseSensitiveSymbols());
    EXPECT_EQ(core.DumpFormat(), zorvex::dfQualified);
    EXPECT_EQ(core.EscapeChar(), '\\');
    EXPECT_EQ(core.MaxFunctionNesting(), 500u);
    EXPECT_EQ(core.Dump(" ", 0), "rate=0.19 unit='\xB0""C' net(price):=price*(1+rate) celsius(f):=Round((f-32)*5/9)");

    auto* edit = form.findChild<TMathEdit*>("edMath");
    auto* combo = form.findChild<TMathComboBox*>("cbMath");
    auto* memo = form.findChild<TMathMemo*>("memMath");
    auto* rich = form.findChild<TMathRichEdit*>("reMath");
    ASSERT_TRUE(edit && combo && memo && rich);
    EXPECT_EQ(edit->MathEditOptions(), meoSelfUpdate | meoExecuteOnReturn);
    EXPECT_EQ(combo->MathHistoryOption(), mhoDeleteDuplicates);
    EXPECT_EQ(rich->MathRichEditOptions(), mroUseResultFont | mroUseErrorFont);
    EXPECT_EQ(rich->MathResultColor(), QColor(Qt::blue));
    for (TMathControl* c : std::initializer_list<TMathControl*>{edit, combo, memo, rich}) {
        EXPECT_EQ(c->MathErrorOptions(), TMathErrorOptions(meoWriteExceptionMessage));
        EXPECT_EQ(c->MathInterpreterName(), "interpreter");
    }

    form.show();
    EXPECT_FALSE(interpreter->isVisible());
    edit->setText("net(100)");
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(edit->text(), "119");
    combo->setEditText("celsius(212)");
    QTest::keyClick(combo, Qt::Key_Return);
    EXPECT_EQ(combo->currentText(), "100");
    QTest::keyClicks(memo, "unit");
    QTest::keyClick(memo, Qt::Key_Return);
    EXPECT_EQ(memo->toPlainText(), QString::fromUtf8("unit\n°C\n"));
    QTest::keyClicks(rich, "DegToStr(45.5)");
    QTest::keyClick(rich, Qt::Key_Return);
    EXPECT_EQ(rich->toPlainText(), QString::fromUtf8("DegToStr(45.5)\n45°30'0\"\n"));
    for (TMathControl* c : std::initializer_list<TMathControl*>{edit, combo, memo, rich})
        EXPECT_EQ(c->MathInterpreter(), &interpreter->Interpreter());
}

TEST(ExampleForm, CompiledByUic) {
    QWidget form;
    Ui::ZorvexExample ui;
    ui.setupUi(&form);
    CheckExampleForm(form);
    // A long last result does not widen the window.
    const int width = form.sizeHint().width();
    ui.lblLast->setText(QString(300, 'x'));
    EXPECT_EQ(form.sizeHint().width(), width);
}

TEST(ExampleForm, LoadedAtRunTimeByQUiLoader) {
    QFile file(ZORVEX_EXAMPLE_UI);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    MathUiLoader loader;
    std::unique_ptr<QWidget> form(loader.load(&file));
    ASSERT_NE(form, nullptr) << loader.errorString().toStdString();
    CheckExampleForm(*form);
}

// The zero members let a .ui file carry an empty set; without them a loader
// would read all bits.
TEST(ExampleForm, EmptySetsLoadAsEmpty) {
    QBuffer ui;
    ui.setData(R"(<ui version="4.0"><widget class="QWidget" name="form"><layout class="QVBoxLayout" name="lay">
<item><widget class="zorvex::TMathEdit" name="ed">
 <property name="MathEditOptions"><set>zorvex::meoNoEditOptions</set></property>
 <property name="MathErrorOptions"><set>zorvex::meoNoErrorOptions</set></property></widget></item>
<item><widget class="zorvex::TMathRichEdit" name="re">
 <property name="MathRichEditOptions"><set>zorvex::mroNoRichEditOptions</set></property></widget></item>
<item><widget class="zorvex::TMathInterpreterWidget" name="interpreter">
 <property name="DumpFormat"><set>zorvex::TMathInterpreterWidget::dfPlain</set></property></widget></item>
</layout></widget></ui>)");
    ASSERT_TRUE(ui.open(QIODevice::ReadOnly));
    MathUiLoader loader;
    std::unique_ptr<QWidget> form(loader.load(&ui));
    ASSERT_NE(form, nullptr) << loader.errorString().toStdString();
    EXPECT_EQ(form->findChild<TMathEdit*>("ed")->MathEditOptions().toInt(), 0);
    EXPECT_EQ(form->findChild<TMathEdit*>("ed")->MathErrorOptions().toInt(), 0);
    EXPECT_EQ(form->findChild<TMathRichEdit*>("re")->MathRichEditOptions().toInt(), 0);
    EXPECT_EQ(form->findChild<TMathInterpreterWidget*>("interpreter")->Interpreter().DumpFormat(), 0);
}

}  // namespace
}  // namespace zorvex
