#pragma once

#include <string>

namespace velmora::console {

// One change to one of our queues, checked before it becomes a command.
struct QueueOperation {
    enum class Kind { Add, Rename, SwitchPpd, Remove };
    Kind kind = Kind::Add;
    std::string queue;        // the full queue name, "Velmora_" + a safe id
    std::string description;  // Add, Rename: already cleaned (QueueNames::descriptionFor)
    bool duplex = false;      // Add, SwitchPpd: the duplex PPD instead of the generated one

    static const char* kindName(Kind kind);
};

}  // namespace velmora::console
