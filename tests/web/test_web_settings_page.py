#!/usr/bin/env python3
"""The windows' settings on the web console's page, from a real browser
against a real `mirelva --headless`: a change saved from the page reaches
the window's file as exactly the keys changed and acts at once, a value the
window's box would not take is refused naming the field with nothing saved,
two pages changing one value do not overwrite each other, and the page with
its settings open stays clean for axe-core."""
import os
import shutil
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import webstation  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402

BIN = os.environ.get('MIRELVA_BIN_DIR', os.path.abspath(os.path.dirname(__file__) + '/../../build'))
SRC = os.environ.get('MIRELVA_SOURCE_DIR', os.path.abspath(os.path.dirname(__file__) + '/../..'))
AXE = os.path.join(SRC, '.deps/npm/node_modules/axe-core/axe.min.js')


class SettingsPageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.station = webstation.Station(BIN)
        cls.drivers = []
        cls.a = cls.page()
        cls.b = cls.page()

    @classmethod
    def page(cls):
        d = webstation.browser()
        cls.drivers.append(d)
        webstation.log_in(d, cls.station)
        webstation.wait_js(d, "document.getElementById('link').textContent === 'Live' && "
                              "document.getElementById('s-main-BEACONPERIOD6') !== null")
        return d

    @classmethod
    def tearDownClass(cls):
        for d in cls.drivers:
            d.quit()
            shutil.rmtree(d.profile_dir, ignore_errors=True)
        cls.station.close()

    def ini(self, name):
        path = os.path.join(self.station.dir.name, 'cfg/mirelva', name)
        with open(path, 'rb') as f:
            return f.read().decode('latin-1').splitlines()

    def open_window(self, d, window):
        d.execute_script("document.getElementById('w-%s').open = true" % window)

    def set_field(self, d, window, key, value):
        field = d.find_element(By.ID, 's-%s-%s' % (window, key))
        # A window opens one group at a time, as a phone shows it.
        d.execute_script("arguments[0].closest('details.group').open = true;"
                         "arguments[0].scrollIntoView({block: 'center'})", field)
        if field.get_attribute('type') == 'checkbox':
            if field.is_selected() != (value == '1'):
                field.click()
        else:
            field.clear()
            field.send_keys(value)

    def save(self, d, window, expected):
        status = d.find_element(By.ID, 'st-' + window)
        d.execute_script("arguments[0].textContent = ''", status)
        d.find_element(By.CSS_SELECTOR, '#f-%s button[type=submit]' % window).click()
        webstation.wait_js(d, "document.getElementById('st-%s').textContent.startsWith(%r)" % (window, expected[:12]))
        self.assertEqual(status.text, expected)

    def changed(self, before, after):
        return [line for line in after if line not in before]

    def test_1_a_change_is_saved_as_the_window_saves_and_acts(self):
        d = self.a
        for window in ('main', 'dtmf'):
            self.open_window(d, window)
        label = d.find_element(By.CSS_SELECTOR, 'label[for=s-main-BEACONPERIOD6]')
        self.assertEqual(label.get_attribute('textContent'), 'Voice ident period, minutes')
        # Saved unchanged first: the whole file, as the window's button writes it.
        self.save(d, 'main', 'Saved to mirelva.ini.')
        self.save(d, 'dtmf', 'Saved to dtmfctrl.ini.')
        main, dtmf = self.ini('mirelva.ini'), self.ini('dtmfctrl.ini')
        self.assertEqual(len(main), 84)

        self.set_field(d, 'main', 'STOPCLOCK6', '1')
        self.set_field(d, 'main', 'BEACONPERIOD6', '2')
        self.save(d, 'main', 'Saved to mirelva.ini.')
        self.assertEqual(self.changed(main, self.ini('mirelva.ini')), ['STOPCLOCK6=1', 'BEACONPERIOD6=2'])
        # Acting at once: the voice ident's countdown starts again from two minutes.
        webstation.wait_js(d, "(() => { const v = +document.getElementById('cd-BeaconSeconds6').textContent;"
                              " return v > 100 && v <= 120; })()", 3)
        self.set_field(d, 'dtmf', 'HOUR', '07')
        self.set_field(d, 'dtmf', 'MINS', '45')
        self.save(d, 'dtmf', 'Saved to dtmfctrl.ini.')
        self.assertEqual(self.changed(dtmf, self.ini('dtmfctrl.ini')), ['HOUR=07', 'MINS=45'])
        self.station.mirelva.wait_for(r'web: set dtmfctrl\.ini MINS to "45" \(127\.0\.0\.1\)')
        self.station.mirelva.wait_for(r'web: saved dtmfctrl\.ini \(127\.0\.0\.1\)')

    def test_2_a_bad_value_is_refused_naming_the_field(self):
        d = self.a
        self.open_window(d, 'main')
        before = self.ini('mirelva.ini')
        self.set_field(d, 'main', 'BEACONPERIOD6', '1O')
        self.set_field(d, 'main', 'CHECK2', '1')
        message = 'Voice ident period, minutes: digits 0 to 9 only.'
        self.save(d, 'main', 'Nothing was saved. ' + message)
        field = d.find_element(By.ID, 's-main-BEACONPERIOD6')
        self.assertEqual(field.get_attribute('aria-invalid'), 'true')
        self.assertEqual(d.find_element(By.ID, 'e-main-BEACONPERIOD6').text, message)
        self.assertIn('e-main-BEACONPERIOD6', field.get_attribute('aria-describedby'))
        self.assertEqual(d.switch_to.active_element, field)
        self.assertEqual(self.ini('mirelva.ini'), before)
        self.set_field(d, 'main', 'BEACONPERIOD6', '2')
        self.set_field(d, 'main', 'CHECK2', '0')

    def test_3_two_pages_racing_on_one_value(self):
        a, b = self.a, self.b
        for d in (a, b):
            self.open_window(d, 'main')
        # Both loaded the period at 15; the second page's edit is under way.
        self.set_field(b, 'main', 'BEACONPERIOD7', '30')
        self.set_field(a, 'main', 'BEACONPERIOD7', '20')
        self.save(a, 'main', 'Saved to mirelva.ini.')
        why = ('CW ident period, minutes was changed elsewhere to "20" since this page loaded it; '
               'the page now shows it. Make your change again if it still should be.')
        self.save(b, 'main', 'Nothing was saved. ' + why)
        self.assertEqual(b.find_element(By.ID, 's-main-BEACONPERIOD7').get_attribute('value'), '20')
        self.assertEqual(b.find_element(By.ID, 'e-main-BEACONPERIOD7').text, why)
        self.assertIn('BEACONPERIOD7=20', self.ini('mirelva.ini'))
        # A field the second page had not touched follows the first page's save.
        self.set_field(a, 'main', 'BEACONPERIOD3', '25')
        self.save(a, 'main', 'Saved to mirelva.ini.')
        webstation.wait_js(b, "document.getElementById('s-main-BEACONPERIOD3').value === '25'", 3)

    def test_4_accessible_with_the_settings_open(self):
        d = self.a
        for window in ('main', 'dtmf', 'greeting', 'messagebox', 'voice'):
            self.open_window(d, window)
        unlabelled = d.execute_script("""return [...document.querySelectorAll('#settings input')]
            .filter(i => !i.labels.length || !i.labels[0].textContent.trim()).map(i => i.id);""")
        self.assertEqual(unlabelled, [])
        with open(AXE) as f:
            d.execute_script(f.read())
        found = d.execute_async_script("""const done = arguments[arguments.length - 1];
            axe.run(document).then(r => done(r.violations.map(v => [v.id, v.impact, v.nodes.length])));""")
        self.assertEqual([v for v in found if v[1] in ('serious', 'critical')], [], found)
        d.save_screenshot(os.path.join(BIN, 'web-console-settings.png'))


