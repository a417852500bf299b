// A scripted page behind the MSHTML interfaces the launcher's Windows page
// objects use: a document (IHTMLDocument2 with IHTMLDocument::get_Script,
// IHTMLDocument3), elements (IHTMLElement), element collections
// (IHTMLElementCollection) and the page's script object (IDispatch). Each is
// a COM object that keeps the documented contracts: reference counts, [in]
// strings left to the caller and [out] strings and variants handed over,
// DISPPARAMS arguments last first, DISPID_UNKNOWN with DISP_E_UNKNOWNNAME for
// unknown names, VT_NULL for absent attributes, a VT_DISPATCH event handler
// held by the element. Methods the launcher does not call answer E_NOTIMPL.
//
// The page owns the objects' memory, so that a reference released once too
// often is recorded as a fault instead of freeing twice.
#pragma once

#include <windows.h>
#include <mshtml.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <variant>
#include <vector>

namespace scripted {

// A script value as the test writes it.
using Value = std::variant<std::monostate, long, bool, std::wstring>;

struct Call {
  std::wstring function;
  std::vector<Value> arguments;  // in call order
};

struct Element {
  std::wstring id;
  std::wstring tag;
  std::map<std::wstring, std::wstring> attributes;
};

class ScriptedPage {
 public:
  ScriptedPage();
  ~ScriptedPage();
  ScriptedPage(const ScriptedPage&) = delete;
  ScriptedPage& operator=(const ScriptedPage&) = delete;

  // The page's script functions, by name.
  std::map<std::wstring, std::function<Value(const std::vector<Value>&)>> functions;
  // Functions that throw once they have run: Invoke answers DISP_E_EXCEPTION.
  std::set<std::wstring> throwing;
  std::wstring readyState = L"complete";
  std::vector<Call> calls;
  int readyStateReads = 0;

  // Adds an element (the first "body" is the document's body).
  void add(Element element);
  // The document as the control hands it out (get_Document): a new reference.
  IDispatch* document();
  // A mouse button goes down over the element: its onmousedown handler, if
  // any, is called with its default member. False when it has none.
  bool mouseDown(const std::wstring& id);
  // How many elements hold an onmousedown handler.
  int handlersHeld() const;
  // Drops the handlers the elements hold, as unloading the page does.
  void unload();

  // References not yet released, over all objects made so far.
  long outstanding() const;
  // The objects still referenced, with their counts, for a failure message.
  std::string holders() const;
  // Contract breaches seen (over-release, a bad argument type, ...).
  const std::vector<std::string>& faults() const { return faults_; }
  void fault(std::string what) { faults_.push_back(std::move(what)); }

  class Object;

 private:
  friend class Document;
  friend class ElementObject;
  friend class Collection;
  friend class Script;
  template <typename T, typename... A>
  T* make(A&&... arguments);

  std::vector<std::unique_ptr<Object>> objects_;
  std::vector<std::string> faults_;
  std::vector<Element> elements_;
  std::vector<class ElementObject*> elementObjects_;
  class Document* document_ = nullptr;
  class Script* script_ = nullptr;
};

}  // namespace scripted
