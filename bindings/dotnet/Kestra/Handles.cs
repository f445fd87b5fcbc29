using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;

namespace Kestra
{
    // The handles hold the delegates the library may call: the library can
    // call any callback registered on a handle until that handle's close (or,
    // for a player, stop) has returned, so the delegates live exactly as long
    // as the handle object, finalizer included.
    internal abstract class CallbackHandle : SafeHandle
    {
        readonly List<Delegate> held = new List<Delegate>();

        protected CallbackHandle() : base(IntPtr.Zero, true) {}

        public override bool IsInvalid { get { return handle == IntPtr.Zero; } }

        internal void Hold(Delegate callback)
        {
            if (callback == null) return;
            lock (held) held.Add(callback);
        }

        // After a stop: only the registration still in force can be called again.
        internal void KeepOnly(Delegate current)
        {
            lock (held)
            {
                held.Clear();
                if (current != null) held.Add(current);
            }
        }

        protected abstract int Close(IntPtr value);

        protected override bool ReleaseHandle()
        {
            int result = Close(handle);
            if (KestraWave.InsideRefill)
            {
                // A close from another player's refill returns before the
                // library's own thread has let the device go: its callbacks
                // may still be running, so they outlive this handle.
                lock (Orphans) lock (held) Orphans.AddRange(held);
            }
            lock (held) held.Clear();
            return result == 0;
        }

        static readonly List<Delegate> Orphans = new List<Delegate>();
    }

    internal sealed class DisplayHandle : CallbackHandle
    {
        protected override int Close(IntPtr value) { return Native.KESTRA_DWCloseDraw(value); }
    }

    internal sealed class WaveHandle : CallbackHandle
    {
        protected override int Close(IntPtr value) { return Native.KESTRA_WVCloseWave(value); }
    }
}
