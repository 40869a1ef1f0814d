#!/usr/bin/perl
# Net::UPnP control point for dlna_clients_e2e.sh: searches for MediaServer devices, takes the one
# at LOCATION and lists the children of "0" (Net::UPnP talks HTTP/1.0).
#
#   dlna_netupnp_list.pl LOCATION
#
# Prints "id<TAB>title<TAB>url" per item and "id<TAB>title" per container; exits 1 when the
# device is not found.
use strict;
use warnings;

use Net::UPnP::ControlPoint;
use Net::UPnP::AV::MediaServer;

my $location = shift or die "usage: dlna_netupnp_list.pl LOCATION\n";
my $control_point = Net::UPnP::ControlPoint->new();
my $device;
for my $attempt (1 .. 3) {
    for my $candidate ($control_point->search(st => 'urn:schemas-upnp-org:device:MediaServer:1', mx => 2)) {
        $device = $candidate if $candidate->getlocation() eq $location;
    }
    last if $device;
}
die "FAIL: no MediaServer at $location\n" unless $device;

my $server = Net::UPnP::AV::MediaServer->new();
$server->setdevice($device);
for my $content ($server->getcontentlist(ObjectID => '0')) {
    if ($content->isitem()) {
        printf "%s\t%s\t%s\n", $content->getid(), $content->gettitle(), $content->geturl();
    } else {
        printf "%s\t%s\n", $content->getid(), $content->gettitle();
    }
}
