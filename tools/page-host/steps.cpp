#include "tools/page-host/steps.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace pagehost {
namespace {

struct Token {
    std::string text;
    bool quoted = false;
};

bool Tokenize(const std::string& line, std::vector<Token>* tokens, std::string* error) {
    size_t i = 0;
    for (;;) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])))
            ++i;
        if (i >= line.size())
            return true;
        Token token;
        if (line[i] == '"') {
            token.quoted = true;
            for (++i;; ++i) {
                if (i >= line.size()) {
                    *error = "unterminated quoted text";
                    return false;
                }
                if (line[i] == '"')
                    break;
                if (line[i] == '\\') {
                    if (++i >= line.size()) {
                        *error = "unterminated quoted text";
                        return false;
                    }
                    const char c = line[i];
                    if (c != '"' && c != '\\' && c != 'n') {
                        *error = std::string("unknown escape \\") + c;
                        return false;
                    }
                    token.text.push_back(c == 'n' ? '\n' : c);
                    continue;
                }
                token.text.push_back(line[i]);
            }
            ++i;
            if (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) {
                *error = "text after a closing quote";
                return false;
            }
        } else {
            while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])))
                token.text.push_back(line[i++]);
        }
        tokens->push_back(token);
    }
}

ScriptValue ValueOf(const Token& token) {
    ScriptValue v;
    if (token.quoted) {
        v.kind = ScriptValue::String;
        v.text = token.text;
        return v;
    }
    const std::string& t = token.text;
    if (t == "true" || t == "false") {
        v.kind = ScriptValue::Bool;
        v.boolean = t == "true";
        return v;
    }
    if (t == "null") {
        v.kind = ScriptValue::Null;
        return v;
    }
    if (t == "undefined")
        return v;
    char* end = nullptr;
    errno = 0;
    const long integer = std::strtol(t.c_str(), &end, 10);
    if (!t.empty() && *end == '\0' && errno == 0 && integer >= -2147483647L - 1 &&
        integer <= 2147483647L) {
        v.kind = ScriptValue::Int;
        v.intValue = static_cast<int>(integer);
        return v;
    }
    const double number = std::strtod(t.c_str(), &end);
    if (!t.empty() && *end == '\0' &&
        (std::isdigit(static_cast<unsigned char>(t[0])) || t[0] == '-' || t[0] == '+' ||
         t[0] == '.')) {
        v.kind = ScriptValue::Double;
        v.number = number;
        return v;
    }
    v.kind = ScriptValue::String;
    v.text = t;
    return v;
}

bool Number(const Token& token, int min, int max, int* out, std::string* error) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(token.text.c_str(), &end, 10);
    if (token.quoted || token.text.empty() || *end != '\0' || errno != 0 || value < min ||
        value > max) {
        *error = "\"" + token.text + "\" is not a number from " + std::to_string(min) + " to " +
                 std::to_string(max);
        return false;
    }
    *out = static_cast<int>(value);
    return true;
}

struct Shape {
    const char* word;
    Step::Kind kind;
    size_t minArgs;
    size_t maxArgs;
    const char* usage;
};

const Shape kShapes[] = {
    {"call", Step::Call, 1, 64, "call TARGET [METHOD [ARG...]]"},
    {"get", Step::Get, 2, 2, "get TARGET PROPERTY"},
    {"set", Step::Set, 3, 3, "set TARGET PROPERTY VALUE"},
    {"wait", Step::Wait, 1, 1, "wait MS"},
    {"resize", Step::Resize, 3, 3, "resize TARGET WIDTH HEIGHT"},
    {"remove", Step::Remove, 1, 1, "remove TARGET"},
    {"save", Step::Save, 1, 1, "save DIR"},
    {"stats", Step::Stats, 0, 0, "stats"},
    {"probe", Step::Probe, 0, 0, "probe"},
    {"quit", Step::Quit, 0, 0, "quit"},
};

}  // namespace

bool ScriptValue::operator==(const ScriptValue& other) const {
    if (kind != other.kind)
        return false;
    switch (kind) {
        case Bool:
            return boolean == other.boolean;
        case Int:
            return intValue == other.intValue;
        case Double:
            return number == other.number;
        case String:
            return text == other.text;
        default:
            return true;
    }
}

std::string Describe(const ScriptValue& value) {
    switch (value.kind) {
        case ScriptValue::Void:
            return "undefined";
        case ScriptValue::Null:
            return "null";
        case ScriptValue::Bool:
            return value.boolean ? "true" : "false";
        case ScriptValue::Int:
            return std::to_string(value.intValue);
        case ScriptValue::Double: {
            char text[40];
            std::snprintf(text, sizeof text, "%g", value.number);
            return text;
        }
        case ScriptValue::String: {
            std::string out = "\"";
            for (char c : value.text) {
                if (c == '"' || c == '\\')
                    out.push_back('\\');
                if (c == '\n')
                    out += "\\n";
                else
                    out.push_back(c);
            }
            return out + "\"";
        }
    }
    return "?";
}

bool ParseStep(const std::string& line, Step* step, std::string* error) {
    *step = Step();
    size_t start = 0;
    while (start < line.size() && std::isspace(static_cast<unsigned char>(line[start])))
        ++start;
    if (start >= line.size() || line[start] == '#')
        return true;

    // "add" takes the rest of the line as markup.
    if (line.compare(start, 3, "add") == 0 &&
        (start + 3 == line.size() || std::isspace(static_cast<unsigned char>(line[start + 3])))) {
        step->kind = Step::Add;
        std::string markupError;
        if (!ParseElement(line.substr(start + 3), &step->element, &markupError)) {
            *error = "add: " + markupError;
            return false;
        }
        return true;
    }

    std::vector<Token> tokens;
    if (!Tokenize(line, &tokens, error))
        return false;
    const Shape* shape = nullptr;
    for (const Shape& s : kShapes) {
        if (!tokens.front().quoted && tokens.front().text == s.word)
            shape = &s;
    }
    if (shape == nullptr) {
        *error = "unknown step \"" + tokens.front().text + "\"";
        return false;
    }
    const size_t args = tokens.size() - 1;
    if (args < shape->minArgs || args > shape->maxArgs) {
        *error = std::string("usage: ") + shape->usage;
        return false;
    }
    step->kind = shape->kind;
    switch (step->kind) {
        case Step::Call:
            step->target = tokens[1].text;
            if (args >= 2)
                step->name = tokens[2].text;
            for (size_t i = 3; i < tokens.size(); ++i)
                step->args.push_back(ValueOf(tokens[i]));
            break;
        case Step::Get:
        case Step::Set:
            step->target = tokens[1].text;
            step->name = tokens[2].text;
            if (step->kind == Step::Set)
                step->args.push_back(ValueOf(tokens[3]));
            break;
        case Step::Wait:
            return Number(tokens[1], 0, 600000, &step->ms, error);
        case Step::Resize:
            step->target = tokens[1].text;
            return Number(tokens[2], 0, 4096, &step->width, error) &&
                   Number(tokens[3], 0, 4096, &step->height, error);
        case Step::Remove:
            step->target = tokens[1].text;
            break;
        case Step::Save:
            step->dir = tokens[1].text;
            break;
        default:
            break;
    }
    return true;
}

}  // namespace pagehost
