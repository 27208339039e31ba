// The fleet's library for C# (P/Invoke): the records, codes and exports of vudaduv_fleet_c.h
// field for field (VDFleetNative), and Fleet, which calls them the .NET way. Fleet opens its
// sessions in the library's UTF-8 mode and marshals every text itself, as NUL-terminated UTF-8
// bytes: Mono and .NET Framework would marshal a string as the system's ANSI code page. Its
// types are in the namespace VudaduvFleet (not under Vudaduv: the six exports' class has that
// name, and a program may compile both files).
using System;
using System.Collections.Generic;
using System.Runtime.ExceptionServices;
using System.Runtime.InteropServices;
using System.Text;
using System.Threading;
using System.Threading.Tasks;

namespace VudaduvFleet {

[StructLayout(LayoutKind.Sequential)]
public struct VDFleetOptions {
    public uint size;        // Marshal.SizeOf(typeof(VDFleetOptions))
    public uint text;        // VDFLEET_TEXT_GBK or VDFLEET_TEXT_UTF8
    public uint en;
    public uint timeout_ms;
    public uint tries;
    public uint port;
    public IntPtr state_dir; // NUL-terminated, in the session's encoding; copied by the library
}

[StructLayout(LayoutKind.Sequential)]
public struct VDFleetSyncRequest {
    public uint size;        // Marshal.SizeOf(typeof(VDFleetSyncRequest))
    public uint record_type;
    public IntPtr lines;     // line_count pointers to NUL-terminated texts
    public uint line_count;
    public IntPtr image;
    public IntPtr addresses;
    public uint address_count;
    public uint flags;
    public uint cap_kind;
    public uint cap_value;
    public uint probe;
    public uint reserved;    // 0
}

// One event of a call's progress; read a field only when size covers it.
[StructLayout(LayoutKind.Sequential)]
public struct VDFleetProgressEvent {
    public uint size;
    public uint kind;        // VDFLEET_EVENT_
    public uint phase;
    public uint done;
    public uint total;
    public uint scale;       // the index of the scale's address, or VDFLEET_NO_SCALE
    public uint scales_done;
    public uint scales;
}

// Told the phase, the lines answered in it so far and the lines it sends in all; non-zero stops.
[UnmanagedFunctionPointer(CallingConvention.StdCall)]
public delegate int VDFleetProgress(IntPtr user, uint phase, uint done, uint total);

// Told each event as a VDFleetProgressEvent record; non-zero stops.
[UnmanagedFunctionPointer(CallingConvention.StdCall)]
public delegate int VDFleetProgressEvents(IntPtr user, IntPtr progress_event);

// The session as the runtime keeps it: closed once, also when a program forgets Dispose, and
// never while a call that was handed it runs.
public sealed class FleetSessionHandle : SafeHandle {
    public FleetSessionHandle() : base(IntPtr.Zero, true) {}
    public override bool IsInvalid { get { return handle == IntPtr.Zero; } }
    protected override bool ReleaseHandle() {
        return VDFleetNative.VDFleetClose(handle) == VDFleetNative.VDFLEET_OK;
    }
}

public static class VDFleetNative {
    public const string Library = "VUDADUV_FLEET.dll";

    public const int VDFLEET_VERSION_MAJOR = 1;
    public const int VDFLEET_VERSION_MINOR = 1;
    public const int VDFLEET_VERSION_PATCH = 0;
    public const int VDFLEET_VERSION = 10100;

    public const int VDFLEET_OK = 0;
    public const int VDFLEET_SCALES = 1;
    public const int VDFLEET_E_ARGUMENT = -1;
    public const int VDFLEET_E_SESSION = -2;
    public const int VDFLEET_E_TEXT = -3;
    public const int VDFLEET_E_FAILED = -4;
    public const int VDFLEET_E_STOPPED = -5;
    public const int VDFLEET_E_BUSY = -6;
    public const int VDFLEET_E_SCALES = -7;  // 1.0's VDFLEET_SCALES, never returned from 1.1
    public const int VDFLEET_E_FINDINGS = -8;
    public const int VDFLEET_E_LOCKED = -9;
    public const int VDFLEET_E_STATE = -10;
    public const int VDFLEET_E_MEMORY = -11;

    public const uint VDFLEET_TEXT_GBK = 0;
    public const uint VDFLEET_TEXT_UTF8 = 1;

    public const uint VDFLEET_PHASE_READING = 1;
    public const uint VDFLEET_PHASE_READING_IN_FULL = 2;
    public const uint VDFLEET_PHASE_SENDING = 3;

    public const uint VDFLEET_EVENT_PHASE = 1;
    public const uint VDFLEET_EVENT_LINES = 2;
    public const uint VDFLEET_EVENT_SCALE_DONE = 3;

