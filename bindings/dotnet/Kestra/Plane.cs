using System;

namespace Kestra
{
    /// <summary>
    /// One plane of a YV12 frame: where its top row starts and how far apart
    /// its rows are. A negative stride walks up through memory, so the top row
    /// is then the last one in the buffer. Either a managed array (pinned for
    /// the call) or native memory of a known length.
    /// </summary>
    public struct KestraPlane
    {
        internal readonly byte[] Array;
        internal readonly IntPtr Buffer;
        internal readonly long Length;
        internal readonly long Offset;
        public readonly int Stride;

        /// <summary>A plane whose top row starts at data[0].</summary>
        public KestraPlane(byte[] data, int stride) : this(data, 0, stride) {}

        /// <summary>A plane whose top row starts at data[offset].</summary>
        public KestraPlane(byte[] data, int offset, int stride)
        {
            if (data == null) throw new ArgumentNullException("data");
            Array = data;
            Buffer = IntPtr.Zero;
            Length = data.Length;
            Offset = offset;
            Stride = stride;
            segmentStart = 0;
        }

        /// <summary>The top row of the whole segment's array starting at segment.Offset,
        /// with every row inside the segment.</summary>
        public KestraPlane(ArraySegment<byte> segment, int stride)
        {
            if (segment.Array == null) throw new ArgumentNullException("segment");
            Array = segment.Array;
            Buffer = IntPtr.Zero;
            Length = segment.Count;
            Offset = 0;
            Stride = stride;
            segmentStart = segment.Offset;
        }

        /// <summary>Native memory: length bytes from buffer, top row at buffer + offset.
        /// The memory must stay valid for the call it is drawn in.</summary>
        public KestraPlane(IntPtr buffer, long length, long offset, int stride)
        {
            if (buffer == IntPtr.Zero) throw new ArgumentNullException("buffer");
            if (length < 0) throw new ArgumentOutOfRangeException("length");
            Array = null;
            Buffer = buffer;
            Length = length;
            Offset = offset;
            Stride = stride;
            segmentStart = 0;
        }

        readonly int segmentStart;

        internal long ArrayStart { get { return segmentStart; } }

        // Throws unless rows x columns at Stride from Offset lie inside the plane,
        // which is what the library reads for them.
        internal void Check(string name, int columns, int rows)
        {
            if (Array == null && Buffer == IntPtr.Zero)
                throw new ArgumentNullException(name, "the plane has no memory");
            if (columns <= 0 || rows <= 0) return;
            if (Math.Abs((long)Stride) < columns)
                throw new ArgumentException(string.Format(
                    "{0}: stride {1} is shorter than a row of {2} bytes", name, Stride, columns), name);
            long span = (long)(rows - 1) * Stride;
            long first = Offset + Math.Min(0, span);
            long end = Offset + Math.Max(0, span) + columns;
            if (first < 0 || end > Length)
                throw new ArgumentException(string.Format(
                    "{0}: {1} rows of {2} bytes at stride {3} from offset {4} need bytes {5}..{6}, " +
                    "the plane holds {7}", name, rows, columns, Stride, Offset, first, end, Length),
                    name);
        }
    }
}
