#pragma once

#include <cstdio>

struct CliOptions;

// tonvaler-cli --sheet: the contact sheet of the one picture given, written as a PNG file in one
// piece. Prints the sheet's size on `out`, a failure on `err`; answers the exit status (0, or 1
// when the picture cannot be loaded, the crop lies outside it, or the file cannot be written; 2
// when the sheet would replace the picture or something that is not a plain file).
int RunSheet(const CliOptions& options, std::FILE* out, std::FILE* err);
