#ifndef WIDGETLOOKUP_H
#define WIDGETLOOKUP_H

#include <QObject>
#include <QString>

// The child of `parent` of class T with the object name `name`. A missing one
// ends the run with a message naming it, since nothing that follows could work.
template <typename T> T *widget(const QObject &parent, const QString &name)
{
    T *found = parent.findChild<T *>(name);
    if (!found)
        qFatal("no %s named %s", T::staticMetaObject.className(), qPrintable(name));
    return found;
}

#endif // WIDGETLOOKUP_H
