// The quillon-pack command line: build, dump and check.
//
// Kept apart from main() so that tests can run every command in-process, with their own
// streams, and see exactly what a user would see.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace quillon {

enum { EXIT_OK = 0, EXIT_REFUSED = 1, EXIT_USAGE = 2 };

// args are the arguments after the program name. toolFolder is the folder of the running
// quillon-pack, where build looks for quillon-stub.exe when no --stub is given.
int RunPackCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const std::string& toolFolder);

} // namespace quillon
