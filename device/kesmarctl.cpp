#include "kesmarctl.h"

KesmarCtl::KesmarCtl()
    : handle(nullptr)
{ }

KesmarCtl::~KesmarCtl()
{
    if (handle)
        kesmarctl_close(handle);
}
