// Automation strings and variants owned for the length of a call.
#pragma once

#include <oleauto.h>

#include <string_view>

#include "platform/automation.h"

namespace platform::win32 {

// Owns one BSTR.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::u16string_view text) : text_(allocBstr(text)) {}
  ~Bstr() { SysFreeString(text_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;

  BSTR get() const { return text_; }
  // For out-parameters: frees what is held and hands out the slot.
  BSTR* put() {
    SysFreeString(text_);
    text_ = nullptr;
    return &text_;
  }

 private:
  BSTR text_ = nullptr;
};

// Owns one VARIANT's contents.
class Variant {
 public:
  Variant() { VariantInit(&value_); }
  ~Variant() { VariantClear(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;

  VARIANT* get() { return &value_; }
  const VARIANT& value() const { return value_; }

 private:
  VARIANT value_;
};

}  // namespace platform::win32
