// The error text of a code from one of the runtime's tables, as a new string.
#pragma once

#include "kiv.basis/lib/error_texts.h"
#include "kiv.basis/lib/string.h"

_String* KivGetErrorText(int code, int selector);
