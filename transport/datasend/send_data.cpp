#include "wqdatasend.h"

extern "C" WQDATASEND_API int32_t WQ_CALL SendData(const WQST*, const WQST*) { return WQDS_INTERNAL; }