    public const uint VDFLEET_LINE = 1;
    public const uint VDFLEET_FIELD = 2;
    public const uint VDFLEET_WHAT = 3;
    public const uint VDFLEET_KEY = 4;
    public const uint VDFLEET_TYPE = 5;
    public const uint VDFLEET_NUMBER = 6;
    public const uint VDFLEET_RECORD = 7;
    public const uint VDFLEET_ADDRESS = 8;
    public const uint VDFLEET_CODE = 9;
    public const uint VDFLEET_CODE_NAME = 10;
    public const uint VDFLEET_CAUSE = 11;
    public const uint VDFLEET_IMAGE = 12;
    public const uint VDFLEET_RECORDS = 13;
    public const uint VDFLEET_KIND = 14;
    public const uint VDFLEET_BEFORE = 15;
    public const uint VDFLEET_AFTER = 16;
    public const uint VDFLEET_STATUS = 17;
    public const uint VDFLEET_STATUS_NAME = 18;
    public const uint VDFLEET_PLANNED = 19;
    public const uint VDFLEET_REMOVALS = 20;
    public const uint VDFLEET_WRITTEN = 21;
    public const uint VDFLEET_CONFIRMED = 22;
    public const uint VDFLEET_PENDING = 23;
    public const uint VDFLEET_UNCHANGED = 24;
    public const uint VDFLEET_PROBED = 25;
    public const uint VDFLEET_DIFFERING = 26;

    public const uint VDFLEET_ADDED = 1;
    public const uint VDFLEET_REMOVED = 2;
    public const uint VDFLEET_CHANGED = 3;

    public const uint VDFLEET_STATUS_IN_STEP = 0;
    public const uint VDFLEET_STATUS_SYNCED = 1;
    public const uint VDFLEET_STATUS_DRIFT_REPAIRED = 2;
    public const uint VDFLEET_STATUS_REFUSED_CAP = 3;
    public const uint VDFLEET_STATUS_FAILED = 4;
    public const uint VDFLEET_STATUS_INTERRUPTED = 5;
    public const uint VDFLEET_STATUS_PLANNED = 6;

    public const uint VDFLEET_CAP_PERCENT = 0;
    public const uint VDFLEET_CAP_COUNT = 1;
    public const uint VDFLEET_CAP_ALL = 2;

    public const uint VDFLEET_SYNC_REMOVE_MISSING = 1;
    public const uint VDFLEET_SYNC_DRY_RUN = 2;
    public const uint VDFLEET_SYNC_READ_SCALES = 4;
    public const uint VDFLEET_SYNC_NO_READ_BACK = 8;
    public const uint VDFLEET_SYNC_NO_PROBE = 16;
    public const uint VDFLEET_SYNC_ACCEPT_CHANGES = 32;

    [DllImport("VUDADUV_FLEET.dll", CallingConvention = CallingConvention.StdCall)]
    public static extern int VDFleetVersion();
    [DllImport("VUDADUV_FLEET.dll", CallingConvention = CallingConvention.StdCall)]
    public static extern IntPtr VDFleetCodeName(int code);
    [DllImport("VUDADUV_FLEET.dll", CallingConvention = CallingConvention.StdCall)]
    public static extern int VDFleetOpen(ref VDFleetOptions options, out FleetSessionHandle session);
    [DllImport("VUDADUV_FLEET.dll", CallingConvention = CallingConvention.StdCall)]
    public static extern int VDFleetClose(IntPtr session);
    [DllImport("VUDADUV_FLEET.dll", CallingConvention = CallingConvention.StdCall)]
    public static extern int VDFleetLastError(FleetSessionHandle session, [Out] byte[] buffer, uint size);
    [DllImport("VUDADUV_FLEET.dll", CallingConvention = CallingConvention.StdCall)]
    public static extern int VDFleetSetProgress(FleetSessionHandle session, VDFleetProgress progress, IntPtr user);
    [DllImport("VUDADUV_FLEET.dll", CallingConvention = CallingConvention.StdCall)]
    public static extern int VDFleetSetProgressEvents(FleetSessionHandle session, VDFleetProgressEvents progress, IntPtr user);
    [DllImport("VUDADUV_FLEET.dll", CallingConvention = CallingConvention.StdCall)]
    public static extern int VDFleetCancel(FleetSessionHandle session);
    [DllImport("VUDADUV_FLEET.dll", CallingConvention = CallingConvention.StdCall)]
    public static extern int VDFleetResultCount(FleetSessionHandle session, out uint count);
    [DllImport("VUDADUV_FLEET.dll", CallingConvention = CallingConvention.StdCall)]
    public static extern int VDFleetResultText(FleetSessionHandle session, uint row, uint field, [Out] byte[] buffer, uint size);
    [DllImport("VUDADUV_FLEET.dll", CallingConvention = CallingConvention.StdCall)]
    public static extern int VDFleetResultNumber(FleetSessionHandle session, uint row, uint field, out long value);
    [DllImport("VUDADUV_FLEET.dll", CallingConvention = CallingConvention.StdCall)]
    public static extern int VDFleetCheck(FleetSessionHandle session, uint record_type, IntPtr lines, uint count);
    [DllImport("VUDADUV_FLEET.dll", CallingConvention = CallingConvention.StdCall)]
    public static extern int VDFleetReadImage(FleetSessionHandle session, byte[] image);
    [DllImport("VUDADUV_FLEET.dll", CallingConvention = CallingConvention.StdCall)]
    public static extern int VDFleetDiff(FleetSessionHandle session, byte[] image_a, byte[] image_b);
    [DllImport("VUDADUV_FLEET.dll", CallingConvention = CallingConvention.StdCall)]
    public static extern int VDFleetReadScales(FleetSessionHandle session, IntPtr addresses, uint count, uint[] types, uint type_count, int first_item, int last_item);
    [DllImport("VUDADUV_FLEET.dll", CallingConvention = CallingConvention.StdCall)]
    public static extern int VDFleetSync(FleetSessionHandle session, ref VDFleetSyncRequest request);

