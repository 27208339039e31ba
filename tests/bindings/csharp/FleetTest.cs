// The C# fleet classes against the built library and three virtual scales plus an address where
// nothing listens: tables of checks, images and diffs; a sync of the four with each scale's
// outcome; stops from the progress delegate, from another thread and by an exception of the
// delegate; the errors' texts. Exit status 0 when every check holds.
using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Threading;
using System.Threading.Tasks;
using VudaduvFleet;

static class FleetTest {
    const int Items = 60;
    static int failures = 0;

    static void Check(string what, bool holds) {
        Console.WriteLine((holds ? "ok     " : "FAILED ") + what);
        if (!holds) failures++;
    }

    // The exception a call throws, or null when it returns.
    static Exception Thrown(Action call) {
        try {
            call();
            return null;
        } catch (Exception e) {
            return e;
        }
    }

    static bool IsFleetError(Exception e, int code, string text) {
        var fleet = e as FleetException;
        bool holds = fleet != null && fleet.Code == code && fleet.ErrorText.Contains(text) && fleet.Message.Contains(text);
        if (!holds) Console.WriteLine("  got " + (e == null ? "no exception" : e.GetType().Name + ": " + e.Message));
        return holds;
    }

    static Fleet Open(string stateDirectory) {
        return new Fleet(new FleetOptions { StateDirectory = stateDirectory, TimeoutMs = 1000, Tries = 1 });
    }

    static List<string> ItemLines(int first, string name) {
        return Enumerable.Range(first, Items).Select(n => n + "A5##" + name + " " + n).ToList();
    }

    static void Print(IEnumerable<ScaleOutcome> scales) {
        foreach (var s in scales) {
            Console.WriteLine("  {0} {1} planned {2} written {3} confirmed {4} pending {5} code {6} cause '{7}'",
                              s.Address, s.StatusName, s.Planned, s.Written, s.Confirmed, s.Pending, s.CodeName, s.Cause);
        }
    }

    static void TestCheck() {
        var cases = new[] {
            new { Type = 1, Line = "2A5##Milk", Findings = 0, Field = "", What = "" },
            new { Type = 1, Line = "5000A7", Findings = 1, Field = "item number", What = "5000 becomes 4000" },
            new { Type = 1, Line = "3A5##ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJ", Findings = 1, Field = "text 1", What = "cut to" },
            new { Type = 1, Line = "7A5##牛奶##红富士", Findings = 0, Field = "", What = "" },
            new { Type = 3, Line = "05AHello", Findings = 0, Field = "", What = "" },
        };
        using (var fleet = Open(null)) {
            foreach (var c in cases) {
                // The case is the second line: a finding names its line.
                var findings = fleet.Check(c.Type, new[] { "1A1", c.Line });
                string name = "check '" + c.Line + "'";
                Check(name + ": " + c.Findings + " finding(s)", findings.Count == c.Findings);
                if (findings.Count == 0 || c.Findings == 0) continue;
                Check(name + ": on line 1, " + c.Field, findings[0].Line == 1 && findings[0].Field == c.Field);
                Check(name + ": " + c.What + " (" + findings[0].What + ")", findings[0].What.Contains(c.What));
            }
            var noGbk = fleet.Check(1, new[] { "1A5##\U0001F600" });
            Check("check: a character GBK lacks is a finding of its line",
                  noGbk.Count == 1 && noGbk[0].Line == 0 && noGbk[0].What == "its line has no GBK form");
            Check("check: a type that stores nothing is VDFLEET_E_ARGUMENT",
                  IsFleetError(Thrown(() => fleet.Check(2, new[] { "12" })), VDFleetNative.VDFLEET_E_ARGUMENT, ""));
        }
    }

