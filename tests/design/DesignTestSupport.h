// Helpers for the tests of the dialogs, the plug-in and the workbench.
#pragma once

#include <QAbstractItemView>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>

#include "WidgetTestSupport.h"

namespace zorvex::testing {

// Answers the next modal dialog of class D once it is up. Register the
// answer before whatever opens the dialog; answers may open further dialogs.
template <typename D>
void Answer(std::function<void(D&)> answer) {
    auto* timer = new QTimer;
    auto deadline = std::make_shared<QDeadlineTimer>(10000);
    QObject::connect(timer, &QTimer::timeout, [timer, answer, deadline] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* dialog = qobject_cast<D*>(modal)) {
            timer->stop();
            timer->deleteLater();
            answer(*dialog);
        } else if (deadline->hasExpired()) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no " << D::staticMetaObject.className() << " came up";
            if (modal) QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
        }
    });
    timer->start(5);
}

// As a user picks a file: its folder, then its name typed. A dialog used
// before may still have its last file selected in its list, which the
// typing would not clear before the folder is read.
inline void Pick(QFileDialog& dialog, const QString& path) {
    dialog.setDirectory(QFileInfo(path).absolutePath());
    for (auto* view : dialog.findChildren<QAbstractItemView*>()) view->clearSelection();
    if (auto* name = dialog.findChild<QLineEdit*>("fileNameEdit")) name->setText(QFileInfo(path).fileName());
    QMetaObject::invokeMethod(&dialog, "accept");
}

// Picks a file in the next file dialog; `then` runs once the dialog took it.
inline void ChooseFile(const QString& path, std::function<void()> then = {}) {
    Answer<QFileDialog>([path, then](QFileDialog& dialog) {
        Pick(dialog, path);
        if (then) then();
    });
}

inline void CancelDialog() {
    Answer<QDialog>([](QDialog& dialog) { dialog.reject(); });
}

inline void AnswerInput(const QString& text) {
    Answer<QInputDialog>([text](QInputDialog& dialog) {
        dialog.setTextValue(text);
        dialog.accept();
    });
}

// Files in a folder of their own, gone after the test.
struct Files {
    QTemporaryDir dir;
    QString Path(const QString& name) const { return dir.filePath(name); }
    QString Write(const QString& name, const QByteArray& bytes) const {
        QFile file(Path(name));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return Path(name);
    }
    // Makes a picked name unwritable, even for root: a folder takes its place.
    std::function<void()> Block(const QString& path) const {
        return [path] { QDir().mkpath(path); };
    }
    QByteArray Read(const QString& name) const {
        QFile file(Path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
};

// A symbols file whose third entry fails, and its error.
inline constexpr const char* kFailsMidway = "a=1;\r\nb=2;\r\nc=1+;\r\nd=4";
inline constexpr const char* kFailsMidwayError =
    "TMOperator.PullOperands() 2 operand(s) expected, but only 1 found. Position: 4.";

}  // namespace zorvex::testing
