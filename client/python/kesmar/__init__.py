"""Drive the running KesmarControl panel from Python.

The panel offers its controls on the session bus (the interface
org.quellmark.KesmarControl1); this module wraps the calls a lab script
needs, so no script has to speak the bus itself::

    import kesmar

    panel = kesmar.Panel()
    print(panel.position())            # (10250, 10250, 10250)
    panel.goto(1000, 2000, 3000)       # returns once the readouts show it
    panel.store("Slice centre")
    for x, y, z in panel.changes(timeout=5):
        print(x, y, z)

Every act goes through the same code as the panel's own widgets: the window
shows what a script did, the travel envelope (File > Limits) is checked, and
Halt on the panel or the pad ends a move a script waits for. Coordinates are
the unit's steps, 0 to 20500 on each axis.

A call the panel refuses raises one of the Refused exceptions with the text
the operator would read; a move that does not arrive raises Halted,
MoveFailed or MoveTimeout.
"""

import collections
import contextlib
import time

from jeepney import DBusAddress, MatchRule, message_bus, new_method_call
from jeepney.io.blocking import open_dbus_connection
from jeepney.low_level import HeaderFields, MessageType

__all__ = [
    "Panel", "Limits", "NamedPosition", "Error", "NoPanel", "Refused", "Failed", "OutOfRange", "NoReading",
    "UnknownPosition", "Halted", "MoveFailed", "MoveTimeout",
]

SERVICE = "org.quellmark.KesmarControl"
PATH = "/KesmarControl"
INTERFACE = "org.quellmark.KesmarControl1"

# A move waits this long for the unit to arrive unless told otherwise, as `kesmar goto --wait` does.
DEFAULT_TIMEOUT = 60.0

NamedPosition = collections.namedtuple("NamedPosition", "name x y z")
NamedPosition.__doc__ = "An entry of the panel's Position store list."
Limits = collections.namedtuple("Limits", "enabled xmin xmax ymin ymax zmin zmax")
Limits.__doc__ = "The travel envelope: whether it is on, and the bounds of each axis."


class Error(Exception):
    """Anything that went wrong talking to the panel or moving the unit."""


class NoPanel(Error):
    """No panel runs on the session bus, or it closed."""


class Refused(Error):
    """The panel refused the call; the message is the text the operator would read."""


class Failed(Refused):
    """The act failed, for the library's reason (e.g. the port is not open)."""


class OutOfRange(Refused):
    """A coordinate, bound, device number or name outside what is allowed; nothing was changed or sent."""


class NoReading(Refused):
    """There is no reading yet, or the last one is stale."""


class UnknownPosition(Refused):
    """No named position has that name."""


class Halted(Error):
    """Someone halted the manipulator (the operator, the pad or a script) while the move was waited for."""


class MoveFailed(Error):
    """The move ended without arriving: a stage did not arrive in time, a send failed or the readings were lost."""


class MoveTimeout(Error, TimeoutError):
    """The unit did not arrive within the time given."""


_REFUSALS = {
    INTERFACE + ".Error.Failed": Failed,
    INTERFACE + ".Error.OutOfRange": OutOfRange,
    INTERFACE + ".Error.NoReading": NoReading,
    INTERFACE + ".Error.UnknownPosition": UnknownPosition,
}
_NO_PANEL = ("org.freedesktop.DBus.Error.ServiceUnknown", "org.freedesktop.DBus.Error.NoReply",
             "org.freedesktop.DBus.Error.NameHasNoOwner")