    static void TestImages() {
        var cases = new[] {
            new { Image = "", Records = 0, FirstKey = "", Error = "" },
            new { Image = "1P0002A1##Tea\r\n\r\n3P05AHi\n", Records = 2, FirstKey = "item 0002", Error = "" },
            new { Image = "3P05AHi\n1P0002A1##Tea", Records = 2, FirstKey = "item 0002", Error = "" },
            new { Image = "1P0001A5##牛奶##红富士\n", Records = 1, FirstKey = "item 0001", Error = "" },
            new { Image = "1P0002A1\n1P2A3\n", Records = 0, FirstKey = "", Error = "image:2: item 0002 a second time" },
            new { Image = "hello\n", Records = 0, FirstKey = "", Error = "image:1: not a record" },
        };
        using (var fleet = Open(null)) {
            foreach (var c in cases) {
                string name = "image '" + c.Image.Replace("\n", "\\n").Replace("\r", "\\r") + "'";
                IList<ImageRecord> records = null;
                Exception error = Thrown(() => records = fleet.ReadImage(c.Image));
                if (c.Error.Length > 0) {
                    Check(name + ": " + c.Error, IsFleetError(error, VDFleetNative.VDFLEET_E_TEXT, c.Error));
                    continue;
                }
                Check(name + ": " + c.Records + " record(s)", error == null && records.Count == c.Records);
                if (records != null && c.Records > 0) Check(name + ": first " + c.FirstKey, records[0].Key == c.FirstKey);
            }
            var read = fleet.ReadImage("7Pfree\n1P0001A5##牛奶##红富士\n");
            Check("image: the item's fields, its Chinese as written",
                  read[0].Type == 1 && read[0].Number == 1 && read[0].Line == "1P0001A5##牛奶##红富士");
            Check("image: type 7 data has number -1", read[1].Type == 7 && read[1].Number == -1 && read[1].Key.Length > 0);
        }
    }

    static void TestDiff() {
        var cases = new[] {
            new { A = "1P0001A5##Milk\n", B = "1P1A5##Milk\n", Rows = 0, Kind = DifferenceKind.Added, Key = "", Field = "", Before = "", After = "" },
            new { A = "", B = "1P0004A1##Tea\n", Rows = 1, Kind = DifferenceKind.Added, Key = "item 0004", Field = "", Before = "", After = "1P0004A1##Tea" },
            new { A = "1P0004A1##Tea\n", B = "", Rows = 1, Kind = DifferenceKind.Removed, Key = "item 0004", Field = "", Before = "1P0004A1##Tea", After = "" },
            new { A = "1P0005A1##Tea\n", B = "1P0005A2##Tea\n", Rows = 1, Kind = DifferenceKind.Changed, Key = "item 0005", Field = "fields", Before = "1", After = "2" },
            new { A = "1P0006A1##茶\n", B = "1P0006A1##咖啡\n", Rows = 1, Kind = DifferenceKind.Changed, Key = "item 0006", Field = "text 1", Before = "茶", After = "咖啡" },
            new { A = "1P0006A1##Tea\n", B = "1P0006A2##Cup\n", Rows = 2, Kind = DifferenceKind.Changed, Key = "item 0006", Field = "fields", Before = "1", After = "2" },
        };
        using (var fleet = Open(null)) {
            foreach (var c in cases) {
                var rows = fleet.Diff(c.A, c.B);
                string name = "diff '" + c.A.Trim() + "' '" + c.B.Trim() + "'";
                Check(name + ": " + c.Rows + " row(s)", rows.Count == c.Rows);
                if (rows.Count == 0 || c.Rows == 0) continue;
                var d = rows[0];
                Check(name + ": " + c.Kind + " " + c.Key + " " + c.Field + " (" + d + ")",
                      d.Kind == c.Kind && d.Key == c.Key && d.Field == c.Field && d.Before == c.Before && d.After == c.After);
            }
            Check("diff: the image that is not one is named",
                  IsFleetError(Thrown(() => fleet.Diff("1P0001A1\n", "junk\n")), VDFleetNative.VDFLEET_E_TEXT, "image b:1:"));
        }
    }

