# Prints the position of device 1 on the control unit at the port given.
import ctypes, sys
from ctypes import POINTER, c_char_p, c_int, c_uint8, c_void_p

lib = ctypes.CDLL("libkesmarctl.so.1")
lib.kesmarctl_open.restype, lib.kesmarctl_open.argtypes = c_void_p, [c_char_p, c_int]
lib.kesmarctl_last_errorstr.restype, lib.kesmarctl_last_errorstr.argtypes = c_char_p, [c_void_p]
lib.kesmarctl_get_position_ext.argtypes = [c_void_p, c_uint8, c_int] + [POINTER(c_int)] * 3
lib.kesmarctl_close.argtypes = [c_void_p]
unit = lib.kesmarctl_open((sys.argv[1:] or ["/dev/ttyUSB0"])[0].encode("latin-1"), 0)
x, y, z = c_int(), c_int(), c_int()
if not unit or lib.kesmarctl_get_position_ext(unit, ord("1"), 0, x, y, z) < 0:
    sys.exit(lib.kesmarctl_last_errorstr(unit).decode())
print(x.value, y.value, z.value)
lib.kesmarctl_close(unit)
