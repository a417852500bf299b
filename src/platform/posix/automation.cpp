// The automation runtime's strings and variants, for platforms that have none.
#include "platform/automation.h"

#include <cstdlib>
#include <cstring>

namespace {

// A BSTR is preceded by its length in bytes, as a 32-bit number.
struct BstrHeader {
  std::uint32_t bytes;
};

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  const std::size_t bytes = static_cast<std::size_t>(length) * sizeof(OLECHAR);
  auto* block = static_cast<unsigned char*>(std::malloc(sizeof(BstrHeader) + bytes + sizeof(OLECHAR)));
  if (block == nullptr) return nullptr;
  BstrHeader header{static_cast<std::uint32_t>(bytes)};
  std::memcpy(block, &header, sizeof header);
  auto* chars = reinterpret_cast<OLECHAR*>(block + sizeof(BstrHeader));
  if (text != nullptr && length > 0) std::memcpy(chars, text, bytes);
  chars[length] = 0;
  return chars;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  UINT length = 0;
  while (text[length] != 0) ++length;
  return SysAllocStringLen(text, length);
}

void SysFreeString(BSTR text) {
  if (text == nullptr) return;
  std::free(reinterpret_cast<unsigned char*>(text) - sizeof(BstrHeader));
}

UINT SysStringLen(BSTR text) {
  if (text == nullptr) return 0;
  BstrHeader header;
  std::memcpy(&header, reinterpret_cast<unsigned char*>(text) - sizeof(BstrHeader), sizeof header);
  return header.bytes / sizeof(OLECHAR);
}

void VariantInit(VARIANT* value) {
  std::memset(value, 0, sizeof *value);
  value->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* value) {
  if (value == nullptr) return E_POINTER;
  if (value->vt == VT_BSTR) SysFreeString(value->bstrVal);
  if (value->vt == VT_DISPATCH && value->pdispVal != nullptr) value->pdispVal->Release();
  VariantInit(value);
  return S_OK;
}