    // The three scales and the one that is off: three synced, the fourth failed with its cause;
    // then the same list again finds the three in step; a read gives back the list.
    static void TestSync(string[] live, string down) {
        var addresses = live.Concat(new[] { down }).ToList();
        var lines = ItemLines(1, "牛奶");
        var phases = new HashSet<FleetPhase>();
        bool countsHold = true;
        // A state directory with a Chinese name: the library gets the name's UTF-8 bytes.
        using (var fleet = Open("状态")) {
            fleet.Progress = (phase, done, total) => {
                phases.Add(phase);
                countsHold = countsHold && (total == 0 || done <= total);
                return true;
            };
            SyncResult result = fleet.Sync(new SyncRequest(1, lines, addresses));
            Print(result.Scales);
            Check("sync: a scale that is off is no exception, but VDFLEET_SCALES",
                  !result.Ok && result.Code == VDFleetNative.VDFLEET_SCALES && result.Scales.Count == 4);
            Check("sync: a row a scale, in the order given", result.Scales.Select(s => s.Address).SequenceEqual(addresses));
            foreach (var s in result.Scales.Take(3)) {
                Check("sync: " + s.Address + " synced, every item confirmed",
                      s.Ok && s.Status == ScaleStatus.Synced && s.StatusName == "synced" && s.Planned == Items &&
                      s.Written == Items && s.Confirmed == Items && s.Pending == 0 && s.Cause == "" && s.Code == 0);
            }
            var off = result.Scales[3];
            Check("sync: the scale that is off failed, with a transport code and a cause",
                  !off.Ok && off.Status == ScaleStatus.Failed && off.StatusName == "failed" && off.Code != 0 &&
                  off.CodeName.StartsWith("WQDS_") && off.Cause.Length > 0 && off.Confirmed == 0);
            Check("sync: progress told the reading and the sending, never more done than in all",
                  phases.Contains(FleetPhase.Reading) && phases.Contains(FleetPhase.Sending) && countsHold);
            Check("sync: the state is kept under the directory's own name",
                  Directory.Exists("状态") && Directory.GetFileSystemEntries("状态").Length > 0);

            result = fleet.Sync(new SyncRequest(1, lines, addresses));
            Print(result.Scales);
            foreach (var s in result.Scales.Take(3)) {
                Check("sync again: " + s.Address + " in step, probed, nothing sent",
                      s.Ok && s.Status == ScaleStatus.InStep && s.Unchanged == Items && s.Probed > 0 &&
                      s.Differing == 0 && s.Written == 0);
            }
            Check("sync again: the scale that is off failed again", result.Scales[3].Status == ScaleStatus.Failed);

            lines[4] = "5A9##咖啡";
            result = fleet.Sync(new SyncRequest(1, lines, live) { Flags = SyncFlags.DryRun });
            Check("a dry run: one change planned on each, nothing written",
                  result.Ok && result.Scales.All(s => s.Status == ScaleStatus.Planned && s.Planned == 1 && s.Written == 0));

            result = fleet.Sync(new SyncRequest(1, lines.Take(10), live) {
                Flags = SyncFlags.RemoveMissing, Cap = RemovalCap.Count, CapValue = 5 });
            Check("removals beyond the cap: refused, untouched, the cause names the cap",
                  result.Code == VDFleetNative.VDFLEET_SCALES && result.Scales.All(s =>
                      s.Status == ScaleStatus.RefusedCap && s.Removals == Items - 10 && s.Cause.Contains("cap")));

            ScaleReadResult read = fleet.ReadScales(addresses, 1, Items, 1);
            Check("read: the scale that is off is no exception", !read.Ok && read.Scales.Count == 4);
            string expected = string.Concat(ItemLines(1, "牛奶").Select(line => "1P" + line.Split('A')[0].PadLeft(4, '0') +
                                                                             line.Substring(line.IndexOf('A')) + "\n"));
            foreach (var s in read.Scales.Take(3)) {
                Check("read: " + s.Address + " holds the list as first sent, its Chinese as written",
                      s.Ok && s.Records == Items && s.Image == expected);
            }
            Check("read: the scale that is off says why",
                  !read.Scales[3].Ok && read.Scales[3].Records == 0 && read.Scales[3].Cause.Length > 0);
        }
    }

    // A scale on a serial line, named "serial:PATH": synced and read back as any other; the same
    // line at another speed is the same scale; a speed no line takes is refused, named.
    static void TestSerial(string line) {
        var lines = ItemLines(1, "茶");
        using (var fleet = Open("serial-state")) {
            SyncResult result = fleet.Sync(new SyncRequest(1, lines, new[] { line + "@115200" }));
            Print(result.Scales);
            Check("serial: the line's scale synced, every item confirmed",
                  result.Ok && result.Scales[0].Status == ScaleStatus.Synced && result.Scales[0].Confirmed == Items);
            result = fleet.Sync(new SyncRequest(1, lines, new[] { line }));
            Check("serial: named without its speed, the same scale, in step",
                  result.Ok && result.Scales[0].Status == ScaleStatus.InStep);
            ScaleReadResult read = fleet.ReadScales(new[] { line }, 1, Items, 1);
            Check("serial: read back, the list", read.Ok && read.Scales[0].Records == Items);
            Check("serial: a speed no line takes is VDFLEET_E_ARGUMENT, naming it",
                  IsFleetError(Thrown(() => fleet.ReadScales(new[] { line + "@1000" }, 1, Items, 1)),
                               VDFleetNative.VDFLEET_E_ARGUMENT, "speed 1000 is not supported"));
        }
    }

