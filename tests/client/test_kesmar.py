"""The Python module kesmar against a running panel and the simulator.

Runs on a session bus of its own (CTest starts it under dbus-run-session):
starts kesmarsim and kesmarcontrol (on the offscreen platform, with a
settings store in a temporary folder) and drives the panel through
kesmar.Panel. KESMARSIM and KESMARCONTROL name the programs.
"""

import os
import subprocess
import tempfile
import threading
import unittest

from jeepney import MatchRule, message_bus
from jeepney.io.blocking import open_dbus_connection

import kesmar

START = (10250, 10250, 10250)


def setUpModule():
    global work, sim, panel_process
    work = tempfile.TemporaryDirectory(prefix="kesmar-py.")
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work.name, "config"), XDG_RUNTIME_DIR=work.name,
               QT_QPA_PLATFORM="offscreen")
    # Slow enough that a goto is still under way when the test halts it; it ends with this script.
    sim = subprocess.Popen([os.environ["KESMARSIM"], "--exit-on-eof", "--no-link", "--speed", "4000"],
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    pty = sim.stdout.readline().strip()
    store = os.path.join(work.name, "config", "quellmark")
    os.makedirs(store)
    with open(os.path.join(store, "orvex.conf"), "w") as f:
        f.write("[settings]\nport=%s\n" % pty)
    # The panel is there once its name is on the bus; watched before it starts.
    bus = open_dbus_connection(bus="SESSION")
    rule = MatchRule(type="signal", sender="org.freedesktop.DBus", member="NameOwnerChanged")
    rule.add_arg_condition(0, kesmar.SERVICE)
    bus.send_and_get_reply(message_bus.AddMatch(rule))
    with bus.filter(rule) as owners:
        panel_process = subprocess.Popen([os.environ["KESMARCONTROL"]], env=env, stdout=subprocess.DEVNULL,
                                         stderr=subprocess.DEVNULL)
        bus.recv_until_filtered(owners, timeout=30)
    bus.close()


def tearDownModule():
    for process in (panel_process, sim):
        process.terminate()
        process.wait(timeout=30)
    work.cleanup()


class PanelTest(unittest.TestCase):
    def setUp(self):
        self.panel = kesmar.Panel()
        self.addCleanup(self.panel.close)
        # A live reading first: the panel reads within its polling interval.
        next(self.panel.changes(timeout=30))

    def test_goto_waits_for_the_target(self):
        self.panel.goto(1000, 2000, 3000, timeout=30)
        self.assertEqual(self.panel.position(), (1000, 2000, 3000))
        self.panel.goto(*START, timeout=30)
        self.assertEqual(self.panel.position(), START)

    def test_refusals_raise_with_the_operators_text(self):
        for call, error in [
            (lambda: self.panel.goto(30000, 0, 0), kesmar.OutOfRange),
            (lambda: self.panel.store("two\nlines"), kesmar.OutOfRange),
            (lambda: self.panel.store(""), kesmar.OutOfRange),
            (lambda: self.panel.goto_position("no such entry"), kesmar.UnknownPosition),
            (lambda: self.panel.set_limits(0, 100, 0, 100, 200, 100), kesmar.OutOfRange),
            (lambda: self.panel.advance(30000), kesmar.OutOfRange),
        ]:
            with self.assertRaises(error) as caught:
                call()
            self.assertIsInstance(caught.exception, kesmar.Refused)
            self.assertTrue(str(caught.exception))
        self.assertFalse(any(p.name == "two\nlines" for p in self.panel.positions()))

    def test_halt_ends_a_goto_that_waits(self):
        here = self.panel.position()

        def halt_once_moving():
            with kesmar.Panel() as other:
                for reading in other.changes(timeout=30):
                    if reading != here:
                        other.halt()
                        return

        halter = threading.Thread(target=halt_once_moving)
        halter.start()
        try:
            with self.assertRaises(kesmar.Halted):
                self.panel.goto(0, 0, 0, timeout=30)
        finally:
            halter.join(timeout=30)
        self.assertNotEqual(self.panel.position(), (0, 0, 0))

    def test_store_keeps_the_targets_under_the_name(self):
        self.panel.goto(4000, 5000, 6000, timeout=30)
        self.panel.store("Slice ✓")
        self.assertIn(kesmar.NamedPosition("Slice ✓", 4000, 5000, 6000), self.panel.positions())
        self.panel.goto(*START, timeout=30)
        self.panel.goto_position("Slice ✓", timeout=30)
        self.assertEqual(self.panel.position(), (4000, 5000, 6000))

    def test_zero_and_an_advance_along_the_pipette(self):
        self.panel.goto(*START, timeout=30)
        self.panel.set_zero()
        self.addCleanup(self.panel.clear_zero)
        self.assertEqual(self.panel.position_relative(), (0, 0, 0))
        # The pipette lies along X until a device's coordinates say otherwise.
        self.panel.advance(100)
        for reading in self.panel.changes(timeout=30):
            if reading == (START[0] + 100, START[1], START[2]):
                break
        self.assertEqual(self.panel.position_relative(), (100, 0, 0))
        self.assertEqual(self.panel.position(), (START[0] + 100, START[1], START[2]))

    def test_limits_set_and_read_back(self):
        before = self.panel.limits()
        self.addCleanup(lambda: self.panel.set_limits(*before[1:], enabled=before.enabled))
        self.panel.set_limits(100, 20000, 200, 20100, 300, 20500)
        self.assertEqual(self.panel.limits(), kesmar.Limits(True, 100, 20000, 200, 20100, 300, 20500))

    def test_retract_and_return(self):
        self.panel.goto(*START, timeout=30)
        self.panel.retract(timeout=30)
        out = self.panel.position()
        self.assertNotEqual(out, START)
        self.panel.return_(timeout=30)
        # With the default approach distance of 0, right back where it was.
        self.assertEqual(self.panel.position(), START)

    def test_changes_follow_a_move(self):
        self.panel.goto(*START, timeout=30)
        seen = []
        self.panel.goto(START[0] + 1000, START[1], START[2], wait=False)
        for reading in self.panel.changes(timeout=30):
            seen.append(reading)
            if reading[0] == START[0] + 1000:
                break
        self.assertGreater(len(seen), 1)
        self.assertEqual([r[0] for r in seen], sorted(r[0] for r in seen))
        self.panel.goto(*START, timeout=30)


class NoPanelTest(unittest.TestCase):
    def test_no_panel_on_another_bus(self):
        # A bus without the panel: the system's, or none at all in a container.
        try:
            panel = kesmar.Panel(bus="SYSTEM")
        except kesmar.NoPanel:
            return
        panel.close()
        self.fail("a panel was found on the system bus")


if __name__ == "__main__":
    unittest.main(verbosity=2)
