// vudaduv for C# (P/Invoke): the six exports and their request records, field for field as in
// vudaduv.h. IntPtr and uint give the C layout on 32-bit and 64-bit Windows alike.
// Strings cross as NUL-terminated GBK bytes (code page 936): MakeList copies strings into
// unmanaged memory, FreeList releases them once the call has returned.
using System;
using System.Runtime.InteropServices;
using System.Text;

[StructLayout(LayoutKind.Sequential)]
public struct WQStringList { public IntPtr items; public uint count; }

[StructLayout(LayoutKind.Sequential)]
public struct WQValueList { public IntPtr items; public uint count; }

[StructLayout(LayoutKind.Sequential)]
public struct WQTCP { public WQStringList targets, lines; public uint record_type; }

[StructLayout(LayoutKind.Sequential)]
public struct WQST { public WQStringList targets, lines; public WQValueList values; public uint record_type; }

[StructLayout(LayoutKind.Sequential)]
public struct WQCOMM { public uint link; public WQStringList lines; public uint record_type; }

public static class Vudaduv {
    public const int WQ_OK = 0;                  // sent, and the transport returned 0
    public const int WQ_NOTHING_TO_SEND = -1;    // no command line came out; Rec.txt untouched
    public const int WQ_TRANSPORT_FAILED = -2;   // the transport failed; Rec.txt was rewritten
    public const int WQ_UPLOAD_FILE_FAILED = -3; // Rec.txt could not be written

    [DllImport("VUDADUV.dll", CallingConvention = CallingConvention.StdCall)]
    public static extern int WQTCPSend(ref WQTCP request);
    [DllImport("VUDADUV.dll", CallingConvention = CallingConvention.StdCall)]
    public static extern int WQTCPSendEn(ref WQTCP request);
    [DllImport("VUDADUV.dll", CallingConvention = CallingConvention.StdCall)]
    public static extern int WQTCPSendST(ref WQST request);
    [DllImport("VUDADUV.dll", CallingConvention = CallingConvention.StdCall)]
    public static extern int WQTCPSendSTEn(ref WQST request);
    [DllImport("VUDADUV.dll", CallingConvention = CallingConvention.StdCall)]
    public static extern int WQCOMMSend(ref WQCOMM request);
    [DllImport("VUDADUV.dll", CallingConvention = CallingConvention.StdCall)]
    public static extern int WQCOMMSendEn(ref WQCOMM request);

    // Code page 936; a character it lacks throws instead of turning into "?".
    // (On .NET Core and later, call Encoding.RegisterProvider(CodePagesEncodingProvider.Instance) first.)
    public static Encoding Gbk() {
        return Encoding.GetEncoding(936, EncoderFallback.ExceptionFallback, DecoderFallback.ReplacementFallback);
    }

    // A list of NUL-terminated GBK strings in unmanaged memory.
    public static WQStringList MakeList(params string[] strings) {
        Encoding gbk = Gbk();
        var encoded = new byte[strings.Length][];
        for (int i = 0; i < strings.Length; i++) encoded[i] = gbk.GetBytes(strings[i] + "\0");
        if (encoded.Length == 0) return new WQStringList();
        IntPtr items = Marshal.AllocHGlobal(IntPtr.Size * encoded.Length);
        for (int i = 0; i < encoded.Length; i++) {
            IntPtr s = Marshal.AllocHGlobal(encoded[i].Length);
            Marshal.Copy(encoded[i], 0, s, encoded[i].Length);
            Marshal.WriteIntPtr(items, i * IntPtr.Size, s);
        }
        return new WQStringList { items = items, count = (uint)encoded.Length };
    }

    public static void FreeList(WQStringList list) {
        for (int i = 0; i < list.count; i++) Marshal.FreeHGlobal(Marshal.ReadIntPtr(list.items, i * IntPtr.Size));
        Marshal.FreeHGlobal(list.items);
    }

    // The transport's settings for WQTCPSendST / WQTCPSendSTEn, in unmanaged memory.
    public static WQValueList MakeValues(params uint[] values) {
        if (values.Length == 0) return new WQValueList();
        IntPtr items = Marshal.AllocHGlobal(4 * values.Length);
        for (int i = 0; i < values.Length; i++) Marshal.WriteInt32(items, 4 * i, unchecked((int)values[i]));
        return new WQValueList { items = items, count = (uint)values.Length };
    }

    public static void FreeValues(WQValueList values) {
        Marshal.FreeHGlobal(values.items);
    }
}

// var request = new WQTCP { targets = Vudaduv.MakeList("192.168.1.50"),
//                           lines = Vudaduv.MakeList("12A0100000599##苹果##Apple"), record_type = 1 };
// int result = Vudaduv.WQTCPSend(ref request);   // Rec.txt: the scale's answers as upload lines
// Vudaduv.FreeList(request.targets); Vudaduv.FreeList(request.lines);
