// A browser stand-in for the plug-in tests: the NPNetscapeFuncs table the
// plug-in copies, a page with a window object and a plug-in element whose
// properties and methods the test sets up, interned identifiers, real
// object reference counting (objects of the plug-in's classes are
// allocated, called and deallocated through their NPClass, as a browser
// does) and a log of the page-facing calls in order.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "npcamvue/shell/npapi.h"

namespace camvue_test {

// An object of the page; owned by the FakeBrowser, which holds one
// reference to it (a leak shows as referenceCount above 1 afterwards).
struct PageObject : camvue::NPObject {
    std::string name;
    std::map<std::string, camvue::NPVariant> properties;  // strings owned by `texts`
    std::vector<std::unique_ptr<std::string>> texts;
    std::vector<std::string> methods;  // names Invoke accepts
    bool callable = false;             // InvokeDefault accepts
};

class FakeBrowser {
  public:
    static FakeBrowser& Get();

    // A fresh page: no objects, empty log, counters 0.
    void Reset();
    // The browser table, cut to `size` bytes (the rest stays zero).
    camvue::NPNetscapeFuncs Table(uint16_t size = sizeof(camvue::NPNetscapeFuncs),
                                  uint16_t version = camvue::kNpVersionMinor) const;

    PageObject* NewObject(const std::string& name);
    void SetString(PageObject* object, const std::string& property, const std::string& value);
    void SetObject(PageObject* object, const std::string& property, PageObject* value);

    camvue::NPIdentifier Id(const std::string& name);
    std::string Name(camvue::NPIdentifier id) const;

    PageObject* window = nullptr;   // NPNVWindowNPObject; null: none
    PageObject* element = nullptr;  // NPNVPluginElementNPObject; null: none
    PageObject* result = nullptr;   // what page calls return (retained each time)
    std::vector<std::string> log;
    int deallocated = 0;
    std::atomic<int> invalidates{0};

  private:
    std::vector<std::unique_ptr<PageObject>> objects_;
    std::map<std::string, std::unique_ptr<std::string>> ids_;
};

// The page objects' own class (the browser handles them itself).
camvue::NPClass* PageClass();

// Test-side calls as script makes them (through the fake browser).
std::string VariantText(const camvue::NPVariant& v);  // "void", "s:<text>", "o:<name>"
void ReleaseVariant(camvue::NPVariant* v);

}  // namespace camvue_test