    static readonly Encoding StrictUtf8 = new UTF8Encoding(false, true);

    // A text as the library of a UTF-8 session reads it: UTF-8 bytes and a NUL (null for null).
    // A string that is no Unicode text (a lone surrogate) throws ArgumentException.
    public static byte[] Utf8(string text) {
        if (text == null) return null;
        var bytes = new byte[StrictUtf8.GetByteCount(text) + 1];
        StrictUtf8.GetBytes(text, 0, text.Length, bytes, 0);
        return bytes;
    }

    // A text copied out by the library's snprintf-like rule: asked again with room for all of it
    // when the first buffer was too small. A negative result is returned as the code.
    public static int CopyOut(Func<byte[], uint, int> copy, out string text) {
        var buffer = new byte[256];
        int length = copy(buffer, (uint)buffer.Length);
        if (length >= buffer.Length) {
            buffer = new byte[length + 1];
            length = copy(buffer, (uint)buffer.Length);
        }
        text = length < 0 ? "" : Encoding.UTF8.GetString(buffer, 0, Math.Min(length, buffer.Length - 1));
        return length;
    }

    // The library's name of a code, "VDFLEET_UNKNOWN" for one it does not know.
    public static string CodeName(int code) {
        return Marshal.PtrToStringAnsi(VDFleetCodeName(code));
    }
}

// NUL-terminated UTF-8 texts in unmanaged memory and the array of their pointers, as the
// library's "const char* const*" takes them; a null text is a NULL pointer.
public sealed class Utf8Texts : IDisposable {
    readonly List<IntPtr> blocks = new List<IntPtr>();

    public IntPtr Pointer { get; private set; }
    public uint Count { get; private set; }

    public Utf8Texts(ICollection<string> texts) {
        try {
            if (texts == null || texts.Count == 0) return;
            Pointer = Allocate(IntPtr.Size * texts.Count);
            int i = 0;
            foreach (string text in texts) {
                Marshal.WriteIntPtr(Pointer, IntPtr.Size * i++, One(text));
            }
            Count = (uint)texts.Count;
        } catch {
            Dispose();
            throw;
        }
    }

    // One text in the same memory, freed with the others.
    public IntPtr One(string text) {
        byte[] bytes = VDFleetNative.Utf8(text);
        if (bytes == null) return IntPtr.Zero;
        IntPtr block = Allocate(bytes.Length);
        Marshal.Copy(bytes, 0, block, bytes.Length);
        return block;
    }

    IntPtr Allocate(int size) {
        IntPtr block = Marshal.AllocHGlobal(size);
        blocks.Add(block);
        return block;
    }

