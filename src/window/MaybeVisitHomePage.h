#pragma once

class Dialogs;

// On one start in a hundred (a draw of 7 from 1 to 100), opens the maker's home page.
void MaybeVisitHomePage(Dialogs& dialogs);
