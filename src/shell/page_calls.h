// The calls into the launcher page that do nothing until the page is ready,
// and the texts of the page's message catalogue.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace shell {

// The text for a message id: what the page's "localization" answers while
// the page is ready, otherwise the English default.
std::u16string messageText(std::int32_t id);

// Shows the text in the page's status line.
void showStatusText(const std::u16string& text);
// Sets the page's progress bar (a percentage; 16 bits reach the page).
void showProgress(std::uint16_t percent);
// Sets the Play button's label; no text passes a null text.
void showPlayButtonText(std::optional<std::u16string> text);

}  // namespace shell