    // Stopped by the delegate: each scale interrupted, its pending what it did not confirm; the
    // next run sends only the rest.
    static void TestStop(string[] live, string down) {
        var addresses = live.Concat(new[] { down }).ToList();
        var lines = ItemLines(101, "盐");
        long answered = 0;
        using (var fleet = Open("state-stop")) {
            fleet.Progress = (phase, done, total) => {
                if (phase != FleetPhase.Sending) return true;
                answered = done;
                if (done < 4) return true;
                // The library looks at its stop flag between replies from time to time: a pause
                // lets it look before these fast scales are done.
                Thread.Sleep(30);
                return false;
            };
            var stopped = Thrown(() => fleet.Sync(new SyncRequest(1, lines, addresses))) as FleetStoppedException;
            Check("stop from the delegate: FleetStoppedException with the outcomes",
                  stopped != null && stopped.Code == VDFleetNative.VDFLEET_E_STOPPED && stopped.SyncResult != null &&
                  stopped.SyncResult.Scales.Count == 4 && stopped.ErrorText.Contains("stopped"));
            if (stopped == null || stopped.SyncResult == null) return;
            Print(stopped.SyncResult.Scales);
            foreach (var s in stopped.SyncResult.Scales.Take(3)) {
                Check("stopped: " + s.Address + " interrupted, pending what it did not confirm",
                      !s.Ok && s.Status == ScaleStatus.Interrupted && s.Pending == Items - s.Confirmed && s.Pending > 0);
            }
            Check("stopped: the scale that is off is not as asked", !stopped.SyncResult.Scales[3].Ok);

            long answeredBefore = answered;
            fleet.Progress = null;
            SyncResult result = fleet.Sync(new SyncRequest(1, lines, addresses));
            Print(result.Scales);
            foreach (var s in result.Scales.Take(3)) {
                Check("after the stop: " + s.Address + " gets only the rest, all confirmed",
                      s.Status == ScaleStatus.Synced && s.Planned < Items && s.Planned >= Items - answeredBefore &&
                      s.Confirmed == s.Planned && s.Pending == 0);
            }
            ScaleReadResult read = fleet.ReadScales(live, 101, 100 + Items, 1);
            Check("after the stop: every scale holds the whole list", read.Ok && read.Scales.All(s => s.Records == Items));
        }
    }

    // Other ways a call stops: Cancel before it, Cancel from another thread while it runs, an
    // exception of the delegate, a call made from inside the delegate.
    static void TestCancel(string[] live) {
        var lines = ItemLines(201, "Tea");
        using (var fleet = Open("state-cancel")) {
            fleet.Cancel();
            Check("a cancel while no call runs is not kept: the next call runs",
                  Thrown(() => fleet.ReadScales(live, 201, 203, 1)) == null);

            fleet.Progress = (phase, done, total) => {
                if (phase != FleetPhase.Sending) return true;
                var other = new Thread(() => fleet.Cancel());
                other.Start();
                other.Join();
                Thread.Sleep(30);  // as above: time for the library to look at the flag
                return true;
            };
            Check("a cancel from another thread stops the running sync",
                  Thrown(() => fleet.Sync(new SyncRequest(1, lines, live))) is FleetStoppedException);

            fleet.Progress = (phase, done, total) => { throw new InvalidOperationException("the delegate's own"); };
            Exception e = Thrown(() => fleet.ReadScales(live, 201, 203, 1));
            Check("an exception of the delegate stops the call and comes back as it was thrown",
                  e is InvalidOperationException && e.Message == "the delegate's own");

            fleet.Progress = (phase, done, total) => fleet.Check(1, new[] { "1A1" }).Count == 0;
            e = Thrown(() => fleet.ReadScales(live, 201, 203, 1));
            Check("a call from inside the delegate is InvalidOperationException, thrown after the call",
                  e is InvalidOperationException && e.Message.Contains("another call"));

            fleet.Progress = null;
            SyncResult result = fleet.Sync(new SyncRequest(1, lines, live));
            Check("after the stops the session works: the rest is sent, all confirmed",
                  result.Ok && result.Scales.All(s => s.Confirmed == s.Planned && s.Pending == 0));
            fleet.Dispose();
            Check("a cancel after Dispose does nothing", Thrown(() => fleet.Cancel()) == null);
            Check("a call after Dispose is ObjectDisposedException",
                  Thrown(() => fleet.ReadImage("")) is ObjectDisposedException);
        }
    }

