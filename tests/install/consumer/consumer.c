/* A program built against an installed copy of the libraries: it links all four and calls each
 * with a request that it must refuse without sending anything. */
#include <stdio.h>

#include "vudaduv.h"
#include "vudaduv_fleet_c.h"
#include "wqcommsend.h"
#include "wqdatasend.h"

int main(void) {
    int32_t library = WQTCPSend(NULL);
    int32_t tcp = SendData(NULL, NULL);
    int32_t serial = COMMSendData(NULL, NULL);
    int32_t fleet = VDFleetSync(NULL, NULL);
    printf("WQTCPSend %d, SendData %d, COMMSendData %d, VDFleetSync %d\n", library, tcp, serial,
           fleet);
    return library == WQ_NOTHING_TO_SEND && tcp == WQDS_BAD_REQUEST && serial == WQCS_BAD_REQUEST &&
                   fleet == VDFLEET_E_SESSION
               ? 0
               : 1;
}
