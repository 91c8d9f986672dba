#ifndef KESMARCTLOWNER_H
#define KESMARCTLOWNER_H

#include "libkesmarctl.h"

#include <QString>

// Owns the control library's connection handle: opening closes the previous
// connection first, and the handle is closed when the owner is destroyed.
class KesmarCtl
{
public:
    KesmarCtl() = default;
    ~KesmarCtl();

    KesmarCtl(const KesmarCtl &) = delete;
    KesmarCtl &operator=(const KesmarCtl &) = delete;

    // Closes any connection, then opens `port` with `timeout` ms. False when
    // the open failed; errorText() then says why.
    bool open(const QString &port, int timeout);
    void close();

    kesmarctl_connection *handle() const { return handle_; }
    bool isOpen() const { return handle_ != nullptr; }
    // The library's text for the last failure on this connection, or of the
    // last failed open while none is open.
    QString errorText() const;

private:
    kesmarctl_connection *handle_ = nullptr;
};

#endif // KESMARCTLOWNER_H
