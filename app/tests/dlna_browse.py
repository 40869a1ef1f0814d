#!/usr/bin/python3
# A GUPnP control point: finds the media server with the given friendly name on the interface and
# lists the shared folder's top level through ContentDirectory Browse. Prints one line per item,
# "<title>\t<res URL>", and exits 0; exits 1 when no such server answered in time.
# Usage: dlna_browse.py INTERFACE FRIENDLY-NAME [SECONDS]
import re
import sys
import warnings

import gi

gi.require_version("GUPnP", "1.6")
from gi.repository import GLib, GObject, GUPnP  # noqa: E402

MEDIA_SERVER = "urn:schemas-upnp-org:device:MediaServer:1"
CONTENT_DIRECTORY = "urn:schemas-upnp-org:service:ContentDirectory:1"


def gvalue(kind, value):
    holder = GObject.Value(kind)
    if kind == GObject.TYPE_STRING:
        holder.set_string(value)
    else:
        holder.set_uint(value)
    return holder


def browse(service):
    names = ["ObjectID", "BrowseFlag", "Filter", "StartingIndex", "RequestedCount", "SortCriteria"]
    values = [gvalue(GObject.TYPE_STRING, "0"), gvalue(GObject.TYPE_STRING, "BrowseDirectChildren"),
              gvalue(GObject.TYPE_STRING, "*"), gvalue(GObject.TYPE_UINT, 0), gvalue(GObject.TYPE_UINT, 0),
              gvalue(GObject.TYPE_STRING, "")]
    action = GUPnP.ServiceProxyAction.new_from_list("Browse", names, values)
    service.call_action(action, None)
    ok, results = action.get_result_list(["Result"], [GObject.TYPE_STRING])
    return results[0] if ok else ""


def main():
    interface, wanted = sys.argv[1], sys.argv[2]
    seconds = int(sys.argv[3]) if len(sys.argv) > 3 else 10
    warnings.simplefilter("ignore", DeprecationWarning)  # Context.new: the one constructor for a name
    context = GUPnP.Context.new(interface, 0)
    point = GUPnP.ControlPoint.new(context, MEDIA_SERVER)
    loop = GLib.MainLoop()
    found = []

    def available(_point, proxy):
        if found or proxy.get_friendly_name() != wanted:
            return
        found.append(proxy)
        service = proxy.get_service(CONTENT_DIRECTORY)
        didl = browse(service)
        for item in re.findall(r"<item\b.*?</item>", didl, re.S):
            title = re.search(r"<dc:title>(.*?)</dc:title>", item, re.S)
            res = re.search(r"<res\b[^>]*>(.*?)</res>", item, re.S)
            print("%s\t%s" % (title.group(1) if title else "", res.group(1).replace("&amp;", "&") if res else ""))
        loop.quit()

    point.connect("device-proxy-available", available)
    point.set_active(True)
    GLib.timeout_add_seconds(seconds, loop.quit)
    loop.run()
    return 0 if found else 1


if __name__ == "__main__":
    sys.exit(main())