    public void Dispose() {
        foreach (IntPtr block in blocks) Marshal.FreeHGlobal(block);
        blocks.Clear();
        Pointer = IntPtr.Zero;
        Count = 0;
    }
}

public enum FleetPhase { Reading = 1, ReadingInFull = 2, Sending = 3 }
public enum DifferenceKind { Added = 1, Removed = 2, Changed = 3 }
public enum ScaleStatus { InStep = 0, Synced = 1, DriftRepaired = 2, RefusedCap = 3, Failed = 4, Interrupted = 5, Planned = 6 }
public enum RemovalCap { Percent = 0, Count = 1, All = 2 }

[Flags]
public enum SyncFlags {
    None = 0,
    RemoveMissing = 1, // empty the records of the list's types that the list lacks
    DryRun = 2,        // plan only: nothing sent, the state left alone
    ReadScales = 4,    // what the scales hold from a read, not from the state
    NoReadBack = 8,    // confirm by the write's answer
    NoProbe = 16,      // read nothing back before the plan
    AcceptChanges = 32, // send even though some lines would not arrive as written
}

// Told the phase, the lines answered in it so far and the lines it sends in all (0 when not known
// beforehand). Runs on the calling thread inside the call; return false to stop it.
public delegate bool FleetProgress(FleetPhase phase, long done, long total);

// One event of a sync's progress, as SyncAsync reports it: a phase started, lines were answered
// (at most about every 10 ms), or the scale at index Scale of the addresses is done (else -1).
public sealed class FleetProgressReport {
    public FleetPhase Phase { get; internal set; }
    public bool PhaseStarted { get; internal set; }
    public long Done { get; internal set; }
    public long Total { get; internal set; }
    public int Scale { get; internal set; }
    public int ScalesDone { get; internal set; }
    public int Scales { get; internal set; }
}

public sealed class FleetOptions {
    public string StateDirectory { get; set; } // where Sync keeps each scale's image
    public bool CodePageText { get; set; }     // the scales take code-page text
    public int TimeoutMs { get; set; }         // 0: 3000
    public int Tries { get; set; }             // 0: 3
    public int Port { get; set; }              // for addresses without one; 0: 4001
}

public sealed class Finding {
    public int Line { get; internal set; }
    public string Field { get; internal set; }
    public string What { get; internal set; }
    public string Key { get; internal set; }  // the record the line stores, "item 0042"; "" for none
    public override string ToString() { return "line " + Line + ": " + Field + ": " + What; }
}

public sealed class ImageRecord {
    public string Key { get; internal set; }  // "item 0042"
    public int Type { get; internal set; }
    public int Number { get; internal set; }  // -1 for type 7 data and the key table
    public string Line { get; internal set; } // the record as an image line
    public override string ToString() { return Line; }
}

public sealed class Difference {
    public DifferenceKind Kind { get; internal set; }
    public string Key { get; internal set; }
    public string Field { get; internal set; }  // "" for a record added or removed
    public string Before { get; internal set; }
    public string After { get; internal set; }
    public override string ToString() { return Kind + " " + Key + " " + Field + ": '" + Before + "' -> '" + After + "'"; }
}

public sealed class ScaleImage {
    public string Address { get; internal set; }
    public int Code { get; internal set; }        // a WQDS_ code of the transport
    public string CodeName { get; internal set; }
    public string Cause { get; internal set; }    // "" when the scale was read whole
    public string Image { get; internal set; }    // "" when nothing of it is known
    public int Records { get; internal set; }
    public bool Ok { get { return Cause.Length == 0; } }
}

public sealed class ScaleReadResult {
    public IList<ScaleImage> Scales { get; internal set; }
    public bool Ok { get; internal set; }
}

public sealed class ScaleOutcome {
    public string Address { get; internal set; }
    public ScaleStatus Status { get; internal set; }
    public string StatusName { get; internal set; } // "in-step", "synced", "failed", ...
    public int Planned { get; internal set; }
    public int Removals { get; internal set; }
    public int Written { get; internal set; }
    public int Confirmed { get; internal set; }
    public int Pending { get; internal set; }
    public int Unchanged { get; internal set; }
    public int Probed { get; internal set; }
    public int Differing { get; internal set; }
    public int Code { get; internal set; }
    public string CodeName { get; internal set; }
    public string Cause { get; internal set; }
    // As the header counts a scale for VDFLEET_OK: in step, synced, repaired or planned.
    public bool Ok {
        get {
            return Status == ScaleStatus.InStep || Status == ScaleStatus.Synced ||
                   Status == ScaleStatus.DriftRepaired || Status == ScaleStatus.Planned;
        }
    }
    public override string ToString() { return Address + ": " + StatusName + (Cause.Length > 0 ? "; " + Cause : ""); }
}

public sealed class SyncResult {
    public IList<ScaleOutcome> Scales { get; internal set; }
    public int Code { get; internal set; }  // VDFLEET_OK or VDFLEET_SCALES
    public bool Ok { get { return Code == VDFleetNative.VDFLEET_OK; } }
}

public sealed class SyncRequest {
    public SyncRequest() {
        RecordType = 1;
        Lines = new List<string>();
        Addresses = new List<string>();
    }
    public SyncRequest(int recordType, IEnumerable<string> lines, IEnumerable<string> addresses) {
        RecordType = recordType;
        Lines = new List<string>(lines);
        Addresses = new List<string>(addresses);
    }
    public int RecordType { get; set; }
    public IList<string> Lines { get; set; }
    public string Image { get; set; }  // a restore: the scales get this image, RecordType and Lines unread
    public IList<string> Addresses { get; set; }
    public SyncFlags Flags { get; set; }
    public RemovalCap Cap { get; set; }
    public int CapValue { get; set; }  // 0 with RemovalCap.Percent: 10
    public int Probe { get; set; }     // records of each scale's state read back first; 0: 8
}

public class FleetException : Exception {
    public FleetException(string function, int code, string errorText)
        : base(function + ": " + (errorText.Length > 0 ? errorText : VDFleetNative.CodeName(code))) {
        Function = function;
        Code = code;
        ErrorText = errorText;
    }
    public string Function { get; private set; }
    public int Code { get; private set; }  // a VDFLEET_E_ code
    public string CodeName { get { return VDFleetNative.CodeName(Code); } }
    public string ErrorText { get; private set; }  // the session's last error
    // The scales' rows, when the call ended with some: a sync whose state could not be written,
    // or a stopped call.
    public SyncResult SyncResult { get; internal set; }
    public ScaleReadResult ReadResult { get; internal set; }
}

// A sync that refused its list: some lines would not arrive on the scales as written. Nothing was
// sent; Findings names each (as Check does). SyncFlags.AcceptChanges sends all the same.
public class FleetFindingsException : FleetException {
    public FleetFindingsException(string function, string errorText, IList<Finding> findings)
        : base(function, VDFleetNative.VDFLEET_E_FINDINGS, errorText) {
        Findings = findings;
    }
    public IList<Finding> Findings { get; private set; }
}

// A call stopped by Cancel or by the progress delegate: the sync kept what the scales confirmed
// and the next one sends the rest; SyncResult or ReadResult tells each scale.
public class FleetStoppedException : FleetException {
    public FleetStoppedException(string function, string errorText)
        : base(function, VDFleetNative.VDFLEET_E_STOPPED, errorText) {}
}

// One session of the fleet's library. Used by one call at a time: a second call while one runs
// (another thread, or the progress delegate) throws InvalidOperationException. Cancel and
// Dispose may come from any thread: Dispose while a call runs cancels it and waits for it.
public sealed class Fleet : IDisposable {
    readonly FleetSessionHandle session;
    readonly VDFleetProgress relay;
    readonly VDFleetProgressEvents eventRelay;
    readonly object gate = new object();  // guards running, callThread and disposeAfterCall
    int running;               // 1 while a call runs: guards the fields below
    Thread callThread;
    bool disposeAfterCall;     // Dispose came from inside the call (the progress delegate)
    IProgress<FleetProgressReport> callReports;
    CancellationToken callToken;
    FleetProgress callProgress;
    Exception progressFault;   // thrown by the user's delegate, rethrown once the call is back

