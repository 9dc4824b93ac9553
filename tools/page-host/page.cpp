#include "tools/page-host/page.h"

#include <cctype>
#include <cstdlib>

namespace pagehost {
namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool StartsWithNoCase(const std::string& text, size_t at, const char* prefix) {
    for (size_t i = 0; prefix[i] != '\0'; ++i) {
        if (at + i >= text.size() ||
            std::tolower(static_cast<unsigned char>(text[at + i])) != prefix[i])
            return false;
    }
    return true;
}

void AppendUtf8(std::string* out, unsigned long code) {
    if (code < 0x80) {
        out->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (code >> 6)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (code >> 12)));
        out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (code >> 18)));
        out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

// Character references in attribute values: the five named ones and numeric
// ones; anything else stays as written.
std::string DecodeEntities(const std::string& raw) {
    static const struct {
        const char* name;
        char c;
    } kNamed[] = {{"amp;", '&'}, {"lt;", '<'}, {"gt;", '>'}, {"quot;", '"'}, {"apos;", '\''}};
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '&') {
            out.push_back(raw[i]);
            continue;
        }
        bool done = false;
        for (const auto& n : kNamed) {
            if (raw.compare(i + 1, std::char_traits<char>::length(n.name), n.name) == 0) {
                out.push_back(n.c);
                i += std::char_traits<char>::length(n.name);
                done = true;
                break;
            }
        }
        if (!done && i + 2 < raw.size() && raw[i + 1] == '#') {
            const bool hex = raw[i + 2] == 'x' || raw[i + 2] == 'X';
            const size_t digits = i + (hex ? 3 : 2);
            char* end = nullptr;
            const unsigned long code = std::strtoul(raw.c_str() + digits, &end, hex ? 16 : 10);
            const size_t stop = static_cast<size_t>(end - raw.c_str());
            if (stop > digits && stop < raw.size() && raw[stop] == ';' && code > 0 &&
                code <= 0x10FFFF) {
                AppendUtf8(&out, code);
                i = stop;
                done = true;
            }
        }
        if (!done)
            out.push_back('&');
    }
    return out;
}

struct Tag {
    std::string name;  // lower-case; "/name" for an end tag
    std::vector<Attribute> attributes;
};

class Reader {
  public:
    explicit Reader(const std::string& text) : text_(text) {}

    bool Fail(const std::string& message) {
        if (error_.empty())
            error_ = "line " + std::to_string(Line()) + ": " + message;
        return false;
    }
    const std::string& error() const { return error_; }

    // The next tag, skipping text, comments and declarations. False at the
    // end (error() empty) or on malformed text.
    bool NextTag(Tag* tag) {
        for (;;) {
            const size_t open = text_.find('<', pos_);
            if (open == std::string::npos) {
                pos_ = text_.size();
                return false;
            }
            pos_ = open;
            tagStart_ = open;
            if (text_.compare(open, 4, "<!--") == 0) {
                const size_t close = text_.find("-->", open + 4);
                if (close == std::string::npos)
                    return Fail("unterminated comment");
                pos_ = close + 3;
                continue;
            }
            if (open + 1 < text_.size() && (text_[open + 1] == '!' || text_[open + 1] == '?')) {
                const size_t close = text_.find('>', open);
                if (close == std::string::npos)
                    return Fail("unterminated declaration");
                pos_ = close + 1;
                continue;
            }
            const bool end = open + 1 < text_.size() && text_[open + 1] == '/';
            size_t at = open + (end ? 2 : 1);
            if (at >= text_.size() || !std::isalpha(static_cast<unsigned char>(text_[at]))) {
                pos_ = open + 1;  // a lone '<' in text
                continue;
            }
            size_t nameEnd = at;
            while (
                nameEnd < text_.size() &&
                (std::isalnum(static_cast<unsigned char>(text_[nameEnd])) || text_[nameEnd] == '-'))
                ++nameEnd;
            tag->name = (end ? "/" : "") + Lower(text_.substr(at, nameEnd - at));
            tag->attributes.clear();
            pos_ = nameEnd;
            return Attributes(tag);
        }
    }

