#include "packaging/cups/BackendSettings.h"

namespace velmora::backend {

BackendSettings BackendSettings::installed() {
    return {VELMORA_BACKEND_SPOOL_DIR, VELMORA_CONVERTER_PATH, VELMORA_SENDER_PATH, {}};
}

}  // namespace velmora::backend
