// Shows the example form; every control runs its expressions on the one
// interpreter of the form, and the last result is shown below them.
#include <QApplication>
#include <QFontMetrics>
#include <QWidget>

#include "ui_ZorvexExample.h"
#include "zorvex/MathControls.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Zorvex controls"));
    QWidget window;
    Ui::ZorvexExample ui;
    ui.setupUi(&window);

    // A long result is cut to the label's width; the label never widens
    // the window, and its tool tip holds the whole result.
    const auto showLast = [&ui](QObject* sender, const zorvex::Variant& res) {
        const QString text = QStringLiteral("Last result, from %1: %2")
                                 .arg(sender->objectName(), zorvex::FromLatin1(zorvex::VarToStr(res)));
        ui.lblLast->setText(ui.lblLast->fontMetrics().elidedText(text, Qt::ElideRight, ui.lblLast->width()));
        ui.lblLast->setToolTip(text);
    };
    QObject::connect(ui.edMath, &zorvex::TMathEdit::AfterExecuteExpression, &window, showLast);
    QObject::connect(ui.cbMath, &zorvex::TMathComboBox::AfterExecuteExpression, &window, showLast);
    QObject::connect(ui.memMath, &zorvex::TMathMemo::AfterExecuteExpression, &window, showLast);
    QObject::connect(ui.reMath, &zorvex::TMathRichEdit::AfterExecuteExpression, &window, showLast);

    window.show();
    return app.exec();
}