class Panel:
    """The running panel on the session bus.

    Opens a connection of its own to the bus; ``close()`` (or a ``with``
    block) ends it. Raises NoPanel when no panel runs.
    """

    def __init__(self, bus="SESSION"):
        try:
            self._conn = open_dbus_connection(bus=bus)
        except (OSError, KeyError) as e:
            raise NoPanel("no session bus: %s" % e) from None
        self._address = DBusAddress(PATH, bus_name=SERVICE, interface=INTERFACE)
        # Every signal of the panel, subscribed once; each wait filters what it needs.
        # and the bus's word that the panel went away.
        self._signals = MatchRule(type="signal", sender=SERVICE, interface=INTERFACE, path=PATH)
        self._owner = MatchRule(type="signal", sender="org.freedesktop.DBus", interface="org.freedesktop.DBus",
                                member="NameOwnerChanged")
        self._owner.add_arg_condition(0, SERVICE)
        for rule in (self._signals, self._owner):
            self._conn.send_and_get_reply(message_bus.AddMatch(rule))
        # The bus delivers only the panel's signals; here a message carries the panel's unique
        # name, not the well-known one, so the local filter leaves the sender out.
        self._signals = MatchRule(type="signal", interface=INTERFACE, path=PATH)
        has_owner = self._conn.send_and_get_reply(message_bus.NameHasOwner(SERVICE)).body[0]
        if not has_owner:
            self._conn.close()
            raise NoPanel("no panel running (%s is not on the session bus)" % SERVICE)

    def close(self):
        """Closes the connection to the bus."""
        self._conn.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def _call(self, method, signature=None, *args):
        reply = self._conn.send_and_get_reply(new_method_call(self._address, method, signature, args))
        if reply.header.message_type == MessageType.error:
            name = reply.header.fields.get(HeaderFields.error_name, "")
            text = str(reply.body[0]) if reply.body else name
            if name in _NO_PANEL:
                raise NoPanel("no panel running (%s)" % text)
            raise _REFUSALS.get(name, Error)(text)
        return reply.body

    # --- Reading -----------------------------------------------------------------------------

    def position(self):
        """The last reading of the selected device as (x, y, z); NoReading when none is live."""
        return tuple(self._call("Position"))

    def position_relative(self):
        """The last reading as (x, y, z) steps counted from the zero set on the device (Zero here)."""
        return tuple(self._call("PositionRelative"))

    def set_zero(self):
        """Zero here: the live position becomes the origin of the readouts; nothing moves."""
        self._call("SetZero")

    def clear_zero(self):
        """Clear zero: the readouts count from the unit's own 0 again; nothing moves."""
        self._call("ClearZero")

    def target(self):
        """The target spin boxes as (x, y, z)."""
        return tuple(self._call("Target"))

    def state(self):
        """The connection indicator's word: "reading", "stale", "stopped", "waiting" or "not connected"."""
        return self._call("State")[0]

    def last_error(self):
        """The last failure message the panel's status bar showed, or ""."""
        return self._call("LastError")[0]

    def device(self):
        """The selected device."""
        return self._call("Device")[0]

    def select_device(self, n):
        """Selects device n, as the Selected device box does."""
        self._call("SelectDevice", "i", n)

    def positions(self):
        """The named positions in the order of the list, as NamedPosition(name, x, y, z) tuples."""
        return [NamedPosition(*entry) for entry in self._call("Positions")[0]]

    def limits(self):
        """The travel envelope as Limits(enabled, xmin, xmax, ymin, ymax, zmin, zmax)."""
        return Limits(*self._call("Limits"))

    def set_limits(self, xmin, xmax, ymin, ymax, zmin, zmax, enabled=True):
        """Sets the envelope as OK in the Limits dialog does; OutOfRange, with nothing changed, on bad bounds."""
        self._call("SetLimits", "biiiiii", bool(enabled), xmin, xmax, ymin, ymax, zmin, zmax)

    # --- Acting ------------------------------------------------------------------------------

    def goto(self, x, y, z, wait=True, timeout=DEFAULT_TIMEOUT):
        """Puts x, y, z into the targets and presses Goto.

        Raises OutOfRange when the panel refuses the target (outside 0..20500
        or the envelope), with nothing sent. With wait (the default) it
        returns once the readouts show the target, and raises Halted when the
        unit is halted on the way, MoveFailed when an ordered move or the
        connection fails, and MoveTimeout after `timeout` seconds.
        """
        target = (x, y, z)
        with self._listening() as signals:
            self._call("Goto", "iii", x, y, z)
            if wait:
                self._wait(signals, timeout, arrived=lambda reading: reading == target, target=target)

    def move_by(self, dx, dy, dz):
        """Jogs by dx, dy, dz steps, as the pad's arrow buttons do."""
        self._call("MoveBy", "iii", dx, dy, dz)

    def advance(self, distance):
        """Moves `distance` micrometres forward along the pipette's axis, both axes in one target.

        OutOfRange, with nothing sent, when the target lies outside the travel or the envelope.
        """
        self._call("Advance", "d", float(distance))

    def withdraw(self, distance):
        """Moves `distance` micrometres back along the pipette's axis, both axes in one target."""
        self._call("Withdraw", "d", float(distance))

    def halt(self):
        """Stops the manipulator where it is, as the pad's Halt button does."""
        self._call("Halt")

    def goto_position(self, name, wait=True, timeout=DEFAULT_TIMEOUT):
        """Chooses the named position and presses Goto; UnknownPosition when no entry has that name."""
        with self._listening() as signals:
            self._call("GotoPosition", "s", name)
            if wait:
                target = self.target()
                self._wait(signals, timeout, arrived=lambda reading: reading == target, target=target)

    def store(self, name):
        """Keeps the current targets under name (1 to 200 characters, no control characters)."""
        self._call("StorePosition", "s", name)

    def retract(self, wait=True, timeout=DEFAULT_TIMEOUT):
        """Presses Retract: remembers the position and takes the unit out to the safe coordinate.

        With wait it returns when the move has ended, raising Halted or
        MoveFailed when it did not arrive.
        """
        self._sequence("Retract", wait, timeout)

    def return_(self, wait=True, timeout=DEFAULT_TIMEOUT):
        """Presses Return: back to the position Retract remembered (see retract())."""
        self._sequence("Return", wait, timeout)

    def changes(self, timeout=None):
        """Yields (x, y, z) for every reading of the selected device.

        Ends when no reading comes for `timeout` seconds (None waits for
        ever); raises NoPanel when the panel closes.
        """
        with self._listening() as signals:
            while True:
                try:
                    message = self._next(signals, timeout)
                except TimeoutError:
                    return
                if message.header.fields.get(HeaderFields.member) == "PositionChanged":
                    yield tuple(message.body)

    # --- Waiting -----------------------------------------------------------------------------

    @contextlib.contextmanager
    def _listening(self):
        """Keeps the panel's signals, and the word that it went away, from now on for _next()."""
        queue = collections.deque(maxlen=100000)
        with self._conn.filter(self._signals, queue=queue), self._conn.filter(self._owner, queue=queue):
            yield queue

    def _next(self, signals, timeout):
        """The next signal of the panel; NoPanel when it went away, TimeoutError after `timeout` seconds."""
        message = self._conn.recv_until_filtered(signals, timeout=timeout)
        if message.header.fields.get(HeaderFields.member) == "NameOwnerChanged" and not message.body[2]:
            raise NoPanel("the panel closed")
        return message

    def _sequence(self, method, wait, timeout):
        with self._listening() as signals:
            stage = self._call(method)[0]
            if wait and stage:
                self._wait(signals, timeout, arrived=None, target=None)

    def _wait(self, signals, timeout, arrived, target):
        """Reads the panel's signals until the move ends: `arrived(reading)` true, or, without it, the
        end of an ordered move."""
        deadline = time.monotonic() + timeout
        last = None
        while True:
            left = deadline - time.monotonic()
            try:
                if left <= 0:
                    raise TimeoutError
                message = self._next(signals, left)
            except TimeoutError:
                what = "%d %d %d not reached" % target if target else "the move did not end"
                raise MoveTimeout("%s within %g s; last reading %s" % (what, timeout, last)) from None
            member = message.header.fields.get(HeaderFields.member)
            body = message.body
            if member == "PositionChanged":
                last = tuple(body)
                if arrived and arrived(last):
                    return
            elif member == "Halted":
                raise Halted("halted")
            elif member == "StageChanged" and not body[0]:
                if body[1]:
                    raise MoveFailed(body[2])
                if not arrived:
                    return
            elif member == "StateChanged" and body[0] in ("stopped", "not connected"):
                raise MoveFailed("the panel's connection is %s" % body[0])
