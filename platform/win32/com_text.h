#pragma once
// Owners of the COM text and variant values the platform layer passes to
// and receives from COM servers: each frees what it holds when it goes.
#include <oleauto.h>
#include "platform/win32/windows_api.h"

#include <string>
#include <string_view>

#include "platform/win32/wide_text.h"

namespace kvx {

// A BSTR this side owns; an empty or null BSTR reads as "".
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::string_view utf8) {
    const std::wstring w = Wide(utf8);
    b_ = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
  }
  ~Bstr() { SysFreeString(b_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;

  BSTR get() const { return b_; }
  // For an out parameter: frees what is held first.
  BSTR* out() {
    SysFreeString(b_);
    b_ = nullptr;
    return &b_;
  }
  std::string Utf8() const { return b_ ? Narrow(std::wstring_view(b_, SysStringLen(b_))) : std::string(); }

 private:
  BSTR b_ = nullptr;
};

// A VARIANT this side owns, cleared when it goes.
class Variant {
 public:
  Variant() { VariantInit(&v_); }
  // A VT_BSTR variant holding `utf8`.
  explicit Variant(std::string_view utf8) : Variant() {
    const std::wstring w = Wide(utf8);
    v_.vt = VT_BSTR;
    v_.bstrVal = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
  }
  // A VT_DISPATCH variant holding its own reference to `object`.
  explicit Variant(IDispatch* object) : Variant() {
    v_.vt = VT_DISPATCH;
    v_.pdispVal = object;
    if (object) object->AddRef();
  }
  ~Variant() { VariantClear(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;

  VARIANT& get() { return v_; }
  // For an out parameter: clears what is held first.
  VARIANT* out() {
    VariantClear(&v_);
    return &v_;
  }

 private:
  VARIANT v_;
};

}  // namespace kvx