    // Skips the raw text of a <script> and returns it.
    bool ScriptBody(std::string* body) {
        for (size_t at = pos_; (at = text_.find('<', at)) != std::string::npos; ++at) {
            if (StartsWithNoCase(text_, at, "</script")) {
                *body = text_.substr(pos_, at - pos_);
                const size_t close = text_.find('>', at);
                if (close == std::string::npos)
                    return Fail("unterminated </script>");
                pos_ = close + 1;
                return true;
            }
        }
        return Fail("<script> without </script>");
    }

    bool AtEnd() {
        SkipSpace();
        return pos_ >= text_.size();
    }

    int Line() const {
        int line = 1;
        for (size_t i = 0; i < tagStart_ && i < text_.size(); ++i)
            line += text_[i] == '\n' ? 1 : 0;
        return line;
    }

  private:
    void SkipSpace() {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_])))
            ++pos_;
    }

    static bool NameChar(char c) {
        return !std::isspace(static_cast<unsigned char>(c)) && c != '=' && c != '>' && c != '/' &&
               c != '"' && c != '\'' && c != '<';
    }

    bool Attributes(Tag* tag) {
        for (;;) {
            SkipSpace();
            if (pos_ >= text_.size())
                return Fail("unterminated <" + tag->name + ">");
            if (text_[pos_] == '>') {
                ++pos_;
                return true;
            }
            if (text_.compare(pos_, 2, "/>") == 0) {
                pos_ += 2;
                return true;
            }
            if (!NameChar(text_[pos_]))
                return Fail("unexpected '" + std::string(1, text_[pos_]) + "' in <" + tag->name +
                            ">");
            const size_t start = pos_;
            while (pos_ < text_.size() && NameChar(text_[pos_]))
                ++pos_;
            Attribute attribute{Lower(text_.substr(start, pos_ - start)), ""};
            SkipSpace();
            if (pos_ < text_.size() && text_[pos_] == '=') {
                ++pos_;
                SkipSpace();
                if (!Value(tag, &attribute.value))
                    return false;
            }
            bool seen = false;
            for (const Attribute& a : tag->attributes)
                seen = seen || a.name == attribute.name;
            if (!seen)
                tag->attributes.push_back(attribute);
        }
    }

    bool Value(const Tag* tag, std::string* value) {
        if (pos_ >= text_.size())
            return Fail("unterminated <" + tag->name + ">");
        const char quote = text_[pos_];
        if (quote == '"' || quote == '\'') {
            const size_t close = text_.find(quote, pos_ + 1);
            if (close == std::string::npos)
                return Fail("unterminated quoted value in <" + tag->name + ">");
            *value = DecodeEntities(text_.substr(pos_ + 1, close - pos_ - 1));
            pos_ = close + 1;
            return true;
        }
        const size_t start = pos_;
        while (pos_ < text_.size() && !std::isspace(static_cast<unsigned char>(text_[pos_])) &&
               text_[pos_] != '>')
            ++pos_;
        *value = DecodeEntities(text_.substr(start, pos_ - start));
        return true;
    }

    const std::string& text_;
    size_t pos_ = 0;
    size_t tagStart_ = 0;
    std::string error_;
};

// A size attribute: digits, optionally followed by "px".
bool ParseSize(const std::string& text, int* size) {
    size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])))
        ++digits;
    const std::string rest = Lower(text.substr(digits));
    if (digits == 0 || digits > 5 || !(rest.empty() || rest == "px"))
        return false;
    *size = std::atoi(text.substr(0, digits).c_str());
    return true;
}

bool FinishElement(Reader* reader, PageElement* element) {
    for (const char* name : {"width", "height"}) {
        const std::string* value = element->Find(name);
        int* into = name[0] == 'w' ? &element->width : &element->height;
        if (value != nullptr && !ParseSize(*value, into))
            return reader->Fail("bad " + std::string(name) + " \"" + *value + "\"");
    }
    return true;
}

