// Plug-in instances driven through the plug-in's function table against the
// fake browser: embed parameters, the page calls at instance start, the
// scriptable object, and cores shared between instances.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "npcamvue/shell/browser.h"
#include "npcamvue/shell/plugin_funcs.h"
#include "npcamvue/shell/scriptable_object.h"
#include "tests/unit/plugin/plugin_page.h"

namespace {

using namespace camvue;
using namespace camvue_test;

std::string CoreUrl(StreamCore* core) {
    SpinLockGuard guard(core->urlLock, "test");
    return core->url != nullptr ? core->url : "";
}

TEST(PluginInstance, EmbedParametersReachTheCore) {
    struct Case {
        const char* what;
        Params params;
        LONG autostart;
        const char* url;
        LONG play;
    };
    const Case cases[] = {
        {"TRUE is not true", {{"autostart", "TRUE"}, {"url", kDeadUrl}}, 0, kDeadUrl, 0},
        {"true stays on",
         {{"autostart", "true"}, {"autostart", "false"}, {"url", kDeadUrl}},
         1,
         kDeadUrl,
         1},
        {"later url wins", {{"url", "rtsp://127.0.0.1:9/a"}, {"url", kDeadUrl}}, 0, kDeadUrl, 0},
        {"null pairs skipped",
         {{nullptr, "true"}, {"autostart", nullptr}, {"url", kDeadUrl}},
         0,
         kDeadUrl,
         0},
        {"names are case-sensitive", {{"AutoStart", "true"}, {"URL", kDeadUrl}}, 0, "", 0},
        {"no url keeps the switch", {{"autostart", "true"}, {"id", "other"}}, 0, "", 0},
    };
    StartPlugin();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Embed embed("cam", c.params);
        ASSERT_EQ(0, embed.created());
        StreamCore* core = embed.core();
        ASSERT_NE(nullptr, core);
        EXPECT_EQ(c.autostart, core->autostart);
        EXPECT_EQ(c.url, CoreUrl(core));
        EXPECT_EQ(c.play, core->playRequested);
        EXPECT_EQ(0, core->keepAlive);
    }
    EXPECT_EQ(nullptr, FindCore("cam"));  // each went with its only instance
    // Parameter arrays the browser did not give.
    NPP_t npp = {};
    EXPECT_EQ(0, NppNew(nullptr, &npp, NP_EMBED, 3, nullptr, nullptr, nullptr));
    EXPECT_EQ(0, NppDestroy(&npp, nullptr));
}

TEST(PluginInstance, StartCallsThePageInOrderAndReleasesEverything) {
    StartPlugin();
    FakeBrowser& b = FakeBrowser::Get();
    b.window = b.NewObject("window");
    b.result = b.NewObject("result");
    PageObject* urlFn = b.NewObject("urlFn");
    urlFn->callable = true;
    PageObject* debugFn = b.NewObject("debugFn");
    debugFn->callable = true;
    b.SetObject(b.window, "url", urlFn);
    b.SetObject(b.window, "debug", debugFn);
    b.window->methods = {"Start", "Stop", "Resize"};
    {
        Embed embed("cam", {{"url", kDeadUrl}});
        ASSERT_NE(nullptr, embed.core());
        const std::vector<std::string> want = {
            "GetValue 16",
            "Id id",
            "Get element.id",
            "ReleaseObject element",
            "Release s:cam",
            "GetValue 15",
            "Id Start",
            "Id Stop",
            "Id Resize",
            "Id url",
            "Id debug",
            "Id picwidth",
            "Id picheight",
            "Get window.url",
            "Set window.picwidth=s:0",
            "Set window.picheight=s:0",
            "Call urlFn(o:window)",
            "Release o:result",
            "Release o:urlFn",
            "Get window.debug",
            "Call debugFn(o:window)",
            "Release o:result",
            "Release o:debugFn",
            "Invoke window.Start(o:window)",
            "Release o:result",
            "Invoke window.Stop(o:window)",
            "Release o:result",
            "Invoke window.Resize(o:window)",
            "Release o:result",
        };
        EXPECT_EQ(want, b.log);
        EXPECT_EQ("s:0", VariantText(b.window->properties["picwidth"]));
        EXPECT_EQ(2u, b.window->referenceCount);  // the instance holds the window
        b.log.clear();
        EXPECT_EQ(0, embed.Destroy());
        EXPECT_EQ(std::vector<std::string>{"ReleaseObject window"}, b.log);
    }
    for (PageObject* o : {b.window, b.result, urlFn, debugFn})
        EXPECT_EQ(1u, o->referenceCount) << o->name;

    // A page without those names: the calls fail and nothing is held.
    StartPlugin();
    b.window = b.NewObject("window");
    {
        Embed embed(nullptr, {});
        EXPECT_EQ(nullptr, embed.core());
        EXPECT_EQ("Invoke window.Resize(o:window)", b.log.back());
    }
    EXPECT_EQ(1u, b.window->referenceCount);
}

