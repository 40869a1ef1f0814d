#!/usr/bin/python3
# GUPnP control point for dlna_clients_e2e.sh: finds the MediaServer on an interface, browses its
# ContentDirectory recursively and parses every Result with GUPnP-AV's DIDL-Lite parser.
#
#   dlna_gupnp_browse.py INTERFACE LOCATION
#
# Prints one line per item: "item<TAB>id<TAB>title<TAB>mime<TAB>size<TAB>uri", one per container:
# "container<TAB>id<TAB>title", and exits 0; exits 1 with a message on any failure.
import sys
import warnings

import gi

gi.require_version("GUPnP", "1.6")
gi.require_version("GUPnPAV", "1.0")
from gi.repository import GLib, GObject, GUPnP, GUPnPAV  # noqa: E402

warnings.simplefilter("ignore", DeprecationWarning)

MEDIA_SERVER = "urn:schemas-upnp-org:device:MediaServer:1"
CONTENT_DIRECTORY = "urn:schemas-upnp-org:service:ContentDirectory:1"


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def find_device(interface, location):
    context = GUPnP.Context.new(interface, 0)
    control_point = GUPnP.ControlPoint.new(context, MEDIA_SERVER)
    loop = GLib.MainLoop()
    found = []

    def available(_cp, proxy):
        if proxy.get_location() == location:
            found.append(proxy)
            loop.quit()

    control_point.connect("device-proxy-available", available)
    control_point.set_active(True)
    GLib.timeout_add_seconds(15, loop.quit)
    loop.run()
    if not found:
        fail("no MediaServer at %s seen on %s" % (location, interface))
    return context, control_point, found[0]


def browse(service, object_id, start):
    action = GUPnP.ServiceProxyAction.new_from_list(
        "Browse",
        ["ObjectID", "BrowseFlag", "Filter", "StartingIndex", "RequestedCount", "SortCriteria"],
        [object_id, "BrowseDirectChildren", "*", start, 2, ""],
    )
    service.call_action(action, None)
    ok, values = action.get_result_list(
        ["Result", "NumberReturned", "TotalMatches"], [GObject.TYPE_STRING, GObject.TYPE_UINT, GObject.TYPE_UINT]
    )
    if not ok:
        fail("Browse of %s gave no result" % object_id)
    return values


def walk(service, object_id, lines):
    start = 0
    while True:
        didl, returned, total = browse(service, object_id, start)
        parser = GUPnPAV.DIDLLiteParser.new()
        children = []

        def on_object(_parser, obj):
            if isinstance(obj, GUPnPAV.DIDLLiteContainer):
                lines.append("container\t%s\t%s" % (obj.get_id(), obj.get_title()))
                children.append(obj.get_id())
                return
            resources = obj.get_resources()
            if not resources:
                fail("item %s without res" % obj.get_id())
            res = resources[0]
            info = res.get_protocol_info()
            lines.append(
                "item\t%s\t%s\t%s\t%d\t%s"
                % (obj.get_id(), obj.get_title(), info.get_mime_type(), res.get_size64(), res.get_uri())
            )

        parser.connect("object-available", on_object)
        try:
            parser.parse_didl(didl)
        except GLib.Error as error:
            fail("DIDL-Lite of %s refused: %s" % (object_id, error.message))
        for child in children:
            walk(service, child, lines)
        start += returned
        if returned == 0 or start >= total:
            return


def main():
    if len(sys.argv) != 3:
        fail("usage: dlna_gupnp_browse.py INTERFACE LOCATION")
    _context, _cp, device = find_device(sys.argv[1], sys.argv[2])
    service = device.get_service(CONTENT_DIRECTORY)
    if service is None:
        fail("no ContentDirectory service")
    lines = []
    walk(service, "0", lines)
    print("\n".join(lines))


main()