def first_start_file(name):
    """The file a first start saves, byte for byte, as the settings tables'
    test keeps it."""
    with open(os.path.join(SRC, 'tests/test_settings_tables.cpp'), encoding='utf-8') as f:
        text = f.read()
    start = text.index('{QStringLiteral("%s"), R"INI(' % name) + len('{QStringLiteral("%s"), R"INI(' % name)
    return text[start:text.index(')INI"', start)].encode('latin-1')


def with_values(data, values):
    lines = data.decode('latin-1').split('\n')
    for key, value in values.items():
        i = next(n for n, l in enumerate(lines) if l.split('=', 1)[0] == key)
        lines[i] = key + '=' + value
    return '\n'.join(lines).encode('latin-1')


class DesktopFilesTest(unittest.TestCase):
    """A station set up on a desktop, with values the page once refused (no
    minutes, a delay past 9, a one-digit hour, a blank Morse callsign),
    reached from a phone's browser: one unrelated field changed and saved,
    and every other value comes back as it was."""

    MAIN = {'BEACONPERIOD6': '0', 'BEACONPERIOD7': '0', 'BEACONPERIOD3': '0', 'VOICEPERIOD': '0',
            'TTSPERIOD': '15', 'CWCALLSIGN': ' ', 'HOUROFF1': '8', 'MINSOFF1': '5', 'HANGTIME': '600'}
    DTMF = {'HOUR': '8', 'MINS': '5', 'HOUR2': '7', 'BEACONPERIOD': '0', 'DISCMINS1': '2000', 'CALL1': 'VK3XYZ'}

    @classmethod
    def setUpClass(cls):
        cls.main = with_values(first_start_file('mirelva.ini'), cls.MAIN)
        cls.dtmf = with_values(first_start_file('dtmfctrl.ini'), cls.DTMF)
        cls.station = webstation.Station(BIN, files={'mirelva.ini': cls.main, 'dtmfctrl.ini': cls.dtmf})
        cls.d = webstation.browser(390, 844)
        webstation.log_in(cls.d, cls.station)
        webstation.wait_js(cls.d, "document.getElementById('link').textContent === 'Live' && "
                                  "document.getElementById('s-main-CALLSIGN') !== null")

    @classmethod
    def tearDownClass(cls):
        cls.d.quit()
        shutil.rmtree(cls.d.profile_dir, ignore_errors=True)
        cls.station.close()

    def read(self, name):
        with open(os.path.join(self.station.dir.name, 'cfg/mirelva', name), 'rb') as f:
            return f.read()

    def save_one(self, window, key, value, file):
        d = self.d
        d.execute_script("document.getElementById('w-%s').open = true" % window)
        field = d.find_element(By.ID, 's-%s-%s' % (window, key))
        d.execute_script("arguments[0].closest('details.group').open = true;"
                         "arguments[0].scrollIntoView({block: 'center'})", field)
        field.clear()
        field.send_keys(value)
        # Save is in view at once, without scrolling to the end of the window.
        button = d.find_element(By.CSS_SELECTOR, '#f-%s button[type=submit]' % window)
        in_view = d.execute_script("const r = arguments[0].getBoundingClientRect();"
                                   "return r.top >= 0 && r.bottom <= window.innerHeight;", button)
        self.assertTrue(in_view)
        button.click()
        webstation.wait_js(d, "document.getElementById('st-%s').textContent === 'Saved to %s.'" % (window, file))

    def test_an_unrelated_change_keeps_every_other_value(self):
        self.save_one('main', 'CALLSIGN', 'Victor Kilo Two', 'mirelva.ini')
        self.save_one('dtmf', 'TEXT555', '55', 'dtmfctrl.ini')
        main = self.read('mirelva.ini').split(b'\n')
        dtmf = self.read('dtmfctrl.ini').split(b'\n')
        # The windows themselves, at their first tick, put a period of no
        # minutes back to 1 (their countdowns count 0 as 1), and the file
        # drops the blanks around a value: a desktop's save of the same
        # files writes the same.
        def rewrite(data, by_window, change):
            out = []
            for line in data.split(b'\n'):
                key = line.split(b'=')[0]
                if key == change[0]:
                    line = key + b'=' + change[1]
                elif key in by_window:
                    line = key + b'=' + by_window[key]
                out.append(line)
            return out

        self.assertEqual(main, rewrite(self.main, {b'BEACONPERIOD6': b'1', b'BEACONPERIOD7': b'1', b'BEACONPERIOD3': b'1',
                                                   b'VOICEPERIOD': b'1', b'CWCALLSIGN': b''},
                                       (b'CALLSIGN', b'Victor Kilo Two')))
        self.assertEqual(dtmf, rewrite(self.dtmf, {b'BEACONPERIOD': b'1'}, (b'TEXT555', b'55')))
        for line in (b'TTSPERIOD=15', b'HOUROFF1=8', b'MINSOFF1=5', b'HANGTIME=600'):
            self.assertIn(line, main)
        for line in (b'HOUR=8', b'MINS=5', b'DISCMINS1=2000'):
            self.assertIn(line, dtmf)
        self.d.save_screenshot(os.path.join(BIN, 'web-console-settings-phone.png'))
        # How tall the page is on the phone with the main window's settings
        # open (a figure for the notes, not a bound).
        height = self.d.execute_script(
            "for (const w of document.querySelectorAll('details.window')) w.open = w.id === 'w-main';"
            "for (const g of document.querySelectorAll('details.group')) g.open = false;"
            "return document.documentElement.scrollHeight;")
        print('page height at 390x844, main window open, groups closed: %d px' % height, file=sys.stderr)


if __name__ == '__main__':
    if not os.path.exists(AXE):
        sys.exit('axe-core is missing: run scripts/install-deps.sh')
    unittest.main(verbosity=2)
