#ifndef NEXTMODAL_H
#define NEXTMODAL_H

#include <QApplication>
#include <QDialog>
#include <QtTest>

#include <functional>

// Runs `action`, then `handler` on the dialog it showed. Settings and About
// are windows of their own, not modal (Halt stays at hand while they are
// open), so the dialog is the one shown now that was not there before. A
// dialog the handler leaves open (say, after a failed check) is rejected.
inline void onNewDialog(const std::function<void()> &action, const std::function<void(QDialog *)> &handler)
{
    // Only windows shown count: a closed dialog deleted since may leave its
    // address to the new one.
    const auto shownDialogs = [] {
        QList<QDialog *> dialogs;
        for (QWidget *window : QApplication::topLevelWidgets()) {
            auto *dialog = qobject_cast<QDialog *>(window);
            if (dialog && dialog->isVisible())
                dialogs << dialog;
        }
        return dialogs;
    };
    const QList<QDialog *> before = shownDialogs();
    action();
    QDialog *shown = nullptr;
    for (QDialog *dialog : shownDialogs()) {
        if (!before.contains(dialog))
            shown = dialog;
    }
    QVERIFY2(shown, "no dialog was shown");
    handler(shown);
    if (shown->isVisible())
        shown->reject();
}

#endif // NEXTMODAL_H
