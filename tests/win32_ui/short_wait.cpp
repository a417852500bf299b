// Makes the launcher built with this file wait 3 seconds for its page
// instead of kPageReadyLimit, so a test can watch a start where the page
// never arrives run to its end. Nothing else differs from Launcher.exe.
#include <chrono>

#include "shell/updater.h"

namespace {

// Runs before wWinMain; the limit itself is constant-initialised.
[[maybe_unused]] const bool kShortened = (shell::pageReadyLimit = std::chrono::seconds(3), true);

}  // namespace
