#include "SplitPage.h"

#include "ui_MainForm.h"

#include "Errors.h"
#include "FileDlg.h"
#include "FrameClock.h"
#include "Settings.h"
#include "SilenceForm.h"
#include "TimeFormat.h"

#include <QComboBox>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QScreen>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>

namespace {

struct TModeEntry {
    TSplitMode Mode;
    const char* Caption;
    const char* Key; // as kept in the settings
};

constexpr std::array<TModeEntry, 7> Modes = {{
    {TSplitMode::BySize, "Parts of equal size", "size"},
    {TSplitMode::EqualTime, "Parts of equal time", "time"},
    {TSplitMode::Every, "Every", "every"},
    {TSplitMode::AtSilences, "At silences", "silences"},
    {TSplitMode::AtMarkers, "At markers", "markers"},
    {TSplitMode::CueSheet, "By a cue sheet", "cue"},
    {TSplitMode::Chapters, "By the file's chapters", "chapters"},
}};

const QString CueFilter = QStringLiteral("Cue Sheets|*.cue|All Files|*.*");

// Numbers are typed with a point whatever the desktop's language.
std::optional<double> ParseNumber(const QString& Text) {
    bool Ok = false;
    const double Value = QLocale::c().toDouble(Text.trimmed(), &Ok);
    return Ok && std::isfinite(Value) ? std::optional<double>(Value) : std::nullopt;
}

QString FormatNumber(double Value) {
    return QLocale::c().toString(Value, 'g', 6);
}

} // namespace

std::optional<TSplitPlan> MakeSplitPlan(const TSplitSettings& Settings, const TPlanSource& Source) {
    TSplitRequest Request;
    switch (Settings.Mode) {
    case TSplitMode::BySize:
        return std::nullopt;
    case TSplitMode::EqualTime:
        Request.Way = TSplitWay::EqualTime;
        Request.Parts = Settings.Parts;
        break;
    case TSplitMode::Every:
        Request.Way = TSplitWay::Every;
        Request.EveryTicks = MsToTicks(Settings.EveryMs);
        if (Settings.EveryNearPause)
            Request.QuietWithinTicks = MsToTicks(TSplitSettings::NearPauseMs);
        break;
    case TSplitMode::AtSilences:
        Request.Way = TSplitWay::AtSilences;
        Request.Silence.ThresholdDb = Settings.ThresholdDb;
        Request.Silence.MinSilenceTicks = MsToTicks(Settings.MinSilenceMs);
        Request.Silence.MinPartTicks = MsToTicks(Settings.MinPartMs);
        Request.Silence.DropSilence = Settings.DropSilence;
        break;
    case TSplitMode::AtMarkers:
        if (Source.MarkerTicks.empty())
            throw Exception("Cannot split at markers: there is none. Put them on the timeline "
                            "with M.");
        Request.Way = TSplitWay::AtMarks;
        Request.MarkTicks = Source.MarkerTicks;
        break;
    case TSplitMode::CueSheet:
        if (Settings.CueFile.empty())
            throw Exception("Cannot split by a cue sheet: choose its file.");
        Request.Way = TSplitWay::CueSheet;
        Request.CueFile = Settings.CueFile;
        break;
    case TSplitMode::Chapters:
        Request.Way = TSplitWay::Chapters;
        break;
    }
    return PlanSplit(Request, Source.Grid, Source.Loudness, Source.Chapters);
}

TSplitPage::TSplitPage(Ui::frmMain& Form, QWidget* Owner)
    : QObject(Owner), ui(Form), FOwner(Owner) {
    for (const TModeEntry& Entry : Modes)
        ui.cbxSplitMode->addItem(QString::fromLatin1(Entry.Caption));
    ui.cbxSplitMode->setCurrentIndex(0);
    ShowModeControls();
    connect(ui.cbxSplitMode, &QComboBox::currentIndexChanged, this, [this] {
        ShowModeControls();
        Changed();
    });
    for (QLineEdit* Edit : std::initializer_list<QLineEdit*>{
             ui.edtPartCount, ui.edtEveryTime, ui.edtSilenceDb, ui.edtMinSilence, ui.edtCueFile})
        connect(Edit, &QLineEdit::textChanged, this, &TSplitPage::Changed);
    connect(ui.btnSelectCueFile, &QAbstractButton::clicked, this, &TSplitPage::SelectCueFile);
    connect(ui.btnSilenceMore, &QAbstractButton::clicked, this, &TSplitPage::EditSilenceOptions);
    connect(ui.chkEveryNearPause, &QAbstractButton::toggled, this, &TSplitPage::Changed);
}

