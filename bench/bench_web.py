#!/usr/bin/env python3
"""What the web console costs and how fast it is.

    bench_web.py [seconds] [build folder]

A headless station (mirelva --headless on mirelva-node, new settings) is
measured idle over the given seconds (30 by default) three ways: without the
console, with the console on but no page open, and with the page open in
headless Chromium. The figures are bench_idle's: thread wake-ups a second
and CPU as a share of one core, for the whole mirelva process. Then the
delay from a node event (the receiver hearing a signal and losing it, 20 times) to the
page showing it: from the moment the command was written to the node
program to the page's own change of the indicator, both on this machine's
clock (so the node's own handling is in the figure too). The same delay is
measured again while twenty addresses guess the password as fast as they
are answered (each check, 120000 rounds of PBKDF2, runs on the console's
workers, not on the program's thread), with the number of guesses answered."""
import os
import socket
import statistics
import sys
import threading
import time
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'web'))
import webstation  # noqa: E402


def figures(pid):
    """Run time (ns) and context switches of every thread, by thread id."""
    out = {}
    for tid in os.listdir('/proc/%d/task' % pid):
        base = '/proc/%d/task/%s/' % (pid, tid)
        try:
            ns = int(open(base + 'schedstat').read().split()[0])
            switches = sum(int(line.split(':')[1]) for line in open(base + 'status') if 'ctxt_switches' in line)
            out[tid] = (ns, switches)
        except OSError:
            pass
    return out


def idle(station, seconds):
    time.sleep(5)   # start-up settles
    pid = station.mirelva.p.pid
    first = figures(pid)
    t0 = time.time()
    time.sleep(seconds)
    last = figures(pid)
    elapsed = time.time() - t0
    # A thread that came meanwhile counts whole, one that went is lost.
    ns = sum(v[0] - first.get(t, (0, 0))[0] for t, v in last.items())
    switches = sum(v[1] - first.get(t, (0, 0))[1] for t, v in last.items())
    return switches / elapsed, 100.0 * ns / 1e9 / elapsed


def rx_delays(station, driver):
    driver.execute_script("""window.rxSeen = [];
        new MutationObserver(() => rxSeen.push([Date.now(), document.getElementById('rx').textContent]))
          .observe(document.getElementById('rx'), {childList: true, characterData: true, subtree: true});""")
    delays = []
    for i in range(20):
        on = i % 2 == 0
        before = time.time()
        station.node.send('receiving on' if on else 'receiving off')
        station.node.wait_for(r'^event .*"receivingSignal"', after=before)
        want = 'Receiving signal' if on else 'Receiver quiet'
        shown = webstation.wait_js(driver, "rxSeen.length && rxSeen[rxSeen.length - 1][1] === '%s'" % want)
        seen = driver.execute_script('return rxSeen[rxSeen.length - 1][0]') / 1000.0
        delays.append((min(seen, shown) - before) * 1000)
        time.sleep(0.3)
    return delays


def guess(station, n, stop, answered):
    form = urllib.parse.urlencode({'password': 'guess %d' % n}).encode()
    host = station.url[len('http://'):].encode()
    request = (b'POST /login HTTP/1.1\r\nHost: ' + host + b'\r\nOrigin: ' + station.url.encode()
               + b'\r\nConnection: close\r\nContent-Length: ' + str(len(form)).encode() + b'\r\n\r\n' + form)
    while not stop.is_set():
        try:
            with socket.create_connection(('127.0.0.1', station.port), timeout=120,
                                          source_address=('127.0.0.%d' % (10 + n), 0)) as c:
                c.sendall(request)
                if c.recv(64):
                    answered.append(n)
        except OSError:
            pass


def main():
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 30
    build = sys.argv[2] if len(sys.argv) > 2 else os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'build')
    rows = []
    for name, web, page in (('no console', False, False), ('console on, no page open', True, False),
                            ('console open in Chromium', True, True)):
        station = webstation.Station(build, web=web)
        driver = None
        try:
            if page:
                driver = webstation.browser()
                webstation.log_in(driver, station)
                webstation.wait_js(driver, "document.getElementById('link').textContent === 'Live'")
            rows.append((name,) + idle(station, seconds))
            if page:
                driver.execute_script("""window.rxSeen = [];
                    new MutationObserver(() => rxSeen.push([Date.now(), document.getElementById('rx').textContent]))
                      .observe(document.getElementById('rx'), {childList: true, characterData: true, subtree: true});""")
                delays = rx_delays(station, driver)
                stop = threading.Event()
                answered = []
                guessers = [threading.Thread(target=guess, args=(station, n, stop, answered)) for n in range(20)]
                for g in guessers:
                    g.start()
                time.sleep(1)
                guessing_delays = rx_delays(station, driver)
                stop.set()
                for g in guessers:
                    g.join(60)
        finally:
            if driver:
                driver.quit()
            station.close()
    print('idle headless station over %.0f s (whole mirelva process):' % seconds)
    for name, wakeups, cpu in rows:
        print('  %-28s wake-ups %6.1f/s   CPU %.3f%% of a core' % (name, wakeups, cpu))
    print('node event to the page showing it, %d receiver changes (ms): min %.1f  median %.1f  max %.1f'
          % (len(delays), min(delays), statistics.median(delays), max(delays)))
    print('the same during a guessing run from 20 addresses (%d guesses answered): min %.1f  median %.1f  max %.1f'
          % (len(answered), min(guessing_delays), statistics.median(guessing_delays), max(guessing_delays)))


if __name__ == '__main__':
    main()
