using System;
using System.Runtime.ExceptionServices;
using System.Runtime.InteropServices;
using System.Threading;

namespace Kestra
{
    /// <summary>
    /// Fills buffer (valid only during the call) with up to buffer.Count
    /// bytes of PCM and returns how many it wrote. Called on the library's
    /// audio thread.
    /// </summary>
    public delegate int KestraRefill(ArraySegment<byte> buffer);

    /// <summary>
    /// A wave player pulling PCM from a <see cref="KestraRefill"/>.
    /// Dispose it when done: Dispose stops and closes at once, while a player
    /// left to the garbage collector is closed by its handle's finalizer,
    /// which stops the device first and so may hold the finalizer thread for
    /// up to about 2 s. Dispose from inside the player's own refill does
    /// nothing, as the library's close does there. An exception thrown by the
    /// refill is caught on the audio thread, which then plays silence for that
    /// buffer; the exception is thrown again from the next call made on the
    /// player (Stop throws it once stopped; Dispose drops it).
    /// </summary>
    public sealed unsafe class KestraWave : IDisposable
    {
        [ThreadStatic] static KestraWave refilling;

        internal static bool InsideRefill { get { return refilling != null; } }

        readonly WaveHandle handle;
        WriteWaveCallbackNative current;
        byte silence;
        byte[] scratch = new byte[0];
        ExceptionDispatchInfo pending;

        public KestraWave()
        {
            WaveHandle h;
            if (Native.KESTRA_WVOpenWave(out h) != 0 || h.IsInvalid)
                throw new OutOfMemoryException("KESTRA_WVOpenWave failed");
            handle = h;
        }

        void Enter()
        {
            if (handle.IsClosed) throw new ObjectDisposedException("KestraWave");
            ThrowPending();
        }

        void ThrowPending()
        {
            ExceptionDispatchInfo e = Interlocked.Exchange(ref pending, null);
            if (e != null) e.Throw();
        }

        /// <summary>PCM format and the size of each of the two buffers (0:
        /// Play does nothing). Set it while not playing.</summary>
        public void SetFormat(int channels, int samplesPerSecond, int bitsPerSample, uint bufferSize)
        {
            Enter();
            if (channels <= 0 || channels > ushort.MaxValue) throw new ArgumentOutOfRangeException("channels");
            if (samplesPerSecond <= 0) throw new ArgumentOutOfRangeException("samplesPerSecond");
            if (bitsPerSample != 8 && bitsPerSample != 16 && bitsPerSample != 24 && bitsPerSample != 32)
                throw new ArgumentOutOfRangeException("bitsPerSample");
            int block = channels * bitsPerSample / 8;
            var format = new NativeWaveFormat {
                FormatTag = 1, Channels = (ushort)channels, SamplesPerSec = (uint)samplesPerSecond,
                AvgBytesPerSec = (uint)(samplesPerSecond * block), BlockAlign = (ushort)block,
                BitsPerSample = (ushort)bitsPerSample
            };
            silence = (byte)(bitsPerSample == 8 ? 0x80 : 0);
            Native.KESTRA_WVSetWaveFormat(handle, &format, bufferSize);
        }

        /// <summary>Registers the refill (null: none). Set it while not
        /// playing; a refill replaced during play stays alive until Stop.</summary>
        public void SetRefill(KestraRefill refill)
        {
            Enter();
            WriteWaveCallbackNative thunk = null;
            if (refill != null)
                thunk = (buffer, size, user) => Refill(refill, buffer, size);
            handle.Hold(thunk);
            current = thunk;
            Native.KESTRA_WVSetWriteWaveCB(handle, IntPtr.Zero, thunk);
        }

        int Refill(KestraRefill refill, IntPtr buffer, uint size)
        {
            int count = (int)Math.Min(size, int.MaxValue);
            KestraWave outer = refilling;
            refilling = this;
            try
            {
                if (scratch.Length < count) scratch = new byte[count];
                int written = refill(new ArraySegment<byte>(scratch, 0, count));
                Marshal.Copy(scratch, 0, buffer, Math.Max(0, Math.Min(written, count)));
                return written;
            }
            catch (Exception e)
            {
                // Full size: a short count would make the library play the
                // buffer's old tail again.
                byte* p = (byte*)buffer;
                for (int i = 0; i < count; ++i) p[i] = silence;
                Interlocked.CompareExchange(ref pending, ExceptionDispatchInfo.Capture(e), null);
                return count;
            }
            finally
            {
                refilling = outer;
            }
        }

        public void Play() { Enter(); Native.KESTRA_WVPlayWave(handle); }

        /// <summary>Stops; returns once the device has let go. From inside
        /// this player's own refill it does nothing.</summary>
        public void Stop()
        {
            if (handle.IsClosed) throw new ObjectDisposedException("KestraWave");
            Native.KESTRA_WVStopWave(handle);
            if (refilling == null) handle.KeepOnly(current);
            ThrowPending();
        }

        public void Pause(bool pause) { Enter(); Native.KESTRA_WVPauseWave(handle, pause ? 1 : 0); }

        /// <summary>0..100; only while playing.</summary>
        public void SetVolume(uint volume) { Enter(); Native.KESTRA_WVSetVolume(handle, volume); }

        /// <summary>Sample frames of the host's stream heard since Play, and the
        /// QueryPerformanceCounter value when that was so; false when not playing.</summary>
        public bool TryGetPosition(out long hostFrames, out long qpcTime)
        {
            Enter();
            long frames = 0, qpc = 0;
            bool ok = Native.KESTRA_WVGetPosition(handle, &frames, &qpc) == 0;
            hostFrames = frames;
            qpcTime = qpc;
            return ok;
        }

        public void Dispose()
        {
            if (refilling == this) return;
            handle.Dispose();
        }
    }
}
