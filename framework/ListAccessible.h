// The list as screen readers see it: a table of rows and two columns, read straight from
// the listing. Cells are made only when a reader asks for them.
#pragma once

// Makes Qt's accessibility find the list's table interface; harmless to call again.
void InstallListAccessibility();
