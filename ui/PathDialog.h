#pragma once

// TPathDialog: asks the user for a folder with Qt's own folder dialog.
// OnShow fires once the dialog is on screen, OnSelect on every change of
// the current item; a status line under the list shows StatusText when
// ShowStatus is set.

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QFileDialog;
class QLabel;

enum TRootItem { riMyComputer, riDesktop };

class TPathDialog : public QObject {
    Q_OBJECT

public:
    using TNotifyEvent = std::function<void(TPathDialog* Sender)>;
    using TSelectEvent = std::function<void(TPathDialog* Sender, const QString& Path)>;

    // The dialog belongs to Owner's window when Owner is a widget, else to
    // the main window.
    explicit TPathDialog(QObject* Owner = nullptr);
    ~TPathDialog() override;

    // The dialog's caption; empty leaves Qt's own.
    QString Title() const { return FTitle; }
    void SetTitle(const QString& Value) { FTitle = Value; }

    // The folder shown first, and the chosen one after a successful
    // Execute. A trailing separator is dropped (not from the root "/"); an
    // empty value stands for the current folder. While the dialog is shown,
    // setting it moves the dialog there.
    QString Directory() const { return FDirectory; }
    void SetDirectory(const QString& Value);

    bool ShowStatus() const { return FShowStatus; }
    void SetShowStatus(bool Value) { FShowStatus = Value; }
    QString StatusText() const { return FStatusText; }
    void SetStatusText(const QString& Value);

    // The top of the places offered: the whole file system, or the desktop
    // folder first.
    TRootItem RootItem() const { return FRootItem; }
    void SetRootItem(TRootItem Value) { FRootItem = Value; }

    int Tag() const { return FTag; }
    void SetTag(int Value) { FTag = Value; }

    void SetOnShow(TNotifyEvent Handler) { FOnShow = std::move(Handler); }
    void SetOnSelect(TSelectEvent Handler) { FOnSelect = std::move(Handler); }

    // True when the user chose a folder; it is then in Directory.
    bool Execute();

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void Initialized();
    void SelectionChanged(const QString& Path);
    template <typename F> void RunHandler(F&& Handler);

    QString FTitle;
    QString FDirectory;
    bool FShowStatus = false;
    QString FStatusText;
    TRootItem FRootItem = riMyComputer;
    int FTag = 0;
    TNotifyEvent FOnShow;
    TSelectEvent FOnSelect;
    QPointer<QFileDialog> FHandle;
    QPointer<QLabel> FStatusLabel;
};
