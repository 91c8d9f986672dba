#include "kesmarctlowner.h"

KesmarCtl::KesmarCtl()
    : handle(nullptr)
{ }

KesmarCtl::~KesmarCtl()
{
    if (handle)
        kesmarctl_close(handle);
}
