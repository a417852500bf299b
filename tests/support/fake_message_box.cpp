// Message boxes for tests: recorded, never shown, answered with OK at once.
#include "support/fake_ui.h"

#include "platform/message_box.h"

namespace testsupport {

std::vector<ShownBox>& shownBoxes() {
  static std::vector<ShownBox> boxes;
  return boxes;
}

}  // namespace testsupport

namespace platform {

int messageBox(WindowHandle owner, std::u16string_view text, std::u16string_view caption,
               unsigned type) {
  testsupport::shownBoxes().push_back({owner, std::u16string(text), std::u16string(caption), type});
  return kIdOk;
}

}  // namespace platform