TSplitMode TSplitPage::Mode() const {
    const int Index = ui.cbxSplitMode->currentIndex();
    return Index >= 0 && Index < static_cast<int>(Modes.size()) ? Modes[Index].Mode
                                                                : TSplitMode::BySize;
}

void TSplitPage::ShowModeControls() {
    const TSplitMode Current = Mode();
    const bool ByCount = Current == TSplitMode::BySize || Current == TSplitMode::EqualTime;
    const bool Silences = Current == TSplitMode::AtSilences;
    const bool Cue = Current == TSplitMode::CueSheet;
    ui.edtPartCount->setVisible(ByCount);
    ui.Label6->setVisible(ByCount);
    ui.edtEveryTime->setVisible(Current == TSplitMode::Every);
    ui.chkEveryNearPause->setVisible(Current == TSplitMode::Every);
    for (QWidget* Control :
         std::initializer_list<QWidget*>{ui.edtSilenceDb, ui.lblSilenceDb, ui.edtMinSilence,
                                         ui.lblMinSilence, ui.btnSilenceMore})
        Control->setVisible(Silences);
    ui.edtCueFile->setVisible(Cue);
    ui.btnSelectCueFile->setVisible(Cue);
    QString Note;
    if (Current == TSplitMode::AtMarkers)
        Note = QStringLiteral("put with M on the timeline");
    else if (Current == TSplitMode::Chapters)
        Note = QStringLiteral("as the file's tag holds them");
    ui.lblModeNote->setText(Note);
    ui.lblModeNote->setVisible(!Note.isEmpty());
}

TSplitSettings TSplitPage::Settings() const {
    TSplitSettings Settings;
    Settings.Mode = Mode();
    Settings.Parts = ui.edtPartCount->Value();
    if (Settings.Mode == TSplitMode::Every) {
        const std::optional<int64_t> Every =
            ParseTimeMs(ui.edtEveryTime->text().trimmed().toStdString());
        if (!Every || *Every <= 0)
            throw Exception("The length of the parts is no time: \"" +
                            ui.edtEveryTime->text().toStdString() + "\" (5:00, 90).");
        Settings.EveryMs = *Every;
        Settings.EveryNearPause = ui.chkEveryNearPause->isChecked();
    }
    if (Settings.Mode == TSplitMode::AtSilences) {
        const std::optional<double> Threshold = ParseNumber(ui.edtSilenceDb->text());
        if (!Threshold || *Threshold > 0)
            throw Exception("The level of silence is no level in dB: \"" +
                            ui.edtSilenceDb->text().toStdString() + "\" (-40).");
        const std::optional<double> Seconds = ParseNumber(ui.edtMinSilence->text());
        if (!Seconds || *Seconds <= 0)
            throw Exception("The least length of silence is no time in seconds: \"" +
                            ui.edtMinSilence->text().toStdString() + "\" (0.5).");
        const std::optional<int64_t> MinPart = ParseMinPartMs(FMinPart);
        if (!MinPart)
            throw Exception("The shortest part (More...) is no time: \"" + FMinPart.toStdString() +
                            "\" (0:30, 90).");
        Settings.ThresholdDb = *Threshold;
        Settings.MinSilenceMs = std::llround(*Seconds * 1000);
        Settings.MinPartMs = *MinPart;
        Settings.DropSilence = FDropSilence;
    }
    Settings.CueFile = ui.edtCueFile->text().trimmed().toStdString();
    return Settings;
}

void TSplitPage::Load() {
    const QString Mode = ReadRegString(SegmoraKey, QStringLiteral("SplitMode"));
    for (size_t Index = 0; Index < Modes.size(); ++Index)
        if (Mode == QLatin1String(Modes[Index].Key))
            ui.cbxSplitMode->setCurrentIndex(static_cast<int>(Index));
    const TSplitSettings Defaults;
    const auto Read = [](const char* Name, const QString& Default) {
        const QString Value = ReadRegString(SegmoraKey, QString::fromLatin1(Name));
        return Value.isEmpty() ? Default : Value;
    };
    ui.edtEveryTime->setText(
        Read("SplitEvery", QString::fromStdString(FormatTimeMs(Defaults.EveryMs, false))));
    ui.edtSilenceDb->setText(Read("SilenceThreshold", FormatNumber(Defaults.ThresholdDb)));
    ui.edtMinSilence->setText(Read("MinSilence", FormatNumber(Defaults.MinSilenceMs / 1000.0)));
    ui.edtCueFile->setText(ReadRegString(SegmoraKey, QStringLiteral("CueFile")));
    ui.chkEveryNearPause->setChecked(
        ReadRegBool(SegmoraKey, QStringLiteral("SplitEveryNearPause")));
    FMinPart = ReadRegString(SegmoraKey, QStringLiteral("MinPart"));
    FDropSilence = ReadRegBool(SegmoraKey, QStringLiteral("DropSilence"));
    ShowSilenceOptions();
    ShowModeControls();
}