    static void TestErrors(string[] live) {
        using (var fleet = Open(null)) {
            Check("a sync without a state directory names it",
                  IsFleetError(Thrown(() => fleet.Sync(new SyncRequest(1, new[] { "1A1" }, live))),
                               VDFleetNative.VDFLEET_E_ARGUMENT, "state directory"));
            Check("an unknown cap kind is VDFLEET_E_ARGUMENT", IsFleetError(Thrown(() => {
                using (var stateful = Open("state-errors")) {
                    stateful.Sync(new SyncRequest(1, new[] { "1A1" }, live) { Flags = SyncFlags.RemoveMissing, Cap = (RemovalCap)7 });
                }
            }), VDFleetNative.VDFLEET_E_ARGUMENT, ""));
            Check("a negative time-out is refused before the library",
                  Thrown(() => new Fleet(new FleetOptions { TimeoutMs = -1 })) is ArgumentOutOfRangeException);
            Check("the library's version", Fleet.LibraryVersion >= 10000);
        }
    }

    // Reports kept as they come, on the library's thread (Progress<T> would post them later).
    sealed class Reports : IProgress<FleetProgressReport> {
        public readonly List<FleetProgressReport> All = new List<FleetProgressReport>();
        public Action<FleetProgressReport> OnReport;
        public void Report(FleetProgressReport report) {
            lock (All) All.Add(report);
            if (OnReport != null) OnReport(report);
        }
    }

