// The steps page-host runs, one per line of its step file (or standard
// input). Blank lines and lines starting with '#' are not steps.
//
//   call TARGET [METHOD [ARG...]]   invoke METHOD (or the object itself)
//   get TARGET PROPERTY             read a property
//   set TARGET PROPERTY VALUE       write a property
//   wait MS                         pump messages for MS milliseconds
//   resize TARGET WIDTH HEIGHT      resize an element's window
//   remove TARGET                   remove an element (NPP_Destroy)
//   add <embed ...> | <object ...>...</object>
//   save DIR                        PNG pictures of the page and each element
//   stats                           each element's picture size and frames
//   probe                           open handles and private memory
//   quit
//
// TARGET: an element id, "#N" (the N-th element on the page now, from 1) or
// "window" (the page's window object). Values: "quoted text" (with \" \\ \n),
// true, false, null, undefined, integers, decimals; any other word is text.
#pragma once

#include <string>
#include <vector>

#include "tools/page-host/page.h"

namespace pagehost {

struct ScriptValue {
    enum Kind { Void, Null, Bool, Int, Double, String } kind = Void;
    bool boolean = false;
    int intValue = 0;
    double number = 0;
    std::string text;

    bool operator==(const ScriptValue& other) const;
};

// How a value is written in steps and results: text quoted, the rest bare.
std::string Describe(const ScriptValue& value);

struct Step {
    enum Kind {
        None,
        Call,
        Get,
        Set,
        Wait,
        Resize,
        Remove,
        Add,
        Save,
        Stats,
        Probe,
        Quit
    } kind = None;
    std::string target;
    std::string name;               // method or property; empty for "call TARGET"
    std::vector<ScriptValue> args;  // call arguments, or the one value of "set"
    int ms = 0;
    int width = 0;
    int height = 0;
    std::string dir;      // save
    PageElement element;  // add
};

// False with a message for a line that is no valid step; a blank or comment
// line gives a Step of kind None.
bool ParseStep(const std::string& line, Step* step, std::string* error);

}  // namespace pagehost
