#!/usr/bin/env python3
"""Pairs of Linux pseudo-terminals joined like a null-modem cable, offered to Wine as COM ports.

For the serial tests of the Windows build under Wine: a test opens one end of a pair as the port under test
and plays the instrument on the other end, each a COM port of the Wine prefix (a link in its dosdevices
folder). Bytes written on one end arrive at the other. When the instrument's end is closed after it was
opened, the port's end hangs up, as when an instrument is unplugged; a pair is good for one test.

    pty_pairs.py DOSDEVICES FIRST COUNT MARKS

makes COUNT pairs, COM<FIRST>/COM<FIRST+1> and so on (port, instrument), prints "ready" and the pairs as
"COM20:COM21;COM22:COM23;..." on one line, and relays until its standard input closes or it is killed. The
links it made are removed at the end. The relay sees the instrument's side opened and closed some
milliseconds after the test did it, not at once as a real pseudo-terminal does; the files
MARKS/<instrument's port>.opened and .hungup (COM21.opened, COM21.hungup) tell when it has, and the test
waits for them.
"""

import errno
import os
import select
import sys
import termios
import tty

CHUNK = 4096


class Pair:
    def __init__(self, port_name, peer_name):
        self.port_name = port_name
        self.peer_name = peer_name
        self.port_master, port_slave = os.openpty()
        self.peer_master, peer_slave = os.openpty()
        for fd in (port_slave, peer_slave):
            tty.setraw(fd, termios.TCSANOW)
        # The port's slave stays open here, so its master never reports a hang-up of its own; the
        # instrument's slave is closed, so its master tells when the test opens and closes it.
        self.port_slave = port_slave
        os.close(peer_slave)
        self.port_path = os.ttyname(port_slave)
        self.peer_path = "/dev/pts/%d" % self._pts_number(self.peer_master)
        for fd in (self.port_master, self.peer_master):
            os.set_blocking(fd, False)
        self.peer_opened = False
        self.alive = True
        self.to_port = b""
        self.to_peer = b""

    @staticmethod
    def _pts_number(master):
        import fcntl
        import struct
        TIOCGPTN = 0x80045430
        return struct.unpack("I", fcntl.ioctl(master, TIOCGPTN, b"\0\0\0\0"))[0]

    def hang_up(self, marks):
        """The instrument went away: the port's side hangs up."""
        if not self.alive:
            return
        self.alive = False
        for fd in (self.port_master, self.port_slave, self.peer_master):
            try:
                os.close(fd)
            except OSError:
                pass
        with open(os.path.join(marks, self.peer_name + ".hungup"), "w"):
            pass


def peer_state(pair):
    """None while the instrument's end is not open, else the poll events of its master."""
    p = select.poll()
    p.register(pair.peer_master, select.POLLIN)
    events = p.poll(0)
    mask = events[0][1] if events else 0
    return None if mask & select.POLLHUP else mask


def relay(pairs, marks):
    poller_timeout_ms = 10
    while True:
        p = select.poll()
        p.register(sys.stdin.fileno(), select.POLLIN)
        watched = {}
        for pair in pairs:
            if not pair.alive:
                continue
            state = peer_state(pair)
            if state is None:
                if pair.peer_opened:
                    pair.hang_up(marks)
                    continue
            elif not pair.peer_opened:
                pair.peer_opened = True
                with open(os.path.join(marks, pair.peer_name + ".opened"), "w"):
                    pass
            p.register(pair.port_master, select.POLLIN | (select.POLLOUT if pair.to_port else 0))
            watched[pair.port_master] = (pair, "port")
            if pair.peer_opened:
                p.register(pair.peer_master, select.POLLIN | (select.POLLOUT if pair.to_peer else 0))
                watched[pair.peer_master] = (pair, "peer")
        for fd, mask in p.poll(poller_timeout_ms):
            if fd == sys.stdin.fileno():
                if not os.read(fd, 1):
                    return
                continue
            pair, side = watched[fd]
            if not pair.alive:
                continue
            if mask & select.POLLIN:
                try:
                    data = os.read(fd, CHUNK)
                except OSError as e:
                    data = b""
                    if e.errno not in (errno.EAGAIN, errno.EIO):
                        raise
                if side == "port":
                    pair.to_peer += data
                else:
                    pair.to_port += data
            flush(pair)


def flush(pair):
    for attr, fd in (("to_port", pair.port_master), ("to_peer", pair.peer_master)):
        pending = getattr(pair, attr)
        if not pending or not pair.alive:
            continue
        try:
            written = os.write(fd, pending)
        except OSError as e:
            if e.errno != errno.EAGAIN:
                raise
            written = 0
        setattr(pair, attr, pending[written:])


def main():
    dosdevices, first, count, marks = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    pairs = []
    links = []
    try:
        for i in range(count):
            port, peer = "com%d" % (first + 2 * i), "com%d" % (first + 2 * i + 1)
            pair = Pair(port.upper(), peer.upper())
            for name, target in ((port, pair.port_path), (peer, pair.peer_path)):
                link = os.path.join(dosdevices, name)
                if os.path.lexists(link):
                    os.remove(link)
                os.symlink(target, link)
                links.append(link)
            pairs.append(pair)
        print("ready", flush=True)
        print(";".join("%s:%s" % (p.port_name, p.peer_name) for p in pairs), flush=True)
        relay(pairs, marks)
    finally:
        for link in links:
            try:
                os.remove(link)
            except OSError:
                pass


if __name__ == "__main__":
    main()
