// The page subset page-host reads, and the argn/argv it hands NPP_New.
#include "tools/page-host/page.h"

#include <gtest/gtest.h>

#include <string>

namespace pagehost {
namespace {

// "name=value|..." with "<null>" for a missing value, one element per "; ".
std::string Arguments(const Page& page) {
    std::string out;
    for (const PageElement& e : page.elements) {
        if (!out.empty())
            out += "; ";
        const PluginArguments args = ArgumentsFor(e);
        for (size_t i = 0; i < args.names.size(); ++i)
            out += (i ? "|" : "") + args.names[i] + "=" +
                   (args.values[i] ? *args.values[i] : "<null>");
    }
    return out;
}

struct PageCase {
    const char* name;
    const char* html;
    const char* arguments;  // null: the page is rejected
    const char* error;      // part of the message when rejected
};

const PageCase kPages[] = {
    {"embed keeps attribute order, lower-cases names, decodes values",
     "<html><body><EMBED Type=\"application/x-t\" ID=cam1 width=320 height='240'\n"
     " url='rtsp://h/a?x=1&amp;y=&#50;' autostart></body></html>",
     "type=application/x-t|id=cam1|width=320|height=240|url=rtsp://h/a?x=1&y=2|autostart=", ""},
    {"first of duplicate attributes wins", "<embed id=a type=t id=b>", "id=a|type=t", ""},
    {"self-closing embeds; an unquoted value keeps its slash, as in HTML",
     "<embed id=\"a\"/><embed id=b /></embed><embed id=c/>", "id=a; id=b; id=c/", ""},
    {"object: attributes, PARAM separator, params in order",
     "<object type=t id=o width=10 height=20>\n  <param name=url value=\"rtsp://x/1\">\n"
     "  <PARAM NAME=autostart VALUE=true>\n</object>",
     "type=t|id=o|width=10|height=20|PARAM=<null>|url=rtsp://x/1|autostart=true", ""},
    {"object without params still carries the separator", "<object id=o></object>",
     "id=o|PARAM=<null>", ""},
    {"param without value", "<object id=o><param name=url></object>", "id=o|PARAM=<null>|url=", ""},
    {"comments, declarations and scripts hide markup",
     "<!DOCTYPE html><!-- <embed id=hidden> --><script>document.write('<embed id=x>')</script>"
     "<p>a < b</p><embed id=shown>",
     "id=shown", ""},
    {"no elements", "<html><body>text</body></html>", "", ""},
    {"unterminated tag", "<embed id=a", nullptr, "unterminated <embed>"},
    {"unterminated quoted value", "<embed id=\"a>", nullptr, "unterminated quoted value"},
    {"param outside object", "<param name=url value=x>", nullptr, "<param> outside <object>"},
    {"end tag without object", "<embed id=a></object>", nullptr, "</object> without <object>"},
    {"object never closed", "<object id=o><param name=a value=b>", nullptr,
     "<object> without </object>"},
    {"plug-in element nested in object", "<object id=o><embed id=e></object>", nullptr,
     "inside <object>"},
    {"percent width", "<embed id=a width=50%>", nullptr, "bad width"},
    {"empty height", "<embed id=a height=\"\">", nullptr, "bad height"},
    {"unterminated comment", "<!-- <embed id=a>", nullptr, "unterminated comment"},
    {"script without end", "<script>function Start(){}", nullptr, "without </script>"},
    {"param without name", "<object><param value=x></object>", nullptr, "without a name"},
    {"stray character in a tag", "<embed id=a \"b\">", nullptr, "unexpected '\"'"},
};

TEST(PageParse, Cases) {
    for (const PageCase& c : kPages) {
        SCOPED_TRACE(c.name);
        Page page;
        std::string error;
        const bool ok = ParsePage(c.html, &page, &error);
        if (c.arguments == nullptr) {
            EXPECT_FALSE(ok);
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        } else {
            ASSERT_TRUE(ok) << error;
            EXPECT_EQ(Arguments(page), c.arguments);
        }
    }
}

TEST(PageParse, SizesIdsAndScriptFunctions) {
    Page page;
    std::string error;
    ASSERT_TRUE(
        ParsePage("<script type=text/javascript>\n"
                  "function Start(w) { }\nvar functional = 1;\n"
                  "function  Resize ( ) {}\n</SCRIPT>\n"
                  "<embed type=T width=320px height=240 id=cam1>\n<embed type=T>",
                  &page, &error))
        << error;
    ASSERT_EQ(page.elements.size(), 2u);
    EXPECT_EQ(page.elements[0].width, 320);
    EXPECT_EQ(page.elements[0].height, 240);
    EXPECT_EQ(page.elements[0].Id(), "cam1");
    EXPECT_EQ(page.elements[0].Type(), "T");
    EXPECT_EQ(page.elements[1].width, 300);  // HTML's default replaced-element size
    EXPECT_EQ(page.elements[1].height, 150);
    EXPECT_EQ(page.elements[1].Id(), "");
    EXPECT_EQ(page.functions, (std::vector<std::string>{"Start", "Resize"}));
}

TEST(PageParse, ErrorsCarryTheLine) {
    Page page;
    std::string error;
    EXPECT_FALSE(ParsePage("<html>\n<body>\n<param name=a>\n", &page, &error));
    EXPECT_EQ(error.rfind("line 3: ", 0), 0u) << error;
}

TEST(ElementParse, ExactlyOneElement) {
    struct {
        const char* text;
        bool ok;
    } cases[] = {
        {" <embed type=t id=a> ", true},
        {"<object type=t><param name=url value=u></object>", true},
        {"<embed id=a><embed id=b>", false},
        {"<div><embed id=a>", false},
        {"", false},
        {"<object type=t>", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        PageElement element;
        std::string error;
        EXPECT_EQ(ParseElement(c.text, &element, &error), c.ok) << error;
    }
}

}  // namespace
}  // namespace pagehost
