#pragma once

// The program's few persistent settings, kept with QSettings (organisation
// "quenby", application "segmora", native format). Keys are written as
// registry-style paths from the user's root: "\Software\quenby\segmora" is
// the top of those settings and each further level a group, so
// "\Software\quenby\segmora\forms\frmMain" is the group "forms/frmMain".

#include <QString>

#include <memory>

class QSettings;
class QWidget;

// The key of the program's settings and the prefix of the forms' keys.
inline const QString SegmoraKey = QStringLiteral("\\Software\\quenby\\segmora");
inline const QString FormsKey = QStringLiteral("\\Software\\quenby\\segmora\\forms\\");

// Settings opened at Key, with its group entered; nullptr for a key that
// does not lie under \Software\<organisation>\<application>. Reads through
// the other functions then find nothing and writes are dropped.
std::unique_ptr<QSettings> OpenRegKey(const QString& Key);

// The string value Name of Key, or an empty string when there is none.
QString ReadRegString(const QString& Key, const QString& Name);
void WriteRegString(const QString& Key, const QString& Name, const QString& Value);
// A check box's state, kept as "1" or "0"; false when there is none.
bool ReadRegBool(const QString& Key, const QString& Name);
void WriteRegBool(const QString& Key, const QString& Name, bool Value);

// Placement values: "Top" and "Left" are the window's outer position, as
// QWidget::move takes it; "Width" and "Height" its size, as QWidget::resize
// takes it, so a round trip gives the same window on every desktop;
// "WindowState" is 0 for normal and 1 for maximized. Each value is applied
// only when it is present and a number; with PositionOnly only the position
// is applied.
void RestoreFormPlacement(const QString& Key, QWidget* Form, bool PositionOnly);
// A normal window stores all five values, a maximized one only
// WindowState = 1, a minimized one nothing.
void SaveFormPlacement(const QString& Key, QWidget* Form);
