// page-host: a browser stand-in for the plug-in. It loads a page (a small
// HTML subset), finds the plug-in for the page's MIME type, shows every
// plug-in element in a child window of its page window, and runs steps from
// a file or standard input, printing one result line per step.
//
//   page-host [--plugin DLL] [--mime TYPE] [--steps FILE] PAGE
//
// Without --plugin the plug-in is the first one registered under
// SOFTWARE\MozillaPlugins whose version block names an element's type;
// --mime replaces the types read from the version block. At the end it
// prints the NPN calls refused because they came from another thread, and
// the objects still alive.
//
// Exit: 0 when every step succeeded, 1 when one failed, 2 for usage, page
// or plug-in errors.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "tools/page-host/host.h"
#include "tools/page-host/page.h"
#include "tools/page-host/plugin_module.h"
#include "tools/page-host/primary_surfaces.h"
#include "tools/page-host/step_runner.h"
#include "tools/page-host/step_source.h"
#include "tools/page-host/steps.h"
#include "tools/page-host/thread_gate.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: page-host [--plugin DLL] [--mime TYPE] [--steps FILE] PAGE\n");
    return 2;
}

int Die(const std::string& message) {
    std::fprintf(stderr, "page-host: %s\n", message.c_str());
    return 2;
}

// The plug-in for the page: the given DLL, or the first registered one that
// handles one of the elements' types.
bool ChoosePlugin(const pagehost::Page& page, std::string* dll, std::string* error) {
    if (!dll->empty())
        return true;
    for (const pagehost::PageElement& e : page.elements) {
        if (e.Type().empty())
            continue;
        *dll = pagehost::FindRegisteredPlugin(e.Type());
        if (!dll->empty())
            return true;
    }
    *error = "no registered plug-in handles the page's types";
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::string dll, mime, stepsPath, pagePath;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--plugin" || arg == "--mime" || arg == "--steps") && i + 1 < argc) {
            (arg == "--plugin" ? dll : arg == "--mime" ? mime : stepsPath) = argv[++i];
        } else if (!arg.empty() && arg[0] != '-' && pagePath.empty()) {
            pagePath = arg;
        } else {
            return Usage();
        }
    }
    if (pagePath.empty())
        return Usage();

    pagehost::SetMainThread();
    std::string error;
    std::ifstream file(pagePath, std::ios::binary);
    if (!file)
        return Die("cannot read " + pagePath);
    std::stringstream text;
    text << file.rdbuf();
    pagehost::Page page;
    if (!pagehost::ParsePage(text.str(), &page, &error))
        return Die(pagePath + ": " + error);

    // Before the plug-in creates any DirectDraw object.
    if (!pagehost::TrackPrimarySurfaces(&error))
        std::printf("note: pictures come from GDI only: %s\n", error.c_str());

    if (!ChoosePlugin(page, &dll, &error))
        return Die(error);
    std::vector<std::string> types =
        mime.empty() ? pagehost::VersionMimeTypes(dll) : std::vector<std::string>{mime};
    if (types.empty())
        return Die(dll + " names no MIMEType in its version block");
    pagehost::PluginModule plugin;
    if (!plugin.Load(dll, &error))
        return Die(error);
    std::printf("plug-in %s for %s\n", dll.c_str(), types.front().c_str());

    int status = 0;
    {
        pagehost::Host host(&plugin, types);
        if (!host.Open(page, &error))
            return Die(error);
        for (size_t i = 0; i < host.elements().size(); ++i) {
            const pagehost::HostedElement& e = *host.elements()[i];
            std::printf("element #%u %s %s\n", static_cast<unsigned>(i + 1),
                        e.element.Id().empty() ? "(no id)" : e.element.Id().c_str(),
                        e.instantiated ? "instantiated" : e.status.c_str());
        }

        pagehost::StepSource source;
        if (!source.Open(stepsPath, &error))
            return Die(error);
        pagehost::StepRunner runner(&host);
        std::string line;
        while (source.Next(&line, [&] { host.Pump(0); })) {
            pagehost::Step step;
            if (!pagehost::ParseStep(line, &step, &error)) {
                std::printf("fail %s: %s\n", line.c_str(), error.c_str());
                status = 1;
                continue;
            }
            if (step.kind == pagehost::Step::None)
                continue;
            std::printf("%s\n", runner.Run(step, line).c_str());
            if (step.kind == pagehost::Step::Quit)
                break;
        }
        if (runner.failed())
            status = 1;
        host.Close();
    }
    std::string counts;
    for (const auto& entry : pagehost::OffThreadCalls())
        counts += " " + entry.first + "=" + std::to_string(entry.second);
    std::printf("off-thread NPN calls refused: %ld%s\n", pagehost::OffThreadTotal(),
                counts.c_str());
    std::printf("objects alive after the page closed: %ld\n", pagehost::LiveObjects());
    plugin.Unload();
    std::fflush(stdout);
    // A reader thread may still block on standard input.
    ExitProcess(static_cast<UINT>(status));
}
