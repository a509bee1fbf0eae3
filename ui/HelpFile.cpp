#include "HelpFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

const QString ManualName = QStringLiteral("manual.html");

} // namespace

QStringList ManualPlaces(const QString& ProgramFolder) {
    const QDir Program(ProgramFolder);
    QStringList Places = {
        Program.filePath(ManualName),
        QDir::cleanPath(Program.filePath(QStringLiteral(SEGMORA_BIN_TO_DATA "/") + ManualName)),
        QDir(QStringLiteral(SEGMORA_DATA_DIR)).filePath(ManualName),
    };
    Places.removeDuplicates();
    return Places;
}

QString FindManual(const QString& ProgramFolder) {
    for (const QString& Place : ManualPlaces(ProgramFolder))
        if (QFileInfo(Place).isFile())
            return Place;
    return QString();
}

QString FindManual() {
    return FindManual(QCoreApplication::applicationDirPath());
}
