// The calls into the launcher page that do nothing until the page is ready.
#pragma once

#include <cstdint>
#include <new>
#include <optional>
#include <string>

// Shows the text in the page's status line.
void showStatusText(std::u16string text);
// Sets the page's progress bar (a percentage; 16 bits reach the page).
void showProgress(std::uint16_t percent);
// Sets the Play button's label; no text passes a null text.
void showPlayButtonText(std::optional<std::u16string> text);

// The one error the launcher raises: an automation string could not be
// allocated. It carries E_OUTOFMEMORY, and nothing catches it.
struct AutomationError : std::bad_alloc {
  explicit AutomationError(std::int32_t hr) : code(hr) {}
  const char* what() const noexcept override { return "automation string allocation failed"; }
  std::int32_t code;
};
[[noreturn]] void raiseOutOfMemory();
