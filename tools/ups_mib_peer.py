#!/usr/bin/python3
"""Simulated UPS network adapter for snmpd's pass_persist protocol.

snmpd hands every GET, GETNEXT and SET below the registered subtree to this
program (one request at a time on stdin, answer on stdout), so that a real
snmpd answers as a UPS network adapter serving the standard UPS MIB
(mib-2.33), the MIB-II system group, the adapter's one interface and the
adapter's private subtree 1.3.6.1.4.1.32473.1.

Protocol with snmpd (see snmpd.conf(5), pass_persist):
    PING                      -> PONG
    get / OID                 -> OID, TYPE, VALUE lines, or NONE
    getnext / OID             -> the next object after OID, or NONE
    set / OID / TYPE VALUE    -> DONE or one of not-writable, wrong-type,
                                 wrong-length, wrong-value, inconsistent-value

Test control:
    --state FILE    JSON object re-read whenever the file is replaced.  Only
                    keys whose value differs from the previous version of the
                    file are applied, so values written by SET requests stay
                    until the test changes that very key.  A key removed from
                    the file goes back to its default.  See DEFAULTS for the
                    keys; "uptime" freezes the adapter clock (seconds since the
                    adapter started), otherwise the clock runs with wall time.
    --set-log FILE  one line per SET: OID, TYPE, VALUE, RESULT (tab separated;
                    backslash, tab and newline in VALUE escaped as \\\\, \\t, \\n).
    --request-log FILE  one line per get/getnext/set: COMMAND, OID.

Only the Python standard library is used.
"""

import argparse
import bisect
import copy
import json
import os
import sys
import time

MIB2 = (1, 3, 6, 1, 2, 1)
SYSTEM = MIB2 + (1,)
IFACES = MIB2 + (2,)
UPS = MIB2 + (33, 1)
PRIVATE_ENTERPRISE = 32473
PRIV = (1, 3, 6, 1, 4, 1, PRIVATE_ENTERPRISE, 1)

WELL_KNOWN_ALARMS = UPS + (6, 3)
WELL_KNOWN_TESTS = UPS + (7, 7)
TEST_NONE = WELL_KNOWN_TESTS + (1,)
TEST_ABORT = WELL_KNOWN_TESTS + (2,)
TEST_GENERAL = WELL_KNOWN_TESTS + (3,)
TEST_QUICK = WELL_KNOWN_TESTS + (4,)
TEST_DEEP = WELL_KNOWN_TESTS + (5,)

ALARM_ON_BATTERY = 2
ALARM_TEST_IN_PROGRESS = 24

# upsTestResultsSummary values
RESULT_DONE_PASS = 1
RESULT_ABORTED = 4
RESULT_IN_PROGRESS = 5
RESULT_NO_TESTS = 6

# upsOutputSource values
SOURCE_NONE = 2
SOURCE_NORMAL = 3
SOURCE_BATTERY = 5

MAX_INT32 = 2147483647

