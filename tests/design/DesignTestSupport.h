// Helpers for the tests of the dialogs, the plug-in and the workbench.
#pragma once

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

// As a user picks a file: its folder, then its name typed.
inline void Pick(QFileDialog& dialog, const QString& path) {
    dialog.setDirectory(QFileInfo(path).absolutePath());
    if (auto* name = dialog.findChild<QLineEdit*>("fileNameEdit")) name->setText(QFileInfo(path).fileName());
    QMetaObject::invokeMethod(&dialog, "accept");
}

inline void ChooseFile(const QString& path) {
    Answer<QFileDialog>([path](QFileDialog& dialog) { Pick(dialog, path); });
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
    // A name that cannot be written, not even by root: a link into a folder that is not there.
    QString Unwritable() const {
        const QString path = Path("unwritable.txt");
        QFile::link(dir.filePath("no-such-folder/file.txt"), path);
        return path;
    }
    QByteArray Read(const QString& name) const {
        QFile file(Path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
};

// A symbols file whose third entry fails.
inline constexpr const char* kFailsMidway = "a=1;\r\nb=2;\r\nc=1+;\r\nd=4";

}  // namespace zorvex::testing
