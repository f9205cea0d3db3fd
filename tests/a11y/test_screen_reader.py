#!/usr/bin/env python3
"""What a screen reader hears from the real `mirelva` on X (Xvfb), through
AT-SPI on a session bus of its own (dbus-run-session, which starts the
accessibility bus and at-spi2-registryd): a station connecting and leaving
while announcements are on gives each notice as a spoken event of its own,
with its own words, in order.

The listener reads each notice's name as a screen reader does: when the
event reaches it, after the program has gone on."""
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'web'))
import webstation  # noqa: E402  (its Process only: no browser here)

BIN = os.environ.get('MIRELVA_BIN_DIR', os.path.abspath(os.path.dirname(__file__) + '/../../build'))
INSIDE = 'MIRELVA_A11Y_SESSION'


def outside():
    """Starts an X server and a session bus of their own and runs the test
    inside them."""
    d = tempfile.mkdtemp(prefix='mirelva-a11y-')
    try:
        os.makedirs(d + '/cfg/mirelva')
        os.makedirs(d + '/run', mode=0o700)
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(['Xvfb', '-displayfd', str(write_end), '-screen', '0', '1280x1024x24',
                                 '-nolisten', 'tcp'], pass_fds=(write_end,), stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            display = ':' + f.readline().strip()
        env = dict(os.environ, DISPLAY=display, XDG_RUNTIME_DIR=d + '/run', XDG_CONFIG_HOME=d + '/cfg',
                   HOME=d, QT_QPA_PLATFORM='xcb', QT_LINUX_ACCESSIBILITY_ALWAYS_ON='1', NO_AT_BRIDGE='0',
                   MIRELVA_A11Y_DIR=d)
        env[INSIDE] = '1'
        # Under the sanitizers: libxkbcommon-x11 hands strndup a keymap name
        # that is bounded by its length, not ended by a NUL, which ASan's
        # strict string checks report as an overflow in the X connection's
        # set-up. Only this test runs the program on a real X server.
        if 'ASAN_OPTIONS' in env:
            env['ASAN_OPTIONS'] = env['ASAN_OPTIONS'].replace('strict_string_checks=1', 'strict_string_checks=0')
        env.pop('DBUS_SESSION_BUS_ADDRESS', None)
        env.pop('AT_SPI_BUS_ADDRESS', None)
        try:
            return subprocess.call(['dbus-run-session', '--', '/usr/bin/python3', '-W', 'ignore',
                                    os.path.abspath(__file__)], env=env, timeout=240)
        finally:
            xvfb.terminate()
            xvfb.wait()
    finally:
        shutil.rmtree(d, ignore_errors=True)


class ScreenReaderTest(unittest.TestCase):
    def test_a_station_connecting_and_leaving_is_told_notice_by_notice(self):
        import pyatspi
        from gi.repository import GLib

        d = os.environ['MIRELVA_A11Y_DIR']
        sock = d + '/node.sock'
        with open(d + '/cfg/mirelva/nodelink.ini', 'w') as f:
            f.write('[SETTINGS]\nADDRESS=unix:%s\nAUDIODEVICE=none-such\n' % sock)
        # Announcements on (the default), the time after them off: each
        # announcement is one keying.
        with open(d + '/cfg/mirelva/mirelva.ini', 'w') as f:
            f.write('[SETTINGS]\nCONDISC=1\nADDTIME=0\n')

        told = []       # (time, text) of every notification shown, named as read then
        ready = threading.Event()

        def heard(event):
            try:
                if event.source.getApplication().name != 'Mirelva':
                    return
                ready.set()
                if event.source.getRole() == pyatspi.ROLE_NOTIFICATION and event.detail1:
                    told.append((time.time(), event.source.name))
            except Exception as e:   # a source gone before it was read is a failure too
                told.append((time.time(), '<%s>' % type(e).__name__))

        pyatspi.Registry.registerEventListener(heard, 'object:state-changed:showing',
                                               'object:property-change:accessible-description')
        node = webstation.Process([BIN + '/mirelva-node', '--listen', 'unix:' + sock, '--callsign', 'vk2abc',
                                   '--headless', '--answer-delay', '0'], dict(os.environ))
        mirelva = None
        failure = []

        def drive():
            try:
                node.wait_for('listening on unix:')
                nonlocal mirelva
                mirelva = webstation.Process([BIN + '/mirelva'], dict(os.environ))
                mirelva.wait_for('all windows loaded', 20)
                # The clock's first description change says the bridge
                # reaches us.
                self.assertTrue(ready.wait(20), 'no event from Mirelva over AT-SPI')
                for command, notice in (('connect W1AW John', 'W1AW connected, John'),
                                        ('disconnect W1AW', 'W1AW disconnected')):
                    before = time.time()
                    node.send(command)
                    node.wait_for(r'request SetPTT on', 20, before)
                    node.wait_for(r'request SetPTT off', 20, before)
                    time.sleep(1.5)   # what the release brings is read
                    self.assertIn(notice, [t for _, t in told])
            except BaseException as e:
                failure.append(e)
            finally:
                GLib.idle_add(pyatspi.Registry.stop)

        threading.Thread(target=drive, daemon=True).start()
        try:
            pyatspi.Registry.start()
        finally:
            if mirelva:
                mirelva.stop()
            node.stop()
        if failure:
            raise failure[0]
        self.assertEqual([t for _, t in told],
                         ['W1AW connected, John', 'PTT on', 'PTT off', 'W1AW disconnected', 'PTT on', 'PTT off'])


if __name__ == '__main__':
    if os.environ.get(INSIDE) != '1':
        sys.exit(outside())
    unittest.main(verbosity=2)
