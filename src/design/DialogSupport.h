// What the three dialogs share.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QKeyEvent>
#include <QPalette>
#include <QPlainTextEdit>

#include <exception>
#include <functional>
#include <stdexcept>

#include "zorvex/MathControls.h"

// Copies the widgets a uic form made into the dialog's members of the same
// names: ZORVEX_TAKE_WIDGETS(ui, a, b) is `a = ui.a; b = ui.b;`.
#define ZORVEX_TAKE_WIDGETS(ui, ...) __VA_OPT__(ZORVEX_EXPAND_(ZORVEX_TAKE_(ui, __VA_ARGS__)))
#define ZORVEX_TAKE_(ui, name, ...) \
    name = ui.name;                 \
    __VA_OPT__(ZORVEX_TAKE_AGAIN_ ZORVEX_PARENS_(ui, __VA_ARGS__))
#define ZORVEX_TAKE_AGAIN_() ZORVEX_TAKE_
#define ZORVEX_PARENS_ ()
// Rescans enough for 80 names, one a rescan.
#define ZORVEX_EXPAND_(...) ZORVEX_EXPAND3_(ZORVEX_EXPAND3_(ZORVEX_EXPAND3_(ZORVEX_EXPAND3_(__VA_ARGS__))))
#define ZORVEX_EXPAND3_(...) ZORVEX_EXPAND2_(ZORVEX_EXPAND2_(ZORVEX_EXPAND2_(ZORVEX_EXPAND2_(__VA_ARGS__))))
#define ZORVEX_EXPAND2_(...) ZORVEX_EXPAND1_(ZORVEX_EXPAND1_(ZORVEX_EXPAND1_(ZORVEX_EXPAND1_(__VA_ARGS__))))
#define ZORVEX_EXPAND1_(...) __VA_ARGS__

namespace zorvex::dialogs {

// A dump as a memo shows it: one line per entry, not a blank between.
inline QString MemoText(const QString& dump) { return QString(dump).replace(QLatin1String("\r\n"), QLatin1String("\n")); }
inline QString MemoText(const std::string& dump) { return MemoText(FromLatin1(dump)); }

// The dialogs' frame: a system menu and a maximize button.
inline void SetDialogFrame(QDialog& dialog) {
    dialog.setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
}

inline bool IsEscape(const QEvent* event) {
    return event->type() == QEvent::KeyPress && static_cast<const QKeyEvent*>(event)->key() == Qt::Key_Escape;
}

inline bool IsClick(const QEvent* event) { return event->type() == QEvent::MouseButtonPress; }

// Without a window manager nothing gives a dialog its activation back when a
// modal box over it closes, and Alt accelerators act only in the active
// window: they would stop working.
inline void Reactivate(QDialog& dialog) {
    if (dialog.isVisible() && QApplication::activeWindow() == nullptr) dialog.activateWindow();
}

// Runs a user's action, which may bring up a modal box over `dialog` (a
// message, an input box, a file dialog), with its errors reported.
inline void RunOver(QDialog& dialog, const std::function<void()>& action) {
    ReportExceptions(&dialog, action);
    Reactivate(dialog);
}

// A found line stays marked while the focus is in the search field.
inline void KeepSelectionVisible(QPlainTextEdit& memo) {
    QPalette palette = memo.palette();
    for (const auto role : {QPalette::Highlight, QPalette::HighlightedText})
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    memo.setPalette(palette);
}

}  // namespace zorvex::dialogs
