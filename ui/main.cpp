// The program: the main window and the save dialog, and a file named on the
// command line opened as if it had been dropped onto the window.

#include "AboutBox.h"
#include "MainForm.h"
#include "SaveForm.h"
#include "ToolbarImages.h"

#include <QApplication>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTimer>

#include <gst/gst.h>

#include <cstdio>

namespace {

constexpr const char* Usage = "Usage: segmora [FILE]\n";

constexpr const char* Help =
    "Opens FILE, an MP3 file, in the Segmora window, where it can be played,\n"
    "marked and cut into pieces without re-encoding. Without FILE the window\n"
    "opens empty.\n"
    "\n"
    "  -h, --help     show this text and exit\n"
    "  --version      show the version and exit\n"
    "\n"
    "The command-line tool segmora-cli does the same work without a window.\n";

enum class TParsed { Run, Done, Failed };

// Options first, then at most one file; "--" ends the options.
TParsed ParseArguments(const QStringList& Arguments, QString& FileName) {
    bool OptionsEnded = false;
    for (qsizetype I = 1; I < Arguments.size(); ++I) {
        const QString& Argument = Arguments[I];
        const bool Option = !OptionsEnded && Argument.startsWith(QLatin1Char('-')) &&
                            Argument != QLatin1String("-");
        if (Option && Argument == QLatin1String("--")) {
            OptionsEnded = true;
        } else if (Option &&
                   (Argument == QLatin1String("-h") || Argument == QLatin1String("--help"))) {
            std::fputs(Usage, stdout);
            std::fputs(Help, stdout);
            return TParsed::Done;
        } else if (Option && Argument == QLatin1String("--version")) {
            std::printf("segmora %s\n", qPrintable(QCoreApplication::applicationVersion()));
            return TParsed::Done;
        } else if (Option) {
            std::fprintf(stderr, "segmora: unknown option %s\n%s", qPrintable(Argument), Usage);
            return TParsed::Failed;
        } else if (!FileName.isEmpty()) {
            std::fprintf(stderr, "segmora: only one file can be opened\n%s", Usage);
            return TParsed::Failed;
        } else {
            FileName = Argument;
        }
    }
    return TParsed::Run;
}

} // namespace

int main(int argc, char** argv) {
    // Once for the whole run; it also takes GStreamer's own --gst-* options
    // off the command line, as QApplication takes Qt's.
    gst_init(&argc, &argv);
    QApplication Application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("quenby"));
    QApplication::setApplicationName(QStringLiteral("segmora"));
    QApplication::setApplicationDisplayName(QStringLiteral("Segmora"));
    QApplication::setApplicationVersion(SegmoraVersion());
    QGuiApplication::setDesktopFileName(QStringLiteral("segmora"));
    QApplication::setWindowIcon(ApplicationIcon());

    QString FileName;
    switch (ParseArguments(QApplication::arguments(), FileName)) {
    case TParsed::Done:
        return 0;
    case TParsed::Failed:
        return 2;
    case TParsed::Run:
        break;
    }

    TfrmMain Main;
    frmMain = &Main;
    TfrmSave Save(&Main, &Main);
    frmSave = &Save;
    const auto Forget = qScopeGuard([] {
        frmSave = nullptr;
        frmMain = nullptr;
    });

    Main.show();
    if (!FileName.isEmpty()) {
        const QFileInfo File(FileName);
        if (!File.isFile())
            std::fprintf(stderr, "segmora: %s: no such file\n", qPrintable(FileName));
        // Once the window is on screen, as a drop would come.
        QTimer::singleShot(0, &Main,
                           [&Main, Path = File.absoluteFilePath()] { Main.OpenDroppedFile(Path); });
    }
    return QApplication::exec();
}
