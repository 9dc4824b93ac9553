// Readable texts for the error codes the runtime reports: Windows Sockets
// errors and Windows Installer return codes (the installer's own codes and
// the values its database functions return).
#ifndef KIV_BASIS_LIB_ERROR_TEXTS_H
#define KIV_BASIS_LIB_ERROR_TEXTS_H

// Table selectors.
enum : int { kErrorTableInstallerDatabase = 1, kErrorTableInstaller = 2, kErrorTableSockets = 4 };

// The text for `code`, never null.
//
// kErrorTableSockets: the Windows Sockets text, the short name of the error
// and a full stop followed directly by the explanation; "Unknown error" for
// any code without one (0 included).
//
// Any other selector picks the Windows Installer table: code 0 gives "",
// other codes without a text give "Unknown error". A few codes mean one
// thing as a database function's return value and another as the
// installer's exit code; for these kErrorTableInstallerDatabase and
// kErrorTableInstaller choose the text and every other selector gives "".
const char* KivErrorText(int code, int selector);

#endif  // KIV_BASIS_LIB_ERROR_TEXTS_H
