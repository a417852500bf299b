// A display for the update run's tests: records what the run shows, and
// answers message texts from a table, in English where it has none.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "update/messages.h"
#include "update/run_display.h"

class RecordingDisplay final : public update::RunDisplay {
 public:
  std::u16string messageText(std::int32_t id) override {
    auto text = texts.find(id);
    return text != texts.end() ? text->second : update::englishDefault(id);
  }
  void showStatusText(const std::u16string& text) override { statusTexts.push_back(text); }
  void showProgress(std::uint16_t percent) override { progress.push_back(percent); }
  void enablePlay() override { ++playEnabled; }
  void showError(const std::u16string& text) override { errors.push_back(text); }
  void endProcess() override { ++processEnds; }

  // The page's translations, by message id.
  std::map<std::int32_t, std::u16string> texts;
  std::vector<std::u16string> statusTexts;
  std::vector<std::uint16_t> progress;
  int playEnabled = 0;
  std::vector<std::u16string> errors;
  int processEnds = 0;
};
