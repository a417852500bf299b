// The tests' side of the user-interface fakes.
#pragma once

#include <string>
#include <vector>

#include "platform/window.h"

namespace testsupport {

struct ShownBox {
  platform::WindowHandle owner;
  std::u16string text;
  std::u16string caption;
  unsigned type;
};

// Every message box "shown" so far, in order.
std::vector<ShownBox>& shownBoxes();

}  // namespace testsupport