    public Fleet() : this(new FleetOptions()) {}
    public Fleet(string stateDirectory) : this(new FleetOptions { StateDirectory = stateDirectory }) {}

    public Fleet(FleetOptions options) {
        if (options == null) throw new ArgumentNullException("options");
        var raw = new VDFleetOptions {
            size = (uint)Marshal.SizeOf(typeof(VDFleetOptions)),
            text = VDFleetNative.VDFLEET_TEXT_UTF8,
            en = options.CodePageText ? 1u : 0u,
            timeout_ms = NotNegative(options.TimeoutMs, "TimeoutMs"),
            tries = NotNegative(options.Tries, "Tries"),
            port = NotNegative(options.Port, "Port"),
        };
        using (var texts = new Utf8Texts(null)) {
            raw.state_dir = texts.One(options.StateDirectory);
            int code = VDFleetNative.VDFleetOpen(ref raw, out session);
            if (code != VDFleetNative.VDFLEET_OK) {
                session.Dispose();
                throw new FleetException("VDFleetOpen", code, code == VDFleetNative.VDFLEET_E_TEXT
                    ? "the state directory's name is no text of the system's code page" : "");
            }
        }
        relay = Relay;
        eventRelay = RelayEvent;
    }

    public static int LibraryVersion { get { return VDFleetNative.VDFleetVersion(); } }

    // For ReadScales and Sync; set between calls.
    public FleetProgress Progress { get; set; }

    // Frees the session. While a call runs on another thread it is cancelled first and waited
    // for (the sync keeps what the scales confirmed); from inside the call, the session goes as
    // the call returns.
    public void Dispose() {
        lock (gate) {
            if (running != 0) {
                Cancel();
                if (callThread == Thread.CurrentThread) {
                    disposeAfterCall = true;
                    return;
                }
                while (running != 0) Monitor.Wait(gate);
            }
            session.Dispose();
        }
    }

