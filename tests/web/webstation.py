"""A headless station with its web console, for the browser test and the
web benchmark: the real `mirelva --headless` attached over a Unix socket to
the real `mirelva-node --headless`, whose standard input makes stations
connect, and a headless Chromium driven through chromium-driver."""
import os
import re
import socket
import subprocess
import tempfile
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service

PASSWORD = 'correct horse battery'


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


class Process:
    """A program whose output lines are kept with the time each was seen."""

    def __init__(self, args, env):
        self.p = subprocess.Popen(args, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, text=True, bufsize=1)
        self.lines = []   # standard output and error, as they come
        for s in (self.p.stdout, self.p.stderr):
            threading.Thread(target=self._read, args=(s,), daemon=True).start()

    def _read(self, s):
        for line in s:
            self.lines.append((time.time(), line.rstrip('\n')))

    def wait_for(self, pattern, timeout=10.0, after=0.0):
        end = time.time() + timeout
        while time.time() < end:
            for at, line in list(self.lines):
                if at >= after and re.search(pattern, line):
                    return at, line
            time.sleep(0.02)
        raise AssertionError('no line matching %r in %.0f s; last lines:\n%s'
                             % (pattern, timeout, '\n'.join(l for _, l in self.lines[-40:])))

    def send(self, line):
        self.p.stdin.write(line + '\n')
        self.p.stdin.flush()

    def stop(self):
        if self.p.poll() is None:
            self.p.terminate()
            try:
                self.p.wait(5)
            except subprocess.TimeoutExpired:
                self.p.kill()
                self.p.wait()


class Station:
    def __init__(self, bin_dir, web=True, files=None):
        self.bin = bin_dir
        self.dir = tempfile.TemporaryDirectory()
        d = self.dir.name
        os.makedirs(d + '/cfg/mirelva')
        os.makedirs(d + '/run', mode=0o700)
        self.env = dict(os.environ, XDG_CONFIG_HOME=d + '/cfg', XDG_RUNTIME_DIR=d + '/run',
                        QT_QPA_PLATFORM='xcb')   # --headless must override it
        self.env.pop('DISPLAY', None)
        self.sock = d + '/node.sock'
        with open(d + '/cfg/mirelva/nodelink.ini', 'w') as f:
            f.write('[SETTINGS]\nADDRESS=unix:%s\nAUDIODEVICE=none-such\n' % self.sock)
        # A station and a group in the DTMF window, for the page's buttons.
        with open(d + '/cfg/mirelva/dtmfctrl.ini', 'w') as f:
            f.write('[SETTINGS]\nCALL1=VK3XYZ\nGROUPCALL1=VK4AAA\nGROUPCALL2=VK5BBB\n')
        # Settings files as a desktop left them, instead of the above.
        for name, data in (files or {}).items():
            with open(d + '/cfg/mirelva/' + name, 'wb') as f:
                f.write(data)
        self.port = free_port()
        self.url = 'http://127.0.0.1:%d' % self.port
        if web:
            setpw = subprocess.run([bin_dir + '/mirelva', '--set-web-password'], input=PASSWORD + '\n',
                                   env=self.env, capture_output=True, text=True, timeout=30)
            assert setpw.returncode == 0, setpw.stderr
            with open(d + '/cfg/mirelva/web.ini', 'a') as f:
                f.write('ENABLED=1\nPORT=%d\n' % self.port)
        self.node = Process([bin_dir + '/mirelva-node', '--listen', 'unix:' + self.sock, '--callsign', 'vk2abc',
                             '--headless', '--answer-delay', '0'], self.env)
        self.mirelva = None
        try:
            self.node.wait_for('listening on unix:')
            self.mirelva = Process([bin_dir + '/mirelva', '--headless'], self.env)
            self.mirelva.wait_for('web console: listening on' if web else 'all windows loaded', 15)
        except BaseException:
            self.close()
            raise

    def requests(self, after=0.0):
        return [(at, l[len('request '):]) for at, l in list(self.node.lines) if at >= after and l.startswith('request ')]

    def wait_quiet(self, seconds=2.5, timeout=20.0):
        """Waits until nothing has been keyed or spoken for a while: what a
        connect sets going (its announcement, the time said after it) has
        ended. (The fan's DTR requests go on all the time.)"""
        end = time.time() + timeout
        while time.time() < end:
            last = max([at for at, r in self.requests() if '"SetPTT"' in r or '"Speech"' in r] or [0.0])
            if time.time() - last >= seconds:
                return
            time.sleep(0.1)
        raise AssertionError('the node never went quiet')

    def close(self):
        if self.mirelva:
            self.mirelva.stop()
        self.node.stop()
        self.dir.cleanup()


def browser(width=1280, height=1000):
    o = Options()
    o.binary_location = '/usr/bin/chromium'
    for a in ('--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
              '--disable-component-update', '--disable-sync', '--no-first-run', '--disable-dev-shm-usage',
              '--window-size=%d,%d' % (width, height)):
        o.add_argument(a)
    profile = tempfile.mkdtemp(prefix='mirelva-chromium-')
    o.add_argument('--user-data-dir=' + profile)
    driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=o)
    driver.profile_dir = profile
    return driver


def log_in(driver, station, password=PASSWORD):
    from selenium.webdriver.common.by import By
    driver.get(station.url + '/')
    field = driver.find_element(By.ID, 'password')
    field.send_keys(password)
    driver.execute_script('window.oldPage = true')
    driver.find_element(By.CSS_SELECTOR, 'button[type=submit]').click()
    wait_js(driver, "!window.oldPage && document.readyState === 'complete'")


def wait_js(driver, script, timeout=5.0):
    """Polls a JavaScript expression until it is true; returns the time."""
    end = time.time() + timeout
    while time.time() < end:
        if driver.execute_script('return ' + script):
            return time.time()
        time.sleep(0.02)
    raise AssertionError('not true within %.1f s: %s' % (timeout, script))
