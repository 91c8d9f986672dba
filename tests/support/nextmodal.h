#ifndef NEXTMODAL_H
#define NEXTMODAL_H

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QtTest>

#include <functional>

// Runs `handler` on the modal dialog the next action opens. A dialog the
// handler leaves open (say, after a failed check) is rejected so the test
// cannot hang in its event loop.
inline void onNextModal(QObject *context, std::function<void(QDialog *)> handler)
{
    QTimer::singleShot(0, context, [handler] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        QVERIFY2(dialog, "no modal dialog is open");
        handler(dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
}

#endif // NEXTMODAL_H
