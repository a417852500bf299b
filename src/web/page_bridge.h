// The calls into the launcher page that do nothing until the page is ready.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Shows the text in the page's status line.
void showStatusText(std::u16string text);
// Sets the page's progress bar (a percentage; 16 bits reach the page).
void showProgress(std::uint16_t percent);
// Sets the Play button's label; no text passes a null text.
void showPlayButtonText(std::optional<std::u16string> text);

// Raised when an automation string cannot be allocated. Nothing catches it.
[[noreturn]] void raiseOutOfMemory();
