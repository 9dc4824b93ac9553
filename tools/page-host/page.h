// The page page-host shows: a small HTML subset read from a file. Only the
// plug-in elements matter (<embed>, and <object> with its <param> children);
// <script> blocks only declare which window functions the page defines
// ("function Start(...)"); everything else is skipped.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pagehost {

struct Attribute {
    std::string name;  // lower-case, as HTML attribute names are
    std::string value;
};

struct PageElement {
    std::string tag;                    // "embed" or "object"
    std::vector<Attribute> attributes;  // in source order, first of duplicates kept
    std::vector<Attribute> params;      // <param> children of an <object>, in order
    int width = 300;                    // the HTML default size of a replaced element
    int height = 150;

    const std::string* Find(const std::string& name) const;  // attribute, or null
    std::string Id() const;
    std::string Type() const;
};

struct Page {
    std::vector<PageElement> elements;
    std::vector<std::string> functions;  // window functions the page's scripts define
};

// False with a message ("line N: ...") for text this subset cannot read:
// unterminated tags, quotes, comments or scripts, <param> outside <object>,
// nested plug-in elements, an <object> never closed, bad sizes.
bool ParsePage(const std::string& text, Page* page, std::string* error);

// One element alone, as the "add" step gives it: exactly one <embed> or one
// complete <object>...</object>.
bool ParseElement(const std::string& text, PageElement* element, std::string* error);

// What the browser hands NPP_New: the element's attributes in source order;
// for an <object> then a "PARAM" name with no value, then the <param> pairs.
struct PluginArguments {
    std::vector<std::string> names;
    std::vector<std::optional<std::string>> values;
};
PluginArguments ArgumentsFor(const PageElement& element);

}  // namespace pagehost
