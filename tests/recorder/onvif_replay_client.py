#!/usr/bin/python3
"""Replays an ONVIF recording with GStreamer's rtspsrc in its ONVIF mode and
prints one line per video access unit received: the time in its replay header
extension (0xABAC) as UTC milliseconds and its C, E, D and T bits.

  onvif_replay_client.py URL USER PASSWORD START_MS [intra] [fast]

START_MS (UTC milliseconds, or - for the recording's start) is asked with
"Range: clock="; intra asks key frames only ("Frames: intra"), fast
"Rate-Control: no". Ends at the end of the stream (T bit or end of stream),
or after 60 s; exits 1 when nothing came."""
import os
import sys

import gi
gi.require_version('Gst', '1.0')
from gi.repository import GLib, Gst  # noqa: E402

NTP_TO_UNIX = 2208988800

url, user, password, start = sys.argv[1:5]
options = sys.argv[5:]
Gst.init(None)
pipeline = Gst.parse_launch('rtspsrc name=src protocols=tcp onvif-mode=true '
                            'appsink name=sink sync=false emit-signals=true')
src = pipeline.get_by_name('src')
src.set_property('location', url)
src.set_property('user-id', user)
src.set_property('user-pw', password)
src.set_property('onvif-rate-control', 'fast' not in options)
loop = GLib.MainLoop()
units = []
last = [None]


def on_sample(sink, pull):
    buffer = sink.emit(pull).get_buffer()
    packet = buffer.extract_dup(0, buffer.get_size())
    at = 12 + 4 * (packet[0] & 0x0f)
    if not packet[0] & 0x10 or len(packet) < at + 16 or packet[at:at + 2] != b'\xab\xac':
        return Gst.FlowReturn.OK
    ext = packet[at + 4:at + 16]
    ntp = int.from_bytes(ext[0:8], 'big')
    ms = ((ntp >> 32) - NTP_TO_UNIX) * 1000 + (((ntp & 0xffffffff) * 1000 + (1 << 31)) >> 32)
    flags = ext[8]
    if ms != last[0]:
        last[0] = ms
        units.append('%d %d %d %d %d' % (ms, flags >> 7 & 1, flags >> 6 & 1, flags >> 5 & 1, flags >> 4 & 1))
    if flags & 0x10:
        GLib.idle_add(loop.quit)
    return Gst.FlowReturn.OK


def on_message(_bus, message):
    if message.type in (Gst.MessageType.EOS, Gst.MessageType.ERROR):
        if message.type == Gst.MessageType.ERROR:
            print('error: %s' % message.parse_error()[0].message, file=sys.stderr)
        loop.quit()


sink = pipeline.get_by_name('sink')


def on_pad(_src, pad):
    # The video to the sink read here, any other track to a sink of its own.
    caps = pad.get_current_caps() or pad.query_caps(None)
    if caps.get_structure(0).get_string('media') == 'video':
        pad.link(sink.get_static_pad('sink'))
        return
    other = Gst.ElementFactory.make('fakesink')
    other.set_property('sync', False)
    pipeline.add(other)
    other.sync_state_with_parent()
    pad.link(other.get_static_pad('sink'))


src.connect('pad-added', on_pad)
# The first packet prerolls the sink, the others come as samples.
sink.connect('new-preroll', on_sample, 'pull-preroll')
sink.connect('new-sample', on_sample, 'pull-sample')
bus = pipeline.get_bus()
bus.add_signal_watch()
bus.connect('message', on_message)
pipeline.set_state(Gst.State.PAUSED)
pipeline.get_state(10 * Gst.SECOND)
if start != '-':
    flags = Gst.SeekFlags.FLUSH
    if 'intra' in options:
        flags |= Gst.SeekFlags.TRICKMODE | Gst.SeekFlags.TRICKMODE_KEY_UNITS
    position = (int(start) + NTP_TO_UNIX * 1000) * Gst.MSECOND
    src.send_event(Gst.Event.new_seek(1.0, Gst.Format.TIME, flags, Gst.SeekType.SET, position,
                                      Gst.SeekType.NONE, -1))
pipeline.set_state(Gst.State.PLAYING)
GLib.timeout_add_seconds(60, loop.quit)
loop.run()
print('\n'.join(units), flush=True)
# Tearing the pipeline down can deadlock with a sink callback waiting for
# Python; the connection closes with the process instead.
os._exit(0 if units else 1)