    // Stops the call running; a cancel while no call runs does nothing. Any thread, any time;
    // after Dispose it does nothing.
    public void Cancel() {
        try {
            VDFleetNative.VDFleetCancel(session);
        } catch (ObjectDisposedException) {
            // closed: nothing runs that could be stopped
        }
    }

    // Findings of data lines of one stored record type, as a download and its read-back would
    // change them; none when every line comes back as written.
    public IList<Finding> Check(int recordType, IEnumerable<string> lines) {
        return Guarded(() => {
            using (var texts = new Utf8Texts(new List<string>(lines))) {
                Call("VDFleetCheck", VDFleetNative.VDFleetCheck(session, (uint)recordType, texts.Pointer, texts.Count));
            }
            return Rows(row => FindingOf(row));
        });
    }

    Finding FindingOf(uint row) {
        return new Finding {
            Line = Number(row, VDFleetNative.VDFLEET_LINE),
            Field = Text(row, VDFleetNative.VDFLEET_FIELD),
            What = Text(row, VDFleetNative.VDFLEET_WHAT),
            Key = Text(row, VDFleetNative.VDFLEET_KEY),
        };
    }

    public IList<ImageRecord> ReadImage(string image) {
        return Guarded(() => {
            Call("VDFleetReadImage", VDFleetNative.VDFleetReadImage(session, VDFleetNative.Utf8(image ?? "")));
            return Rows(row => new ImageRecord {
                Key = Text(row, VDFleetNative.VDFLEET_KEY),
                Type = Number(row, VDFleetNative.VDFLEET_TYPE),
                Number = Number(row, VDFleetNative.VDFLEET_NUMBER),
                Line = Text(row, VDFleetNative.VDFLEET_RECORD),
            });
        });
    }

    // What image b holds otherwise than image a, a row a record added or removed, a row a field
    // changed.
    public IList<Difference> Diff(string imageA, string imageB) {
        return Guarded(() => {
            Call("VDFleetDiff", VDFleetNative.VDFleetDiff(session, VDFleetNative.Utf8(imageA ?? ""), VDFleetNative.Utf8(imageB ?? "")));
            return Rows(row => new Difference {
                Kind = (DifferenceKind)Number(row, VDFleetNative.VDFLEET_KIND),
                Key = Text(row, VDFleetNative.VDFLEET_KEY),
                Field = Text(row, VDFleetNative.VDFLEET_FIELD),
                Before = Text(row, VDFleetNative.VDFLEET_BEFORE),
                After = Text(row, VDFleetNative.VDFLEET_AFTER),
            });
        });
    }

    // Reads the record types (none given: every stored type) of every scale at once. A scale
    // that failed is no exception: its ScaleImage says why.
    public ScaleReadResult ReadScales(IEnumerable<string> addresses, int firstItem, int lastItem, params int[] types) {
        return Guarded(() => {
            var typeList = Array.ConvertAll(types ?? new int[0], type => (uint)type);
            int code;
            using (var texts = new Utf8Texts(new List<string>(addresses))) {
                code = WithProgress(() => VDFleetNative.VDFleetReadScales(session, texts.Pointer, texts.Count,
                    typeList.Length > 0 ? typeList : null, (uint)typeList.Length, firstItem, lastItem));
            }
            var result = new ScaleReadResult { Ok = code == VDFleetNative.VDFLEET_OK };
            if (code != VDFleetNative.VDFLEET_E_STOPPED) Call("VDFleetReadScales", code, VDFleetNative.VDFLEET_SCALES);
            result.Scales = Rows(row => new ScaleImage {
                Address = Text(row, VDFleetNative.VDFLEET_ADDRESS),
                Code = Number(row, VDFleetNative.VDFLEET_CODE),
                CodeName = Text(row, VDFleetNative.VDFLEET_CODE_NAME),
                Cause = Text(row, VDFleetNative.VDFLEET_CAUSE),
                Image = Text(row, VDFleetNative.VDFLEET_IMAGE),
                Records = Number(row, VDFleetNative.VDFLEET_RECORDS),
            });
            if (code == VDFleetNative.VDFLEET_E_STOPPED) {
                throw new FleetStoppedException("VDFleetReadScales", LastError()) { ReadResult = result };
            }
            return result;
        });
    }

    // Brings every scale to hold the list. Scales that failed or were refused for the removal
    // cap are no exception: the result tells each scale (Ok false). A stopped sync throws
    // FleetStoppedException with the same result; a list with lines that would not arrive as
    // written throws FleetFindingsException, nothing sent, unless Flags has AcceptChanges.
    public SyncResult Sync(SyncRequest request) {
        if (request == null) throw new ArgumentNullException("request");
        return Guarded(() => SyncCall(request, WithProgress));
    }

