/* The public headers compile as plain C and the exports link from C. */
#include <stddef.h>

#include "vudaduv.h"
#include "wqcommsend.h"
#include "wqdatasend.h"

int main(void) {
    WQStringList lines = {NULL, 0};
    WQValueList values = {NULL, 0};
    WQTCP tcp = {{NULL, 0}, {NULL, 0}, 2};
    WQST st = {{NULL, 0}, {NULL, 0}, {NULL, 0}, 2};
    WQCOMM comm = {0, {NULL, 0}, 2};
    int32_t(WQ_CALL * tcpSend)(const WQTCP*) = WQTCPSend;
    int32_t(WQ_CALL * tcpSendEn)(const WQTCP*) = WQTCPSendEn;
    int32_t(WQ_CALL * tcpSendSt)(const WQST*) = WQTCPSendST;
    int32_t(WQ_CALL * tcpSendStEn)(const WQST*) = WQTCPSendSTEn;
    int32_t(WQ_CALL * commSend)(const WQCOMM*) = WQCOMMSend;
    int32_t(WQ_CALL * commSendEn)(const WQCOMM*) = WQCOMMSendEn;
    int32_t(WQ_CALL * sendData)(const WQST*, const WQST*) = SendData;
    int32_t(WQ_CALL * commSendData)(const WQCOMM*, const WQCOMM*) = COMMSendData;
    if (tcpSend == NULL || tcpSendEn == NULL || tcpSendSt == NULL || tcpSendStEn == NULL ||
        commSend == NULL || commSendEn == NULL || sendData == NULL || commSendData == NULL) {
        return 1;
    }
    /* Nothing to send: no transport is called and no file is touched. */
    if (tcpSend(&tcp) != WQ_NOTHING_TO_SEND || tcpSendSt(&st) != WQ_NOTHING_TO_SEND ||
        commSendEn(&comm) != WQ_NOTHING_TO_SEND) {
        return 2;
    }
    return lines.count + values.count + WQ_OK;
}
