// The launcher's names are UTF-8; the page and the dialogs take UTF-16. The
// conversion is the one of text/encoding.h.
#pragma once

#include "text/encoding.h"

using text::utf16FromUtf8;
