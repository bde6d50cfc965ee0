#!/usr/bin/python3
"""The information query as a user would script it with pyserial instead of vyxctl.

Usage: info_query.py PORT RATE
Sends the query frame, reads the 22-byte reply and prints the five fields.
"""
import sys

import serial

QUERY = bytes([0x02, 0x01, 0x44, 0x03, 0x46])


def main():
    port, rate = sys.argv[1], int(sys.argv[2])
    with serial.Serial(port, rate, timeout=2) as line:
        line.write(QUERY)
        reply = line.read(22)
    if len(reply) < 22:
        sys.exit("no complete reply")
    print("Version :", "".join(chr(b) for b in reply[3:15] if b))
    for name, pos in (("Command Set", 15), ("Default Font", 16), ("Language", 17), ("BPS", 18)):
        print("%s : %2X" % (name, reply[pos]))


if __name__ == "__main__":
    main()
