'''The desktop's real-time broker (org.freedesktop.RealtimeKit1 on the system bus), for
python3-dbusmock. It grants nothing for real: each request is checked as rtkit checks it
(priority within MaxRealtimePriority); dbusmock logs each call ("MakeThreadRealtime THREAD PRIORITY").

Parameters: {"max_priority": N} (default 20), {"rttime_usec_max": N} (default 200000),
{"refuse": true} refuses every request as polkit does for a remote session.
'''

import dbus

BUS_NAME = 'org.freedesktop.RealtimeKit1'
MAIN_OBJ = '/org/freedesktop/RealtimeKit1'
MAIN_IFACE = 'org.freedesktop.RealtimeKit1'
SYSTEM_BUS = True


def load(mock, parameters):
    mock.refuse = bool(parameters.get('refuse', False))
    mock.AddProperties(MAIN_IFACE, {
        'MaxRealtimePriority': dbus.Int32(parameters.get('max_priority', 20)),
        'MinNiceLevel': dbus.Int32(-15),
        'RTTimeUSecMax': dbus.Int64(parameters.get('rttime_usec_max', 200000)),
    })


def _make(self, thread, priority):
    most = self.Get(MAIN_IFACE, 'MaxRealtimePriority')
    if self.refuse or priority < 1 or priority > most:
        raise dbus.exceptions.DBusException('Operation not permitted',
                                            name='org.freedesktop.DBus.Error.AccessDenied')


@dbus.service.method(MAIN_IFACE, in_signature='tu', out_signature='')
def MakeThreadRealtime(self, thread, priority):
    _make(self, thread, priority)


@dbus.service.method(MAIN_IFACE, in_signature='ttu', out_signature='')
def MakeThreadRealtimeWithPID(self, _process, thread, priority):
    _make(self, thread, priority)