void ScriptFunctions(const std::string& body, std::vector<std::string>* functions) {
    for (size_t at = 0; (at = body.find("function", at)) != std::string::npos; at += 8) {
        if (at > 0 &&
            (std::isalnum(static_cast<unsigned char>(body[at - 1])) || body[at - 1] == '_'))
            continue;
        size_t p = at + 8;
        if (p >= body.size() || !std::isspace(static_cast<unsigned char>(body[p])))
            continue;
        while (p < body.size() && std::isspace(static_cast<unsigned char>(body[p])))
            ++p;
        const size_t start = p;
        while (p < body.size() && (std::isalnum(static_cast<unsigned char>(body[p])) ||
                                   body[p] == '_' || body[p] == '$'))
            ++p;
        if (p > start)
            functions->push_back(body.substr(start, p - start));
    }
}

// Reads tags until the end; with `single`, exactly one plug-in element and
// nothing else is allowed.
bool Parse(const std::string& text, Page* page, bool single, std::string* error) {
    Reader reader(text);
    Tag tag;
    PageElement* open = nullptr;  // the <object> whose </object> is pending
    page->elements.clear();
    page->functions.clear();
    auto fail = [&](const std::string& message) {
        reader.Fail(message);
        *error = reader.error();
        return false;
    };
    while (reader.NextTag(&tag)) {
        if (tag.name == "embed" || tag.name == "object") {
            if (open != nullptr)
                return fail("<" + tag.name + "> inside <object> is not supported");
            if (single && !page->elements.empty())
                return fail("more than one element");
            page->elements.push_back(PageElement{tag.name, tag.attributes, {}, 300, 150});
            if (!FinishElement(&reader, &page->elements.back())) {
                *error = reader.error();
                return false;
            }
            if (tag.name == "object")
                open = &page->elements.back();
        } else if (tag.name == "param") {
            if (open == nullptr)
                return fail("<param> outside <object>");
            const std::string* name = nullptr;
            const std::string* value = nullptr;
            for (const Attribute& a : tag.attributes) {
                if (a.name == "name")
                    name = &a.value;
                else if (a.name == "value")
                    value = &a.value;
            }
            if (name == nullptr)
                return fail("<param> without a name");
            open->params.push_back({*name, value != nullptr ? *value : ""});
        } else if (tag.name == "/object") {
            if (open == nullptr)
                return fail("</object> without <object>");
            open = nullptr;
        } else if (tag.name == "script") {
            std::string body;
            if (!reader.ScriptBody(&body)) {
                *error = reader.error();
                return false;
            }
            ScriptFunctions(body, &page->functions);
        } else if (single && tag.name != "/embed") {
            return fail("unexpected <" + tag.name + ">");
        }
    }
    if (!reader.error().empty()) {
        *error = reader.error();
        return false;
    }
    if (open != nullptr)
        return fail("<object> without </object>");
    if (single && page->elements.size() != 1)
        return fail("no <embed> or <object>");
    return true;
}

}  // namespace

const std::string* PageElement::Find(const std::string& name) const {
    for (const Attribute& a : attributes) {
        if (a.name == name)
            return &a.value;
    }
    return nullptr;
}

std::string PageElement::Id() const {
    const std::string* id = Find("id");
    return id != nullptr ? *id : std::string();
}

std::string PageElement::Type() const {
    const std::string* type = Find("type");
    return type != nullptr ? *type : std::string();
}

bool ParsePage(const std::string& text, Page* page, std::string* error) {
    return Parse(text, page, false, error);
}

bool ParseElement(const std::string& text, PageElement* element, std::string* error) {
    Page page;
    if (!Parse(text, &page, true, error))
        return false;
    *element = page.elements.front();
    return true;
}

PluginArguments ArgumentsFor(const PageElement& element) {
    PluginArguments args;
    for (const Attribute& a : element.attributes) {
        args.names.push_back(a.name);
        args.values.emplace_back(a.value);
    }
    if (element.tag == "object") {
        args.names.push_back("PARAM");
        args.values.emplace_back(std::nullopt);
        for (const Attribute& p : element.params) {
            args.names.push_back(p.name);
            args.values.emplace_back(p.value);
        }
    }
    return args;
}

}  // namespace pagehost
