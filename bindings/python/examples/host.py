"""A minimal libkestra host: a window, 50 frames of a moving gradient and a 440 Hz tone."""
import math
import time

import kestra

W, H, RATE = 320, 240, 44100
phase, buffers, shown = 0.0, 0, 0


def tone(buffer):  # on the audio thread: write the samples, return how many bytes
    global phase, buffers
    out = buffer.cast("h")
    for i in range(len(out)):
        out[i] = int(8000.0 * math.sin(6.283185307 * phase))
        phase += 440.0 / RATE
    buffers += 1
    return 2 * len(out)


window = kestra.create_window("kestra example", 50, 50, W, H)
with kestra.Display() as display, kestra.Wave() as wave:
    display.set_window(window)
    display.init(W, H)
    wave.set_format(rate=RATE, channels=1, bits=16, buffer_size=RATE // 10 * 2)
    wave.set_callback(tone)
    wave.play()
    for f in range(50):
        y = bytes(16 + (x + 4 * f) % 220 for x in range(W)) * H
        u, v = bytes([128]) * (W * H // 4), bytes([100 + f]) * (W * H // 4)
        shown += display.draw(y, u, v, W, W // 2) == kestra.DRAW_SHOWN
        time.sleep(0.02)
    wave.stop()
print("shown %d frames, %d sound buffers" % (shown, buffers))
raise SystemExit(0 if shown == 50 and buffers > 0 else 1)
