#pragma once

#include <QStringList>

// Whether the command line `arguments` (without the program's name) names pictures that a
// restart with large pages speeds up more than the restart costs: those of phones and cameras,
// whose decoders take their big planes from malloc, guessed from their names before anything is
// read. Each path it names as an input (never an option's value) is a file by its name, a folder
// by the names in it and below it; the list that --files-from names is read when it is a regular
// file (never standard input, which the run reads itself). A run of more names than a restart's
// cost matters to (20,000) is worth it whatever they are.
bool LargePagesWanted(const QStringList& arguments);
