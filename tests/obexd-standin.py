#!/usr/bin/python3
# SPDX-FileCopyrightText: 2026 The ZRK Server developers
# SPDX-License-Identifier: GPL-3.0-or-later

"""A stand-in for BlueZ's obexd on the session bus: Object Push sessions whose outcome the receiving device's
address decides, as a phone's owner would.

  ...:EE   cannot open the session: org.bluez.obex.Error.Failed "Unable to connect";
  ...:E0 to ...:E4   the same with the messages BlueZ gives: none at all (what Debian's obexd answers without a
           reachable device), "Host is down", "Connection refused", "Connection timed out", "Operation canceled";
  ...:EF   starts the transfer, which then fails;
  ...:DD   leaves the transfer queued for ever, as an owner who never answers;
  ...:CC   takes the file so fast that the transfer is complete before SendFile answers;
  others   take the file: queued, active (the first change before SendFile's reply, as obexd may), complete.

Argument types are checked as obexd checks them: a wrong signature answers UnknownMethod. Every call is written to the
log file named on the command line, one tab-separated line each: CreateSession address, SendFile path there|missing,
Cancel transfer, RemoveSession session. With ZRK_STANDIN_TIMES set in the environment, each call is also written to
standard error with the time it came. Usage: obexd-standin.py LOG-FILE (the bus from DBUS_SESSION_BUS_ADDRESS)."""

import os
import sys
import time

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

CLIENT = 'org.bluez.obex.Client1'
OBJECT_PUSH = 'org.bluez.obex.ObjectPush1'
TRANSFER = 'org.bluez.obex.Transfer1'
STEP_MS = 30
SESSION_ERRORS = {'EE': 'Unable to connect', 'E0': '', 'E1': 'Host is down', 'E2': 'Connection refused',
                  'E3': 'Connection timed out', 'E4': 'Operation canceled'}

log_file = open(sys.argv[1], 'a', buffering=1)


def log(*fields):
    line = '\t'.join(str(field) for field in fields)
    log_file.write(line + '\n')
    if 'ZRK_STANDIN_TIMES' in os.environ:
        now = time.time()
        sys.stderr.write(f'obexd stand-in {time.strftime("%H:%M:%S", time.localtime(now))}.{int(now * 1000) % 1000:03d}'
                         f'\t{line}\n')


def require_signature(message, signature, method):
    if message.get_signature() != signature:
        raise dbus.exceptions.DBusException(
            f'{method} takes ({signature}), not ({message.get_signature()})',
            name='org.freedesktop.DBus.Error.UnknownMethod')


class Transfer(dbus.service.Object):
    def __init__(self, bus, path, outcome):
        super().__init__(bus, path)
        self.path = path
        self.outcome = outcome
        self.status = 'queued'

    def change(self, properties):
        if self.status in ('complete', 'error'):
            return
        self.status = properties.get('Status', self.status)
        self.PropertiesChanged(TRANSFER, properties, [])
        if self.status in ('complete', 'error'):
            self.remove_from_connection()

    def run(self):
        steps = [{'Status': 'active', 'Transferred': dbus.UInt64(512)}]
        steps.append({'Status': 'complete'} if self.outcome == 'complete' else {'Status': 'error'})
        for number, properties in enumerate(steps, start=1):
            GLib.timeout_add(STEP_MS * number, lambda properties=properties: self.change(properties) and False)

    @dbus.service.method(TRANSFER, in_signature='', out_signature='', message_keyword='message')
    def Cancel(self, message):
        require_signature(message, '', 'Cancel')
        log('Cancel', self.path)
        self.change({'Status': 'error'})

    @dbus.service.signal(dbus.PROPERTIES_IFACE, signature='sa{sv}as')
    def PropertiesChanged(self, interface, changed, invalidated):
        pass