DEFAULTS = {
    # clock: seconds since the adapter started; None = wall clock
    "uptime": None,
    # MIB-II system group and the adapter's interface
    "sys_descr": "Vigil UPS network adapter (test peer)",
    "sys_object_id": "1.3.6.1.4.1.%d.1" % PRIVATE_ENTERPRISE,
    "sys_contact": "",
    "sys_name": "ups-adapter",
    "sys_location": "Test bench",
    "if_descr": "eth0",
    "if_speed": 10000000,
    "if_phys_address": "00 10 20 30 40 50",
    # upsIdent
    "ident_manufacturer": "OSTREL",
    "ident_model": "UPS 1500",
    "ident_ups_software_version": "FW: 2.15",
    "ident_agent_software_version": "Adapter 3.02",
    "ident_name": "ID: 0123456789ABCDEF Msg: CTO-0000000000001",
    "ident_attached_devices": "File server",
    # upsBattery
    "battery_status": 2,
    "minutes_remaining": 45,
    "charge_remaining": 100,
    "battery_voltage": 546,
    "battery_current": 0,
    "battery_temperature": 25,
    "on_battery": False,
    # upsInput / upsOutput / upsBypass; *_num_lines None = length of the list
    "input_line_bads": 0,
    "input_lines": [{"frequency": 600, "voltage": 120, "current": 45, "true_power": 500}],
    "input_num_lines": None,
    "output_source": SOURCE_NORMAL,
    "output_frequency": 600,
    "output_lines": [{"voltage": 120, "current": 40, "power": 450, "percent_load": 30}],
    "output_num_lines": None,
    "bypass_frequency": 600,
    "bypass_lines": [{"voltage": 120, "current": 0, "power": 0}],
    "bypass_num_lines": None,
    # upsAlarm: items are well-known alarm numbers, or objects with "alarm" (a
    # well-known number) or "descr" (any OID text) and optionally a fixed "id";
    # "alarms_present" None = the real count of the table
    "alarms": [],
    "alarms_present": None,
    # upsTest
    "spin_lock": 1,
    "test_duration": 10,
    "test_outcome": RESULT_DONE_PASS,
    "test_detail": "Battery test passed",
    "test_refuse": None,
    # upsControl
    "shutdown_type": 1,
    "reboot_with_duration": -1,
    "auto_restart": 1,
    # upsConfig
    "config_input_voltage": 120,
    "config_input_freq": 600,
    "config_output_voltage": 120,
    "config_output_freq": 600,
    "config_output_va": 1500,
    "config_output_power": 1050,
    "config_low_batt_time": 2,
    "config_audible_status": 2,
    "config_low_transfer": 100,
    "config_high_transfer": 140,
    # private subtree only
    "output_off_trap_delay": 0,
    "config_date_and_time": "01/01/2000 00:00:00",
    "max_trap_level": 3,
    "send_trap_type": 1,
    "trap_message": "",
    # fault injection: OID text -> {"type": T, "value": V} replaces or adds an
    # object; "missing" lists OIDs to hide; "set_errors" maps OID -> error word
    "override": {},
    "missing": [],
    "set_errors": {},
}


def parse_oid(text):
    text = text.strip()
    if text.startswith("."):
        text = text[1:]
    if not text:
        return ()
    try:
        return tuple(int(part) for part in text.split("."))
    except ValueError:
        return None


def oid_text(oid):
    return "." + ".".join(str(part) for part in oid)


def as_int(value, default=0):
    try:
        if isinstance(value, bool):
            return int(value)
        return int(value)
    except (TypeError, ValueError):
        return default


def as_float(value, default=0.0):
    try:
        return float(value)
    except (TypeError, ValueError):
        return default