// Script's view of the plug-in object, through the fake browser's calls.
struct Script {
    NPObject* object;
    bool Call(const char* method) {
        NPVariant result;
        VariantVoid(&result);
        const bool ok =
            g_browser.invoke(nullptr, object, FakeBrowser::Get().Id(method), nullptr, 0, &result);
        EXPECT_EQ(NPVariantType_Void, result.type) << method;
        return ok;
    }
    std::string Get(const char* property, bool* ok = nullptr) {
        NPVariant result;
        VariantString(&result, "junk", 4);
        const bool got =
            g_browser.getproperty(nullptr, object, FakeBrowser::Get().Id(property), &result);
        if (ok != nullptr)
            *ok = got;
        std::string text = VariantText(result);
        ReleaseVariant(&result);
        return text;
    }
    bool Set(const char* property, const char* text) {
        NPVariant value;
        VariantString(&value, text, static_cast<uint32_t>(std::strlen(text)));
        return g_browser.setproperty(nullptr, object, FakeBrowser::Get().Id(property), &value);
    }
};

NPObject* ScriptObject(Embed& embed) {
    NPObject* object = nullptr;
    EXPECT_EQ(0, NppGetValue(embed.npp(), NPPVpluginScriptableNPObject, &object));
    return object;
}

TEST(ScriptableObject, ReturnedOnceRetainedPerRequestFreedWithTheLastReference) {
    StartPlugin();
    FakeBrowser& b = FakeBrowser::Get();
    b.window = b.NewObject("window");
    Embed embed("cam", {});
    NPObject* first = ScriptObject(embed);
    NPObject* second = ScriptObject(embed);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, second);
    EXPECT_EQ(ScriptableClass(), first->_class);
    EXPECT_EQ(3u, first->referenceCount);  // the instance's and two handed out
    const char* text = nullptr;
    EXPECT_EQ(0, NppGetValue(embed.npp(), NPPVpluginNameString, &text));
    EXPECT_STREQ("NPCamVue", text);
    EXPECT_EQ(0, NppGetValue(embed.npp(), NPPVpluginDescriptionString, &text));
    EXPECT_STREQ("NPCamVue scriptability plugin", text);
    text = "kept";
    EXPECT_EQ(1, NppGetValue(embed.npp(), NPPVpluginNeedsXEmbed, &text));
    EXPECT_STREQ("kept", text);

    // The browser keeps its references past NPP_Destroy: script calls then
    // fail instead of reaching the freed instance.
    g_browser.releaseobject(first);
    EXPECT_EQ(0, embed.Destroy());
    EXPECT_EQ(1u, second->referenceCount);
    Script script{second};
    EXPECT_FALSE(script.Call("Start"));
    bool ok = true;
    script.Get("picwidth", &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(0, b.deallocated);
    g_browser.releaseobject(second);
    EXPECT_EQ(1, b.deallocated);
}

