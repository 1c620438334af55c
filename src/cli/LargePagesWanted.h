#pragma once

// Whether the command line `argv` (argc arguments) names pictures that a restart with large pages
// speeds up more than the restart costs: those of phones and cameras, whose decoders take their
// big planes from malloc, guessed from their names before anything is read. Each argument is
// taken as a path: a file by its name, a folder by the names in it and below it, the list that
// --files-from names when it is a regular file (never standard input, which the run reads
// itself). A run of more names than a restart's cost matters to (20,000) is worth it whatever
// they are.
bool LargePagesWanted(int argc, char** argv);
