#!/usr/bin/python3
"""Visits the running panel's named positions in turn and comes back.

    python3 panel.py [NAME...]

Without names it visits every entry of the Position store list. Each goto
waits for the readouts to show the target; Halt on the panel ends the tour.
"""
import sys

import kesmar

with kesmar.Panel() as panel:
    start = panel.position()
    wanted = sys.argv[1:]
    tour = [p for p in panel.positions() if not wanted or p.name in wanted]
    try:
        for p in tour:
            panel.goto(p.x, p.y, p.z)
            print("at %-20s %5d %5d %5d" % (p.name, *panel.position()))
        panel.goto(*start)
        print("back at %d %d %d" % start)
    except kesmar.Halted:
        sys.exit("halted at %d %d %d" % panel.position())
    except kesmar.Error as e:
        sys.exit("kesmar: %s" % e)
