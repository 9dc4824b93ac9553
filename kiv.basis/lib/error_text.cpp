#include "kiv.basis/lib/error_text.h"

_String* KivGetErrorText(int code, int selector) {
    XString text(KivErrorText(code, selector));
    return text.Detach();
}