void TSplitPage::Save() const {
    const int Index = ui.cbxSplitMode->currentIndex();
    if (Index >= 0 && Index < static_cast<int>(Modes.size()))
        WriteRegString(SegmoraKey, QStringLiteral("SplitMode"),
                       QString::fromLatin1(Modes[Index].Key));
    WriteRegString(SegmoraKey, QStringLiteral("SplitEvery"), ui.edtEveryTime->text().trimmed());
    WriteRegString(SegmoraKey, QStringLiteral("SilenceThreshold"),
                   ui.edtSilenceDb->text().trimmed());
    WriteRegString(SegmoraKey, QStringLiteral("MinSilence"), ui.edtMinSilence->text().trimmed());
    WriteRegString(SegmoraKey, QStringLiteral("CueFile"), ui.edtCueFile->text().trimmed());
    WriteRegBool(SegmoraKey, QStringLiteral("SplitEveryNearPause"),
                 ui.chkEveryNearPause->isChecked());
    WriteRegString(SegmoraKey, QStringLiteral("MinPart"), FMinPart);
    WriteRegBool(SegmoraKey, QStringLiteral("DropSilence"), FDropSilence);
}

void TSplitPage::SelectCueFile() {
    TFileOpenDialog Dialog;
    Dialog.OwnerHandle = FOwner;
    const QString Current = ui.edtCueFile->text().trimmed();
    if (!Current.isEmpty())
        Dialog.InitialDir = QFileInfo(Current).absolutePath();
    Dialog.Filter = CueFilter;
    if (Dialog.Execute())
        ui.edtCueFile->setText(Dialog.FileName);
}

void TSplitPage::EditSilenceOptions() {
    const QString MinPart = FMinPart;
    const bool DropSilence = FDropSilence;
    TfrmSilence Dialog(FOwner, FMinPart, FDropSilence);
    Dialog.SetOnChange([this, &Dialog] {
        FMinPart = Dialog.MinPart();
        FDropSilence = Dialog.DropSilence();
        Changed();
    });
    // Below the button, clear of the timeline, whose preview follows the
    // typing.
    Dialog.adjustSize();
    const QPoint Below = ui.btnSilenceMore->mapToGlobal(
        QPoint(ui.btnSilenceMore->width() - Dialog.width(), ui.btnSilenceMore->height() + 4));
    QRect Place(Below, Dialog.size());
    if (const QScreen* Screen = QGuiApplication::screenAt(Below)) {
        const QRect Room = Screen->availableGeometry();
        Place.moveBottom(std::min(Place.bottom(), Room.bottom()));
        Place.moveLeft(std::clamp(Place.left(), Room.left(),
                                  std::max(Room.left(), Room.right() - Place.width())));
    }
    Dialog.move(Place.topLeft());
    if (Dialog.exec() != QDialog::Accepted &&
        (FMinPart != MinPart || FDropSilence != DropSilence)) {
        FMinPart = MinPart;
        FDropSilence = DropSilence;
        Changed();
    }
    ShowSilenceOptions();
}

void TSplitPage::ShowSilenceOptions() {
    // What "More..." holds can't be seen on the page: its tip tells.
    QStringList Chosen;
    if (ParseMinPartMs(FMinPart).value_or(0) > 0)
        Chosen << QStringLiteral("no part under ") + FMinPart;
    if (FDropSilence)
        Chosen << QStringLiteral("the silence left out");
    ui.btnSilenceMore->setToolTip(
        QStringLiteral("The shortest part and leaving the silence out") +
        (Chosen.isEmpty() ? QString() : QStringLiteral(": ") + Chosen.join(QStringLiteral(", "))));
}

void TSplitPage::Changed() {
    if (FOnChange)
        FOnChange();
}
