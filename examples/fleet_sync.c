#include <stdio.h>

#include "vudaduv_fleet_c.h"

/* Usage: fleet_sync STATE_DIR ADDRESS... : brings every scale to hold these three items. */
int main(int argc, char** argv) {
    const char* items[] = {"12A0100000599##苹果##Apple", "13A0100000350##香蕉##Banana",
                           "14A0100001200##橙子##Orange"};
    VDFleetOptions options = {.size = sizeof options, .text = VDFLEET_TEXT_UTF8};
    VDFleetSyncRequest request = {.size = sizeof request,
                                  .record_type = 1, /* items */
                                  .lines = items,
                                  .line_count = 3};
    VDFleetSession* session;
    char address[256], status[32], cause[512];
    int64_t confirmed, pending;
    uint32_t rows = 0, row;
    int32_t result;

    if (argc < 3) return 2;
    options.state_dir = argv[1]; /* what each scale confirmed, for the next run */
    if (VDFleetOpen(&options, &session) != VDFLEET_OK) return 2;
    request.addresses = (const char* const*)(argv + 2);
    request.address_count = (uint32_t)(argc - 2);

    result = VDFleetSync(session, &request); /* VDFLEET_SCALES (1): some scale is not in step */
    VDFleetResultCount(session, &rows);      /* one row a scale, in the order given */
    for (row = 0; row < rows; ++row) {
        VDFleetResultText(session, row, VDFLEET_ADDRESS, address, sizeof address);
        VDFleetResultText(session, row, VDFLEET_STATUS_NAME, status, sizeof status);
        VDFleetResultText(session, row, VDFLEET_CAUSE, cause, sizeof cause);
        VDFleetResultNumber(session, row, VDFLEET_CONFIRMED, &confirmed);
        VDFleetResultNumber(session, row, VDFLEET_PENDING, &pending);
        printf("%s: %s, %lld confirmed, %lld pending%s%s\n", address, status, (long long)confirmed,
               (long long)pending, cause[0] ? "; " : "", cause);
    }
    if (rows == 0) {
        VDFleetLastError(session, cause, sizeof cause);
        printf("nothing done: %s\n", cause);
    }
    VDFleetClose(session);
    return result == VDFLEET_OK ? 0 : 1;
}
