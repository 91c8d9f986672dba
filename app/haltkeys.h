#ifndef HALTKEYS_H
#define HALTKEYS_H

#include <QObject>

// Escape halts from every window and widget of the program, a text field or
// an open list included; it still does what it did there (cancels the
// typing, closes the dialog or the list). Watches the application's key
// presses once each, where they reach a window.
class HaltKeys : public QObject
{
    Q_OBJECT

public:
    explicit HaltKeys(QObject *parent = nullptr);

signals:
    void haltRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

#endif // HALTKEYS_H
