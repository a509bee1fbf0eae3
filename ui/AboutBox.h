#pragma once

// The about box: the program's name and version, what it does, and the
// versions of Qt and GStreamer it runs on. Modal.

class QWidget;

void ShowAboutBox(QWidget* Owner);
