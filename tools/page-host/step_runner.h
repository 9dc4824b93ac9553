// Runs steps against the hosted page as page script would: methods and
// properties are looked up first (hasMethod / hasProperty) and then used,
// results are released as the browser releases them. Each step gives one
// result line: "ok STEP[ -> VALUE]" or "fail STEP: WHY".
#pragma once

#include <string>

#include "tools/page-host/host.h"
#include "tools/page-host/steps.h"

namespace pagehost {

class StepRunner {
  public:
    explicit StepRunner(Host* host) : host_(host) {}
    // The result line for `step` (without newline). `text` is the step as
    // written, echoed in the result.
    std::string Run(const Step& step, const std::string& text);
    bool failed() const { return failed_; }

  private:
    std::string Call(const Step& step);
    std::string Get(const Step& step);
    std::string Set(const Step& step);
    std::string Save(const Step& step);
    std::string Stats();
    // The object a target names: the window or an element's scriptable object.
    NPObject* Target(const std::string& target, std::string* why);
    std::string Fail(const std::string& why);

    Host* host_;
    bool failed_ = false;
};

}  // namespace pagehost
