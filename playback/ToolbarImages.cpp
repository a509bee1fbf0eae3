#include "ToolbarImages.h"

#include <QString>

#include <array>

namespace {

// Resource paths, in the order of the image indexes.
constexpr std::array<const char*, ToolbarImageCount> ImageFiles = {
    ":/images/play.svg",          // imgPlay
    ":/images/pause.svg",         // imgPause
    ":/images/go-start.svg",      // imgGoStart
    ":/images/go-end.svg",        // imgGoEnd
    ":/images/select-start.svg",  // imgSelectStart
    ":/images/select-end.svg",    // imgSelectEnd
    ":/images/play-selected.svg", // imgPlaySelected
    ":/images/save.svg",          // imgSave
    ":/images/add-marker.svg",    // imgAddMarker
};

} // namespace

QIcon ToolbarImage(int Index) {
    // The resources live in a static library; make sure they are registered.
    Q_INIT_RESOURCE(images);
    if (Index < 0 || Index >= ToolbarImageCount)
        return QIcon();
    return QIcon(QString::fromLatin1(ImageFiles[static_cast<size_t>(Index)]));
}

QIcon ApplicationIcon() {
    Q_INIT_RESOURCE(images);
    return QIcon(QStringLiteral(":/images/segmora.svg"));
}
