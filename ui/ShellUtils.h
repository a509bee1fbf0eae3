#pragma once

// Files dropped onto a window from the desktop.

#include <QString>

class QDropEvent;
class QMimeData;

// True when the drop carries at least one local file.
bool HasDroppedFileName(const QMimeData* Data);

// The first local file among the dropped URLs, with its whole path; empty
// when there is none.
QString GetDroppedFileName(const QMimeData* Data);
QString GetDroppedFileName(const QDropEvent* Drop);
