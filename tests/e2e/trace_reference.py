"""Independent reference for the window's picture: the trace's white pixels
for a given modulation rate, walked with the same float rules as the program
(each stored value rounded to single precision once)."""
import math
import struct


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def trace_pixels(lfo_hz, osc_amplitude=1.0, lfo_amplitude=1.0):
    osc_phase = lfo_phase = 0.0
    lfo_hz = f32(lfo_hz)
    rate = f32(44100.0)
    pixels = set()
    x = 0.0
    while x < 640.0:
        lfo_phase = f32(lfo_phase + lfo_hz / rate)
        if lfo_phase > 1.0:
            lfo_phase = f32(lfo_phase - 1.0)
        lfo_value = f32(math.sin(lfo_phase * 6.2831853) * lfo_amplitude)
        osc_hz = f32(lfo_value * 100 + 50)
        osc_phase = f32(osc_phase + osc_hz / rate)
        if osc_phase > 1.0:
            osc_phase = f32(osc_phase - 1.0)
        osc_value = f32(math.sin(osc_phase * 6.2831853) * osc_amplitude)
        y = f32(osc_value * 100)
        pixels.add((int(x), int(y + 240)))
        x = f32(x + 0.01)
    return pixels
