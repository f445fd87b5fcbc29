// The binding over libkestra.so and the stand-in platform. Only this suite
// binds the stand-in's test API. Usage: BindingTests.exe FRAMES SOUND, the
// files host_reference writes from examples/host.c.
using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Runtime.InteropServices;
using Kestra;

static class StandIn {
    const string Lib = "kestra_platform";
    [DllImport(Lib)] public static extern IntPtr kplat_create_window(string title, int x, int y, int w, int h, int border);
    [DllImport(Lib)] public static extern int kplat_destroy_window(IntPtr window);
    [DllImport(Lib)] public static extern int kplat_read_window_pixels(IntPtr window, uint[] dst, int pitch);
    [DllImport(Lib)] public static extern int kplat_live_objects(int kind);
    [DllImport(Lib)] public static extern int kplat_audio_set_sink(string sink);
    [DllImport(Lib)] public static extern int kplat_audio_manual_step(IntPtr device, byte[] copy, int capacity);
    [DllImport(Lib)] public static extern void kplat_ddraw_set_available(int available);

    public static int[] Live() { return Enumerable.Range(0, 9).Select(kplat_live_objects).ToArray(); }
}

static class Program {
    const int W = 320, H = 240, Rate = 44100;
    static int passed, failed;

    static void Check(bool ok, string what) { if (!ok) throw new Exception(what); }

    static void Run(string name, Action test) {
        try { test(); ++passed; Console.WriteLine("ok   " + name); }
        catch (Exception e) { ++failed; Console.WriteLine("FAIL " + name + ": " + e); }
    }

    static T Throws<T>(Action call) where T : Exception {
        try { call(); } catch (T e) { return e; }
        throw new Exception("expected " + typeof(T).Name);
    }

    static string Hash(IntPtr window) {
        var pixels = new uint[W * H];
        StandIn.kplat_read_window_pixels(window, pixels, W);
        ulong hash = 14695981039346656037ul;
        foreach (uint p in pixels) hash = (hash ^ p) * 1099511628211ul;
        return hash.ToString("x16");
    }

    static byte[] Step() {
        var copy = new byte[1 << 16];
        int n = StandIn.kplat_audio_manual_step(IntPtr.Zero, copy, copy.Length);
        return n < 0 ? new byte[0] : copy.Take(n).ToArray();
    }

    // examples/host.c through the binding: the README's host, stepping the
    // manual sink once a frame as host_reference does.
    static void SameAsCHost(string framesFile, string soundFile) {
        IntPtr window = StandIn.kplat_create_window("kestra example", 50, 50, W, H, 0);
        var frames = new List<string>();
        var sound = new List<byte>();
        byte[] y = new byte[W * H], u = new byte[W * H / 4], v = new byte[W * H / 4];
        double phase = 0;
        using (var display = new KestraDisplay())
        using (var wave = new KestraWave()) {
            display.SetWindow(window);
            display.Init(W, H);
            wave.SetFormat(1, Rate, 16, Rate / 10 * 2);
            wave.SetRefill(buffer => {
                for (int i = 0; i < buffer.Count / 2; ++i, phase += 440.0 / Rate) {
                    short s = (short)(8000.0 * Math.Sin(6.283185307 * phase));
                    buffer.Array[buffer.Offset + 2 * i] = (byte)s;
                    buffer.Array[buffer.Offset + 2 * i + 1] = (byte)(s >> 8);
                }
                return buffer.Count & ~1;
            });
            wave.Play();
            for (int f = 0; f < 50; ++f) {
                for (int i = 0; i < W * H; ++i) y[i] = (byte)(16 + (i % W + 4 * f) % 220);
                for (int i = 0; i < W * H / 4; ++i) { u[i] = 128; v[i] = (byte)(100 + f); }
                int result = display.Draw(new KestraPlane(y, W), new KestraPlane(u, W / 2),
                                          new KestraPlane(v, W / 2));
                frames.Add(result + " " + Hash(window));
                sound.AddRange(Step());
            }
            wave.Stop();
        }
        StandIn.kplat_destroy_window(window);
        var expected = File.ReadAllLines(framesFile);
        Check(expected.Length == 50 && expected.SequenceEqual(frames), "frames differ from host.c's");
        var expectedSound = File.ReadAllBytes(soundFile);
        Check(expectedSound.Length > 40 * 8820 && expectedSound.SequenceEqual(sound),
              "refills differ from host.c's");
    }

    // Delegates reachable only through the player: full collections between
    // 300 refills, with the refill replaced halfway while playing.
    static void RefillsSurviveCollections() {
        int calls = 0;
        using (var wave = new KestraWave()) {
            wave.SetFormat(2, Rate, 16, 1024);
            Func<byte, KestraRefill> make = fill => buffer => {
                for (int i = 0; i < buffer.Count; ++i) buffer.Array[buffer.Offset + i] = fill;
                ++calls;
                return buffer.Count;
            };
            wave.SetRefill(make(1));
            wave.Play();
            for (int k = 0; k < 320; ++k) {
                if (k == 150) wave.SetRefill(make(2));
                GC.Collect();
                GC.WaitForPendingFinalizers();
                byte[] played = Step();
                Check(played.Length == 1024, "step " + k + " played " + played.Length);
                if (k >= 2) Check(played.All(b => b == 1) || played.All(b => b == 2), "step " + k);
            }
            wave.Stop();
        }
        Check(calls >= 300, calls + " refills");
    }

