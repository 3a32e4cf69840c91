'''The freedesktop screen saver service (org.freedesktop.ScreenSaver), for python3-dbusmock.

Inhibit hands out a cookie, UnInhibit(cookie) ends that inhibition; as the desktops' services
do, a caller's inhibitions also end when its connection leaves the bus. Each start and end is
logged ("Inhibit ...", "UnInhibit COOKIE", "dropped COOKIE"); ActiveCookies on the mock
interface lists the cookies still active.

Parameters: {"delay_ms": N} answers Inhibit N milliseconds late (the inhibition starts at once).
'''

import dbus
from gi.repository import GLib

from dbusmock import MOCK_IFACE

BUS_NAME = 'org.freedesktop.ScreenSaver'
MAIN_OBJ = '/org/freedesktop/ScreenSaver'
MAIN_IFACE = 'org.freedesktop.ScreenSaver'
SYSTEM_BUS = False


def load(mock, parameters):
    mock.delay_ms = int(parameters.get('delay_ms', 0))
    mock.cookies = {}  # cookie -> the caller's unique name
    mock.next_cookie = 7001

    def name_owner_changed(name, _old_owner, new_owner):
        if new_owner:
            return
        for cookie, caller in list(mock.cookies.items()):
            if caller == name:
                del mock.cookies[cookie]
                mock.log(f'dropped {cookie}')

    mock.connection.add_signal_receiver(name_owner_changed, signal_name='NameOwnerChanged',
                                        dbus_interface='org.freedesktop.DBus',
                                        bus_name='org.freedesktop.DBus',
                                        path='/org/freedesktop/DBus')


@dbus.service.method(MAIN_IFACE, in_signature='ss', out_signature='u', sender_keyword='sender',
                     async_callbacks=('reply', 'error'))
def Inhibit(self, _application, _reason, sender=None, reply=None, error=None):
    # pylint: disable=unused-argument
    cookie = self.next_cookie
    self.next_cookie += 1
    self.cookies[cookie] = sender
    if self.delay_ms:
        GLib.timeout_add(self.delay_ms, lambda: reply(dbus.UInt32(cookie)) and False)
    else:
        reply(dbus.UInt32(cookie))


@dbus.service.method(MAIN_IFACE, in_signature='u', out_signature='', sender_keyword='sender')
def UnInhibit(self, cookie, sender=None):
    if self.cookies.get(cookie) == sender:
        del self.cookies[cookie]


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='au')
def ActiveCookies(self):
    return dbus.Array(sorted(self.cookies), signature='u')
