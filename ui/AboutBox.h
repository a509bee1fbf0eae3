#pragma once

// The about box: the program's name and version, what it does, and the
// versions of Qt and GStreamer it runs on. Modal.

#include <QStringList>

#include <memory>

class QDialog;
class QWidget;

// The version the build gave the program ("0.1.0").
QString SegmoraVersion();

// The box's lines, top to bottom: the name, "Version " and the version, what
// the program does, and the versions of Qt and GStreamer in use.
QStringList AboutLines();

// The box (object name "AboutBox"), not shown yet; OK, Enter and Esc close it.
std::unique_ptr<QDialog> CreateAboutBox(QWidget* Owner);

// Shows the box modally over Owner and returns when it is closed.
void ShowAboutBox(QWidget* Owner);
