#pragma once
// What --help and --version print.
#include <string>

namespace kestrav {

std::string usageText();
std::string versionText();

}  // namespace kestrav
