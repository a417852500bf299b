// Documents, elements and element collections of the page.
#include "platform/win32/ui/page_objects.h"

#include <utility>

#include "platform/automation.h"

namespace platform::win32 {

namespace {

template <typename T>
ComPtr<T> queryInterface(IUnknown* object, REFIID iid) {
  ComPtr<T> found;
  if (object != nullptr) object->QueryInterface(iid, reinterpret_cast<void**>(found.put()));
  return found;
}

class Element final : public HtmlElement {
 public:
  explicit Element(ComPtr<IHTMLElement> element) : element_(std::move(element)) {}

  HRESULT getAttribute(std::u16string_view name, VARIANT* value) override {
    VariantInit(value);
    Bstr attribute(name);
    if (attribute.get() == nullptr) return E_OUTOFMEMORY;
    const HRESULT result = element_->getAttribute(attribute.get(), 0, value);
    if (FAILED(result)) return result;
    if (value->vt == VT_EMPTY || value->vt == VT_NULL) {
      value->vt = VT_NULL;
      return result;
    }
    // Attributes that name a property of the element come back typed (a
    // number, a boolean); callers read the attribute's text.
    if (value->vt != VT_BSTR && FAILED(VariantChangeType(value, value, 0, VT_BSTR))) {
      VariantClear(value);
      value->vt = VT_NULL;
    }
    return result;
  }

  HRESULT putOnMouseDown(const VARIANT& handler) override {
    // put_onmousedown takes the VARIANT by value; the element takes its own
    // reference to the handler object.
    return element_->put_onmousedown(handler);
  }

 private:
  ComPtr<IHTMLElement> element_;
};

class Collection final : public HtmlElementCollection {
 public:
  explicit Collection(ComPtr<IHTMLElementCollection> collection) : collection_(std::move(collection)) {}

  HRESULT length(long* count) override { return collection_->get_length(count); }

  HRESULT item(const VARIANT& name, const VARIANT& index, std::shared_ptr<HtmlElement>* element) override {
    element->reset();
    ComPtr<IDispatch> found;
    const HRESULT result = collection_->item(name, index, found.put());
    if (FAILED(result)) return result;
    if (auto asElement = queryInterface<IHTMLElement>(found.get(), IID_IHTMLElement)) {
      *element = wrapElement(std::move(asElement));
    }
    return result;
  }

 private:
  ComPtr<IHTMLElementCollection> collection_;
};

class Document2 final : public HtmlDocument2 {
 public:
  explicit Document2(ComPtr<IHTMLDocument2> document) : document_(std::move(document)) {}

  HRESULT readyState(std::u16string* state) override {
    Bstr text;
    const HRESULT result = document_->get_readyState(text.put());
    if (SUCCEEDED(result)) *state = bstrText(text.get());
    return result;
  }

  HRESULT script(IDispatch** script) override { return document_->get_Script(script); }

  HRESULT body(std::shared_ptr<HtmlElement>* body) override {
    body->reset();
    ComPtr<IHTMLElement> element;
    const HRESULT result = document_->get_body(element.put());
    if (SUCCEEDED(result) && element) *body = wrapElement(std::move(element));
    return result;
  }

 private:
  ComPtr<IHTMLDocument2> document_;
};

class Document3 final : public HtmlDocument3 {
 public:
  explicit Document3(ComPtr<IHTMLDocument3> document) : document_(std::move(document)) {}

  HRESULT elementById(std::u16string_view id, std::shared_ptr<HtmlElement>* element) override {
    element->reset();
    Bstr text(id);
    if (text.get() == nullptr) return E_OUTOFMEMORY;
    ComPtr<IHTMLElement> found;
    const HRESULT result = document_->getElementById(text.get(), found.put());
    if (SUCCEEDED(result) && found) *element = wrapElement(std::move(found));
    return result;
  }

  HRESULT elementsByTagName(std::u16string_view tag, std::shared_ptr<HtmlElementCollection>* elements) override {
    elements->reset();
    Bstr text(tag);
    if (text.get() == nullptr) return E_OUTOFMEMORY;
    ComPtr<IHTMLElementCollection> found;
    const HRESULT result = document_->getElementsByTagName(text.get(), found.put());
    if (SUCCEEDED(result) && found) *elements = wrapCollection(std::move(found));
    return result;
  }

 private:
  ComPtr<IHTMLDocument3> document_;
};

}  // namespace

std::shared_ptr<HtmlElement> wrapElement(ComPtr<IHTMLElement> element) {
  if (!element) return nullptr;
  return std::make_shared<Element>(std::move(element));
}

std::shared_ptr<HtmlElementCollection> wrapCollection(ComPtr<IHTMLElementCollection> collection) {
  if (!collection) return nullptr;
  return std::make_shared<Collection>(std::move(collection));
}

std::shared_ptr<HtmlDocument2> wrapDocument2(ComPtr<IHTMLDocument2> document) {
  if (!document) return nullptr;
  return std::make_shared<Document2>(std::move(document));
}

std::shared_ptr<HtmlDocument3> wrapDocument3(ComPtr<IHTMLDocument3> document) {
  if (!document) return nullptr;
  return std::make_shared<Document3>(std::move(document));
}

void wrapDocument(IDispatch* document, std::shared_ptr<HtmlDocument2>* document2,
                  std::shared_ptr<HtmlDocument3>* document3) {
  if (document2 != nullptr) *document2 = wrapDocument2(queryInterface<IHTMLDocument2>(document, IID_IHTMLDocument2));
  if (document3 != nullptr) *document3 = wrapDocument3(queryInterface<IHTMLDocument3>(document, IID_IHTMLDocument3));
}

}  // namespace platform::win32