    // Sync on a thread of the pool: the token cancels it (OperationCanceledException, its inner
    // FleetStoppedException telling each scale; what the scales confirmed is kept), progress is
    // told each phase, the lines answered and each scale that is done.
    public Task<SyncResult> SyncAsync(SyncRequest request, CancellationToken cancellationToken = default(CancellationToken),
                                      IProgress<FleetProgressReport> progress = null) {
        if (request == null) throw new ArgumentNullException("request");
        return Task.Run(() => {
            cancellationToken.ThrowIfCancellationRequested();
            try {
                return Guarded(() => {
                    callReports = progress;
                    callToken = cancellationToken;
                    try {
                        using (cancellationToken.Register(Cancel)) {
                            return SyncCall(request, WithEvents);
                        }
                    } finally {
                        callReports = null;
                        callToken = CancellationToken.None;
                    }
                });
            } catch (FleetStoppedException stopped) {
                if (!cancellationToken.IsCancellationRequested) throw;
                throw new OperationCanceledException(stopped.Message, stopped, cancellationToken);
            }
        }, cancellationToken);
    }

    SyncResult SyncCall(SyncRequest request, Func<Func<int>, int> withProgress) {
        {
            int code;
            using (var lines = new Utf8Texts(request.Image == null ? request.Lines : null))
            using (var addresses = new Utf8Texts(request.Addresses)) {
                var raw = new VDFleetSyncRequest {
                    size = (uint)Marshal.SizeOf(typeof(VDFleetSyncRequest)),
                    record_type = NotNegative(request.RecordType, "RecordType"),
                    lines = lines.Pointer,
                    line_count = lines.Count,
                    image = addresses.One(request.Image),
                    addresses = addresses.Pointer,
                    address_count = addresses.Count,
                    flags = (uint)request.Flags,
                    cap_kind = (uint)request.Cap,
                    cap_value = NotNegative(request.CapValue, "CapValue"),
                    probe = NotNegative(request.Probe, "Probe"),
                };
                code = withProgress(() => VDFleetNative.VDFleetSync(session, ref raw));
            }
            if (code == VDFleetNative.VDFLEET_E_FINDINGS) {
                throw new FleetFindingsException("VDFleetSync", LastError(), Rows(row => FindingOf(row)));
            }
            uint rows = RowCount();
            var result = new SyncResult { Code = code, Scales = Rows(row => OutcomeOf(row)) };
            if (code == VDFleetNative.VDFLEET_E_STOPPED) {
                throw new FleetStoppedException("VDFleetSync", LastError()) { SyncResult = result };
            }
            if (code != VDFleetNative.VDFLEET_OK && code != VDFleetNative.VDFLEET_SCALES) {
                // A failure after the scales were served (their state not written) keeps the rows.
                throw new FleetException("VDFleetSync", code, LastError()) { SyncResult = rows > 0 ? result : null };
            }
            return result;
        }
    }

    ScaleOutcome OutcomeOf(uint row) {
        return new ScaleOutcome {
            Address = Text(row, VDFleetNative.VDFLEET_ADDRESS),
            Status = (ScaleStatus)Number(row, VDFleetNative.VDFLEET_STATUS),
            StatusName = Text(row, VDFleetNative.VDFLEET_STATUS_NAME),
            Planned = Number(row, VDFleetNative.VDFLEET_PLANNED),
            Removals = Number(row, VDFleetNative.VDFLEET_REMOVALS),
            Written = Number(row, VDFleetNative.VDFLEET_WRITTEN),
            Confirmed = Number(row, VDFleetNative.VDFLEET_CONFIRMED),
            Pending = Number(row, VDFleetNative.VDFLEET_PENDING),
            Unchanged = Number(row, VDFleetNative.VDFLEET_UNCHANGED),
            Probed = Number(row, VDFleetNative.VDFLEET_PROBED),
            Differing = Number(row, VDFleetNative.VDFLEET_DIFFERING),
            Code = Number(row, VDFleetNative.VDFLEET_CODE),
            CodeName = Text(row, VDFleetNative.VDFLEET_CODE_NAME),
            Cause = Text(row, VDFleetNative.VDFLEET_CAUSE),
        };
    }

    static uint NotNegative(int value, string name) {
        if (value < 0) throw new ArgumentOutOfRangeException(name, value, "must not be negative");
        return (uint)value;
    }

