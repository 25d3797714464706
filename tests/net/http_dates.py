#!/usr/bin/env python3
"""Reference HTTP dates for the date parser's and formatter's cross-check.

Prints, for a fixed seed, generated dates in the RFC 1123, RFC 850 and asctime forms with the universal
time that Python's own mail-date parser gives for each, and time values with the RFC 1123 text that
its formatter gives. Lines are tab-separated:
    parse   TEXT    SECONDS
    format  SECONDS TEXT
Two-digit years are written only for 1977 to 2037, where this parser's century rule and the one of
the program under test (relative to the year 2026) agree.
"""

import calendar
import random
import sys
from datetime import datetime, timezone
from email.utils import formatdate, parsedate_tz

FIRST = calendar.timegm((1970, 1, 1, 0, 0, 0))
LAST = calendar.timegm((2037, 12, 31, 23, 59, 59))
MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
DAYS = ["Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"]  # time.struct_time's order
LONG_DAYS = ["Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"]
NAMED_ZONES = {"UT": 0, "GMT": 0, "Z": 0, "EST": -5, "CST": -6, "MST": -7, "PST": -8, "EDT": -4,
               "CDT": -5, "MDT": -6, "PDT": -7}


def random_case(rng, text):
    choice = rng.randrange(3)
    return text if choice == 0 else text.upper() if choice == 1 else text.lower()


def random_zone(rng):
    if rng.randrange(2) == 0:
        return random_case(rng, rng.choice(sorted(NAMED_ZONES)))
    hours, minutes = rng.randrange(15), rng.choice([0, 15, 30, 45])
    # "-0000" means "unknown zone" to the reference parser; it is left out.
    sign = "+" if hours == minutes == 0 else rng.choice("+-")
    return "%s%02d%02d" % (sign, hours, minutes)


def generate(rng):
    """One date text in the fields of a random time in 1970-2037."""
    while True:
        t = datetime.fromtimestamp(rng.randrange(FIRST, LAST + 1), timezone.utc)
        form = rng.randrange(3)
        if form != 1 or t.year >= 1977:
            break
    weekday = t.weekday()
    month = random_case(rng, MONTHS[t.month - 1])
    seconds = rng.randrange(4) != 0
    clock = "%02d:%02d" % (t.hour, t.minute) + (":%02d" % t.second if seconds else "")
    space = " " * rng.choice([1, 1, 2])
    if form == 0:
        year = "%04d" % t.year if t.year < 1977 or rng.randrange(4) != 0 else "%02d" % (t.year % 100)
        prefix = DAYS[weekday] + "," + space if rng.randrange(3) != 0 else ""
        return "%s%02d%s%s%s%s%s%s%s%s" % (prefix, t.day, space, month, space, year, space, clock, space,
                                           random_zone(rng))
    if form == 1:
        prefix = rng.choice([LONG_DAYS, DAYS])[weekday] + ", " if rng.randrange(3) != 0 else ""
        return "%s%02d-%s-%02d %s %s" % (prefix, t.day, month, t.year % 100, clock, random_zone(rng))
    prefix = DAYS[weekday] + " " if rng.randrange(3) != 0 else ""
    return "%s%s %2d %s %04d" % (prefix, month, t.day, clock, t.year)


def main():
    seed = int(sys.argv[1]) if len(sys.argv) > 1 else 1
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 3000
    rng = random.Random(seed)
    for _ in range(count):
        text = generate(rng)
        parsed = parsedate_tz(text)
        if parsed is None:
            sys.exit("reference parser refused " + text)
        seconds = calendar.timegm(parsed[:6] + (0, 1, 0)) - (parsed[9] or 0)
        print("parse\t%s\t%d" % (text, seconds))
    for _ in range(count):
        value = rng.randrange(FIRST, LAST + 1)
        print("format\t%d\t%s" % (value, formatdate(value, usegmt=True)))
    # Both ends of the range.
    for value in (FIRST, LAST, 0x7FFFFFFF):
        print("format\t%d\t%s" % (value, formatdate(value, usegmt=True)))


if __name__ == "__main__":
    main()
