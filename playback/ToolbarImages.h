#pragma once

// The toolbar pictures shared by the main window and the play-selected
// dialog, 24 x 24, drawn as SVG under resources/images.

#include <QIcon>

enum TToolbarImage {
    imgPlay = 0,
    imgPause = 1,
    imgGoStart = 2,
    imgGoEnd = 3,
    imgSelectStart = 4,
    imgSelectEnd = 5,
    imgPlaySelected = 6,
    imgSave = 7,
    imgAddMarker = 8,
};

constexpr int ToolbarImageCount = 9;
constexpr int ToolbarImageSize = 24;

// The picture of Index (an TToolbarImage); an empty icon outside the range.
QIcon ToolbarImage(int Index);
// The program's own icon.
QIcon ApplicationIcon();
