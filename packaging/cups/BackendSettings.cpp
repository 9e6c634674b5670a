#include "packaging/cups/BackendSettings.h"

namespace velmora::backend {

BackendSettings BackendSettings::installed() {
    BackendSettings settings;
    settings.spoolRoot = VELMORA_BACKEND_SPOOL_DIR;
    settings.converterPath = VELMORA_CONVERTER_PATH;
    settings.senderPath = VELMORA_SENDER_PATH;
    settings.queuePolicy = VELMORA_QUEUE_POLICY;
    return settings;
}

}  // namespace velmora::backend