class Session(dbus.service.Object):
    def __init__(self, bus, path, address):
        super().__init__(bus, path)
        self.bus = bus
        self.path = path
        self.address = address.upper()
        self.transfers = 0

    @dbus.service.method(OBJECT_PUSH, in_signature='s', out_signature='oa{sv}', message_keyword='message')
    def SendFile(self, source, message):
        require_signature(message, 's', 'SendFile')
        log('SendFile', source, 'there' if os.path.isfile(source) else 'missing')
        if not os.path.isabs(source) or not os.path.isfile(source):
            raise dbus.exceptions.DBusException('Unable to open file', name='org.bluez.obex.Error.Failed')
        self.transfers += 1
        path = f'{self.path}/transfer{self.transfers}'
        outcome = 'error' if self.address.endswith(':EF') else 'complete'
        transfer = Transfer(self.bus, path, outcome)
        properties = {'Status': 'queued', 'Name': os.path.basename(source), 'Session': dbus.ObjectPath(self.path),
                      'Filename': source, 'Size': dbus.UInt64(os.path.getsize(source))}
        if self.address.endswith(':CC'):
            transfer.change({'Status': 'active', 'Transferred': dbus.UInt64(0)})
            transfer.change({'Status': 'complete'})
        elif not self.address.endswith(':DD'):
            transfer.change({'Status': 'active', 'Transferred': dbus.UInt64(0)})
            transfer.run()
        return dbus.ObjectPath(path), properties


class Client(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, '/org/bluez/obex')
        self.bus = bus
        self.sessions = {}
        self.count = 0

    @dbus.service.method(CLIENT, in_signature='sa{sv}', out_signature='o', message_keyword='message',
                         async_callbacks=('reply', 'error'))
    def CreateSession(self, destination, arguments, message, reply, error):
        require_signature(message, 'sa{sv}', 'CreateSession')
        log('CreateSession', destination)
        if str(arguments.get('Target', '')).lower() != 'opp':
            raise dbus.exceptions.DBusException('Invalid target', name='org.bluez.obex.Error.InvalidArguments')
        session_error = SESSION_ERRORS.get(destination.upper()[-2:])
        if session_error is not None:
            failure = dbus.exceptions.DBusException(session_error, name='org.bluez.obex.Error.Failed')
            GLib.timeout_add(STEP_MS, lambda: error(failure) and False)
            return
        self.count += 1
        path = f'/org/bluez/obex/client/session{self.count}'
        self.sessions[path] = Session(self.bus, path, destination)
        reply(dbus.ObjectPath(path))

    @dbus.service.method(CLIENT, in_signature='o', out_signature='', message_keyword='message')
    def RemoveSession(self, session, message):
        require_signature(message, 'o', 'RemoveSession')
        log('RemoveSession', session)
        if session not in self.sessions:
            raise dbus.exceptions.DBusException('Invalid session', name='org.bluez.obex.Error.InvalidArguments')
        self.sessions.pop(session).remove_from_connection()


# ---- Server side: obexd's agent manager, and phones pushing files to this device. ----
# A program registers itself with AgentManager1.RegisterAgent(o) as the one agent that authorizes pushes; a second
# one gets org.bluez.obex.Error.AlreadyExists; the agent goes when it unregisters or leaves the bus. A test plays a
# phone pushing a file with org.zrkserver.StandIn.Push(address, name, size, content, outcome): a session whose
# Destination is the address, a Transfer1 with Name, Size (as announced) and Session, the agent's AuthorizePush, the
# content written at the path it answers (a folder ending in "/" gets the name), then Status "active" and, as outcome
# says, "complete" or "error". Push answers "rejected <error>", "complete <path>" or "error <path>";
# org.zrkserver.StandIn.Agent() answers the agent's path, empty when there is none. Logged, for pushes only:
# AuthorizePush name, Rejected name error, Pushed outcome path.

AGENT_MANAGER = 'org.bluez.obex.AgentManager1'
AGENT = 'org.bluez.obex.Agent1'
SESSION = 'org.bluez.obex.Session1'
STAND_IN = 'org.zrkserver.StandIn'


