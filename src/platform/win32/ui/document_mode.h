// Which engine mode the WebBrowser control runs pages in.
#pragma once

namespace platform::win32 {

// The per-user value that puts the control, in this program, in Internet
// Explorer 11's edge mode (11001), whatever a page declares: under
// kBrowserEmulationKey of HKEY_CURRENT_USER, named after the executable's
// file name.
// Without it the control runs as Internet Explorer 7. Written before the
// control is first created; false when it could not be written.
constexpr unsigned long kEdgeDocumentMode = 11001;
constexpr const wchar_t* kBrowserEmulationKey =
    L"Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION";
bool useCurrentDocumentMode();

}  // namespace platform::win32
