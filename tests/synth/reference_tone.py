#!/usr/bin/env python3
"""Independent reference for the tone generator's golden values.

Python floats are doubles; f32() rounds to single precision, so each stored
field is rounded exactly once, as the generator requires. Prints the first
frames from a fresh start (osc 1.0/440 Hz, lfo 1.0/1 Hz) as left,right pairs.
"""
import math
import struct
import sys


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


class Osc:
    def __init__(self, amplitude, frequency):
        self.value = None
        self.phase = 0.0
        self.offset = 0.0
        self.amplitude = f32(amplitude)
        self.frequency = f32(frequency)

    def step(self):
        self.phase = f32(self.phase + self.frequency / f32(44100.0))
        if self.phase > 1.0:
            self.phase = f32(self.phase - 1.0)
        self.value = f32(math.sin((self.phase + self.offset) * 6.2831853) * self.amplitude)


def frames(n, osc, lfo):
    out = []
    for _ in range(n):
        lfo.step()
        osc.frequency = f32(lfo.value * 100 + 50)
        osc.step()
        s = osc.value * 100
        out.append((int(s) * 100, int(f32(s)) * 100))
    return out


if __name__ == "__main__":
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 8
    osc, lfo = Osc(1.0, 440.0), Osc(1.0, 1.0)
    for i, (l, r) in enumerate(frames(n, osc, lfo)):
        print(i, l, r)
    print("osc.phase", repr(osc.phase), "lfo.phase", repr(lfo.phase), "osc.freq", repr(osc.frequency))
