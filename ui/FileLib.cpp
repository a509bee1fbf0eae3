#include "FileLib.h"

#include "Errors.h"

#include <QFile>

#include <sys/stat.h>

bool DirectoryExists(const QString& Name) {
    struct stat Info {};
    return !Name.isEmpty() && stat(QFile::encodeName(Name).constData(), &Info) == 0 &&
           S_ISDIR(Info.st_mode);
}

bool ForceDirectories(const QString& Dir) {
    if (Dir.isEmpty())
        throw Exception("Unable to create directory");
    QString Path = Dir;
    if (Path.size() > 1 && Path.endsWith(QLatin1Char('/')))
        Path.chop(1);
    if (Path == QLatin1String("/") || DirectoryExists(Path))
        return true;

    // A relative name without a separator lies in the current folder,
    // which exists.
    const qsizetype Slash = Path.lastIndexOf(QLatin1Char('/'));
    if (Slash >= 0) {
        const QString Parent = Slash == 0 ? QStringLiteral("/") : Path.left(Slash);
        if (!ForceDirectories(Parent))
            return false;
    }
    // Someone else may have made it in the meantime.
    return mkdir(QFile::encodeName(Path).constData(), 0777) == 0 || DirectoryExists(Path);
}
