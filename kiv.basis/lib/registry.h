// XRegistry: creates registry keys and sets string values. Each operation
// opens, uses and closes its key; failures come back as an error text that
// is also printed on the diagnostic output.
#pragma once

#include "kiv.basis/lib/string.h"

// Root selectors.
enum : int { kRootCurrentUser = 0, kRootLocalMachine = 1, kRootUsers = 2 };  // else CLASSES_ROOT

class _Registry : public XGCRef {
  public:
    static constexpr const char* kTypeName = "_Registry";
    ~_Registry() override = default;
};

class XRegistry : public XGCHandle<_Registry> {
  public:
    // Creates the key unless it exists (an existing key is reported as an
    // error text although it is usable).
    void CreateRegKey(int root, const XString& key_path, XString& error);
    // Sets a REG_SZ value in an existing key.
    void set_RegValueAsString(int root, const XString& key_path, const XString& value_name,
                              const XString& value, XString& error);
};