    // The display callback (GDI mode) through 300 frames with full
    // collections between them.
    static void DrawCallbacksSurviveCollections() {
        IntPtr window = StandIn.kplat_create_window("gc", 0, 0, 64, 48, 0);
        StandIn.kplat_ddraw_set_available(0);
        int calls = 0;
        try {
            using (var display = new KestraDisplay()) {
                display.SetWindow(window);
                display.Init(64, 48);
                display.SetCallback(info => { if (info.FrameWidth == 64) ++calls; });
                var y = new byte[64 * 48];
                var c = new byte[32 * 24];
                for (int f = 0; f < 300; ++f) {
                    GC.Collect();
                    GC.WaitForPendingFinalizers();
                    Check(display.Draw(new KestraPlane(y, 64), new KestraPlane(c, 32),
                                       new KestraPlane(c, 32)) == 0, "frame " + f);
                }
            }
        }
        finally {
            StandIn.kplat_ddraw_set_available(1);
            StandIn.kplat_destroy_window(window);
        }
        Check(calls == 300, calls + " callbacks");
    }

    static void ThrowingRefillPlaysSilence() {
        using (var wave = new KestraWave()) {
            wave.SetFormat(1, Rate, 8, 512);
            wave.SetRefill(buffer => { throw new InvalidTimeZoneException("refill"); });
            wave.Play();
            Step();
            Step();
            byte[] played = Step();
            Check(played.Length == 512 && played.All(b => b == 0x80), "8-bit silence, full size");
            Throws<InvalidTimeZoneException>(() => wave.SetVolume(50));
            wave.SetVolume(50);  // reported once
            wave.Stop();
        }
    }

    static void DisposedThrows() {
        var display = new KestraDisplay();
        var wave = new KestraWave();
        for (int i = 0; i < 2; ++i) { display.Dispose(); wave.Dispose(); }
        var p = new KestraPlane(new byte[16], 4);
        Throws<ObjectDisposedException>(() => display.Draw(p, p, p));
        Throws<ObjectDisposedException>(() => wave.Play());
        Throws<ObjectDisposedException>(() => wave.Stop());
    }

    // Each row: a plane that does not hold its part of a 16x8 frame at its
    // stride (bottom-up included), refused before the library reads it.
    static void ShortPlanesRefused() {
        IntPtr window = StandIn.kplat_create_window("planes", 0, 0, 16, 8, 0);
        using (var display = new KestraDisplay()) {
            display.SetWindow(window);
            display.Init(16, 8);
            var y = new KestraPlane(new byte[16 * 8], 16);
            var c = new KestraPlane(new byte[8 * 4], 8);
            var rows = new[] {
                new[] { new KestraPlane(new byte[16 * 8 - 1], 16), c, c },
                new[] { y, new KestraPlane(new byte[8 * 4 - 1], 8), c },
                new[] { y, c, new KestraPlane(new byte[8 * 4], 1, 8) },
                new[] { new KestraPlane(new byte[16 * 8], 15), c, c },
                new[] { new KestraPlane(new byte[16 * 8], 16 * 7 - 1, -16), c, c },
                new[] { y, new KestraPlane(new ArraySegment<byte>(new byte[64], 40, 24), 8), c },
            };
            foreach (var r in rows)
                Throws<ArgumentException>(() => display.Draw(r[0], r[1], r[2]));
            Throws<ArgumentNullException>(() => new KestraPlane((byte[])null, 16));
            // A bottom-up plane that fits is drawn.
            Check(display.Draw(new KestraPlane(new byte[16 * 8], 16 * 7, -16), c, c) == 0,
                  "negative stride");
        }
        StandIn.kplat_destroy_window(window);
    }

    // A playing player left to the collector: its handle's finalizer stops and
    // closes it.
    static void FinalizerClosesPlayer() {
        int before = StandIn.kplat_live_objects(7);
        new Action(() => {
            var wave = new KestraWave();
            wave.SetFormat(1, Rate, 16, 256);
            wave.SetRefill(b => b.Count);
            wave.Play();
        })();
        Check(StandIn.kplat_live_objects(7) == before + 1, "device open");
        GC.Collect();
        GC.WaitForPendingFinalizers();
        Check(StandIn.kplat_live_objects(7) == before, "device closed by the finalizer");
    }

    static int Main(string[] args) {
        if (args.Length == 1 && args[0] == "--overhead") return Overhead.Measure();
        if (args.Length != 2) {
            Console.Error.WriteLine("usage: BindingTests.exe FRAMES SOUND");
            return 2;
        }
        StandIn.kplat_audio_set_sink("manual");
        int[] live = StandIn.Live();
        Run("same frames and refills as host.c", () => SameAsCHost(args[0], args[1]));
        Run("refills survive full collections", RefillsSurviveCollections);
        Run("draw callbacks survive full collections", DrawCallbacksSurviveCollections);
        Run("a throwing refill plays silence and rethrows", ThrowingRefillPlaysSilence);
        Run("disposed objects throw", DisposedThrows);
        Run("short planes are refused", ShortPlanesRefused);
        Run("the finalizer closes a player", FinalizerClosesPlayer);
        GC.Collect();
        GC.WaitForPendingFinalizers();
        Run("nothing leaks", () => Check(live.SequenceEqual(StandIn.Live()),
                                         "live objects " + string.Join(",", live) + " -> " +
                                         string.Join(",", StandIn.Live())));
        Console.WriteLine("{0} passed, {1} failed", passed, failed);
        return failed == 0 ? 0 : 1;
    }
}
