/* Prints the position of device 1 on the control unit at the port given. */
#include <libkesmarctl.h>
#include <stdio.h>

int main(int argc, char **argv)
{
    kesmarctl_connection *unit = kesmarctl_open(argc > 1 ? argv[1] : "/dev/ttyUSB0", 0);
    int x, y, z;
    if (!unit || kesmarctl_get_position_ext(unit, '0' + 1, 0, &x, &y, &z) < 0) {
        fprintf(stderr, "%s\n", kesmarctl_last_errorstr(unit));
        return 1;
    }
    printf("%d %d %d\n", x, y, z);
    return kesmarctl_close(unit);
}
