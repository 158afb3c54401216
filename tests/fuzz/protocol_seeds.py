#!/usr/bin/env python3
"""Writes seeds for ProtocolFuzz in the order its FuzzedDataProvider reads them: numbers from the
end of the input, byte strings from the front. Usage: protocol_seeds.py <directory>"""
import os, struct, sys

ACK, NACK, START, DATA, END, ANSWER, STATUS, PARAM = 0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xCC, 0xCE, 0xCF

class Seed:
    def __init__(self):
        self.front, self.back = bytearray(), bytearray()
    def number(self, value):
        self.back.append(value)
    def packets(self, *packets):
        """One request's answers: (kind, code index, payload) with kind 1 framed, 2 parameter, 3 status."""
        self.number(len(packets))
        for kind, index, payload in packets:
            self.number(kind)
            if kind == 1:
                self.number(index)
            self.number(len(payload))
            self.front += payload
    def block(self, payload):
        self.packets((1, 0, b""))                  # transfer start
        self.packets((1, 0, payload))              # one chunk
        self.packets((1, 1, b""))                  # transfer end
    def bytes(self):
        return bytes(self.front + self.back[::-1])

def refresh(seed, reports):
    seed.packets((1, 0, bytes([0xB5, 4, 2, 0, 4, 2, 0, 1])))   # versions: a supported unit
    seed.packets((1, 0, b""))                                    # ping
    seed.block(struct.pack("<IfIf", 1, 0.5, 2, 12.0))            # globals
    seed.packets((1, 0, bytes([2])))                             # current program
    seed.block(struct.pack("<IfIf", 22, 2.0, 238, 393728.0))     # current preset
    for _ in range(4):
        seed.block(struct.pack("<I", 7) + b"A\0\0\0m\0\0\0p\0\0\0")  # amp name and id
        seed.block(b"C\0\0\0a\0\0\0b\0\0\0")                      # cabinet name
    # The status request's answers: a status report and an amp change made on the unit, which
    # queue a re-read; left out where the seed's own task is to start.
    seed.packets(*([(3, 0, bytes([0, 0, 0, 0, 0, 0, 100, 0, 3, 2, 1, 2])), (2, 0, struct.pack("<HHf", 0x1000, 0, 2.0))] if reports else []))

def service(task):
    seed = Seed()
    seed.number(1)       # through the service
    seed.number(task)
    seed.number(2)       # protocol variant 3
    refresh(seed, task == 0)
    return seed

def direct():
    seed = Seed()
    seed.number(0)
    seed.number(0)
    seed.number(0)       # protocol variant 1
    seed.number(3)       # index
    seed.number(2)       # read a preset
    seed.block(struct.pack("<IfIf", 22, 1.0, 23, 1.0))
    seed.packets((2, 0, struct.pack("<HHf", 57, 0, -1e30)), (3, 0, b"\x01"))
    return seed

out = sys.argv[1]
for name, seed in [("refresh", service(0)), ("refresh-read", service(1)), ("refresh-backup", service(2)), ("read-preset", direct())]:
    open(os.path.join(out, name + ".bin"), "wb").write(seed.bytes())
