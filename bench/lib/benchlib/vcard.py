"""A virtual smart card for a vpcd reader of the machine's pcscd, run as its
own program by bench/workstation (card insert, on a workstation made with
--pcsc system):

    python3 vcard.py PORT RECORD [--reply HEX]... [--t1-only]

It connects to the reader waiting on 127.0.0.1:PORT and speaks vpcd's
protocol: every message is a 2-byte big-endian length and its bytes; a
1-byte message is a control (0 power off, 1 power on, 2 reset, 4 send the
ATR), a longer one a command APDU, answered with the response APDU.

Replies follow the card's own logic, not connections (a real card does not
see them): a command other than GET RESPONSE (00 C0) gets the first reply,
and each GET RESPONSE that follows the next one, the last repeating. So
"6110 9000" is a card that answers every probe through one GET RESPONSE.

It prints "ready" once pcscd has read its ATR, writes one line per exchange
to RECORD ("apdu=HEX<TAB>reply=HEX"), and ends - the card is pulled out -
on SIGTERM or when the reader closes the connection.
"""
import argparse
import signal
import socket
import struct
import sys
import time

ATR_T0 = bytes.fromhex("3B021450")    # T=0 only (no interface bytes)
ATR_T1 = bytes.fromhex("3B800181")    # TD1 = T=1 only, with its check byte
POWER_OFF, POWER_ON, RESET, GET_ATR = 0, 1, 2, 4
CONNECT_SECONDS = 10


class Card:
    def __init__(self, replies, t1_only=False):
        self.replies = [bytes.fromhex(r) for r in replies] or [bytes.fromhex("9000")]
        self.atr = ATR_T1 if t1_only else ATR_T0
        self.chain = 0

    def answer(self, apdu):
        """The response to one command APDU."""
        if apdu[:2] == b"\x00\xc0":
            self.chain += 1
        else:
            self.chain = 0
        return self.replies[min(self.chain, len(self.replies) - 1)]


def receive(connection, size):
    data = b""
    while len(data) < size:
        # vpcd writes a message's length and its bytes apart: a delayed
        # acknowledgement of the first would hold the second back for
        # Linux's 40 ms, a stall no reader has. Linux resets the flag itself.
        if hasattr(socket, "TCP_QUICKACK"):
            connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_QUICKACK, 1)
        part = connection.recv(size - len(data))
        if not part:
            raise EOFError
        data += part
    return data


def send(connection, data):
    connection.sendall(struct.pack(">H", len(data)) + data)


def connect(port):
    """A connection to the reader, tried until it listens or time runs out."""
    end = time.monotonic() + CONNECT_SECONDS
    while True:
        try:
            return socket.create_connection(("127.0.0.1", port), timeout=CONNECT_SECONDS)
        except OSError as e:
            if time.monotonic() >= end:
                raise SystemExit("no reader listens on 127.0.0.1:%d (%s): is pcscd running with it?" % (port, e))
            time.sleep(0.1)


def serve(connection, card, record):
    ready = False
    while True:
        (length,) = struct.unpack(">H", receive(connection, 2))
        message = receive(connection, length)
        if length == 1:
            if message[0] == GET_ATR:
                send(connection, card.atr)
                if not ready:
                    print("ready", flush=True)
                    ready = True
            continue  # power and reset need no answer
        reply = card.answer(message)
        with open(record, "a") as f:
            f.write("apdu=%s\treply=%s\n" % (message.hex().upper(), reply.hex().upper()))
        send(connection, reply)


def main(argv):
    parser = argparse.ArgumentParser(prog="vcard.py")
    parser.add_argument("port", type=int)
    parser.add_argument("record")
    parser.add_argument("--reply", action="append", default=[])
    parser.add_argument("--t1-only", action="store_true")
    args = parser.parse_args(argv)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    connection = connect(args.port)
    connection.settimeout(None)
    connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    try:
        serve(connection, Card(args.reply, args.t1_only), args.record)
    except (EOFError, ConnectionError):
        return 0  # the reader went away: so did the card
    finally:
        connection.close()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
