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
    /* The slots of a target's values and their special values are plain C constants. */
    {
        uint32_t settings[WQDS_VALUE_RETRY_PAUSE + 1] = {0};
        settings[WQDS_VALUE_RETRIES] = WQDS_NO_RETRIES;
        settings[WQDS_VALUE_PORT] = WQDS_DEFAULT_PORT;
        if (settings[WQDS_VALUE_PORT] != 4001u || settings[WQDS_VALUE_RETRIES] != 0xFFFFFFFFu) {
            return 3;
        }
    }
    return lines.count + values.count + WQ_OK;
}
