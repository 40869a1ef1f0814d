"""A GUPnP 1.6 control point for upnp_ssdp_e2e.sh (run in the client namespace).

Finds the test device on cp0, calls Apply (Set 5, then a refused Multiply), subscribes to Value
and waits for the initial event and the event after one more Apply. Prints one line per step;
exits 0 when every step held.

usage: upnp_ssdp_client.py DEVICE-TYPE SERVICE-TYPE
"""
import sys

import gi

gi.require_version("GUPnP", "1.6")
from gi.repository import GLib, GObject, GUPnP  # noqa: E402

DEVICE_TYPE, SERVICE_TYPE = sys.argv[1], sys.argv[2]
loop = GLib.MainLoop()
events = []
state = {"failures": 0, "service": None, "asked": False}


def check(ok, what):
    print(("PASS: " if ok else "FAIL: ") + what, flush=True)
    if not ok:
        state["failures"] += 1


def apply(service, operation, amount):
    action = GUPnP.ServiceProxyAction.new_from_list(
        "Apply", ["Operation", "Amount", "Note"], [operation, str(amount), "gupnp"])
    service.call_action(action, None)
    ok, values = action.get_result_list(["NewValue"], [GObject.TYPE_UINT])
    return values[0] if ok else None


def on_value(_service, variable, value, _data):
    events.append(int(value))
    print("event %s = %s" % (variable, value), flush=True)
    if len(events) == 1:
        check(events[0] == 5, "initial event carries Value 5")
        check(apply(state["service"], "Set", 8) == 8, "Apply Set 8 answers NewValue 8")
    elif len(events) == 2:
        check(events[1] == 8, "event after Apply carries Value 8")
        loop.quit()


def on_device(_cp, proxy):
    if state["asked"]:
        return
    state["asked"] = True
    check(True, "found the device " + proxy.get_udn())
    service = proxy.get_service(SERVICE_TYPE)
    state["service"] = service
    check(apply(service, "Set", 5) == 5, "Apply Set 5 answers NewValue 5")
    try:
        apply(service, "Multiply", 2)
        check(False, "Apply Multiply is refused")
    except GLib.Error as error:
        check(error.code == 701, "Apply Multiply is refused with 701 (got %d %s)" % (error.code, error.message))
    service.add_notify("Value", GObject.TYPE_UINT, on_value, None)
    service.set_subscribed(True)


def on_timeout():
    check(False, "every step within 25 s (events: %s)" % events)
    loop.quit()
    return False


context = GUPnP.Context.new("cp0", 0)
control_point = GUPnP.ControlPoint.new(context, DEVICE_TYPE)
control_point.connect("device-proxy-available", on_device)
control_point.set_active(True)
GLib.timeout_add_seconds(25, on_timeout)
loop.run()
sys.exit(1 if state["failures"] or not state["asked"] else 0)
