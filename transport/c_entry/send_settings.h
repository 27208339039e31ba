// The settings of a network send as SendData takes them: the target record's value slots.
#pragma once

#include "vudaduv.h"
#include "vudaduv_transport.h"

namespace vudaduv::transport {

// The settings of a target record's values (the WQDS_VALUE_ slots of wqdatasend.h): a missing
// slot or 0 keeps the default of SendSettings, a retry count of WQDS_NO_RETRIES means one try
// alone.
SendSettings ReadSendSettings(const WQValueList& values);

}  // namespace vudaduv::transport
