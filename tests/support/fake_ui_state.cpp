// The fakes' shared state, the message box and the desktop opener.
#include "support/fake_ui.h"

#include "platform/message_box.h"
#include "platform/shell_execute.h"
#include "text/encoding.h"

namespace testsupport {

FakePage& fakePage() {
  static FakePage page;
  return page;
}

FakeWindowLog& fakeWindow() {
  static FakeWindowLog log;
  return log;
}

std::vector<ShownBox>& shownBoxes() {
  static std::vector<ShownBox> boxes;
  return boxes;
}

std::vector<std::u16string>& openedLinks() {
  static std::vector<std::u16string> links;
  return links;
}

void resetFakes() {
  fakePage() = FakePage{};
  fakeWindow() = FakeWindowLog{};
  shownBoxes().clear();
  openedLinks().clear();
  setWakeTarget(nullptr);
}

std::string narrow(const std::u16string& text) { return text::latin1FromUtf16(text); }

FakeElement* FakePage::element(std::u16string_view id) {
  for (FakeElement& e : elements) {
    if (e.id == id) return &e;
  }
  return nullptr;
}

void FakePage::mouseDown(std::u16string_view id) {
  FakeElement* target = element(id);
  if (target == nullptr || !target->onMouseDown) return;
  platform::ComPtr<IDispatch> handler = target->onMouseDown;  // may be replaced while it runs
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  handler->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr);
  VariantClear(&result);
}

std::vector<PageValue> FakePage::argumentsOf(std::u16string_view function) const {
  std::vector<PageValue> values;
  for (const PageCall& call : calls) {
    if (call.function == function) values.push_back(call.argument);
  }
  return values;
}

void FakePage::defineLauncherFunctions(std::map<std::int32_t, std::u16string> texts) {
  auto ignore = [](const PageValue&) { return PageValue{}; };
  functions[u"setVariableText"] = ignore;
  functions[u"setProgressBar"] = ignore;
  functions[u"setButtonText"] = ignore;
  functions[u"disablePlayButton"] = ignore;
  functions[u"localization"] = [texts](const PageValue& id) -> PageValue {
    std::int32_t number = std::get<std::int32_t>(id);
    auto found = texts.find(number);
    if (found != texts.end()) return found->second;
    std::u16string text = u"?";
    for (char c : std::to_string(number)) text += static_cast<char16_t>(c);
    return text;
  };
}

}  // namespace testsupport

namespace platform {

int messageBox(WindowHandle owner, std::u16string_view text, std::u16string_view caption, unsigned type) {
  testsupport::shownBoxes().push_back({owner, std::u16string(text), std::u16string(caption), type});
  return kIdOk;
}

void shellOpen(std::u16string_view target) { testsupport::openedLinks().emplace_back(target); }

}  // namespace platform