    // One call at a time on this object, as on the session: the per-call fields stay the call's.
    T Guarded<T>(Func<T> call) {
        lock (gate) {
            if (session.IsClosed) throw new ObjectDisposedException("Fleet");
            if (running != 0) {
                throw new InvalidOperationException("another call is running on this Fleet: one call at a time");
            }
            running = 1;
            callThread = Thread.CurrentThread;
        }
        try {
            return call();
        } finally {
            lock (gate) {
                running = 0;
                callThread = null;
                Monitor.PulseAll(gate);
                if (disposeAfterCall) session.Dispose();
            }
        }
    }

    // The native call told each event, for SyncAsync's IProgress; a cancelled token stops it at
    // the next event too (a cancel before the native call starts is not kept by the library).
    int WithEvents(Func<int> call) {
        progressFault = null;
        Call("VDFleetSetProgressEvents", VDFleetNative.VDFleetSetProgressEvents(session, eventRelay, IntPtr.Zero));
        int code;
        try {
            code = call();
        } finally {
            GC.KeepAlive(eventRelay);
        }
        Exception fault = progressFault;
        progressFault = null;
        if (fault != null) ExceptionDispatchInfo.Capture(fault).Throw();
        return code;
    }

    int RelayEvent(IntPtr user, IntPtr progressEvent) {
        try {
            if (callToken.IsCancellationRequested) return 1;
            IProgress<FleetProgressReport> reports = callReports;
            if (reports == null) return 0;
            var told = (VDFleetProgressEvent)Marshal.PtrToStructure(progressEvent, typeof(VDFleetProgressEvent));
            reports.Report(new FleetProgressReport {
                Phase = (FleetPhase)told.phase,
                PhaseStarted = told.kind == VDFleetNative.VDFLEET_EVENT_PHASE,
                Done = told.done,
                Total = told.total,
                Scale = told.kind == VDFleetNative.VDFLEET_EVENT_SCALE_DONE ? (int)told.scale : -1,
                ScalesDone = (int)told.scales_done,
                Scales = (int)told.scales,
            });
            return 0;
        } catch (Exception fault) {
            if (progressFault == null) progressFault = fault;
            return 1;
        }
    }

    // The native call with the progress delegate relayed to it. The relay is kept alive until
    // the call is back; an exception of the delegate stops the call and is rethrown here.
    int WithProgress(Func<int> call) {
        callProgress = Progress;
        progressFault = null;
        VDFleetProgress callback = callProgress != null ? relay : null;
        Call("VDFleetSetProgress", VDFleetNative.VDFleetSetProgress(session, callback, IntPtr.Zero));
        int code;
        try {
            code = call();
        } finally {
            GC.KeepAlive(callback);
            callProgress = null;
        }
        Exception fault = progressFault;
        progressFault = null;
        if (fault != null) ExceptionDispatchInfo.Capture(fault).Throw();
        return code;
    }

    // Called by the library on this thread, inside the call: nothing may be thrown back into it.
    int Relay(IntPtr user, uint phase, uint done, uint total) {
        try {
            FleetProgress progress = callProgress;
            return progress == null || progress((FleetPhase)phase, done, total) ? 0 : 1;
        } catch (Exception fault) {
            if (progressFault == null) progressFault = fault;
            return 1;
        }
    }

    void Call(string function, int code, int alsoFine = VDFleetNative.VDFLEET_OK) {
        if (code == VDFleetNative.VDFLEET_OK || code == alsoFine) return;
        if (code == VDFleetNative.VDFLEET_E_STOPPED) throw new FleetStoppedException(function, LastError());
        throw new FleetException(function, code, LastError());
    }

    public string LastError() {
        string text;
        VDFleetNative.CopyOut((buffer, size) => VDFleetNative.VDFleetLastError(session, buffer, size), out text);
        return text;
    }

    uint RowCount() {
        uint count;
        Call("VDFleetResultCount", VDFleetNative.VDFleetResultCount(session, out count));
        return count;
    }

    IList<T> Rows<T>(Func<uint, T> read) {
        uint count = RowCount();
        var rows = new List<T>((int)Math.Min(count, 1u << 16));
        for (uint row = 0; row < count; row++) rows.Add(read(row));
        return rows.AsReadOnly();
    }

    string Text(uint row, uint field) {
        string text;
        int length = VDFleetNative.CopyOut(
            (buffer, size) => VDFleetNative.VDFleetResultText(session, row, field, buffer, size), out text);
        if (length < 0) Call("VDFleetResultText", length);
        return text;
    }

    int Number(uint row, uint field) {
        long value;
        Call("VDFleetResultNumber", VDFleetNative.VDFleetResultNumber(session, row, field, out value));
        return checked((int)value);
    }
}

}  // namespace VudaduvFleet