    // The binding's own layer: code names from the library, one call at a time, Dispose during a
    // call, SyncAsync with a token and IProgress.
    static void TestIdiom(string[] live) {
        Check("code names come from the library",
              VDFleetNative.CodeName(VDFleetNative.VDFLEET_SCALES) == "VDFLEET_SCALES" &&
              VDFleetNative.CodeName(VDFleetNative.VDFLEET_E_LOCKED) == "VDFLEET_E_LOCKED" &&
              VDFleetNative.CodeName(12345) == "VDFLEET_UNKNOWN");
        Check("the library is 1.1 or later", Fleet.LibraryVersion >= VDFleetNative.VDFLEET_VERSION);

        var lines = ItemLines(301, "Soy");
        var sending = new ManualResetEventSlim();
        var release = new ManualResetEventSlim();
        using (var fleet = Open("state-idiom")) {
            fleet.Progress = (phase, done, total) => {
                if (phase == FleetPhase.Sending) {
                    sending.Set();
                    release.Wait(10000);
                }
                return true;
            };
            Exception inCall = null;
            var call = new Thread(() => inCall = Thrown(() => fleet.Sync(new SyncRequest(1, lines, live))));
            call.Start();
            Check("a sync reaches its sending", sending.Wait(30000));
            Exception e = Thrown(() => fleet.Check(1, new[] { "1A1" }));
            Check("a call from another thread while one runs is InvalidOperationException",
                  e is InvalidOperationException);
            release.Set();
            call.Join();
            Check("the running sync was not disturbed by it", inCall == null);
        }

        // Dispose while a sync runs on another thread: it is cancelled, and Dispose returns once
        // the call is back.
        sending.Reset();
        var fleetToDispose = Open("state-idiom-dispose");
        // The delegate runs inside the call, mostly asleep: a Dispose that did not wait for the
        // call would return while it still runs.
        int inDelegate = 0;
        fleetToDispose.Progress = (phase, done, total) => {
            Interlocked.Exchange(ref inDelegate, 1);
            sending.Set();
            Thread.Sleep(20);
            Interlocked.Exchange(ref inDelegate, 0);
            return true;
        };
        Exception ended = null;
        var running = new Thread(() => {
            ended = Thrown(() => fleetToDispose.Sync(new SyncRequest(1, ItemLines(401, "Vinegar"), live)));
        });
        running.Start();
        Check("a sync to dispose reaches its sending", sending.Wait(30000));
        fleetToDispose.Dispose();
        Check("Dispose during a call waits for it", Interlocked.CompareExchange(ref inDelegate, 0, 0) == 0);
        Check("the call ends soon after Dispose", running.Join(10000));
        Check("Dispose during a call cancels it", ended is FleetStoppedException);
        Check("after Dispose a call is ObjectDisposedException",
              Thrown(() => fleetToDispose.ReadImage("")) is ObjectDisposedException);

        // SyncAsync: reports name each scale done; a cancelled token ends it as cancelled.
        using (var fleet = Open("state-async")) {
            var reports = new Reports();
            SyncResult result = fleet.SyncAsync(new SyncRequest(1, ItemLines(501, "Rice"), live), CancellationToken.None, reports).Result;
            var done = reports.All.Where(r => r.Phase == FleetPhase.Sending && r.Scale >= 0).Select(r => r.Scale).ToList();
            Check("SyncAsync: every scale synced", result.Ok && result.Scales.All(s => s.Confirmed == Items));
            Check("SyncAsync: each scale's end is reported once, by its place",
                  done.Count == live.Length && done.Distinct().Count() == live.Length && done.All(i => i < live.Length));
            Check("SyncAsync: far fewer reports of the sending than lines it sent",
                  reports.All.Count(r => r.Phase == FleetPhase.Sending) < live.Length * Items);

            var cancel = new CancellationTokenSource();
            var slow = new Reports();
            slow.OnReport = r => {
                if (r.Phase == FleetPhase.Sending) cancel.Cancel();
                Thread.Sleep(20);
            };
            Task<SyncResult> task = fleet.SyncAsync(new SyncRequest(1, ItemLines(601, "Tea"), live), cancel.Token, slow);
            // As await rethrows it: the original exception, not Wait's TaskCanceledException.
            Exception thrown = Thrown(() => task.GetAwaiter().GetResult());
            var inner = thrown is AggregateException ? thrown.InnerException : thrown;
            Check("SyncAsync: a cancelled token ends the task as cancelled", task.IsCanceled && inner is OperationCanceledException);
            var stopped = inner == null ? null : inner.InnerException as FleetStoppedException;
            if (stopped == null) Console.WriteLine("  got " + (inner == null ? "nothing" : inner.GetType().Name + ": " + inner.Message));
            Check("SyncAsync: the cancel's exception carries what each scale confirmed",
                  stopped != null && stopped.SyncResult != null && stopped.SyncResult.Scales.Count == live.Length);
            result = fleet.SyncAsync(new SyncRequest(1, ItemLines(601, "Tea"), live)).Result;
            Check("SyncAsync: the next run sends the rest", result.Ok && result.Scales.All(s => s.Planned < Items || s.Planned == Items));
        }
    }

    static int Main() {
        string fleetAddresses = Environment.GetEnvironmentVariable("VUDADUV_TEST_FLEET");
        string down = Environment.GetEnvironmentVariable("VUDADUV_TEST_SCALE_DOWN");
        if (fleetAddresses == null || down == null) {
            Console.Error.WriteLine("run me beside virtual scales (VUDADUV_TEST_FLEET, VUDADUV_TEST_SCALE_DOWN)");
            return 2;
        }
        string[] live = fleetAddresses.Split(new[] { ' ' }, StringSplitOptions.RemoveEmptyEntries);
        TestCheck();
        TestImages();
        TestDiff();
        TestSync(live, down);
        string line = Environment.GetEnvironmentVariable("VUDADUV_TEST_SERIAL_SCALE");
        if (line != null) TestSerial(line);
        // The stops need scales that take their time: the progress delegate is told the lines
        // answered at most every 10 ms, and the fast scales may be done within that.
        string[] slow = Environment.GetEnvironmentVariable("VUDADUV_TEST_SLOW_FLEET")
                            .Split(new[] { ' ' }, StringSplitOptions.RemoveEmptyEntries);
        TestStop(slow, down);
        TestCancel(slow);
        TestErrors(live);
        TestIdiom(slow);
        Console.WriteLine(failures == 0 ? "all checks hold" : failures + " check(s) failed");
        return failures == 0 ? 0 : 1;
    }
}