class PropertiesObject(dbus.service.Object):
    def __init__(self, bus, path, interface, properties):
        super().__init__(bus, path)
        self.interface = interface
        self.properties = properties

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature='s', out_signature='a{sv}')
    def GetAll(self, interface):
        return self.properties if interface == self.interface else {}

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature='ss', out_signature='v')
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.signal(dbus.PROPERTIES_IFACE, signature='sa{sv}as')
    def PropertiesChanged(self, interface, changed, invalidated):
        pass


class AgentManager:
    agent = None
    pushes = 0

    @dbus.service.method(AGENT_MANAGER, in_signature='o', out_signature='', sender_keyword='sender',
                         message_keyword='message')
    def RegisterAgent(self, path, sender, message):
        require_signature(message, 'o', 'RegisterAgent')
        if AgentManager.agent is not None:
            raise dbus.exceptions.DBusException('Agent already exists', name='org.bluez.obex.Error.AlreadyExists')
        AgentManager.agent = (sender, path)
        self.connection.watch_name_owner(sender, lambda owner: owner or self.drop_agent(sender))

    @dbus.service.method(AGENT_MANAGER, in_signature='o', out_signature='', sender_keyword='sender',
                         message_keyword='message')
    def UnregisterAgent(self, path, sender, message):
        require_signature(message, 'o', 'UnregisterAgent')
        if AgentManager.agent != (sender, path):
            raise dbus.exceptions.DBusException('Agent does not exist', name='org.bluez.obex.Error.DoesNotExist')
        AgentManager.agent = None

    def drop_agent(self, sender):
        if AgentManager.agent is not None and AgentManager.agent[0] == sender:
            AgentManager.agent = None

    @dbus.service.method(STAND_IN, in_signature='', out_signature='s')
    def Agent(self):
        return AgentManager.agent[1] if AgentManager.agent else ''

    @dbus.service.method(STAND_IN, in_signature='ssaysx', out_signature='s', async_callbacks=('reply', 'error'))
    def Push(self, address, name, content, outcome, size, reply, error):
        AgentManager.pushes += 1
        base = f'/org/bluez/obex/server/session{AgentManager.pushes}'
        session = PropertiesObject(self.connection, base, SESSION, {'Destination': address, 'Target': 'OPP'})
        size = len(content) if size < 0 else size
        transfer = PropertiesObject(self.connection, base + '/transfer0', TRANSFER, {
            'Status': 'queued', 'Name': name, 'Size': dbus.UInt64(size), 'Session': dbus.ObjectPath(base),
            'Filename': '/root/' + os.path.basename(name), 'Transferred': dbus.UInt64(0)})

        def finish(answer):
            transfer.remove_from_connection()
            session.remove_from_connection()
            log('Pushed', answer)
            reply(answer)

        def rejected(failure):
            log('Rejected', name, failure.get_dbus_name())
            finish('rejected ' + failure.get_dbus_name())

        def authorized(path):
            target = path + os.path.basename(name) if path.endswith('/') else path
            written = bytes(content) if outcome == 'complete' else bytes(content)[:len(content) // 2]
            with open(target, 'wb') as file:
                file.write(written)
            transfer.PropertiesChanged(TRANSFER, {'Status': 'active', 'Transferred': dbus.UInt64(len(written))}, [])
            status = 'complete' if outcome == 'complete' else 'error'
            GLib.timeout_add(STEP_MS, lambda: transfer.PropertiesChanged(TRANSFER, {'Status': status}, [])
                             or finish(f'{status} {target}') or False)

        if AgentManager.agent is None:
            rejected(dbus.exceptions.DBusException('no agent', name='org.bluez.obex.Error.Rejected'))
            return
        log('AuthorizePush', name)
        self.connection.call_async(AgentManager.agent[0], AgentManager.agent[1], AGENT, 'AuthorizePush', 'o',
                                   [dbus.ObjectPath(base + '/transfer0')], authorized, rejected)


class Obexd(AgentManager, Client):
    pass
# ---- End of the server side. ----


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
session_bus = dbus.SessionBus()
client = Obexd(session_bus)
name = dbus.service.BusName('org.bluez.obex', session_bus)
GLib.MainLoop().run()
