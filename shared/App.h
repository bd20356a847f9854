#pragma once
// The library's own runtime facts: its title (which message boxes given no
// title show), its version and the folder it was loaded from.
#include <cstdint>
#include <string>

#include "host/Ui.h"

namespace kv::App {

const std::string& Title();
// Sets the library's title and the host's window caption with it.
void SetTitle(std::string title);
// Sets the library's title alone; the host's window caption stays as it is.
void SetOwnTitle(std::string title);
int32_t Major();
int32_t Minor();
int32_t Revision();
// "major.minor.revision".
std::string Version();
// The library's name ("Korvane93") and the folder that holds the library file.
const char* LibraryName();
std::string Path();

}  // namespace kv::App

namespace kv {
// A message box of the library: with no title it shows the library's title.
int32_t MsgBox(const std::string& text, int32_t style = korvane::host::mb::OKOnly, const std::string& title = {});
}
