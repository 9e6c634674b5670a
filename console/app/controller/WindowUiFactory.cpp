// The seam where the main window plugs into the program: until this build has the window, the
// factory is empty and `velmora` without --headless says so.
#include "console/app/controller/ConsoleProgram.h"

namespace velmora::console {

ConsoleProgram::UiFactory ConsoleProgram::windowUiFactory() {
    return {};
}

}  // namespace velmora::console
