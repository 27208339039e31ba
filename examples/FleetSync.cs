// Brings every scale to hold three items and says how each one ended.
// Usage: mono FleetSync.exe ADDRESS...  (without addresses: the test's virtual scales)
using System;
using VudaduvFleet;

static class FleetSync {
    static int Main(string[] args) {
        string[] items = { "12A0100000599##苹果##Apple", "13A0100000350##香蕉##Banana",
                           "14A0100001200##橙子##Orange" };
        string[] addresses = args.Length > 0 ? args : (
            Environment.GetEnvironmentVariable("VUDADUV_TEST_FLEET") + " " +
            Environment.GetEnvironmentVariable("VUDADUV_TEST_SCALE_DOWN"))
            .Split(new[] { ' ' }, StringSplitOptions.RemoveEmptyEntries);
        if (addresses.Length == 0) {
            Console.Error.WriteLine("usage: FleetSync ADDRESS...");
            return 2;
        }

        // The state directory keeps what each scale confirmed: the next run sends only the changes.
        var options = new FleetOptions { StateDirectory = "scale-state", TimeoutMs = 2000 };
        try {
            using (var fleet = new Fleet(options)) {
                SyncResult result = fleet.Sync(new SyncRequest(1, items, addresses));
                // A scale that is off or failed is no exception: each one says how it ended, and why.
                foreach (ScaleOutcome scale in result.Scales) {
                    Console.WriteLine("{0}: {1}, {2} confirmed, {3} pending{4}", scale.Address,
                                      scale.StatusName, scale.Confirmed, scale.Pending,
                                      scale.Cause.Length > 0 ? "; " + scale.Cause : "");
                }
                return result.Ok ? 0 : 1;  // not every scale in step: 1
            }
        } catch (FleetException error) {  // nothing was done: the state directory busy or unusable
            Console.Error.WriteLine("nothing done: " + error.ErrorText);
            return 2;
        }
    }
}
