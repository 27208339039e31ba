// The C# declarations against the built library and a virtual scale: two items with Chinese
// texts go down and come back through each export, and the upload lines must be exactly the
// GBK bytes expected; then the result codes. Exit status 0 when every check holds.
using System;
using System.IO;
using System.Linq;

static class BindingsTest {
    delegate int Send(uint recordType, params string[] lines);

    static readonly uint[] QuickSettings = { 1000, 1000, 1 };  // time-outs in ms, one retry
    static int failures = 0;

    static Send OverTcp(bool en, string target) {
        return (type, lines) => {
            var request = new WQTCP { targets = Vudaduv.MakeList(target), lines = Vudaduv.MakeList(lines), record_type = type };
            try {
                return en ? Vudaduv.WQTCPSendEn(ref request) : Vudaduv.WQTCPSend(ref request);
            } finally {
                Vudaduv.FreeList(request.targets);
                Vudaduv.FreeList(request.lines);
            }
        };
    }

    static Send OverOwnRecord(bool en, string target) {
        return (type, lines) => {
            var request = new WQST { targets = Vudaduv.MakeList(target), lines = Vudaduv.MakeList(lines),
                                     values = Vudaduv.MakeValues(QuickSettings), record_type = type };
            try {
                return en ? Vudaduv.WQTCPSendSTEn(ref request) : Vudaduv.WQTCPSendST(ref request);
            } finally {
                Vudaduv.FreeList(request.targets);
                Vudaduv.FreeList(request.lines);
                Vudaduv.FreeValues(request.values);
            }
        };
    }

    static Send OverSerial(bool en, uint link) {
        return (type, lines) => {
            var request = new WQCOMM { link = link, lines = Vudaduv.MakeList(lines), record_type = type };
            try {
                return en ? Vudaduv.WQCOMMSendEn(ref request) : Vudaduv.WQCOMMSend(ref request);
            } finally {
                Vudaduv.FreeList(request.lines);
            }
        };
    }

    static void Check(string what, bool holds) {
        Console.WriteLine((holds ? "ok    " : "FAILED ") + what);
        if (!holds) failures++;
    }

    static byte[] UploadFile() {
        return File.Exists("Rec.txt") ? File.ReadAllBytes("Rec.txt") : new byte[0];
    }

    static void ItemsRoundTrip(string export, Send send, string[] items) {
        File.Delete("Rec.txt");
        string[] numbers = items.Select(item => int.Parse(item.Substring(0, 4)).ToString()).ToArray();
        Check(export + ": download", send(1, items) == Vudaduv.WQ_OK);
        Check(export + ": acknowledgements leave no upload line", UploadFile().Length == 0);
        Check(export + ": read back", send(2, numbers) == Vudaduv.WQ_OK);
        byte[] expected = Vudaduv.Gbk().GetBytes(string.Concat(items.Select(item => "1P" + item + "\r\n")));
        byte[] actual = UploadFile();
        Check(export + ": upload lines byte for byte", actual.SequenceEqual(expected));
        if (!actual.SequenceEqual(expected)) {
            Console.WriteLine("  expected " + BitConverter.ToString(expected));
            Console.WriteLine("  got      " + BitConverter.ToString(actual));
        }
    }

    static int Main() {
        string scale = Environment.GetEnvironmentVariable("VUDADUV_TEST_SCALE");
        string serial = Environment.GetEnvironmentVariable("VUDADUV_TEST_SERIAL_LINE");
        if (scale == null || serial == null) {
            Console.Error.WriteLine("run me beside a virtual scale (VUDADUV_TEST_SCALE, VUDADUV_TEST_SERIAL_LINE)");
            return 2;
        }
        uint line = uint.Parse(serial);
        // Zone-position text carries any GBK text; code-page text the characters of its table.
        string[] chinese = { "0012A0100000599##苹果##Apple##红富士", "0013A0200000350##香蕉##Banana" };
        string[] codePage = { "0014A01##Keep at 4°C##￥4.99", "0015A02##α-β" };

        ItemsRoundTrip("WQTCPSend", OverTcp(false, scale), chinese);
        ItemsRoundTrip("WQTCPSendEn", OverTcp(true, scale), codePage);
        ItemsRoundTrip("WQTCPSendST", OverOwnRecord(false, scale), chinese);
        ItemsRoundTrip("WQTCPSendSTEn", OverOwnRecord(true, scale), codePage);
        ItemsRoundTrip("WQCOMMSend", OverSerial(false, line), chinese);
        ItemsRoundTrip("WQCOMMSendEn", OverSerial(true, line), codePage);

        byte[] kept = { 0x37, 0x50, 0x6B, 0x65, 0x70, 0x74, 0x0D, 0x0A };  // "7Pkept" CR LF
        File.WriteAllBytes("Rec.txt", kept);
        Check("no data line: WQ_NOTHING_TO_SEND", OverTcp(false, scale)(2) == Vudaduv.WQ_NOTHING_TO_SEND);
        Check("no data line: Rec.txt untouched", UploadFile().SequenceEqual(kept));
        Check("an address without a valid port: WQ_TRANSPORT_FAILED",
              OverOwnRecord(false, "127.0.0.1:99999")(2, "12") == Vudaduv.WQ_TRANSPORT_FAILED);
        Check("a failed transport: Rec.txt rewritten, upload lines kept", UploadFile().SequenceEqual(kept));

        Console.WriteLine(failures == 0 ? "all checks hold" : failures + " check(s) failed");
        return failures == 0 ? 0 : 1;
    }
}
