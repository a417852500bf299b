// The update run's display on the launcher page: the page calls while the
// page is ready, the error box, and the end of the process.
#pragma once

#include "update/run_display.h"

namespace shell {

class PageDisplay final : public update::RunDisplay {
 public:
  std::u16string messageText(std::int32_t id) override;
  void showStatusText(const std::u16string& text) override;
  void showProgress(std::uint16_t percent) override;
  void enablePlay() override;
  void showError(const std::u16string& text) override;
  void endProcess() override;
};

}  // namespace shell
