#include "wqcommsend.h"

extern "C" WQCOMMSEND_API int32_t WQ_CALL COMMSendData(const WQCOMM*, const WQCOMM*) {
    return WQCS_INTERNAL;
}