TEST(ScriptableObject, MethodsAndPropertiesSteerTheCore) {
    StartPlugin();
    FakeBrowser& b = FakeBrowser::Get();
    b.window = b.NewObject("window");
    Embed embed("cam", {});
    StreamCore* core = embed.core();
    ASSERT_NE(nullptr, core);
    NPObject* object = ScriptObject(embed);
    ASSERT_NE(nullptr, object);
    Script script{object};

    bool ok = false;
    EXPECT_EQ("s:0", script.Get("picwidth", &ok));
    EXPECT_TRUE(ok);
    EXPECT_EQ("s:0", script.Get("picheight"));
    EXPECT_EQ("void", script.Get("url", &ok));
    EXPECT_TRUE(ok);
    EXPECT_EQ("void", script.Get("debug"));
    EXPECT_EQ("void", script.Get("nosuch", &ok));
    EXPECT_TRUE(ok);
    EXPECT_FALSE(script.Call("nosuch"));
    EXPECT_FALSE(script.Call("start"));  // identifiers are case-sensitive

    struct Step {
        const char* what;
        bool (*run)(Script&);
        bool result;
        LONG play;
        const char* url;
    };
    const Step steps[] = {
        {"Start without an address", [](Script& s) { return s.Call("Start"); }, true, 0, ""},
        {"Stop", [](Script& s) { return s.Call("Stop"); }, true, 0, ""},
        {"Stop again", [](Script& s) { return s.Call("Stop"); }, true, 0, ""},
        {"empty url", [](Script& s) { return s.Set("url", ""); }, true, 0, ""},
        {"url", [](Script& s) { return s.Set("url", kDeadUrl); }, true, 1, kDeadUrl},
        {"empty url while playing", [](Script& s) { return s.Set("url", ""); }, true, 1, kDeadUrl},
        {"another url", [](Script& s) { return s.Set("url", "rtsp://127.0.0.1:9/b"); }, true, 1,
         "rtsp://127.0.0.1:9/b"},
        {"Start with an address", [](Script& s) { return s.Call("Start"); }, true, 1,
         "rtsp://127.0.0.1:9/b"},
        {"picwidth is read-only", [](Script& s) { return s.Set("picwidth", "5"); }, false, 1,
         "rtsp://127.0.0.1:9/b"},
        {"debug accepted", [](Script& s) { return s.Set("debug", "1"); }, true, 1,
         "rtsp://127.0.0.1:9/b"},
        {"unknown not writable", [](Script& s) { return s.Set("nosuch", "1"); }, false, 1,
         "rtsp://127.0.0.1:9/b"},
        {"Stop ends play", [](Script& s) { return s.Call("Stop"); }, true, 0,
         "rtsp://127.0.0.1:9/b"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        EXPECT_EQ(step.result, step.run(script));
        EXPECT_EQ(step.play, core->playRequested);
        EXPECT_EQ(step.url, CoreUrl(core));
    }
    EXPECT_EQ(0, core->keepAlive);
    EXPECT_TRUE(script.Call("Resize"));
    EXPECT_EQ(1, core->keepAlive);

    // Method and property names, and the object's default method.
    auto has = [&](bool method, const char* name) {
        return method ? object->_class->hasMethod(object, b.Id(name))
                      : object->_class->hasProperty(object, b.Id(name));
    };
    for (const char* m : {"Start", "Stop", "Resize"})
        EXPECT_TRUE(has(true, m)) << m;
    for (const char* p : {"url", "debug", "picwidth", "picheight"})
        EXPECT_TRUE(has(false, p)) << p;
    EXPECT_FALSE(has(true, "url"));
    EXPECT_FALSE(has(false, "Start"));
    NPVariant result;
    VariantVoid(&result);
    EXPECT_TRUE(g_browser.invokeDefault(nullptr, object, nullptr, 0, &result));
    EXPECT_EQ("s:default method return val", VariantText(result));
    ReleaseVariant(&result);
    EXPECT_FALSE(object->_class->removeProperty(object, b.Id("url")));
    EXPECT_FALSE(object->_class->construct(object, nullptr, 0, &result));

    // Resize kept the core: it outlives the instance and the next instance
    // of the element takes it over.
    g_browser.releaseobject(object);
    embed.Destroy();
    ASSERT_EQ(core, FindCore("cam"));
    EXPECT_EQ(0, core->refCount);
    {
        Embed next("cam", {{"url", kDeadUrl}});
        EXPECT_EQ(core, next.core());
        EXPECT_EQ(1, core->refCount);
        EXPECT_EQ(0, core->keepAlive);
    }
    EXPECT_EQ(nullptr, FindCore("cam"));
}

TEST(ScriptableObject, WithoutCoreOrInstance) {
    StartPlugin();
    FakeBrowser& b = FakeBrowser::Get();
    b.window = b.NewObject("window");
    Embed embed(nullptr, {});  // an element without an id
    ASSERT_EQ(nullptr, embed.core());
    NPObject* object = ScriptObject(embed);
    ASSERT_NE(nullptr, object);
    Script script{object};
    for (const char* m : {"Start", "Stop", "Resize"})
        EXPECT_TRUE(script.Call(m)) << m;
    bool ok = true;
    EXPECT_EQ("void", script.Get("picwidth", &ok));
    EXPECT_FALSE(ok);
    EXPECT_TRUE(script.Set("url", kDeadUrl));
    g_browser.releaseobject(object);

    // Made for no instance at all, and the constructable class.
    NPObject* loose = g_browser.createobject(nullptr, ScriptableClass());
    EXPECT_FALSE(Script{loose}.Call("Start"));
    g_browser.releaseobject(loose);
    NPObject* maker = g_browser.createobject(embed.npp(), ConstructableClass());
    NPVariant made;
    VariantVoid(&made);
    EXPECT_TRUE(maker->_class->construct(maker, nullptr, 0, &made));
    ASSERT_EQ(NPVariantType_Object, made.type);
    EXPECT_EQ(ConstructableClass(), made.value.objectValue->_class);
    NPObject* madeObject = made.value.objectValue;
    EXPECT_FALSE(madeObject->_class->hasMethod(madeObject, b.Id("Start")));
    bool got = g_browser.getproperty(nullptr, maker, b.Id("picwidth"), &made);
    EXPECT_TRUE(got);  // the base class answers true and leaves the result alone
    EXPECT_EQ(NPVariantType_Object, made.type);
    ReleaseVariant(&made);
    g_browser.releaseobject(maker);
    EXPECT_EQ(3, b.deallocated);
}

TEST(SharedCore, InstancesOfOneElementShareItsStream) {
    struct Case {
        const char* autostart;
        const char* url;  // null: none
        LONG playAfterFirstGoes;
    };
    const Case cases[] = {
        {"true", kDeadUrl, 1},
        {"false", kDeadUrl, 0},
        {"true", nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.autostart) + (c.url ? " with url" : " without url"));
        StartPlugin();
        Params params = {{"autostart", c.autostart}};
        if (c.url != nullptr)
            params.push_back({"url", c.url});
        Embed first("cam", params);
        Embed second("cam", params);
        Embed other("cam2", params);
        ASSERT_NE(nullptr, first.core());
        EXPECT_EQ(first.core(), second.core());
        EXPECT_NE(first.core(), other.core());
        StreamCore* core = first.core();
        EXPECT_EQ(2, core->refCount);
        // Release decides the flags for the remaining instance.
        InterlockedExchange(&core->playRequested, c.playAfterFirstGoes ? 0 : 1);
        InterlockedExchange(&core->redrawRequested, 0);
        first.Destroy();
        EXPECT_EQ(core, FindCore("cam"));
        EXPECT_EQ(1, core->refCount);
        EXPECT_EQ(c.playAfterFirstGoes, core->playRequested);
        EXPECT_EQ(1, core->redrawRequested);
        second.Destroy();
        EXPECT_EQ(nullptr, FindCore("cam"));
        EXPECT_NE(nullptr, FindCore("cam2"));
    }
    EXPECT_EQ(nullptr, FindCore("cam2"));
}

}  // namespace
