#include "kesmarctlowner.h"

#include <QFile>

KesmarCtl::~KesmarCtl()
{
    close();
}

bool KesmarCtl::open(const QString &port, int timeout)
{
    close();
    handle_ = kesmarctl_open(QFile::encodeName(port).constData(), timeout);
    return handle_ != nullptr;
}

void KesmarCtl::close()
{
    if (handle_)
        kesmarctl_close(handle_);
    handle_ = nullptr;
}

QString KesmarCtl::errorText() const
{
    return QString::fromUtf8(kesmarctl_last_errorstr(handle_));
}
