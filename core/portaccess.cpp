#include "portaccess.h"

#include <QCoreApplication>
#include <QFile>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

QString portAccessHint(const QString &port)
{
    const QByteArray path = QFile::encodeName(port);
    struct stat info = {};
    if (::stat(path.constData(), &info) != 0 || ::access(path.constData(), R_OK | W_OK) == 0)
        return QString();
    // Joining a group takes effect at the next login: a process keeps the
    // groups its session started with. The shipped udev rule needs neither.
    const struct group *group = ::getgrgid(info.st_gid);
    if (group && info.st_gid != 0 && (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP))
        return QCoreApplication::translate("PortAccess",
                                           "add your account to the group %1, then log in again, or install the "
                                           "udev rule 70-kesmarcontrol.rules (package kesmarcontrol), which gives "
                                           "the user at the seat the USB serial ports")
            .arg(QString::fromLocal8Bit(group->gr_name));
    return QCoreApplication::translate("PortAccess", "ask the administrator for read and write access to %1").arg(port);
}
