#pragma once

// Thin objects around Qt's own file dialogs (not the desktop's native ones,
// so that they behave the same everywhere and tests can drive them). Set
// the fields, call Execute, read FileName (and Files) afterwards.

#include <QString>
#include <QStringList>

#include <cstdint>

class QFileDialog;
class QWidget;

// Option flags, with the values callers know them by.
constexpr uint32_t OFN_OVERWRITEPROMPT = 0x2;
constexpr uint32_t OFN_HIDEREADONLY = 0x4;
constexpr uint32_t OFN_ALLOWMULTISELECT = 0x200;
constexpr uint32_t OFN_PATHMUSTEXIST = 0x800;
constexpr uint32_t OFN_FILEMUSTEXIST = 0x1000;
constexpr uint32_t OFN_EXPLORER = 0x80000;

// The filter of the dialogs that pick an MP3 file.
inline const QString Mp3Filter = QStringLiteral("MP3 Files|*.mp3|All Files|*.*");

class TFileCommonDialog {
public:
    TFileCommonDialog() = default;
    virtual ~TFileCommonDialog() = default;

    QWidget* OwnerHandle = nullptr;
    // Folder shown first; empty leaves Qt's choice.
    QString InitialDir;
    // Caption; empty leaves Qt's own.
    QString Title;
    // The chosen file, full path. Never shown as a default.
    QString FileName;
    // Description and pattern pairs, every item separated by "|", as in
    // "MP3 Files|*.mp3|All Files|*.*"; a pattern may list several masks
    // separated by ";".
    QString Filter;
    uint32_t Options = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    // 1-based entry of Filter chosen first; 0 is the first entry.
    int FilterIndex = 0;
    // Kept for callers that set it; Qt's dialogs need no name buffer, so
    // no path is ever cut or refused for its length.
    int BufferSize = 1024;

protected:
    // Settings common to both dialogs.
    void Prepare(QFileDialog& Dialog) const;
    // Qt's form of Filter: "Description (mask mask)" per entry.
    static QStringList ConvertFilter(const QString& Filter);
};

class TFileOpenDialog : public TFileCommonDialog {
public:
    // All chosen files after a multiple selection.
    QStringList Files;
    bool MultiSelect = false;

    bool Execute();
};

class TFileSaveDialog : public TFileCommonDialog {
public:
    TFileSaveDialog();

    // Added to a name typed without an extension; empty adds none.
    QString DefaultExt;

    bool Execute();
};
