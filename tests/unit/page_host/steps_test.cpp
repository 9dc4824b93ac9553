// The step language of page-host.
#include "tools/page-host/steps.h"

#include <gtest/gtest.h>

#include <string>

namespace pagehost {
namespace {

// A step in one line: kind target name [args] ms w h dir.
std::string Show(const Step& s) {
    static const char* kKinds[] = {"none",   "call", "get",  "set",   "wait",  "resize",
                                   "remove", "add",  "save", "stats", "probe", "quit"};
    std::string out = kKinds[s.kind];
    for (const std::string* part : {&s.target, &s.name, &s.dir})
        if (!part->empty())
            out += " " + *part;
    if (!s.args.empty()) {
        out += " [";
        for (size_t i = 0; i < s.args.size(); ++i)
            out += (i ? "|" : "") + Describe(s.args[i]);
        out += "]";
    }
    if (s.kind == Step::Wait)
        out += " " + std::to_string(s.ms);
    if (s.kind == Step::Resize)
        out += " " + std::to_string(s.width) + "x" + std::to_string(s.height);
    if (s.kind == Step::Add)
        out += " " + s.element.tag + " " + s.element.Id() + " " +
               std::to_string(s.element.params.size());
    return out;
}

struct StepCase {
    const char* line;
    const char* parsed;  // null: rejected
    const char* error;
};

const StepCase kSteps[] = {
    {"call cam1 Start", "call cam1 Start", ""},
    {"call cam1", "call cam1", ""},
    {"call window Start 1 -7 2.5 \"a b\" true null undefined word",
     "call window Start [1|-7|2.5|\"a b\"|true|null|undefined|\"word\"]", ""},
    {"  set cam1 url rtsp://u:p@h:8554/h264  ", "set cam1 url [\"rtsp://u:p@h:8554/h264\"]", ""},
    {"set cam1 url \"say \\\"hi\\\" \\\\ \\n\"", "set cam1 url [\"say \\\"hi\\\" \\\\ \\n\"]", ""},
    {"set cam1 debug \"\"", "set cam1 debug [\"\"]", ""},
    {"set cam1 n 2147483648", "set cam1 n [2.14748e+09]", ""},
    {"set cam1 n \"12\"", "set cam1 n [\"12\"]", ""},
    {"get cam1 picwidth", "get cam1 picwidth", ""},
    {"wait 2000", "wait 2000", ""},
    {"resize #2 320 240", "resize #2 320x240", ""},
    {"remove cam1", "remove cam1", ""},
    {"save out/pictures", "save out/pictures", ""},
    {"stats", "stats", ""},
    {"quit", "quit", ""},
    {"probe", "probe", ""},
    {"", "none", ""},
    {"   # a comment", "none", ""},
    {"add <object type=t id=x><param name=url value=u></object>", "add object x 1", ""},
    {"add <embed type=t>", "add embed  0", ""},
    {"wait", nullptr, "usage: wait MS"},
    {"wait -1", nullptr, "not a number"},
    {"wait 1s", nullptr, "not a number"},
    {"wait \"5\"", nullptr, "not a number"},
    {"resize cam1 320", nullptr, "usage: resize"},
    {"resize cam1 320 99999", nullptr, "not a number"},
    {"get cam1", nullptr, "usage: get"},
    {"set cam1 url", nullptr, "usage: set"},
    {"set a b c d", nullptr, "usage: set"},
    {"quit now", nullptr, "usage: quit"},
    {"call", nullptr, "usage: call"},
    {"frobnicate cam1", nullptr, "unknown step"},
    {"\"call\" cam1 Start", nullptr, "unknown step"},
    {"call cam1 M \"open", nullptr, "unterminated"},
    {"call cam1 M \"x\"y", nullptr, "after a closing quote"},
    {"call cam1 M \"bad \\q\"", nullptr, "unknown escape"},
    {"add", nullptr, "add: "},
    {"add <div>", nullptr, "add: "},
    {"add <embed id=a><embed id=b>", nullptr, "more than one element"},
    {"addition 1", nullptr, "unknown step"},
};

TEST(StepParse, Cases) {
    for (const StepCase& c : kSteps) {
        SCOPED_TRACE(c.line);
        Step step;
        std::string error;
        const bool ok = ParseStep(c.line, &step, &error);
        if (c.parsed == nullptr) {
            EXPECT_FALSE(ok);
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        } else {
            ASSERT_TRUE(ok) << error;
            EXPECT_EQ(Show(step), c.parsed);
        }
    }
}

// Values survive the round trip through their written form.
TEST(StepParse, DescribedValuesParseBack) {
    Step first;
    std::string error;
    ASSERT_TRUE(
        ParseStep("call o m \"a\\\"b\\\\c\\nd\" -3 0.25 false null undefined", &first, &error));
    std::string line = "call o m";
    for (const ScriptValue& v : first.args)
        line += " " + Describe(v);
    Step second;
    ASSERT_TRUE(ParseStep(line, &second, &error)) << error;
    ASSERT_EQ(first.args.size(), second.args.size());
    for (size_t i = 0; i < first.args.size(); ++i)
        EXPECT_TRUE(first.args[i] == second.args[i]) << i << " " << Describe(first.args[i]);
}

}  // namespace
}  // namespace pagehost