def escape(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")


class Obj:
    """One served object: SNMP type word, value, and an optional SET handler."""

    __slots__ = ("kind", "value", "setter")

    def __init__(self, kind, value, setter=None):
        self.kind = kind
        self.value = value
        self.setter = setter


class SetError(Exception):
    pass


class Adapter:
    def __init__(self, state_path, set_log, request_log):
        self.state_path = state_path
        self.set_log = set_log
        self.request_log = request_log
        self.values = copy.deepcopy(DEFAULTS)
        self.loaded = {}
        self.signature = None
        self.started = time.monotonic()
        self.alarms = []          # dicts: key, id, descr (tuple), time (ticks)
        self.next_alarm_id = 1
        self.next_event_id = 0
        self.events = []          # dicts: id, time, kind (1 added, 2 removed), descr
        self.test_running = False
        self.test_start = 0.0     # adapter seconds
        self.test_id = TEST_NONE
        self.test_summary = RESULT_NO_TESTS
        self.test_detail = ""
        self.test_elapsed = 0
        self.spin_ok = False      # the last SET was an accepted upsTestSpinLock
        self.spin_ready = False
        self.battery_since = None
        self.shutdown_at = None
        self.startup_at = None
        self.output_off = False
        self.if_admin = 1
        self.restarts = 0
        self.load_state()

    # ---- clock and state -------------------------------------------------
    def now(self):
        fixed = self.values.get("uptime")
        if fixed is not None:
            try:
                return float(fixed)
            except (TypeError, ValueError):
                pass
        return time.monotonic() - self.started

    def ticks(self, seconds=None):
        if seconds is None:
            seconds = self.now()
        return max(0, int(round(seconds * 100))) & 0xFFFFFFFF

    def load_state(self):
        if not self.state_path:
            return
        try:
            st = os.stat(self.state_path)
        except OSError:
            return
        signature = (st.st_ino, st.st_mtime_ns, st.st_size)
        if signature == self.signature:
            return
        try:
            with open(self.state_path, "r", encoding="utf-8") as f:
                data = json.load(f)
        except (OSError, ValueError) as e:
            sys.stderr.write("ups_mib_peer: state file not read: %s\n" % e)
            return
        self.signature = signature
        if not isinstance(data, dict):
            sys.stderr.write("ups_mib_peer: state file is not a JSON object\n")
            return
        for key, value in data.items():
            if key not in self.loaded or self.loaded[key] != value:
                self.values[key] = copy.deepcopy(value)
        for key in self.loaded:
            if key not in data and key in DEFAULTS:
                self.values[key] = copy.deepcopy(DEFAULTS[key])
        self.loaded = copy.deepcopy(data)

    def update(self):
        """Moves the simulated adapter forward to the current clock."""
        now = self.now()
        if self.values.get("on_battery"):
            if self.battery_since is None:
                self.battery_since = now
        else:
            self.battery_since = None
        if self.test_running and now >= self.test_start + self.test_duration():
            self.finish_test(as_int(self.values.get("test_outcome"), RESULT_DONE_PASS),
                             str(self.values.get("test_detail") or ""))
        if self.shutdown_at is not None and now >= self.shutdown_at:
            self.shutdown_at = None
            self.output_off = True
        if self.startup_at is not None and now >= self.startup_at:
            self.startup_at = None
            self.output_off = False
        self.reconcile_alarms()

    def test_duration(self):
        return max(0.0, as_float(self.values.get("test_duration"), 0.0))

    def finish_test(self, summary, detail):
        now = self.now()
        self.test_running = False
        self.test_summary = summary
        self.test_detail = detail
        end = min(now, self.test_start + self.test_duration())
        if summary == RESULT_ABORTED:
            end = now
        self.test_elapsed = self.ticks(end - self.test_start)

    # ---- alarm table -----------------------------------------------------
    def wanted_alarms(self):
        wanted = []
        seen = {}
        items = self.values.get("alarms") or []
        if not isinstance(items, list):
            items = []
        for item in items:
            fixed_id = None
            if isinstance(item, dict):
                if "descr" in item:
                    descr = parse_oid(str(item["descr"]))
                else:
                    descr = WELL_KNOWN_ALARMS + (as_int(item.get("alarm")),)
                if "id" in item:
                    fixed_id = as_int(item["id"])
            else:
                descr = WELL_KNOWN_ALARMS + (as_int(item),)
            if descr is None:
                continue
            n = seen.get(descr, 0)
            seen[descr] = n + 1
            wanted.append(((descr, n, fixed_id), descr, fixed_id))
        if self.values.get("on_battery"):
            descr = WELL_KNOWN_ALARMS + (ALARM_ON_BATTERY,)
            if descr not in seen:
                wanted.append(((descr, "battery", None), descr, None))
        if self.test_running:
            descr = WELL_KNOWN_ALARMS + (ALARM_TEST_IN_PROGRESS,)
            if descr not in seen:
                wanted.append(((descr, "test", None), descr, None))
        return wanted

    def reconcile_alarms(self):
        wanted = self.wanted_alarms()
        keys = {key for key, _, _ in wanted}
        now_ticks = self.ticks()
        kept = []
        for entry in self.alarms:
            if entry["key"] in keys:
                kept.append(entry)
            else:
                self.add_event(2, entry["descr"], now_ticks)
        present = {entry["key"] for entry in kept}
        for key, descr, fixed_id in wanted:
            if key in present:
                continue
            if fixed_id is None:
                alarm_id = self.next_alarm_id
                self.next_alarm_id += 1
            else:
                alarm_id = fixed_id
            kept.append({"key": key, "id": alarm_id, "descr": descr, "time": now_ticks})
            self.add_event(1, descr, now_ticks)
        self.alarms = kept

    def add_event(self, kind, descr, ticks):
        self.next_event_id += 1
        self.events.append({"id": self.next_event_id, "time": ticks, "kind": kind, "descr": descr})
        del self.events[:-50]

    # ---- the served objects ----------------------------------------------
    def objects(self):
        v = self.values
        now = self.now()
        objs = {}

        def put(oid, kind, value, setter=None):
            objs[oid] = Obj(kind, value, setter)

        # system group
        put(SYSTEM + (1, 0), "string", v.get("sys_descr"))
        put(SYSTEM + (2, 0), "objectid", parse_oid(str(v.get("sys_object_id"))) or (0, 0))
        put(SYSTEM + (3, 0), "timeticks", self.ticks(now))
        put(SYSTEM + (4, 0), "string", v.get("sys_contact"), self.text_setter("sys_contact", 255))
        put(SYSTEM + (5, 0), "string", v.get("sys_name"), self.text_setter("sys_name", 255))
        put(SYSTEM + (6, 0), "string", v.get("sys_location"), self.text_setter("sys_location", 255))
        put(SYSTEM + (7, 0), "integer", 72)

        # interfaces: the adapter's one Ethernet port
        entry = IFACES + (2, 1)
        put(IFACES + (1, 0), "integer", 1)
        put(entry + (1, 1), "integer", 1)
        put(entry + (2, 1), "string", v.get("if_descr"))
        put(entry + (3, 1), "integer", 6)
        put(entry + (4, 1), "integer", 1500)
        put(entry + (5, 1), "gauge", v.get("if_speed"))
        put(entry + (6, 1), "octet", v.get("if_phys_address"))
        put(entry + (7, 1), "integer", self.if_admin, self.set_if_admin)
        put(entry + (8, 1), "integer", 1)
        put(entry + (9, 1), "timeticks", 0)

        # upsIdent
        ident = UPS + (1,)
        put(ident + (1, 0), "string", v.get("ident_manufacturer"))
        put(ident + (2, 0), "string", v.get("ident_model"))
        put(ident + (3, 0), "string", v.get("ident_ups_software_version"))
        put(ident + (4, 0), "string", v.get("ident_agent_software_version"))
        put(ident + (5, 0), "string", v.get("ident_name"), self.text_setter("ident_name", 63))
        put(ident + (6, 0), "string", v.get("ident_attached_devices"),
            self.text_setter("ident_attached_devices", 63))

        # upsBattery
        battery = UPS + (2,)
        seconds_on_battery = 0 if self.battery_since is None else int(now - self.battery_since)
        put(battery + (1, 0), "integer", v.get("battery_status"))
        put(battery + (2, 0), "integer", seconds_on_battery)
        put(battery + (3, 0), "integer", v.get("minutes_remaining"))
        put(battery + (4, 0), "integer", v.get("charge_remaining"))
        put(battery + (5, 0), "integer", v.get("battery_voltage"))
        put(battery + (6, 0), "integer", v.get("battery_current"))
        put(battery + (7, 0), "integer", v.get("battery_temperature"))

        # upsInput
        inp = UPS + (3,)
        lines = self.lines("input_lines")
        put(inp + (1, 0), "counter", v.get("input_line_bads"))
        put(inp + (2, 0), "integer", self.num_lines("input_num_lines", lines))
        for i, line in enumerate(lines, 1):
            col = inp + (3, 1)
            put(col + (1, i), "integer", i)
            put(col + (2, i), "integer", line.get("frequency", 0))
            put(col + (3, i), "integer", line.get("voltage", 0))
            put(col + (4, i), "integer", line.get("current", 0))
            put(col + (5, i), "integer", line.get("true_power", 0))

        # upsOutput
        out = UPS + (4,)
        lines = self.lines("output_lines")
        put(out + (1, 0), "integer", self.output_source())
        put(out + (2, 0), "integer", v.get("output_frequency"))
        put(out + (3, 0), "integer", self.num_lines("output_num_lines", lines))
        for i, line in enumerate(lines, 1):
            col = out + (4, 1)
            put(col + (1, i), "integer", i)
            put(col + (2, i), "integer", 0 if self.output_off else line.get("voltage", 0))
            put(col + (3, i), "integer", 0 if self.output_off else line.get("current", 0))
            put(col + (4, i), "integer", 0 if self.output_off else line.get("power", 0))
            put(col + (5, i), "integer", 0 if self.output_off else line.get("percent_load", 0))

        # upsBypass
        byp = UPS + (5,)
        lines = self.lines("bypass_lines")
        put(byp + (1, 0), "integer", v.get("bypass_frequency"))
        put(byp + (2, 0), "integer", self.num_lines("bypass_num_lines", lines))
        for i, line in enumerate(lines, 1):
            col = byp + (3, 1)
            put(col + (1, i), "integer", i)
            put(col + (2, i), "integer", line.get("voltage", 0))
            put(col + (3, i), "integer", line.get("current", 0))
            put(col + (4, i), "integer", line.get("power", 0))

        # upsAlarm
        alarm = UPS + (6,)
        present = v.get("alarms_present")
        put(alarm + (1, 0), "gauge", len(self.alarms) if present is None else present)
        for entry in self.alarms:
            col = alarm + (2, 1)
            put(col + (1, entry["id"]), "integer", entry["id"])
            put(col + (2, entry["id"]), "objectid", entry["descr"])
            put(col + (3, entry["id"]), "timeticks", entry["time"])

        # upsTest
        test = UPS + (7,)
        elapsed = self.ticks(now - self.test_start) if self.test_running else self.test_elapsed
        start = self.ticks(self.test_start) if (self.test_running or self.test_summary != RESULT_NO_TESTS) else 0
        put(test + (1, 0), "objectid", self.test_id, self.set_test_id)
        put(test + (2, 0), "integer", v.get("spin_lock"), self.set_spin_lock)
        put(test + (3, 0), "integer", RESULT_IN_PROGRESS if self.test_running else self.test_summary)
        put(test + (4, 0), "string", "" if self.test_running else self.test_detail)
        put(test + (5, 0), "timeticks", start)
        # the adapter serves the elapsed time as TimeTicks, as the client's table expects
        put(test + (6, 0), "timeticks", elapsed)

        # upsControl
        control = UPS + (8,)
        put(control + (1, 0), "integer", v.get("shutdown_type"), self.int_setter("shutdown_type", 1, 2))
        put(control + (2, 0), "integer", self.remaining(self.shutdown_at, now), self.set_shutdown_delay)
        put(control + (3, 0), "integer", self.remaining(self.startup_at, now), self.set_startup_delay)
        put(control + (4, 0), "integer", v.get("reboot_with_duration"),
            self.int_setter("reboot_with_duration", -1, 300))
        put(control + (5, 0), "integer", v.get("auto_restart"), self.int_setter("auto_restart", 1, 2))

        # upsConfig
        config = UPS + (9,)
        put(config + (1, 0), "integer", v.get("config_input_voltage"), self.int_setter("config_input_voltage"))
        put(config + (2, 0), "integer", v.get("config_input_freq"), self.int_setter("config_input_freq"))
        put(config + (3, 0), "integer", v.get("config_output_voltage"), self.int_setter("config_output_voltage"))
        put(config + (4, 0), "integer", v.get("config_output_freq"), self.int_setter("config_output_freq"))
        put(config + (5, 0), "integer", v.get("config_output_va"))
        put(config + (6, 0), "integer", v.get("config_output_power"))
        put(config + (7, 0), "integer", v.get("config_low_batt_time"), self.int_setter("config_low_batt_time"))
        put(config + (8, 0), "integer", v.get("config_audible_status"),
            self.int_setter("config_audible_status", 1, 3))
        put(config + (9, 0), "integer", v.get("config_low_transfer"), self.int_setter("config_low_transfer"))
        put(config + (10, 0), "integer", v.get("config_high_transfer"), self.int_setter("config_high_transfer"))

        self.private_objects(put, now)

        # fault injection last, so that it wins
        overrides = v.get("override") or {}
        if isinstance(overrides, dict):
            for text, served in overrides.items():
                oid = parse_oid(str(text))
                if oid and isinstance(served, dict):
                    old = objs.get(oid)
                    put(oid, str(served.get("type", "string")), served.get("value"), old.setter if old else None)
        for text in v.get("missing") or []:
            oid = parse_oid(str(text))
            if oid is not None:
                objs.pop(oid, None)
        return objs

    def private_objects(self, put, now):
        """The adapter maker's own objects (1.3.6.1.4.1.32473.1), mirroring the
        standard ones; tables are indexed from 1, scalars end in .0."""
        v = self.values
        p = PRIV
        put(p + (1, 1, 0), "string", v.get("ident_manufacturer"))
        put(p + (1, 2, 0), "string", v.get("ident_model"))
        put(p + (1, 3, 0), "string", v.get("ident_ups_software_version"))
        put(p + (2, 1, 0), "integer", as_int(v.get("minutes_remaining")) * 60)
        put(p + (2, 2, 0), "integer", v.get("battery_voltage"))
        put(p + (2, 3, 0), "integer", v.get("battery_current"))
        put(p + (2, 4, 0), "integer", v.get("charge_remaining"))
        lines = self.lines("input_lines")
        put(p + (3, 1, 0), "integer", lines[0].get("frequency", 0) if lines else 0)
        put(p + (3, 2, 0), "counter", v.get("input_line_bads"))
        put(p + (3, 3, 0), "integer", self.num_lines("input_num_lines", lines))
        for i, line in enumerate(lines, 1):
            put(p + (3, 4, 1, 1, i), "integer", i)
            put(p + (3, 4, 1, 2, i), "integer", line.get("voltage", 0))
            put(p + (3, 4, 1, 3, i), "integer", line.get("current", 0))
            put(p + (3, 4, 1, 4, i), "integer", line.get("true_power", 0))
        lines = self.lines("output_lines")
        put(p + (4, 1, 0), "integer", lines[0].get("percent_load", 0) if lines and not self.output_off else 0)
        put(p + (4, 2, 0), "integer", v.get("output_frequency"))
        put(p + (4, 3, 0), "integer", self.num_lines("output_num_lines", lines))
        for i, line in enumerate(lines, 1):
            put(p + (4, 4, 1, 1, i), "integer", i)
            put(p + (4, 4, 1, 2, i), "integer", 0 if self.output_off else line.get("voltage", 0))
            put(p + (4, 4, 1, 3, i), "integer", 0 if self.output_off else line.get("current", 0))
            put(p + (4, 4, 1, 4, i), "integer", 0 if self.output_off else line.get("power", 0))
        lines = self.lines("bypass_lines")
        put(p + (5, 1, 0), "integer", v.get("bypass_frequency"))
        put(p + (5, 2, 0), "integer", self.num_lines("bypass_num_lines", lines))
        for i, line in enumerate(lines, 1):
            put(p + (5, 3, 1, 1, i), "integer", i)
            put(p + (5, 3, 1, 2, i), "integer", line.get("voltage", 0))
        present = v.get("alarms_present")
        put(p + (6, 1, 0), "gauge", len(self.alarms) if present is None else present)
        for entry in self.alarms:
            put(p + (6, 2, 1, 1, entry["id"]), "integer", entry["id"])
            put(p + (6, 2, 1, 2, entry["id"]), "objectid", entry["descr"])
            put(p + (6, 2, 1, 3, entry["id"]), "timeticks", entry["time"])
        put(p + (6, 3, 0), "integer", len(self.events))
        for event in self.events:
            put(p + (6, 4, 1, 1, event["id"]), "integer", event["id"])
            put(p + (6, 4, 1, 2, event["id"]), "string", self.date_text(event["time"]))
            put(p + (6, 4, 1, 3, event["id"]), "integer", event["kind"])
            put(p + (6, 4, 1, 4, event["id"]), "string",
                ("Added " if event["kind"] == 1 else "Removed ") + oid_text(event["descr"]))
        put(p + (7, 1, 0), "integer", 1 if self.test_running else 0, self.set_private_test)
        put(p + (7, 2, 0), "integer", RESULT_IN_PROGRESS if self.test_running else self.test_summary)
        put(p + (8, 1, 0), "integer", self.remaining(self.shutdown_at, now), self.set_shutdown_delay)
        put(p + (8, 2, 0), "integer", self.remaining(self.startup_at, now), self.set_startup_delay)
        put(p + (8, 3, 0), "integer", v.get("output_off_trap_delay"), self.int_setter("output_off_trap_delay"))
        put(p + (9, 1, 0), "integer", v.get("config_output_voltage"), self.int_setter("config_output_voltage"))
        put(p + (9, 2, 0), "integer", v.get("config_input_voltage"), self.int_setter("config_input_voltage"))
        put(p + (9, 3, 0), "integer", v.get("config_output_power"))
        put(p + (9, 4, 0), "integer", v.get("config_output_freq"), self.int_setter("config_output_freq"))
        put(p + (9, 5, 0), "string", v.get("config_date_and_time"), self.text_setter("config_date_and_time", 19))
        put(p + (10, 1, 0), "integer", v.get("max_trap_level"), self.int_setter("max_trap_level", 0, 10))
        put(p + (10, 2, 0), "integer", v.get("send_trap_type"), self.int_setter("send_trap_type", 0, 3))
        put(p + (10, 3, 0), "string", v.get("trap_message"), self.text_setter("trap_message", 79))

    def date_text(self, ticks):
        t = time.gmtime(946684800 + ticks // 100)
        return time.strftime("%m/%d/%Y %H:%M:%S", t)

    def lines(self, key):
        lines = self.values.get(key) or []
        if not isinstance(lines, list):
            return []
        return [line if isinstance(line, dict) else {} for line in lines]

    def num_lines(self, key, lines):
        n = self.values.get(key)
        return len(lines) if n is None else n

    def output_source(self):
        if self.values.get("on_battery"):
            return SOURCE_BATTERY
        if self.output_off:
            return SOURCE_NONE
        return self.values.get("output_source")

    @staticmethod
    def remaining(deadline, now):
        if deadline is None:
            return -1
        return max(0, int(deadline - now + 0.999))

    # ---- SET handlers: each gets (type word, value text) -----------------
    @staticmethod
    def want_int(kind, text, low=-MAX_INT32 - 1, high=MAX_INT32):
        if kind != "integer":
            raise SetError("wrong-type")
        try:
            value = int(text.strip())
        except ValueError:
            raise SetError("wrong-value")
        if value < low or value > high:
            raise SetError("wrong-value")
        return value

    @staticmethod
    def want_text(kind, text, limit):
        if kind == "string":
            value = text
        elif kind == "octet":
            try:
                value = bytes(int(b, 16) for b in text.split()).decode("latin-1")
            except ValueError:
                raise SetError("wrong-value")
        else:
            raise SetError("wrong-type")
        if len(value.encode("latin-1", "replace")) > limit:
            raise SetError("wrong-length")
        return value

    def text_setter(self, key, limit):
        def setter(kind, text):
            self.values[key] = self.want_text(kind, text, limit)
        return setter

    def int_setter(self, key, low=-MAX_INT32 - 1, high=MAX_INT32):
        def setter(kind, text):
            self.values[key] = self.want_int(kind, text, low, high)
        return setter

    def set_if_admin(self, kind, text):
        value = self.want_int(kind, text, 1, 3)
        if value == 2:
            # the adapter restarts its agent and comes back up
            self.restarts += 1
            value = 1
        self.if_admin = value

    def set_shutdown_delay(self, kind, text):
        value = self.want_int(kind, text, -1)
        self.shutdown_at = None if value < 0 else self.now() + value

    def set_startup_delay(self, kind, text):
        value = self.want_int(kind, text, -1)
        self.startup_at = None if value < 0 else self.now() + value

    def set_spin_lock(self, kind, text):
        value = self.want_int(kind, text, 0)
        current = as_int(self.values.get("spin_lock"))
        if value != current:
            raise SetError("inconsistent-value")
        self.values["spin_lock"] = 0 if current >= MAX_INT32 else current + 1
        self.spin_ok = True

    def set_test_id(self, kind, text):
        if kind != "objectid":
            raise SetError("wrong-type")
        test = parse_oid(text)
        if test is None:
            raise SetError("wrong-value")
        if not self.spin_ready:
            raise SetError("inconsistent-value")
        self.start_or_abort(test)

    def set_private_test(self, kind, text):
        value = self.want_int(kind, text, 0, 1)
        if value == 1:
            self.start_or_abort(TEST_QUICK)

    def start_or_abort(self, test):
        refuse = self.values.get("test_refuse")
        if refuse:
            raise SetError(str(refuse))
        if test == TEST_ABORT:
            if not self.test_running:
                raise SetError("inconsistent-value")
            self.finish_test(RESULT_ABORTED, "Test aborted")
            self.test_id = test
        elif test in (TEST_GENERAL, TEST_QUICK, TEST_DEEP):
            if self.test_running:
                raise SetError("inconsistent-value")
            self.test_running = True
            self.test_start = self.now()
            self.test_id = test
            self.test_detail = ""
            self.test_elapsed = 0
        else:
            raise SetError("wrong-value")
        self.reconcile_alarms()

    # ---- request loop ----------------------------------------------------
    def log_request(self, command, oid):
        if self.request_log:
            self.request_log.write("%s\t%s\n" % (command, oid))
            self.request_log.flush()

    def log_set(self, oid, kind, text, result):
        if self.set_log:
            self.set_log.write("%s\t%s\t%s\t%s\n" % (oid, kind, escape(text), result))
            self.set_log.flush()

    @staticmethod
    def format_value(obj):
        kind = obj.kind
        value = obj.value
        if kind == "objectid":
            if isinstance(value, str):
                value = parse_oid(value) or (0, 0)
            return "objectid", oid_text(value) if value else ".0.0"
        if kind in ("string", "octet"):
            if value is None:
                value = ""
            if kind == "octet" and isinstance(value, str):
                return "octet", value
            text = str(value)
            if text and all(32 <= ord(c) < 127 for c in text):
                return "string", text
            return "octet", " ".join("%02x" % b for b in text.encode("latin-1", "replace"))
        if kind == "ipaddress":
            return kind, str(value)
        if kind in ("gauge", "counter", "timeticks"):
            return kind, str(as_int(value) & 0xFFFFFFFF)
        return kind, str(as_int(value))

    def answer(self, oid, obj):
        kind, text = self.format_value(obj)
        return "%s\n%s\n%s\n" % (oid_text(oid), kind, text)

    def handle(self, command, oid_line, value_line=None):
        self.load_state()
        self.update()
        self.log_request(command, oid_line)
        oid = parse_oid(oid_line)
        if oid is None:
            return "NONE\n" if command != "set" else "not-writable\n"
        objs = self.objects()
        if command == "get":
            obj = objs.get(oid)
            return self.answer(oid, obj) if obj else "NONE\n"
        if command == "getnext":
            keys = sorted(objs)
            i = bisect.bisect_right(keys, oid)
            return self.answer(keys[i], objs[keys[i]]) if i < len(keys) else "NONE\n"
        # set
        kind, _, text = (value_line or "").partition(" ")
        if kind in ("string", "octet", "objectid", "ipaddress") and len(text) >= 2 \
                and text[0] == '"' and text[-1] == '"':
            text = text[1:-1]
        obj = objs.get(oid)
        set_errors = self.values.get("set_errors")
        forced = set_errors.get(oid_text(oid)[1:]) if isinstance(set_errors, dict) else None
        result = "DONE"
        # upsTestId is accepted only right after an accepted upsTestSpinLock
        # (the two travel in one SET request, spin lock first)
        self.spin_ready = self.spin_ok
        self.spin_ok = False
        if forced:
            result = str(forced)
        elif obj is None or obj.setter is None:
            result = "not-writable"
        else:
            try:
                obj.setter(kind, text)
            except SetError as e:
                result = str(e)
        logged = text
        if kind == "octet":
            try:
                logged = bytes(int(b, 16) for b in text.split()).decode("latin-1")
            except ValueError:
                pass
        self.log_set(oid_text(oid), kind, logged, result)
        self.update()
        return result + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--state", help="JSON state file re-read on change")
    parser.add_argument("--set-log", help="file that receives one line per SET")
    parser.add_argument("--request-log", help="file that receives one line per request")
    args = parser.parse_args()
    # Latin-1 throughout, so that every byte of a value passes unchanged.
    set_log = open(args.set_log, "a", encoding="latin-1") if args.set_log else None
    request_log = open(args.request_log, "a", encoding="latin-1") if args.request_log else None
    sys.stdin.reconfigure(encoding="latin-1")
    sys.stdout.reconfigure(encoding="latin-1")
    adapter = Adapter(args.state, set_log, request_log)
    stdin = sys.stdin
    out = sys.stdout
    while True:
        line = stdin.readline()
        if not line:
            break
        command = line.strip()
        if not command:
            continue
        if command == "PING":
            out.write("PONG\n")
        elif command in ("get", "getnext", "set"):
            oid_line = stdin.readline()
            if not oid_line:
                break
            value_line = None
            if command == "set":
                value_line = stdin.readline()
                if not value_line:
                    break
                value_line = value_line.rstrip("\n")
            try:
                out.write(adapter.handle(command, oid_line.strip(), value_line))
            except Exception as e:  # keep serving whatever one request did
                sys.stderr.write("ups_mib_peer: %s failed: %r\n" % (command, e))
                out.write("NONE\n" if command != "set" else "wrong-value\n")
        else:
            out.write("NONE\n")
        out.flush()


if __name__ == "__main__":
    main()
