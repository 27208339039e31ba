/* A program built against an installed copy of the libraries: it links all three and calls each
 * with a request that it must refuse without sending anything. */
#include <stdio.h>

#include "vudaduv.h"
#include "wqcommsend.h"
#include "wqdatasend.h"

int main(void) {
    int32_t library = WQTCPSend(NULL);
    int32_t tcp = SendData(NULL, NULL);
    int32_t serial = COMMSendData(NULL, NULL);
    printf("WQTCPSend %d, SendData %d, COMMSendData %d\n", library, tcp, serial);
    return library == WQ_NOTHING_TO_SEND && tcp == WQDS_BAD_REQUEST && serial == WQCS_BAD_REQUEST
               ? 0
               : 1;
}
