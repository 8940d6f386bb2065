#include <QApplication>
#include <QKeyEvent>
#include <cstdio>

#include "zorvex/MathControls.h"
#include "zorvex/Matheditorform.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget form;
    auto* edit = new zorvex::TMathEdit(&form);
    edit->setMathInterpreter("interpreter");
    (new zorvex::TMathInterpreterWidget(&form))->setObjectName("interpreter");
    edit->setText("1+2");
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
    QApplication::sendEvent(edit, &press);
    zorvex::TfrmMathEditor editor;
    if (edit->text() == "3" && !zorvex::MathWidgetIcon("TMathEdit").isNull() && editor.windowTitle() == "Zorvex")
        return 0;
    std::fprintf(stderr, "1+2 gave '%s'\n", edit->text().toLocal8Bit().constData());
    return 1;
}
