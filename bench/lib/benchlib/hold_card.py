"""Another program holding a card exclusively, through pcsc-lite directly
(Debian's python3-pyscard), as bench/workstation card insert --exclusive
starts it on a workstation made with --pcsc system:

    /usr/bin/python3 hold_card.py READER

It prints "ready" once it holds the card, and lets it go on SIGTERM.
"""
import signal
import sys

from smartcard import scard


def main(reader):
    rc, context = scard.SCardEstablishContext(scard.SCARD_SCOPE_USER)
    if rc != scard.SCARD_S_SUCCESS:
        raise SystemExit("SCardEstablishContext: %s" % scard.SCardGetErrorMessage(rc))
    rc, card, _ = scard.SCardConnect(context, reader, scard.SCARD_SHARE_EXCLUSIVE,
                                     scard.SCARD_PROTOCOL_T0 | scard.SCARD_PROTOCOL_T1)
    if rc != scard.SCARD_S_SUCCESS:
        scard.SCardReleaseContext(context)
        raise SystemExit("SCardConnect(%r, exclusive): %s" % (reader, scard.SCardGetErrorMessage(rc)))
    signal.signal(signal.SIGTERM, lambda *_: None)
    print("ready", flush=True)
    signal.pause()
    scard.SCardDisconnect(card, scard.SCARD_LEAVE_CARD)
    scard.SCardReleaseContext(context)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
