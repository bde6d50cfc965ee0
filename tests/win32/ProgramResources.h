#pragma once

#include <string>

// What the program's own tables say its Windows resources hold, for tests that include
// <windows.h> (whose macros collide with the names of resources/ControlIds.h).
namespace vyx::test {

int IconResourceId();           // icon 128
int AboutStringId();            // string 101
std::string AboutStringText();  // its text

}  // namespace vyx::test
