'''A desktop portal with org.freedesktop.portal.Inhibit, for python3-dbusmock.

Inhibit answers with a request handle made as the portal makes it (from the caller's unique name
and its "handle_token" option) and exports an org.freedesktop.portal.Request object there; Close
on that object ends the inhibition. As the portal does, an inhibition also ends when the caller's
connection leaves the bus. Each start and end is logged ("Inhibit ...", "closed HANDLE",
"dropped HANDLE"); ActiveInhibitions on the mock interface lists the handles still active.

Parameters: {"fail": "call"} answers Inhibit with an error, as a portal without an inhibit back
end does; {"fail": "response"} answers it, then emits Response 2 on the handle and ends the
request, as the portal does when its back end refuses.
'''

import dbus
from gi.repository import GLib

from dbusmock import MOCK_IFACE, mockobject

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_OBJ = '/org/freedesktop/portal/desktop'
MAIN_IFACE = 'org.freedesktop.portal.Inhibit'
SYSTEM_BUS = False

REQUEST_IFACE = 'org.freedesktop.portal.Request'


def load(mock, parameters):
    mock.inhibitions = {}  # handle -> the caller's unique name
    mock.fail = parameters.get('fail', '')
    mock.AddProperty(MAIN_IFACE, 'version', dbus.UInt32(3))

    def name_owner_changed(name, _old_owner, new_owner):
        if new_owner:
            return
        for handle, caller in list(mock.inhibitions.items()):
            if caller == name:
                end_inhibition(mock, handle, 'dropped')

    mock.connection.add_signal_receiver(name_owner_changed, signal_name='NameOwnerChanged',
                                        dbus_interface='org.freedesktop.DBus',
                                        bus_name='org.freedesktop.DBus',
                                        path='/org/freedesktop/DBus')


def end_inhibition(mock, handle, how):
    if handle not in mock.inhibitions:
        return
    del mock.inhibitions[handle]
    mockobject.objects[handle].remove_from_connection()
    del mockobject.objects[handle]
    mock.log(f'{how} {handle}')


@dbus.service.method(MAIN_IFACE, in_signature='sua{sv}', out_signature='o',
                     sender_keyword='sender')
def Inhibit(self, _window, _flags, options, sender=None):
    if self.fail == 'call':
        raise dbus.exceptions.DBusException('no inhibit back end',
                                            name='org.freedesktop.DBus.Error.UnknownMethod')
    token = str(options.get('handle_token', 'request'))
    handle = '/org/freedesktop/portal/desktop/request/' + \
        sender[1:].replace('.', '_') + '/' + token
    self.inhibitions[handle] = sender
    self.AddObject(handle, REQUEST_IFACE, {},
                   [('Close', '', '', lambda _request: end_inhibition(self, handle, 'closed'))])
    if self.fail == 'response':
        def refuse():
            if handle in self.inhibitions:
                mockobject.objects[handle].EmitSignal(REQUEST_IFACE, 'Response', 'ua{sv}',
                                                      [dbus.UInt32(2), dbus.Dictionary(
                                                          {}, signature='sv')])
                end_inhibition(self, handle, 'refused')
            return False
        GLib.timeout_add(50, refuse)
    return dbus.ObjectPath(handle)


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='as')
def ActiveInhibitions(self):
    return dbus.Array(sorted(self.inhibitions), signature='s')
