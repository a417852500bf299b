// The one door between the update run and the player: everything the run
// shows or asks for goes through it. The launcher page implements it; the
// run's tests record it.
#pragma once

#include <cstdint>
#include <string>

namespace update {

class RunDisplay {
 public:
  virtual ~RunDisplay() = default;

  // The text for a message id (update/messages.h): the page's translation,
  // or the English default while there is no page.
  virtual std::u16string messageText(std::int32_t id) = 0;
  // The status line.
  virtual void showStatusText(const std::u16string& text) = 0;
  // The progress bar, a percentage (larger files than listed pass 100).
  virtual void showProgress(std::uint16_t percent) = 0;
  // The run has finished: the progress bar is full and Play is enabled.
  virtual void enablePlay() = 0;
  // The error box, which the player dismisses.
  virtual void showError(const std::u16string& text) = 0;
  // Ends the launcher's process with exit code 0. The run never goes on
  // after asking: only a recording display returns from it.
  virtual void endProcess() = 0;

 protected:
  RunDisplay() = default;
  RunDisplay(const RunDisplay&) = default;
  RunDisplay& operator=(const RunDisplay&) = default;
  RunDisplay(RunDisplay&&) = default;
  RunDisplay& operator=(RunDisplay&&) = default;
};

}  // namespace update
