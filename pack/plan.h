// The plan: what an uninstaller will do, in words and in the order it does it, so that an author
// can read a manifest's effect before shipping it ("quillon-pack check --plan").
#pragma once

#include <string>

#include "codepages.h"
#include "format_writer.h"

namespace quillon {

// One line per action, texts in UTF-8 as the manifest wrote them (macros unexpanded, "." for the
// install folder), ending in a newline.
std::string DescribePlan(const UninstallData& data, const CodePage& page);

} // namespace quillon
