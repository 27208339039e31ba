#include <stdio.h>

#include "vudaduv.h"

int main(void) {
    const char* scales[] = {"127.0.0.1:4001"};
    const char* items[] = {"12A0100000599##Apple##Fresh", "13A0100000350##Banana"};
    const char* numbers[] = {"12", "13"};

    WQTCP download = {{scales, 1}, {items, 2}, 1}; /* record type 1: item records */
    WQTCP read = {{scales, 1}, {numbers, 2}, 2};   /* record type 2: read items   */

    printf("download: %d\n", WQTCPSend(&download));
    printf("read back: %d\n", WQTCPSend(&read)); /* "Rec.txt" now holds 1P... lines */
    return 0;
}
