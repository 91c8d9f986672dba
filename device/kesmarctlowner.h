#ifndef KESMARCTLOWNER_H
#define KESMARCTLOWNER_H

#include "libkesmarctl.h"

// Owns the control library's connection handle; closes it when destroyed.
class KesmarCtl
{
public:
    KesmarCtl();
    virtual ~KesmarCtl();

    KesmarCtl(const KesmarCtl &) = delete;
    KesmarCtl &operator=(const KesmarCtl &) = delete;

    kesmarctl_connection *handle;
};

#endif // KESMARCTLOWNER_H
