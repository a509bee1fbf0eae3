#include "ShellUtils.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

bool HasDroppedFileName(const QMimeData* Data) {
    return !GetDroppedFileName(Data).isEmpty();
}

QString GetDroppedFileName(const QMimeData* Data) {
    if (!Data || !Data->hasUrls())
        return QString();
    for (const QUrl& Url : Data->urls())
        if (Url.isLocalFile())
            return Url.toLocalFile();
    return QString();
}

QString GetDroppedFileName(const QDropEvent* Drop) {
    return Drop ? GetDroppedFileName(Drop->mimeData()) : QString();
}
