#pragma once

// Where the manual is: beside the program, as the build leaves it, or in the
// shared data folder of an installation.

#include <QString>
#include <QStringList>

// The places tried for "manual.html", in order, for a program in
// ProgramFolder: beside it; in the data folder of an installation the
// program sits in (prefix/bin gives prefix/share/segmora), so an installed
// tree may be moved; in the data folder of the prefix it was built for.
QStringList ManualPlaces(const QString& ProgramFolder);

// The first of those places that holds a file, for the running program or
// for ProgramFolder; empty when there is none.
QString FindManual();
QString FindManual(const QString& ProgramFolder);
