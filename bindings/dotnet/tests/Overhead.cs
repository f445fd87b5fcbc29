// Not a test: the binding's cost on a 1920x1080 draw against the same draw
// made straight through a bare P/Invoke, printed for the record.
using System;
using System.Diagnostics;
using System.Runtime.InteropServices;
using Kestra;

static class Overhead
{
    [DllImport("kestra")] static extern int KESTRA_DWOpenDraw(out IntPtr display);
    [DllImport("kestra")] static extern int KESTRA_DWCloseDraw(IntPtr display);
    [DllImport("kestra")] static extern int KESTRA_DWSetHwnd(IntPtr display, IntPtr window);
    [DllImport("kestra")] static extern int KESTRA_DWInitDraw(IntPtr display, int w, int h);
    [DllImport("kestra")]
    static extern int KESTRA_DWDrawYUV420(IntPtr display, IntPtr y, int yStride, IntPtr u, IntPtr v,
                                          int uvStride, int value6, int value7, int value8);

    public static int Measure()
    {
        const int W = 1920, H = 1080, Rounds = 5, Frames = 40;
        StandIn.kplat_audio_set_sink("null");
        IntPtr window = StandIn.kplat_create_window("overhead", 0, 0, W, H, 0);
        var y = new byte[W * H];
        var u = new byte[W * H / 4];
        var v = new byte[W * H / 4];
        IntPtr raw;
        KESTRA_DWOpenDraw(out raw);
        KESTRA_DWSetHwnd(raw, window);
        KESTRA_DWInitDraw(raw, W, H);
        var display = new KestraDisplay();
        display.SetWindow(window);
        display.Init(W, H);
        GCHandle[] pins = { GCHandle.Alloc(y, GCHandleType.Pinned), GCHandle.Alloc(u, GCHandleType.Pinned),
                            GCHandle.Alloc(v, GCHandleType.Pinned) };
        double bestRaw = double.MaxValue, bestBound = double.MaxValue;
        var py = new KestraPlane(y, W);
        var pu = new KestraPlane(u, W / 2);
        var pv = new KestraPlane(v, W / 2);
        for (int r = 0; r < Rounds; ++r)
        {
            var watch = Stopwatch.StartNew();
            for (int f = 0; f < Frames; ++f)
                KESTRA_DWDrawYUV420(raw, pins[0].AddrOfPinnedObject(), W, pins[1].AddrOfPinnedObject(),
                                    pins[2].AddrOfPinnedObject(), W / 2, 0, 0, 0);
            bestRaw = Math.Min(bestRaw, watch.Elapsed.TotalMilliseconds / Frames);
            watch = Stopwatch.StartNew();
            for (int f = 0; f < Frames; ++f) display.Draw(py, pu, pv);
            bestBound = Math.Min(bestBound, watch.Elapsed.TotalMilliseconds / Frames);
        }
        // The binding's own work alone: the checks and pins on an uninitialised display.
        var idle = new KestraDisplay();
        var tiny = new KestraPlane(new byte[1], 1);
        var idleWatch = Stopwatch.StartNew();
        const int Calls = 200000;
        for (int i = 0; i < Calls; ++i) idle.Draw(tiny, tiny, tiny);
        double perCallUs = idleWatch.Elapsed.TotalMilliseconds * 1000 / Calls;
        foreach (var pin in pins) pin.Free();
        idle.Dispose();
        display.Dispose();
        KESTRA_DWCloseDraw(raw);
        StandIn.kplat_destroy_window(window);
        Console.WriteLine("1920x1080 draw: bare P/Invoke {0:F3} ms, binding {1:F3} ms ({2:+0.0;-0.0} %); " +
                          "binding call on an idle display {3:F2} us ({4:F3} % of the draw)",
                          bestRaw, bestBound, 100 * (bestBound - bestRaw) / bestRaw, perCallUs,
                          100 * perCallUs / 1000 / bestRaw);
        return 0;
    }
}
